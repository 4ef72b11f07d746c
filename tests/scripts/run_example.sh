#!/bin/sh
# Runs one host example from examples/ under Wine against the version file
# server (2.0.15 published at /version.txt), once for each case below, and
# checks its exit status and every line it must print.
#   run_example.sh <python3> <version_file_server.py> <command that runs the example...>
# The example is run as: <command> URL MAJOR MINOR BUILD
set -eu
# shellcheck source=version_file_server.sh
. "$(dirname "$0")/version_file_server.sh"
start_version_file_server "$1" "$2"
shift 2

failures=0
# expect <path> <host version> <exit status> <line>...
expect() {
  path=$1 version=$2 want=$3
  shift 3
  status=0
  # Output through a file: Wine's helpers must not hold ctest's pipe.
  # shellcheck disable=SC2086
  "$@" "$base$path" $version </dev/null >"$work/out" 2>&1 || status=$?
  tr -d '\r' <"$work/out" >"$work/lines"
  echo "--- $path, host version $version: exit status $status"
  cat "$work/lines"
  if [ "$status" -ne "$want" ]; then
    echo "FAILED: exit status $status, expected $want"
    failures=$((failures + 1))
  fi
}
line() {
  if ! grep -qxF "$1" "$work/lines"; then
    echo "FAILED: no line \"$1\""
    failures=$((failures + 1))
  fi
}

expect /version.txt "1 9 0" 1 "$@"
line "Published version: 2.0.15"
line "Update URL: http://example.invalid/new"
line "Differs from 1.9.0: yes"
line "A newer version is available."
expect /version.txt "2 0 15" 0 "$@"
line "Differs from 2.0.15: no"
line "This version is up to date."
expect /version.txt "2 1 0" 0 "$@"
line "Differs from 2.1.0: yes"
line "The published version is older than this one."
expect /missing.txt "1 0 0" 2 "$@"
if ! grep -q "^The check failed" "$work/lines"; then
  echo "FAILED: no line saying that the check failed"
  failures=$((failures + 1))
fi
# The server killed during a check that would never end: said within 5 s.
# shellcheck source=server_processes.sh
. "$(dirname "$0")/server_processes.sh"
kill_server_during "$@" "$base/silent" 1 0 0
tr -d '\r' <"$work/out" >"$work/lines"
echo "--- server killed during /silent: exit status $status, $seconds s after the kill"
cat "$work/lines"
if [ "$status" -ne 2 ] || ! awk -v s="$seconds" 'BEGIN { exit !(s < 5) }' ||
  ! grep -Eqx "The update checker's server ended during the check \(error (0x[0-9A-F]{8}|[0-9]+)\)" \
    "$work/lines"; then
  echo "FAILED: not exit status 2 and the server's end within 5 s"
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "passed"
