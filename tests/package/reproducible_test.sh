#!/usr/bin/env bash
# Reproducible builds: a second copy of the tracked sources, with their
# uncommitted edits, built and packaged later in another folder, ships the
# same bytes as build/package: executables, packages and fragments.
# Usage: tests/package/reproducible_test.sh [build | compare]   (default: both)
#   build    copies the sources and builds and packages the copy
#   compare  compares the copy's packages with build/package
# scripts/test.sh package runs the build beside package_test.sh, which shares
# nothing with it but the sources, and the comparison after it, once it has
# built build/package.
set -euo pipefail
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
step=${1:-both}
copy=$root/build/reproducible/copy

if [ "$step" != compare ]; then
  empty_dir "$copy"
  git ls-files -z | while IFS= read -r -d '' file; do
    [ ! -e "$file" ] || printf '%s\0' "$file"
  done | xargs -0 cp --parents -t "$copy"
  # The copy has no git: its caller names the commit's time, as for a tarball.
  epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
  build_copy() { (cd "$copy" && SOURCE_DATE_EPOCH=$epoch scripts/package.sh >/dev/null); }
  check "the copy builds and packages" build_copy
  WINEPREFIX=$copy/build/win/wine wineserver -k 2>/dev/null || true
fi
if [ "$step" != build ]; then
  same_bytes "two builds" build/package "$copy/build/package"
fi
report "reproducible"
