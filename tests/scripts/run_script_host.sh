#!/bin/sh
# Runs one script host test: starts the version file server on 127.0.0.1,
# runs the script under Wine's cscript with the file's URL, stops the server.
#   run_script_host.sh <python3> <version_file_server.py> <script.js|script.vbs>
# Passes only if the script quits with 0 and has printed its "passed" line.
set -eu
python=$1
server=$2
script=$3

# shellcheck source=version_file_server.sh
. "$(dirname "$0")/version_file_server.sh"
start_version_file_server "$python" "$server"

# Output through a file: Wine's helpers must not hold ctest's pipe.
status=0
wine cscript //nologo "$(winepath -w "$script")" "$base/slow/version.txt" \
  </dev/null >"$work/script.log" 2>&1 || status=$?
cat "$work/script.log"
if [ "$status" -ne 0 ]; then
  echo "the script quit with $status"
  exit 1
fi
if ! grep -q '^passed' "$work/script.log"; then
  echo "the script did not get to its end"
  exit 1
fi
