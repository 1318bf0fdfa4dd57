"""Python's imaplib putting a tree into an account with MULTIAPPEND (RFC 3502): CREATE for each
folder, then its messages in batches, each batch one APPEND command carrying many messages as
literals, so that the server stores the batch as one transaction. imaplib has no helper for
that command, so it is written here on imaplib's own connection (send, readline). Literals are
non-synchronizing (LITERAL+) where the server offers it, else each waits for the server's "+".
Line ends go as CRLF, as imaplib's own append sends them. One batch in flight at a time.

    imaplib_multiappend.py HOST PORT CA_FILE USER PASSWORD TREE [MESSAGES_A_BATCH [BYTES_A_BATCH]]
"""
import imaplib
import os
import re
import ssl
import sys

host, port, ca_file, user, password, tree = sys.argv[1:7]
batch_messages = int(sys.argv[7]) if len(sys.argv) > 7 else 100
batch_bytes = int(sys.argv[8]) if len(sys.argv) > 8 else 4 << 20
context = ssl.create_default_context(cafile=ca_file)
imap = imaplib.IMAP4_SSL(host, int(port), ssl_context=context)
imap.login(user, password)
capabilities = imap.capability()[1][0].upper().split()
if b"MULTIAPPEND" not in capabilities:
    sys.exit("the server does not offer MULTIAPPEND")
literal_plus = b"LITERAL+" in capabilities
line_ends = re.compile(rb"\r\n|\r|\n")
tag_number = 0


def answer(tag):
    """Reads up to the tagged answer; stops the script unless it is OK."""
    while True:
        line = imap.readline()
        if not line:
            sys.exit("the server closed the connection")
        if line.startswith(tag + b" "):
            if not line.startswith(tag + b" OK"):
                sys.exit(line.decode(errors="replace").strip())
            return


def continuation():
    """Waits for the server's "+" before a literal (no LITERAL+)."""
    while True:
        line = imap.readline()
        if line.startswith(b"+"):
            return
        if not line or not line.startswith(b"*"):
            sys.exit("no continuation: " + line.decode(errors="replace").strip())


def append(mailbox, messages):
    global tag_number
    tag_number += 1
    tag = b"M%d" % tag_number
    imap.send(tag + b" APPEND " + mailbox)
    for message in messages:
        if literal_plus:
            imap.send(b" (\\Seen) {%d+}\r\n" % len(message) + message)
        else:
            imap.send(b" (\\Seen) {%d}\r\n" % len(message))
            continuation()
            imap.send(message)
    imap.send(b"\r\n")
    answer(tag)


for folder, folders, files in os.walk(tree):
    folders.sort()
    relative = os.path.relpath(folder, tree)
    if relative == ".":
        mailbox = b'"INBOX"'
    else:
        mailbox = b'"' + relative.encode() + b'"'
        status, data = imap.create(mailbox.decode())
        if status != "OK":
            sys.exit(f"CREATE {relative}: {data}")
    batch, size = [], 0
    for name in sorted(files):
        with open(os.path.join(folder, name), "rb") as handle:
            message = line_ends.sub(b"\r\n", handle.read())
        if batch and (len(batch) == batch_messages or size + len(message) > batch_bytes):
            append(mailbox, batch)
            batch, size = [], 0
        batch.append(message)
        size += len(message)
    if batch:
        append(mailbox, batch)
imap.logout()
