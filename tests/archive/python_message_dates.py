"""Prints, for every file below a folder, its path relative to the folder and the time of its
first Date header as Python's email package reads it ("-" when it reads none, or when the date
names no zone: its clock could be anywhere, and Python would take it as UTC)."""
import email.utils
import os
import re
import sys
from email.parser import BytesHeaderParser

# Python takes the AM or PM of a 12-hour time for a zone; it is read here as the hour it is.
TWELVE_HOUR = re.compile(r"\b(\d{1,2})(:\d{1,2}(?::\d{1,2})?)\s*([AaPp])[Mm]\b")


def twenty_four_hour(value):
    def hour(match):
        h = int(match.group(1)) % 12 + (12 if match.group(3) in "Pp" else 0)
        return f"{h}{match.group(2)}"
    return TWELVE_HOUR.sub(hour, value)

def has_zone(value):
    """Whether anything follows the time (and, in the asctime order, the year after it)."""
    words = re.sub(r"\([^()]*\)", " ", value).replace(",", " ").split()
    times = [i for i, w in enumerate(words) if ":" in w]
    if not times:
        return False
    rest = [w for w in words[times[-1] + 1:] if w.upper() not in ("AM", "PM")]
    if rest and re.fullmatch(r"\d{4}", rest[0]):
        rest = rest[1:]
    return bool(rest)


root = sys.argv[1]
for folder, _, files in os.walk(root):
    for name in files:
        path = os.path.join(folder, name)
        with open(path, "rb") as handle:
            headers = BytesHeaderParser().parse(handle)
        value = headers.get("Date")
        parsed = (email.utils.parsedate_tz(twenty_four_hour(str(value)))
                  if value is not None and has_zone(str(value)) else None)
        stamp = email.utils.mktime_tz(parsed) if parsed else "-"
        print(f"{os.path.relpath(path, root)}\t{stamp}")
