#!/usr/bin/env bash
# Builds and runs every test, section by section: natively (with
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short fuzz run of
# every target), then the Windows build under Wine, then the installer
# packages under Wine and a second build that must give the same bytes.
# Usage: scripts/test.sh [SECTION...]   (native, wine, package; default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install_deps.sh
source scripts/wine_env.sh
jobs=$(nproc)

section_native() {
  echo "=== native build (Linux, ASan + UBSan) ==="
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON >/dev/null
  cmake --build build/native -j "$jobs"
  echo "=== native tests ==="
  ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/native --output-on-failure -j "$jobs"
  echo "=== fuzzing (10 s per target) ==="
  scripts/fuzz.sh 10
}

section_wine() {
  echo "=== Windows build (mingw-w64) ==="
  # QEL_PRODUCT_VERSION back to the project's, should the package tests have
  # been stopped while building their older version.
  cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DQEL_PRODUCT_VERSION= >/dev/null
  wine_prefix_up "$root/build/win"
  trap 'wine_prefix_down "$root/build/win"' EXIT
  cmake --build build/win -j "$jobs"
  echo "=== Windows tests under Wine ==="
  ctest --test-dir build/win --verbose
}

section_package() {
  echo "=== installer packages and signing (under Wine, a prefix of their own) ==="
  tests/package/package_test.sh
  tests/package/signing_test.sh
  echo "=== reproducible builds: a second copy, built later in another folder ==="
  tests/package/reproducible_test.sh
}

all_sections=(native wine package)
# shellcheck source=sections.sh
source scripts/sections.sh
run_sections "$@"
