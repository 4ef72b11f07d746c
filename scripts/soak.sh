#!/usr/bin/env bash
# The soak run under Wine: N sequential checks on one object, then N objects
# with one check each, then N objects connected to the event without a check
# and N objects with a check but no connection, then N objects asked for
# _UpdateCheck with one property read and neither, and N asked for IUnknown
# with one IDispatch call instead, then S objects made 3 s apart with one
# check each while one object holds the server, against the out-of-process
# server and a loopback server in the host; then the last two phases again
# against plain_com_server, a local server with none of the component's code
# (objects made on its main thread, then on a second thread and marshalled to
# the main one), whose rows show that server instead. Every 1000 checks
# (every N/10 for a smaller N; each such row after 3 s
# idle), and after every spaced object, it prints the
# server's handle count, thread count and private bytes as Windows shows them
# and, since Wine 8 shows neither handles nor private bytes of another
# process, the server's Linux process as well: threads, open descriptors,
# resident memory, and how many threads of its own (not Wine's named helpers)
# it has been seen with so far; and the host's own resident memory (the host
# makes and releases a proxy for every new object, and no component code runs
# in it). First, in the same run, growth_host does the same work in one
# process with no COM (N checks on one object, one check on each of N new
# objects, N plain WinINet fetches), printing its own resident memory.
# Not part of the test command.
# Usage: scripts/soak.sh [N] [Windows build dir] [S]   (defaults 10000, build/win, 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
count=${1:-10000}
build=${2:-build/win}
spaced=${3:-100}

source scripts/wine_env.sh
echo "=== soak: build ($build) ==="
configure_windows_build "$build" -DQEL_BENCH=ON
wine_prefix_up "$root/$build"
server="$root/$build/server/QELUpdateCheck1_1.exe"
plain="$root/$build/bench/wine/plain_com_server.exe"
trap 'wine "$server" /UnregServer </dev/null >/dev/null 2>&1 || true
      wine "$plain" /UnregServer </dev/null >/dev/null 2>&1 || true
      wine_prefix_down "$root/$build"' EXIT
# Nothing of the build goes through a pipe: Wine's helpers, started by the
# type library step, would hold it open.
cmake --build "$build" -j "$(nproc)" --target QELUpdateCheck1_1 soak_host growth_host plain_com_server </dev/null
wine "$server" /RegServer </dev/null
wine "$plain" /RegServer </dev/null

# The watched server of this build tree ($watched), seen from Linux, into
# $view. Not run in a subshell: it counts the threads it has seen from call to
# call.
linux_view() {
  local pattern pid
  pattern=$(printf '%s' "$watched" | sed 's|/|.|g')
  pid=$(pgrep -f "$pattern" | head -n 1 || true)
  if [ -z "$pid" ]; then
    view="(server not found)"
    return
  fi
  # Wine names its own helper threads (wine_rpcrt4_io, ...); the server's
  # threads keep the process's name.
  local task
  for task in /proc/"$pid"/task/*; do
    case "$(cat "$task/comm" 2>/dev/null)" in
    wine_*) ;;
    *) own_seen[${task##*/}]=1 ;;
    esac
  done
  local host
  host=$(pgrep -f "$(printf '%s' "$root/$build/bench/wine/soak_host.exe" | sed 's|/|.|g')" |
    head -n 1 || true)
  printf -v view 'linux: %s threads, %s fds, %s KiB resident, %s own threads seen; host %s KiB' \
    "$(awk '/^Threads:/ {print $2}' "/proc/$pid/status")" \
    "$(find "/proc/$pid/fd" -mindepth 1 -maxdepth 1 | wc -l)" \
    "$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")" \
    "${#own_seen[@]}" \
    "$( [ -n "$host" ] && awk '/^VmRSS:/ {print $2}' "/proc/$host/status" 2>/dev/null || echo '?')"
}
declare -A own_seen=()
view=
watched=$server

status=0
echo "=== soak: the same work in process, no COM ==="
wine "$root/$build/bench/wine/growth_host.exe" "$count" </dev/null || status=$?
echo "=== soak: $count checks per phase, $spaced spaced objects ==="
wine "$root/$build/bench/wine/soak_host.exe" "$count" "$spaced" </dev/null | while IFS= read -r line; do
  line=${line%$'\r'}
  if [[ $line == "plain local server process"* ]]; then
    watched=$plain
    own_seen=()
  fi
  if [[ $line =~ ^\ *[0-9]+\ +[0-9]+\ +[0-9]+ ]]; then
    linux_view
    echo "$line   $view"
  else
    echo "$line"
  fi
done || status=$?
exit "$status"
