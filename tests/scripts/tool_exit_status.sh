#!/bin/sh
# The host tool's exit status is its own, never a sanitizer's: RUNS checks of
# a good version file, FOUR at a time (the load is what shows a thread still
# ending as the process does), must every one exit with 0. It counts the
# outcomes; nothing is run again.
#   tool_exit_status.sh <python3> <version_file_server.py> <tool> [runs]
set -eu
python=$1
server=$2
tool=$3
runs=${4:-200}

# shellcheck source=version_file_server.sh
. "$(dirname "$0")/version_file_server.sh"
start_version_file_server "$python" "$server"
url="$base/version.txt"

# One line per run: its exit status. A run's output is kept when it is not 0.
export tool url work
seq "$runs" | xargs -P 4 -I{} sh -c '
  status=0
  "$tool" "$url" >"$work/out.{}" 2>&1 || status=$?
  [ "$status" -eq 0 ] && rm -f "$work/out.{}"
  echo "$status" >>"$work/statuses"
'
echo "exit statuses of $runs runs (count, status):"
sort "$work/statuses" | uniq -c
total=$(wc -l <"$work/statuses")
zero=$(grep -cx 0 "$work/statuses" || true)
if [ "$total" -ne "$runs" ] || [ "$zero" -ne "$runs" ]; then
  for out in "$work"/out.*; do
    [ -e "$out" ] || continue
    echo "--- output of a run that did not exit with 0:"
    head -n 40 "$out"
    break
  done
  echo "FAILED $zero of $runs runs exited with 0"
  exit 1
fi
echo "passed"
