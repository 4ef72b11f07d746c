#!/bin/sh
# The COM suites' ctest fixture, in the build tree's private Wine prefix.
#   wine_fixture.sh setup   <prefix> <server.exe>  starts the prefix's wineserver
#                                                  and registers the server
#   wine_fixture.sh cleanup <prefix> <server.exe>  unregisters it and stops every
#                                                  Wine process of the prefix
#   wine_fixture.sh use     <prefix> <server.exe>  registers that build of the
#                                                  server once none is running
#   wine_fixture.sh restart <prefix>               stops every Wine process of
#                                                  the prefix and starts anew
set -eu
action=$1
export WINEPREFIX="$2" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
server=${3:-}
# shellcheck source=../scripts/server_processes.sh
. "$(dirname "$0")/../scripts/server_processes.sh"

# Wine's helper processes outlive the commands that start them: none of them
# may hold ctest's output pipes.
quiet() { "$@" </dev/null >/dev/null 2>&1; }

# One persistent wineserver for the run, or each test pays Wine's start-up.
start_session() {
  quiet wineserver -p || true  # already running is fine
  quiet wine cmd /c exit || true
}

case "$action" in
setup)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    quiet wineboot -i || true
    wineserver -w
  fi
  start_session
  quiet wine "$server" /RegServer
  ;;
cleanup)
  status=0
  quiet wine "$server" /UnregServer || status=$?
  quiet wineserver -k || true
  exit "$status"
  ;;
use)
  # A running server keeps serving new objects, whatever is registered.
  if ! wait_for_no_server 20; then
    echo "a server is still running in $WINEPREFIX: $(server_pids)" >&2
    exit 1
  fi
  quiet wine "$server" /RegServer
  ;;
restart)
  # Wine's RPC service holds a killed server's class until the session ends.
  quiet wineserver -k || true
  quiet wineserver -w || true
  start_session
  ;;
*)
  echo "usage: $0 setup|cleanup|use <prefix> <server.exe>, or $0 restart <prefix>" >&2
  exit 2
  ;;
esac
