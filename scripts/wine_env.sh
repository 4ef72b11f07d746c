# Sourced by the scripts: the private Wine prefix of a Windows build tree.
# Usage: wine_prefix_up <build dir>; wine_prefix_down <build dir>
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

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
