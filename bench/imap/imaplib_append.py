"""Python's imaplib putting a tree into an account one message at a time: CREATE for each
folder, then one APPEND per message, each waiting for its answer (how imaplib works).

    imaplib_append.py HOST PORT CA_FILE USER PASSWORD TREE
"""
import imaplib
import os
import ssl
import sys

host, port, ca_file, user, password, tree = sys.argv[1:7]
context = ssl.create_default_context(cafile=ca_file)
imap = imaplib.IMAP4_SSL(host, int(port), ssl_context=context)
imap.login(user, password)
for folder, folders, files in os.walk(tree):
    folders.sort()
    mailbox = os.path.relpath(folder, tree)
    if mailbox == ".":
        mailbox = "INBOX"
    else:
        imap.create('"' + mailbox + '"')
    for name in sorted(files):
        with open(os.path.join(folder, name), "rb") as handle:
            status, answer = imap.append('"' + mailbox + '"', None, None, handle.read())
        if status != "OK":
            sys.exit(f"{name}: {answer}")
imap.logout()
