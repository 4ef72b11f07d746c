#!/usr/bin/env python3
"""Makes files of a package built with wixl versioned files, as WiX 3's light
would, and lets the last package that holds them remove them.

  versioned_files.py PACKAGE.msi FILE_ID=PATH...

Each FILE_ID is a File element's Id in the package, PATH the file put into it.
wixl leaves the File table's Version column empty, and Windows Installer then
takes the file for an unversioned one: it never replaces an older copy of a
shared file (a versioned file on disk wins over an unversioned one). So each
file gets the version and language of its version resource, and no hash (that
is for unversioned files). With a version, Wine's installer no longer deletes
a copy on disk that is newer than the package's own, even when the last
package that holds it goes; each file also gets a RemoveFile row, which
deletes it by name when its component goes.
"""
import struct
import subprocess
import sys

KEY = "VS_VERSION_INFO".encode("utf-16-le")
TRANSLATION = "Translation\0".encode("utf-16-le")
SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def version_resource(path):
    """(version, language) from the file's version resource."""
    with open(path, "rb") as f:
        data = f.read()
    start = data.find(KEY)
    fixed = data.find(SIGNATURE, start) if start >= 0 else -1
    if fixed < 0 or fixed - start > 64:
        sys.exit("versioned_files.py: %s has no version resource" % path)
    ms, ls = struct.unpack_from("<II", data, fixed + 8)
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    language = ""
    at = data.find(TRANSLATION, fixed)
    if at >= 0:
        value = at + len(TRANSLATION)
        value += -(value - (start - 6)) % 4  # values start on a 32-bit boundary
        language = str(struct.unpack_from("<H", data, value)[0])
    return version, language


def run(*args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("versioned_files.py: %s failed: %s" % (" ".join(args[:3]), done.stderr.strip()))
    return done.stdout


def table(package, name):
    """The rows of a table, by their first column."""
    rows = run("msiinfo", "export", package, name).splitlines()[3:]
    return {row.split("\t")[0]: row.split("\t") for row in rows}


def main():
    if len(sys.argv) < 3 or not all("=" in a for a in sys.argv[2:]):
        sys.exit(__doc__.strip())
    package = sys.argv[1]
    files, components = table(package, "File"), table(package, "Component")
    queries = []
    for pair in sys.argv[2:]:
        file_id, path = pair.split("=", 1)
        if file_id not in files:
            sys.exit("versioned_files.py: %s has no File %s" % (package, file_id))
        _, component, name = files[file_id][:3]
        version, language = version_resource(path)
        queries += [
            "UPDATE `File` SET `Version` = '%s', `Language` = '%s' WHERE `File` = '%s'"
            % (version, language, file_id),
            "DELETE FROM `MsiFileHash` WHERE `File_` = '%s'" % file_id,
            "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, "
            "`InstallMode`) VALUES ('%s.Remove', '%s', '%s', '%s', 2)"
            % (file_id, component, name, components[component][2]),
        ]
    for query in queries:
        run("msibuild", package, "-q", query)


if __name__ == "__main__":
    main()
