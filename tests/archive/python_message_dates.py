"""Prints, for every file below a folder, its path relative to the folder and the time of its
first Date header as Python's email package reads it ("-" when it reads none)."""
import email.utils
import os
import sys
from email.parser import BytesHeaderParser

root = sys.argv[1]
for folder, _, files in os.walk(root):
    for name in files:
        path = os.path.join(folder, name)
        with open(path, "rb") as handle:
            headers = BytesHeaderParser().parse(handle)
        value = headers.get("Date")
        parsed = email.utils.parsedate_tz(str(value)) if value is not None else None
        stamp = email.utils.mktime_tz(parsed) if parsed else "-"
        print(f"{os.path.relpath(path, root)}\t{stamp}")
