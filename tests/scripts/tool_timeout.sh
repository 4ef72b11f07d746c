#!/bin/sh
# The host tool gives a check up when its --timeout passes: against a server
# that takes the request and never answers, it exits with 2 after about a
# second, naming the URL and the seconds waited on stderr. The time-out
# bounds the whole run: a refused file's second fetch, which trickles, is
# given up at it.
#   tool_timeout.sh <python3> <version_file_server.py> <tool> [argument...]
# The tool may be a launcher ("wine updatecheck.exe"). Under Wine the server
# process the tool started must end too; and when that server is killed
# during such a check, the tool says so within 5 s.
set -eu
# shellcheck source=version_file_server.sh
. "$(dirname "$0")/version_file_server.sh"
start_version_file_server "$1" "$2"
shift 2

url="$base/silent"
start=$(date +%s)
status=0
"$@" --timeout 1 "$url" </dev/null >"$work/out" 2>"$work/err" || status=$?
elapsed=$(( $(date +%s) - start ))
cat "$work/out" "$work/err"
fail=0
[ "$status" -eq 2 ] || { echo "FAILED exit status $status, expected 2"; fail=1; }
grep -q "$url" "$work/err" || { echo "FAILED stderr does not name the URL"; fail=1; }
grep -q " 1 s" "$work/err" || { echo "FAILED stderr does not name the seconds waited"; fail=1; }
# A check's own limit is a minute: far longer means the time-out was ignored.
[ "$elapsed" -lt 20 ] || { echo "FAILED the tool took $elapsed s"; fail=1; }

start=$(date +%s.%N)
status=0
"$@" --timeout 3 "$base/refused-then-trickle" </dev/null >"$work/out" 2>"$work/err" || status=$?
seconds=$(echo "$(date +%s.%N) $start" | awk '{ printf "%.1f", $1 - $2 }')
cat "$work/out" "$work/err"
echo "the run with --timeout 3 took $seconds s"
[ "$status" -eq 2 ] || { echo "FAILED exit status $status, expected 2"; fail=1; }
grep -q "Why: fetching the URL again failed with error 12002" "$work/out" ||
  { echo "FAILED the second fetch was not given up at the time-out"; fail=1; }
awk -v s="$seconds" 'BEGIN { exit !(s < 5) }' || { echo "FAILED that is 5 s or more"; fail=1; }

if [ "$(basename "$1")" = wine ]; then
  # shellcheck source=server_processes.sh
  . "$(dirname "$0")/server_processes.sh"
  if ! wait_for_no_server 5; then
    echo "FAILED the server process is still running 5 s after the tool ended"
    fail=1
  fi
  kill_server_during "$@" --json "$url"
  cat "$work/out" "$work/err"
  echo "the tool ended $seconds s after the server was killed"
  [ "$status" -eq 2 ] || { echo "FAILED exit status $status, expected 2"; fail=1; }
  # The number a call to the dead server got, an HRESULT, in both.
  number=$(sed -n 's/^{"error":\(-[0-9]*\),"description":"the update checker.s server ended.*/\1/p' "$work/out")
  [ -n "$number" ] || { echo "FAILED the JSON does not give the number"; fail=1; }
  grep -q "^updatecheck: the update checker's server ended during the check: error $number (" \
    "$work/err" || { echo "FAILED stderr does not say that the server ended"; fail=1; }
  awk -v s="$seconds" 'BEGIN { exit !(s < 5) }' || { echo "FAILED that is 5 s or more"; fail=1; }
fi
[ "$fail" -eq 0 ] && echo "passed"
exit "$fail"
