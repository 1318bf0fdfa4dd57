"""Messages an account holds in all its mailboxes, printed as one number.

    count.py HOST PORT CA_FILE USER PASSWORD [TREE]

With TREE it also checks that every mailbox holds exactly as many messages as the tree's folder
of the same name (the top folder's own in INBOX; a mailbox no folder names must be empty), and
exits non-zero naming each mailbox that does not: a message missing or sent twice shows there.
"""
import collections
import imaplib
import os
import re
import ssl
import sys

host, port, ca_file, user, password = sys.argv[1:6]
tree = sys.argv[6] if len(sys.argv) > 6 else None
imap = imaplib.IMAP4_SSL(host, int(port), ssl_context=ssl.create_default_context(cafile=ca_file))
imap.login(user, password)
held = {}
for line in imap.list()[1]:
    name = line.decode().rsplit(' "/" ', 1)[1]
    if "\\Noselect" in line.decode():
        continue
    held[name.strip('"')] = int(re.search(rb"MESSAGES (\d+)", imap.status(name, "(MESSAGES)")[1][0]).group(1))
imap.logout()
print(sum(held.values()))
if tree is None:
    sys.exit(0)

expected = collections.Counter()
for folder, _, files in os.walk(tree):
    relative = os.path.relpath(folder, tree)
    expected["INBOX" if relative == "." else relative.replace(os.sep, "/")] += len(files)
wrong = [f"{name}: holds {held.get(name, 0)}, the tree has {expected[name]}"
         for name in sorted(set(held) | set(expected)) if held.get(name, 0) != expected[name]]
if wrong:
    sys.exit("\n".join(wrong))
