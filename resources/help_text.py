#!/usr/bin/env python3
"""Writes the help that Mailsheaf's window shows, from the README of the same source tree.

    python3 resources/help_text.py README.md help.txt

The build runs this whenever README.md changes, so that the help in the program always says
what the README of its own version says, and reads offline. The help is the README's section
"Using it" with its sub-sections (each under its own title), as plain text for a read-only text box: UTF-8, lines ended by CR LF, one line to a paragraph or a
numbered step (the box breaks them to its width), no Markdown marks, no pictures.
Python 3 standard library only.
"""

import re
import sys

SECTION = "Using it"

HEADING = re.compile(r"#{1,6}\s+(.*\S)\s*$")
LIST_ITEM = re.compile(r"(\d+\.|[-*])\s")


def section_lines(markdown, title):
    """The lines under the heading `title`, its sub-sections' included, up to the next heading
    of its level or above; a sub-section's title stands alone on its line, between blanks."""
    lines = None
    level = 0
    for line in markdown.splitlines():
        heading = HEADING.match(line)
        depth = len(line) - len(line.lstrip("#")) if heading else 0
        if heading and lines is not None and depth <= level:
            break
        if heading and lines is None:
            if heading.group(1) == title:
                lines = []
                level = depth
        elif heading:
            lines.extend(("", heading.group(1), ""))
        elif lines is not None:
            lines.append(line)
    if lines is None:
        raise SystemExit(f"help_text.py: README.md has no section {title!r}")
    return lines


def plain(text):
    """The text as a reader sees it rendered: pictures, links, emphasis and code marks gone."""
    text = re.sub(r"!\[[^\]]*\]\([^)]*\)", "", text)
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)
    text = re.sub(r"`([^`]*)`", r"\1", text)
    text = re.sub(r"(\*\*|__)(.+?)\1", r"\2", text)
    return re.sub(r"\\([\\`*_{}\[\]()#+.!-])", r"\1", text)


def paragraphs(lines):
    """Paragraphs and list items, each joined into one line."""
    joined = []
    current = None
    for line in lines:
        stripped = line.strip()
        if not stripped:
            current = None
            continue
        # An item starts at the margin: an indented "1901. Such" goes on the item before it.
        if current is None or LIST_ITEM.match(line):
            current = [stripped]
            joined.append(current)
        else:
            current.append(stripped)
    kept = (plain(" ".join(words)).strip() for words in joined)
    return [paragraph for paragraph in kept if paragraph]


def help_text(markdown):
    parts = [SECTION, ""]
    for paragraph in paragraphs(section_lines(markdown, SECTION)):
        parts.append(paragraph)
        parts.append("")
    return "\r\n".join(parts)


def main(argv):
    if len(argv) != 3:
        raise SystemExit("usage: help_text.py README.md help.txt")
    with open(argv[1], encoding="utf-8") as readme:
        text = help_text(readme.read())
    with open(argv[2], "w", encoding="utf-8", newline="") as out:
        out.write(text)


if __name__ == "__main__":
    main(sys.argv)
