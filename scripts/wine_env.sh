# Sourced by the scripts: a Windows build tree, its configuration and its
# private Wine prefix.
# Usage: configure_windows_build <build dir> [cmake argument...];
#        wine_prefix_up <build dir>; wine_prefix_down <build dir>
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Release, with mingw-w64, at the project's own product version and without
# the benchmarks unless an argument sets otherwise: the cache keeps whatever
# the last configuration set (a package built with --version, a package test
# stopped half-way, a soak run in the same tree).
configure_windows_build() {
  local build=$1 tree
  shift
  tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-w64-x86_64.cmake" -DQEL_PRODUCT_VERSION= -DQEL_BENCH=OFF \
    "$@" >/dev/null
}

wine_prefix_up() {
  export WINEPREFIX="$1/wine"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  # One persistent wineserver for the whole run: otherwise every test pays
  # for Wine's start-up and its helpers keep ctest's pipes open.
  wineserver -p 2>/dev/null || true
  wine cmd /c exit >/dev/null 2>&1 || true
}

wine_prefix_down() {
  WINEPREFIX="$1/wine" wineserver -k 2>/dev/null || true
}
