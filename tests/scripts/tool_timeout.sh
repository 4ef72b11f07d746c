#!/bin/sh
# The host tool gives a check up when its --timeout passes: against a server
# that takes the request and never answers, it exits with 2 after about a
# second, naming the URL and the seconds waited on stderr.
#   tool_timeout.sh <python3> <version_file_server.py> <tool> [argument...]
# The tool may be a launcher ("wine updatecheck.exe"). Under Wine the server
# process the tool started must end too.
set -eu
python=$1
server=$2
shift 2

# shellcheck source=version_file_server.sh
. "$(dirname "$0")/version_file_server.sh"
start_version_file_server "$python" "$server"

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
# Server processes of this test's own Wine prefix.
servers() {
  for pid in $(pgrep -f QELUpdateCheck1_1.exe || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=${WINEPREFIX:-}" &&
      echo "$pid"
  done
}
if [ "$(basename "$1")" = wine ]; then
  i=0
  while [ -n "$(servers)" ] && [ "$i" -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  if [ -n "$(servers)" ]; then
    echo "FAILED the server process is still running 5 s after the tool ended"
    fail=1
  fi
fi
[ "$fail" -eq 0 ] && echo "passed"
exit "$fail"
