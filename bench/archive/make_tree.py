"""Builds the benchmark tree: the real-mail corpus replicated until it holds MESSAGES messages,
in nested folders (copy/set/hundreds/name.eml), like a mail client's export of many folders."""
import os
import sys

corpus, target, wanted = sys.argv[1], sys.argv[2], int(sys.argv[3])
messages = []
for folder, _, files in sorted(os.walk(corpus)):
    for name in sorted(files):
        if name.endswith(".txt"):
            with open(os.path.join(folder, name), "rb") as handle:
                messages.append((os.path.basename(folder), name[:-4], handle.read()))
if not messages:
    sys.exit("no messages in " + corpus)

made = 0
total = 0
copy = 0
while made < wanted:
    for index, (mail_set, name, content) in enumerate(messages):
        if made == wanted:
            break
        folder = os.path.join(target, f"copy{copy:02d}", mail_set, f"{index // 100:03d}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, name + ".eml"), "wb") as handle:
            handle.write(content)
        made += 1
        total += len(content)
    copy += 1
print(f"{made} messages, {total} bytes")
