#!/usr/bin/python3
"""Makes a package that wixl wrote reproducible. wixl stamps the summary
information with the clock (created, last saved) and a random package code;
this sets both times to the given one and the package code to a UUID derived
from the product code and the package's content. The streams keep their
sizes, so nothing else in the file moves.

Usage: summary_info.py PACKAGE.msi SECONDS_SINCE_1970 PRODUCT_CODE
(Debian's interpreter, for Debian's olefile.)"""
import hashlib
import struct
import sys
import uuid

import olefile

STREAM = "\x05SummaryInformation"
PACKAGE_CODE, CREATED, LAST_SAVED = 9, 12, 13  # property ids
VT_LPSTR, VT_FILETIME = 30, 64
SECONDS_1601_TO_1970 = 11644473600


def value_offsets(data):
    """The value offsets of the property set's first section, by property id."""
    section = struct.unpack_from("<I", data, 44)[0]  # after the header and the FMTID
    count = struct.unpack_from("<I", data, section + 4)[0]
    offsets = {}
    for i in range(count):
        pid, offset = struct.unpack_from("<II", data, section + 8 + 8 * i)
        offsets[pid] = section + offset
    return offsets


def stamp(path, package_code, filetime):
    ole = olefile.OleFileIO(path, write_mode=True)
    data = bytearray(ole.openstream(STREAM).read())
    at = value_offsets(data)
    for pid, kind in ((CREATED, VT_FILETIME), (LAST_SAVED, VT_FILETIME), (PACKAGE_CODE, VT_LPSTR)):
        if pid not in at or struct.unpack_from("<H", data, at[pid])[0] != kind:
            sys.exit(f"summary_info.py: {path}: property {pid} is missing or not of type {kind}")
    for pid in (CREATED, LAST_SAVED):
        struct.pack_into("<Q", data, at[pid] + 4, filetime)
    text = package_code.encode("ascii") + b"\0"
    if struct.unpack_from("<I", data, at[PACKAGE_CODE] + 4)[0] != len(text):
        sys.exit(f"summary_info.py: {path}: the package code is not a braced UUID")
    data[at[PACKAGE_CODE] + 8:at[PACKAGE_CODE] + 8 + len(text)] = text
    ole.write_stream(STREAM, bytes(data))
    ole.close()


def braced(code):
    return "{" + str(code).upper() + "}"


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    path, seconds, product_code = sys.argv[1], int(sys.argv[2]), uuid.UUID(sys.argv[3])
    filetime = (seconds + SECONDS_1601_TO_1970) * 10_000_000
    # The content hashed is the whole package with the package code zero.
    stamp(path, braced(uuid.UUID(int=0)), filetime)
    with open(path, "rb") as package:
        digest = hashlib.sha256(package.read()).hexdigest()
    stamp(path, braced(uuid.uuid5(product_code, digest)), filetime)


if __name__ == "__main__":
    main()
