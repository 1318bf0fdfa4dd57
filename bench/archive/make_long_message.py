#!/usr/bin/env python3
"""Writes one message of about SIZE MiB that Zimbra would refuse as it stands: a text part and
a base64 attachment, each on a single line. The bytes are random but fixed by the seed.

    make_long_message.py PATH [SIZE_MIB]   (default 128)
"""
import base64
import random
import sys

path, size = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 128
rng = random.Random(7)
text_mib, attachment_mib = size // 2, size - size // 2
with open(path, 'wb') as out:
    out.write(b'From: a@example.com\r\nSubject: one long line\r\nMIME-Version: 1.0\r\n'
              b'Content-Type: multipart/mixed; boundary=zz\r\n\r\n--zz\r\n'
              b'Content-Type: text/plain\r\n\r\n')
    chunk = bytes(rng.choice(b'abcdefgh ,.-=') for _ in range(1 << 20))
    for _ in range(text_mib):
        out.write(chunk)
    out.write(b'\r\n--zz\r\nContent-Type: application/octet-stream\r\n'
              b'Content-Transfer-Encoding: base64\r\n\r\n')
    encoded = base64.b64encode(rng.randbytes(3 << 18))  # 1 MiB of base64
    for _ in range(attachment_mib):
        out.write(encoded)
    out.write(b'\r\n--zz--\r\n')
