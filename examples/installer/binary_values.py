#!/usr/bin/env python3
"""Gives a package built with wixl the binary registry values its WiX sources
ask for, as WiX 3's light would.

  binary_values.py PACKAGE.msi SOURCE.wxs...

wixl puts a RegistryValue of Type="binary" into the Registry table as bare
hexadecimal text, which Windows Installer writes as a string (REG_SZ); the
table marks a binary value with "#x". So each such value of the sources gets
its mark. The fragment's one is the AppID's LaunchPermission, which COM reads
as a security descriptor.
"""
import subprocess
import sys
import xml.etree.ElementTree as ET

WIX = "{http://schemas.microsoft.com/wix/2006/wi}"


def run(*args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("binary_values.py: %s failed: %s" % (" ".join(args[:3]), done.stderr.strip()))
    return done.stdout


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__.strip())
    package = sys.argv[1]
    wanted = [(v.get("Key"), v.get("Name", ""), v.get("Value"))
              for source in sys.argv[2:]
              for v in ET.parse(source).iter(WIX + "RegistryValue") if v.get("Type") == "binary"]
    rows = [row.split("\t") for row in run("msiinfo", "export", package, "Registry").splitlines()[3:]]
    for key, name, value in wanted:
        found = [row for row in rows if row[2] == key and row[3] == name]
        if not found or found[0][4] not in (value, "#x" + value):
            sys.exit("binary_values.py: %s has no value %s in %s" % (package, name, key))
        if found[0][4] == value:
            run("msibuild", package, "-q",
                "UPDATE `Registry` SET `Value` = '#x%s' WHERE `Registry` = '%s'" % (value, found[0][0]))


if __name__ == "__main__":
    main()
