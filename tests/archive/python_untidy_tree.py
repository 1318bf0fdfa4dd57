"""A tree laid out like real exports, made from the mail corpus, with every kind of thing Zimbra's
import would refuse or misplace; and the check of the archive and report written from it.

    python_untidy_tree.py make CORPUS TREE      writes TREE/src and TREE/expected.json
    python_untidy_tree.py check TREE ARCHIVE REPORT RUN_START RUN_END
"""
import email
import email.policy
import email.utils
import json
import os
import re
import sys
import tarfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import python_mime_equal  # noqa: E402
import python_zimbra_rules  # noqa: E402

FILE_TIME = 1500000000


def corpus_messages(corpus):
    for folder, _, files in sorted(os.walk(corpus)):
        for name in sorted(files):
            if name.endswith(".txt"):
                with open(os.path.join(folder, name), "rb") as handle:
                    yield handle.read()


def first(corpus, test):
    for data in corpus_messages(corpus):
        if test(data):
            return data
    sys.exit("no corpus message fits")


def one_line_base64(data):
    """The first base64 part of a multipart, its lines joined into one."""
    match = re.search(rb"Content-Transfer-Encoding: base64\r?\n(?:[^\r\n]+\r?\n)*\r?\n", data,
                      re.IGNORECASE)
    start = match.end()
    end = data.index(b"\n--", start)
    body = data[start:end]
    return data[:start] + body.replace(b"\r", b"").replace(b"\n", b"") + data[end:]


def one_line_html(data):
    head, _, body = data.partition(b"\n\n")
    return head + b"\n\n" + b" ".join(body.split(b"\n")) + b"\n"


