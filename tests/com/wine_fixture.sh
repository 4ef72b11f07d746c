#!/bin/sh
# The COM suites' ctest fixture, in the build tree's private Wine prefix.
#   wine_fixture.sh setup   <prefix> <server.exe>  starts the prefix's wineserver
#                                                  and registers the server
#   wine_fixture.sh cleanup <prefix> <server.exe>  unregisters it and stops every
#                                                  Wine process of the prefix
set -eu
action=$1
export WINEPREFIX="$2" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server=$3

# Wine's helper processes outlive the commands that start them: none of them
# may hold ctest's output pipes.
quiet() { "$@" </dev/null >/dev/null 2>&1; }

case "$action" in
setup)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    quiet wineboot -i || true
    wineserver -w
  fi
  # One persistent wineserver for the run, or each test pays Wine's start-up.
  quiet wineserver -p || true  # already running is fine
  quiet wine cmd /c exit || true
  quiet wine "$server" /RegServer
  ;;
cleanup)
  status=0
  quiet wine "$server" /UnregServer || status=$?
  quiet wineserver -k || true
  exit "$status"
  ;;
*)
  echo "usage: $0 setup|cleanup <prefix> <server.exe>" >&2
  exit 2
  ;;
esac
