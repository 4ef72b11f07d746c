#!/bin/sh
# Runs a Windows build tool under Wine in the build tree's private prefix,
# creating the prefix on first use.
#   run_under_wine.sh <prefix> <program.exe> [arguments...]
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# One creator at a time: a parallel build may reach here twice.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i </dev/null >/dev/null 2>&1 || true
  wineserver -w
fi
flock -u 9

# Wine's helper processes outlive the tool; they must not hold the build's
# output pipe open, so the tool's output goes through a file.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
wine "$@" </dev/null >"$log" 2>&1 || status=$?
cat "$log"
exit "$status"
