#!/usr/bin/env python3
"""Fails on any relative link or #anchor in the given Markdown files that does
not resolve: a missing file, or an anchor that no heading of its target makes.

  check_doc_links.py FILE.md...

Anchors are made from headings as GitHub makes them: lower case, punctuation
other than '-' and '_' dropped, spaces as '-', and '-1', '-2' for repeats.
Links inside code spans and fenced blocks are not links.
"""
import os
import re
import sys

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")


def prose_lines(path):
    """The file's lines outside fenced blocks: number, the line with its code
    spans blanked, the line as it is."""
    fenced = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.lstrip().startswith("```"):
                fenced = not fenced
                continue
            if not fenced:
                yield number, re.sub(r"`[^`]*`", "``", line), line


def anchors(path):
    seen = {}
    result = set()
    for _, _, line in prose_lines(path):
        match = HEADING.match(line)
        if not match:
            continue
        text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", match.group(2))
        slug = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
        count = seen.get(slug, 0)
        seen[slug] = count + 1
        result.add(slug if count == 0 else "%s-%d" % (slug, count))
    return result


def main(files):
    broken = []
    cache = {}
    for path in files:
        for number, line, _ in prose_lines(path):
            for target in LINK.findall(line):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                    continue  # an absolute URL or mailto:
                file_part, _, anchor = target.partition("#")
                resolved = (os.path.normpath(os.path.join(os.path.dirname(path), file_part))
                            if file_part else path)
                where = "%s:%d: %s" % (path, number, target)
                if not os.path.exists(resolved):
                    broken.append(where + " (no such file)")
                    continue
                if anchor and resolved.endswith(".md"):
                    if resolved not in cache:
                        cache[resolved] = anchors(resolved)
                    if anchor not in cache[resolved]:
                        broken.append(where + " (no such heading)")
    for line in broken:
        print(line)
    print("%d links broken in %d files" % (len(broken), len(files)))
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