def make(corpus, tree):
    plain = [m for m, _ in zip(
        (d for d in corpus_messages(corpus)
         if max(len(l) for l in d.split(b"\n")) < 2000 and b"\nStatus:" not in d
         and b"X-Mozilla-Status" not in d and re.search(rb"\nDate: .*20\d\d", d)), range(30))]
    attachment = first(corpus, lambda d: b"multipart/mixed" in d and re.search(
        rb"Content-Transfer-Encoding: base64\r?\n(?:[^\r\n]+\r?\n)*\r?\n[A-Za-z0-9+/=]{60,}\r?\n"
        rb"[A-Za-z0-9+/=]{60,}", d, re.IGNORECASE) and len(d) > 20000)
    html = first(corpus, lambda d: re.search(rb"\nContent-Type: text/html", d, re.IGNORECASE)
                 and not re.search(rb"quoted-printable|base64|multipart", d, re.IGNORECASE)
                 and len(d) > 12000)
    later = re.sub(rb"\nDate: [^\n]*", b"\nDate: Sat, 1 Jan 2050 00:00:00 +0000", plain[0], count=1)
    no_date = re.sub(rb"\nDate: [^\n]*", b"\nX-Old-Date: gone", plain[1], count=1)
    minutes = b" ".join(b"Item %d: the budget is agreed, caf\xc3\xa9 = 100%%." % i for i in range(400))
    preamble = (b"MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=zz\n\n" +
                b"-" * 12000 + b"\n--zz\nContent-Type: text/plain\n\nshort\n--zz--\n")
    # (source path below src, bytes, stored path or None when left out, how it is stored; a
    # name that is not UTF-8 is written with its bytes as surrogates, as Python keeps them)
    entries = [
        ("Inbox/plain-1.eml", plain[2], "Inbox/plain-1.eml", "same"),
        ("Inbox/plain-2.eml", plain[3], "Inbox/plain-2.eml", "same"),
        ("Projects: 2020/a.eml", plain[4], "Projects_ 2020/a.eml", "same"),
        ('Say "hi"/b.eml', plain[5], "Say _hi_/b.eml", "same"),
        ("Tab\there/c.eml", plain[6], "Tab_here/c.eml", "same"),
        ("Contacts/d.eml", plain[7], "Contacts (mail)/d.eml", "same"),
        ("calendar/e.eml", plain[8], "calendar (mail)/e.eml", "same"),
        ("Contacts/Sub/f.eml", plain[9], "Contacts (mail)/Sub/f.eml", "same"),
        ("Junk/g.eml", plain[10], "Junk/g.eml", "same"),
        ("Junk/Old/h.eml", plain[11], "Junk - Old/h.eml", "same"),
        ("Junk/Old/Deeper/i.eml", plain[12], "Junk - Old/Deeper/i.eml", "same"),
        # Only the top-level Junk is Zimbra's: one deeper keeps its sub-folders.
        ("Work/Junk/Old/w.eml", plain[26], "Work/Junk/Old/w.eml", "same"),
        ("Work/j.eml", plain[13], "Work/j.eml", "same"),
        ("work/k.eml", plain[14], "work/k.eml", "same"),
        ("   /l.eml", plain[15], "_/l.eml", "same"),
        ("Attach/one-line-base64.eml", one_line_base64(attachment),
         "Attach/one-line-base64.eml", "re-encoded"),
        ("News/one-line-html.eml", one_line_html(html), "News/one-line-html.eml", "re-encoded"),
        ("Mac/._m.eml", b"\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X resource fork", None, "left out"),
        ("Empty/n.eml", b"", None, "left out"),
        ("Unread/status.eml", b"Status: O\n" + plain[16], "Unread/status.eml", "unread"),
        ("Unread/mozilla.eml", b"X-Mozilla-Status: 0000\n" + plain[17], "Unread/mozilla.eml",
         "unread"),
        ("Read/mozilla.eml", b"X-Mozilla-Status: 0001\nStatus: O\n" + plain[18],
         "Read/mozilla.eml", "same"),
        ("Dates/2050.eml", later, "Dates/2050.eml", "file time"),
        ("Dates/none-and-file-2040.eml", no_date, "Dates/none-and-file-2040.eml", "fallback time"),
        ("Entw\udcfcrfe/R\udce9union.eml", plain[20], "Entw\u00fcrfe/R\u00e9union.eml", "same"),
        ("Mac CR/cr.eml", b"Status: O\r" + plain[19].replace(b"\r\n", b"\n").replace(b"\n", b"\r"),
         "Mac CR/cr.eml", "unread"),
        ("Notes/no-header.eml", b"Hi Bob, the minutes follow\n\n" + minutes + b"\n",
         "Notes/no-header.eml", "re-encoded"),
        ("Lists/preamble.eml", preamble, "Lists/preamble.eml", "re-encoded"),
        ("Sent Items/s.eml", plain[21], "Sent/s.eml", "same"),
        ("Trash/t.eml", plain[22], "Trash/t.eml", "same"),
        ("\u0141\u00f3d\u017a/u.eml", plain[23], "\u0141\u00f3d\u017a/u.eml", "same"),
        ("\u0142\u00f3d\u017a/v.eml", plain[24], "\u0142\u00f3d\u017a/v.eml", "same"),
        ("__MACOSX/Inbox/._plain-1.eml", b"\x00\x05\x16\x07\x00\x02\x00\x00fork", None, "left out"),
        ("Apple/y.emlx", b"1234\n" + plain[25], None, "left out"),
        ("Outlook/z.msg", b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", None, "left out"),
        ("Inbox/Thumbs.db", b"thumbnails", None, "counted"),
    ]
    for source, data, _, how in entries:
        path = os.path.join(tree, "src", source)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
        stamp = 2208988800 if how == "fallback time" else FILE_TIME
        os.utime(path, (stamp, stamp))
    with open(os.path.join(tree, "expected.json"), "w", encoding="utf-8") as handle:
        json.dump([[s, t, h] for s, _, t, h in entries], handle)


def check(tree, archive, report_path, run_start, run_end):
    problems = python_zimbra_rules.problems_of(archive, set())
    with open(os.path.join(tree, "expected.json"), encoding="utf-8") as handle:
        expected = json.load(handle)
    with tarfile.open(archive, "r:gz") as tar:
        stored = {item.name: (item, tar.extractfile(item).read())
                  for item in tar if item.isfile()}
    with open(report_path, encoding="utf-8") as handle:
        report = handle.read()
    kept = [e for e in expected if e[1] is not None]
    if len(stored) != len(kept):
        problems.append(f"{len(stored)} messages stored, {len(kept)} expected")
    for source, target, how in expected:
        source_path = os.path.join(tree, "src", source)
        if target is None:
            if how == "left out" and source_path not in report:
                problems.append(f"{source}: left out but not named in the report")
            continue
        if target not in stored:
            problems.append(f"{source}: missing (expected as {target})")
            continue
        item, data = stored[target]
        with open(source_path, "rb") as handle:
            original = handle.read()
        if how == "re-encoded":
            if data == original:
                problems.append(f"{source}: not re-encoded")
            if python_mime_equal.main(source_path, write_temp(tree, data)):
                problems.append(f"{source}: re-encoded form decodes differently")
            if source_path not in report:
                problems.append(f"{source}: re-encoded but not named in the report")
        elif data != original:
            problems.append(f"{source}: not stored byte for byte")
        if (item.mode == 0o444) != (how == "unread"):
            problems.append(f"{source}: mode {oct(item.mode)}")
        if how == "file time" and item.mtime != FILE_TIME:
            problems.append(f"{source}: time {item.mtime}, not the file's")
        if how == "fallback time" and item.mtime != fallback_time(source_path, original):
            problems.append(f"{source}: time {item.mtime}, not {fallback_time(source_path, original)}")
    for line in ['"Projects: 2020" -> "Projects_ 2020"', '"Say "hi"" -> "Say _hi_"',
                 '"Tab\\there" -> "Tab_here"', '"Contacts" -> "Contacts (mail)"',
                 '"calendar" -> "calendar (mail)"', '"Junk/Old" -> "Junk - Old"', '"   " -> "_"',
                 '"Sent Items" -> "Sent"', '"Entw\\xFCrfe" -> "Entw\u00fcrfe": its name is not UTF-8',
                 'R\\xE9union.eml" -> "R\u00e9union.eml"', "3 messages were stored as unread",
                 '"Work", "work"', '"\u0141\u00f3d\u017a", "\u0142\u00f3d\u017a"', "1 Thumbs.db",
                 "a header section was put in front", "into Zimbra's own Trash folder"]:
        if line not in report:
            problems.append(f"the report does not say {line!r}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


def fallback_time(path, data):
    """Where neither Date: nor the file's time can be stored: the newest date of the message's
    Received: fields, else the time its file last changed."""
    message = email.message_from_bytes(data, policy=email.policy.compat32)
    dates = []
    for received in message.get_all("Received") or []:
        parts = str(received).rsplit(";", 1)
        parsed = email.utils.parsedate_tz(parts[1].strip()) if len(parts) == 2 else None
        if parsed and 86400 <= email.utils.mktime_tz(parsed) <= 2**31 - 1:
            dates.append(email.utils.mktime_tz(parsed))
    return max(dates) if dates else int(os.stat(path).st_ctime)


def write_temp(tree, data):
    path = os.path.join(tree, "stored.eml")
    with open(path, "wb") as handle:
        handle.write(data)
    return path


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3])
    else:
        sys.exit(check(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), int(sys.argv[6])))
