"""A strict reader of our own for an archive meant for Zimbra's import: it applies the rules the
importer is known to follow (folder names it refuses, folders that cannot hold mail, Junk without
sub-folders, lines it refuses, the read flag in the mode, 32-bit times) and prints every entry
that Zimbra would refuse or misplace. Exits 1 when it finds one, 0 when it finds nothing.

    python_zimbra_rules.py ARCHIVE.tgz [NAME...]   NAMEs: messages known to keep a long line
"""
import re
import sys
import tarfile

NOT_FOR_MAIL = {"contacts", "calendar", "tasks", "emailed contacts", "briefcase",
                "files shared with me"}
REFUSED = re.compile("[:\"\x00-\x1f\ufffe\uffff]")
LONGEST_LINE = 10240
LINE_END = re.compile(rb"\r\n|\r|\n")  # as the importer counts lines: a CR or an LF ends one
LAST_TIME = 2147483647


def read_flag(data):
    """Read unless X-Mozilla-Status (bit 1) or else Status (an R) says otherwise."""
    fields = {}
    for line in LINE_END.split(data):  # the header section ends at the first empty line
        if not line:
            break
        match = re.match(rb"([^:\s]+)\s*:(.*)", line)
        if match and match.group(1).lower() not in fields:
            fields[match.group(1).lower()] = match.group(2).strip()
    flags = fields.get(b"x-mozilla-status")
    if flags is not None:
        try:
            return int(flags, 16) & 1 == 1
        except ValueError:
            pass
    status = fields.get(b"status")
    return True if status is None else b"R" in status


def problems_of(archive, allowed):
    problems = []
    with tarfile.open(archive, "r:gz") as tar:
        for item in tar:
            name = item.name
            say = lambda why: problems.append(f"{name}: {why}")
            if item.type in (tarfile.XHDTYPE, tarfile.XGLTYPE):
                say("a pax header")
                continue
            if name.startswith("./") or name.startswith("/"):
                say("not relative")
            parts = name.rstrip("/").split("/")
            folders = parts if item.isdir() else parts[:-1]
            for part in folders:
                if part in (".", "..") or not part.strip() or len(part) > 255 or REFUSED.search(part):
                    say(f"folder name {part!r} is refused")
            if folders and folders[0].rstrip(" ").lower() in NOT_FOR_MAIL and not item.isdir():
                if len(folders) == 1:
                    say("a message in a folder that cannot hold mail")
            if len(folders) > 1 and folders[0].rstrip(" ").lower() == "junk" and not item.isdir():
                say("a message below a sub-folder of Junk")
            if item.isdir():
                continue
            if not item.isfile():
                say("neither file nor folder")
                continue
            if not name.endswith(".eml") or name.startswith("__MACOSX/"):
                say("not a message")
                continue
            data = tar.extractfile(item).read()
            if not data or data[:4] == b"\x00\x05\x16\x07":
                say("not a message (empty or AppleDouble)")
            longest = max((len(line) for line in LINE_END.split(data)), default=0)
            if longest > LONGEST_LINE and name not in allowed:
                say(f"a line of {longest} bytes")
            if not 0 < item.mtime <= LAST_TIME:
                say(f"time {item.mtime} wraps in a 32-bit field")
            if item.mode not in (0o644, 0o444):
                say(f"mode {oct(item.mode)}")
            elif (item.mode == 0o644) != read_flag(data):
                say("read flag differs from the message's headers")
    return problems


if __name__ == "__main__":
    found = problems_of(sys.argv[1], set(sys.argv[2:]))
    for problem in found:
        print(problem)
    sys.exit(1 if found else 0)
