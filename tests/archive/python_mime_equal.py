"""Compares two forms of one message (or, with --pairs FILE, every pair the file lists) as a mail reader sees them: the same tree of parts, every
leaf part's decoded bytes equal, every header's unfolded value equal. Prints what differs and
exits 1 when anything does; exits 0 when the two are the same message."""
import sys
from email import message_from_bytes
from email.header import decode_header
from email.policy import compat32


def unfolded(value):
    """The value as a reader shows it: unfolded, encoded words decoded."""
    text = str(value).replace("\r\n", "").replace("\n", "").replace("\r", "")
    text = text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")
    shown = []
    for chunk, charset in decode_header(text):
        if isinstance(chunk, bytes):  # plain text comes back raw-unicode-escaped
            chunk = chunk.decode(charset or "raw-unicode-escape", "replace")
        shown.append(chunk)
    return "".join(shown).strip()


def walk(message, path="1"):
    yield path, message
    if message.is_multipart():
        for index, part in enumerate(message.get_payload(), 1):
            yield from walk(part, f"{path}.{index}")


def main(first_path, second_path):
    with open(first_path, "rb") as handle:
        first = message_from_bytes(handle.read(), policy=compat32)
    with open(second_path, "rb") as handle:
        second = message_from_bytes(handle.read(), policy=compat32)
    problems = []
    first_parts, second_parts = list(walk(first)), list(walk(second))
    if [p for p, _ in first_parts] != [p for p, _ in second_parts]:
        problems.append("the parts differ: %s / %s" % (
            [p for p, _ in first_parts], [p for p, _ in second_parts]))
    for (path, a), (_, b) in zip(first_parts, second_parts):
        skip = {"content-transfer-encoding", "mime-version"}
        headers_a = [(k.lower(), unfolded(v)) for k, v in a.raw_items() if k.lower() not in skip]
        headers_b = [(k.lower(), unfolded(v)) for k, v in b.raw_items() if k.lower() not in skip]
        if headers_a != headers_b:
            problems.append(f"part {path}: headers differ")
        if not a.is_multipart() and not b.is_multipart():
            if a.get_content_type() == "message/rfc822" or b.get_content_type() == "message/rfc822":
                continue
            if a.get_payload(decode=True) != b.get_payload(decode=True):
                problems.append(f"part {path}: decoded content differs")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    if sys.argv[1] == "--pairs":
        # One pair a line, tab-separated: every pair is compared, and any difference fails all.
        failed = 0
        with open(sys.argv[2], encoding="utf-8") as pairs:
            for line in pairs:
                first, second = line.rstrip("\n").split("\t")
                if main(first, second):
                    print("in", first)
                    failed = 1
        sys.exit(failed)
    sys.exit(main(sys.argv[1], sys.argv[2]))
