#!/usr/bin/env bash
# The main job: builds the Windows build, registers the automation server in a
# private Wine prefix inside the build tree, serves the bundled example version
# file on 127.0.0.1 and runs a real out-of-process check against it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install_deps.sh
source scripts/wine_env.sh
build="$root/build/win"

echo "=== building the Windows build ==="
configure_windows_build "$build"
wine_prefix_up "$build"
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wine_prefix_down "$build"
}
trap cleanup EXIT
cmake --build "$build" -j "$(nproc)" --target QELUpdateCheck1_1 updatecheck

echo "=== registering QELUpdateCheck1_1.exe in $WINEPREFIX ==="
wine "$build/server/QELUpdateCheck1_1.exe" /RegServer
echo "registered (exit status $?)"

echo "=== serving examples/version.txt on 127.0.0.1 ==="
url_file=$(mktemp)
python3 tools/serve_version_file.py examples/version.txt >"$url_file" &
server_pid=$!
for _ in $(seq 50); do [ -s "$url_file" ] && break; sleep 0.1; done
url=$(head -n 1 "$url_file")
rm -f "$url_file"
echo "version file: $url"

echo
echo "=== updatecheck.exe $url 2 0 15   (the host's own version is 2.0.15) ==="
status=0
wine "$build/tools/updatecheck.exe" "$url" 2 0 15 || status=$?
echo "(exit status $status: 0 up to date, 1 upgrade available, 2 failed)"
echo
echo "=== the same, as JSON ==="
wine "$build/tools/updatecheck.exe" --json "$url" 2 0 15 || true
[ "$status" -le 1 ]
