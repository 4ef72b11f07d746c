#!/usr/bin/env python3
"""Writes the developer kit, a zip that is the same byte for byte on every build of one commit.

  kit_zip.py OUT.zip TOP SOURCE=NAME...

Each SOURCE file goes in as TOP/NAME, in the order given, stamped with
SOURCE_DATE_EPOCH when it is set (else 1980-01-01, the first time a zip can
hold), with fixed permissions: 755 for a file its owner can run, 644 for others.
"""
import os
import sys
import time
import zipfile

FIRST_ZIP_TIME = (1980, 1, 1, 0, 0, 0)


def stamp():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch is None:
        return FIRST_ZIP_TIME
    if not epoch.isdigit():
        sys.exit("kit_zip.py: SOURCE_DATE_EPOCH is not a number of seconds: %r" % epoch)
    return max(FIRST_ZIP_TIME, time.gmtime(int(epoch))[:6])


def main():
    if len(sys.argv) < 4 or not all("=" in a for a in sys.argv[3:]):
        sys.exit(__doc__.strip())
    out, top = sys.argv[1], sys.argv[2]
    date_time = stamp()
    with zipfile.ZipFile(out, "w") as kit:
        for pair in sys.argv[3:]:
            source, name = pair.split("=", 1)
            info = zipfile.ZipInfo(top + "/" + name, date_time)
            info.create_system = 3
            mode = 0o755 if os.stat(source).st_mode & 0o100 else 0o644
            info.external_attr = (0o100000 | mode) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(source, "rb") as f:
                kit.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
