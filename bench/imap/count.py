"""Messages an account holds in all its mailboxes.    count.py HOST PORT CA_FILE USER PASSWORD"""
import imaplib
import re
import ssl
import sys

host, port, ca_file, user, password = sys.argv[1:6]
imap = imaplib.IMAP4_SSL(host, int(port), ssl_context=ssl.create_default_context(cafile=ca_file))
imap.login(user, password)
total = 0
for line in imap.list()[1]:
    name = line.decode().rsplit(' "/" ', 1)[1]
    if "\\Noselect" in line.decode():
        continue
    total += int(re.search(rb"MESSAGES (\d+)", imap.status(name, "(MESSAGES)")[1][0]).group(1))
imap.logout()
print(total)
