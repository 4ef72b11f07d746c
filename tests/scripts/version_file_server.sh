# shellcheck shell=sh
# Sourced by the test scripts that need version files on 127.0.0.1:
# start_version_file_server <python3> <version_file_server.py> makes $work,
# starts the server there and sets $base to its URL. The server is stopped and
# $work removed when the script exits.
start_version_file_server() {
  work=$(mktemp -d)
  "$1" "$2" >"$work/url" 2>"$work/server.log" &
  server_pid=$!
  trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
  # The server prints its URL once it listens; bounded wait for that line.
  i=0
  while [ ! -s "$work/url" ] && [ "$i" -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  base=$(head -n 1 "$work/url")
  [ -n "$base" ] || { echo "the version file server did not start"; cat "$work/server.log"; exit 1; }
}
