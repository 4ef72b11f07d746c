#!/usr/bin/env bash
# The soak run under Wine: N sequential checks on one object, then N objects
# with one check each, against the out-of-process server and a loopback
# server in the host. Every 1000 checks it prints the server's handle count,
# thread count and private bytes as Windows shows them and, since Wine 8
# shows neither handles nor private bytes of another process, the server's
# Linux process as well: threads, open descriptors, resident memory.
# Not part of the test command.
# Usage: scripts/soak.sh [N] [Windows build dir]   (defaults 10000, build/win)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
count=${1:-10000}
build=${2:-build/win}

source scripts/wine_env.sh
echo "=== soak: build ($build) ==="
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQEL_BENCH=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
wine_prefix_up "$root/$build"
server="$root/$build/server/QELUpdateCheck1_1.exe"
trap 'wine "$server" /UnregServer </dev/null >/dev/null 2>&1 || true
      wine_prefix_down "$root/$build"' EXIT
# Nothing of the build goes through a pipe: Wine's helpers, started by the
# type library step, would hold it open.
cmake --build "$build" -j "$(nproc)" --target QELUpdateCheck1_1 soak_host </dev/null
wine "$server" /RegServer </dev/null

# The server of this build tree, seen from Linux.
linux_view() {
  local pattern pid
  pattern=$(printf '%s' "$server" | sed 's|/|.|g')
  pid=$(pgrep -f "$pattern" | head -n 1 || true)
  if [ -z "$pid" ]; then
    echo "(server not found)"
    return
  fi
  printf 'linux: %s threads, %s fds, %s KiB resident' \
    "$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")" \
    "$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 | wc -l)" \
    "$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")"
}

echo "=== soak: $count checks per phase ==="
status=0
wine "$root/$build/bench/wine/soak_host.exe" "$count" </dev/null | while IFS= read -r line; do
  line=${line%$'\r'}
  if [[ $line =~ ^\ *[0-9]+\ +[0-9]+\ +[0-9]+ ]]; then
    echo "$line   $(linux_view)"
  else
    echo "$line"
  fi
done || status=$?
exit "$status"
