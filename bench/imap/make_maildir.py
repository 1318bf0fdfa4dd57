"""A Maildir copy of a tree of .eml files, for mbsync to push: each folder that holds messages
becomes a Maildir (cur, new, tmp) at the same relative path, each message a file in cur named
as Maildir wants, marked seen (":2,S"). The top folder's own messages, if any, go to INBOX.

    make_maildir.py TREE MAILDIR_ROOT INBOX_MAILDIR
"""
import os
import shutil
import sys

tree, root, inbox = sys.argv[1:4]
copied = 0
for folder, folders, files in os.walk(tree):
    folders.sort()
    relative = os.path.relpath(folder, tree)
    target = inbox if relative == "." else os.path.join(root, relative)
    os.makedirs(target, exist_ok=True)
    if not files and relative != ".":
        continue
    for part in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(target, part), exist_ok=True)
    for name in sorted(files):
        source = os.path.join(folder, name)
        # Maildir wants names unique on the host: a time, a sequence number, a host part.
        when = int(os.stat(source).st_mtime)
        copied += 1
        shutil.copy2(source, os.path.join(target, "cur", f"{when}.M{copied}P{os.getpid()}.bench:2,S"))
os.makedirs(root, exist_ok=True)
for part in ("cur", "new", "tmp"):
    os.makedirs(os.path.join(inbox, part), exist_ok=True)
print(f"{copied} messages")
