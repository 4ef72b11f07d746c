#!/usr/bin/env python3
"""Compares two registry exports (regedit's format, as `reg export` writes it).

  reg_compare.py A.reg B.reg [--ignore KEY]... [--empty KEY]...

Key names compare without regard to case, as the registry looks them up; value
lines compare exactly. Keys under an --ignore key are left out on both sides;
an --empty key may be on one side only, as long as it holds nothing but other
--empty keys.
Prints what only one side has and exits 1 if the two differ.
"""
import sys


def read(path, ignored):
    with open(path, "rb") as f:
        data = f.read()
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode()
    keys = {}
    key = None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1].lower()
            if any(key == i or key.startswith(i + "\\") for i in ignored):
                key = None
            else:
                keys.setdefault(key, set())
        elif key is not None and line.strip():
            keys[key].add(line)
    return keys


def main():
    args = sys.argv[1:]
    options = ("--ignore", "--empty")
    ignored = [args[i + 1].lower() for i, a in enumerate(args) if a == "--ignore"]
    empty = [args[i + 1].lower() for i, a in enumerate(args) if a == "--empty"]
    files = [a for i, a in enumerate(args) if a not in options and (i == 0 or args[i - 1] not in options)]
    if len(files) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    a, b = (read(f, ignored) for f in files)
    keys = set(a) | set(b)

    def holds_nothing(key):
        return key in empty and not a.get(key) and not b.get(key) and all(
            holds_nothing(k) for k in keys if k.startswith(key + "\\"))

    differences = []
    for key in sorted(keys):
        if holds_nothing(key):
            continue
        if key not in b:
            differences.append("only in %s: [%s] %s" % (files[0], key, sorted(a[key])))
        elif key not in a:
            differences.append("only in %s: [%s] %s" % (files[1], key, sorted(b[key])))
        elif a[key] != b[key]:
            differences.append("[%s]: %s / %s" % (key, sorted(a[key] - b[key]), sorted(b[key] - a[key])))
    for line in differences:
        print(line)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
