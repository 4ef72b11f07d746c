#!/usr/bin/env bash
# Builds Example App's package: the product's own program, then a package that
# holds it and carries QEL Update Checker through the fragment.
# Usage: examples/installer/build.sh [PACKAGES [OUTPUT]]
#   PACKAGES  the folder that scripts/package.sh wrote, with the fragment beside
#             bin/ (build/package)
#   OUTPUT    where bin/ExampleApp.exe and ExampleApp.msi go (build/example-app)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
packages=$(cd "${1:-build/package}" && pwd)
out=${2:-build/example-app}
mkdir -p "$out/bin"
out=$(cd "$out" && pwd)

x86_64-w64-mingw32-g++-posix -O2 -Wall -Wextra -Werror -municode -static \
  -o "$out/bin/ExampleApp.exe" "$here/example_app.cpp"

# -a x64: without it wixl builds a 32-bit package around the 64-bit components,
# without a word. wixl looks for a relative Source next to the .wxs that names
# it, and takes no absolute one: QELBinDir is bin, beside the fragment;
# ExampleBinDir is the way from this folder to the program.
wixl -a x64 -D QELBinDir=bin -D ExampleBinDir="$(realpath --relative-to="$here" "$out/bin")" \
  -o "$out/ExampleApp.msi.part" "$here/ExampleApp.wxs" "$packages/QELUpdateCheck-fragment.wxs"
# wixl leaves the checker's executables unversioned: Windows Installer would
# then never replace an older shared copy (see versioned_files.py).
"$here/versioned_files.py" "$out/ExampleApp.msi.part" \
  QELServerExe="$packages/bin/QELUpdateCheck1_1.exe" QELToolExe="$packages/bin/updatecheck.exe"
# wixl writes the fragment's binary values (who may start the server) as text.
"$here/binary_values.py" "$out/ExampleApp.msi.part" "$packages/QELUpdateCheck-fragment.wxs"
mv "$out/ExampleApp.msi.part" "$out/ExampleApp.msi"
echo "$out/ExampleApp.msi"
