"""Lists a .tgz through Python's tarfile: name, type, size, mtime and mode per member."""
import sys
import tarfile

with tarfile.open(sys.argv[1], "r:gz", encoding="utf-8", errors="strict") as archive:
    for member in archive.getmembers():
        line = f"{member.name}\t{member.type.decode()}\t{member.size}\t{member.mtime}\t{member.mode:o}\n"
        sys.stdout.buffer.write(line.encode("utf-8"))
