# shellcheck shell=sh
# Sourced by the Wine test scripts: the server processes of $WINEPREFIX. Wine
# names a process after its executable, cut to 15 characters; a server that
# COM starts inherits its host's environment.
server_pids() {
  for dir in /proc/[0-9]*; do
    [ "$(cat "$dir/comm" 2>/dev/null)" = QELUpdateCheck1 ] || continue
    if tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qx "WINEPREFIX=${WINEPREFIX:-}"; then
      echo "${dir#/proc/}"
    fi
  done
}

# wait_for_no_server SECONDS: false if a server still runs after that long.
wait_for_no_server() {
  tenths=0
  while [ -n "$(server_pids)" ]; do
    [ "$tenths" -lt $(($1 * 10)) ] || return 1
    sleep 0.1
    tenths=$((tenths + 1))
  done
}

# kill_server_during CMD...: runs CMD, which checks $base/silent of the
# version file server (version_file_server.sh), and kills the server once it
# has asked for it. CMD's output is in $work/out and $work/err, its exit
# status in $status (125 when the check never asked for it), the time from the kill to its end in $seconds. Wine's
# RPC service refuses a killed server's class until the prefix's session
# ends: the session is started again afterwards.
# shellcheck disable=SC2034,SC2154  # $work is the caller's; $status and $seconds are for it
kill_server_during() {
  asked=$(grep -cx /silent "$work/server.log" || true)
  timeout 30 "$@" </dev/null >"$work/out" 2>"$work/err" &
  checking=$!
  tenths=0
  while [ "$(grep -cx /silent "$work/server.log" || true)" -le "$asked" ] && [ "$tenths" -lt 200 ]; do
    sleep 0.1
    tenths=$((tenths + 1))
  done
  reached=$(grep -cx /silent "$work/server.log" || true)
  killed=$(date +%s.%N)
  # shellcheck disable=SC2046  # one id a word
  kill -9 $(server_pids) 2>/dev/null || echo "no server process to kill"
  status=0
  wait "$checking" || status=$?
  # A kill before the check was under way proves nothing: no exit status
  # that a case expects.
  if [ "$reached" -le "$asked" ]; then
    echo "FAILED: the check never asked for /silent; the server was killed before it"
    status=125
  fi
  seconds=$(echo "$(date +%s.%N) $killed" | awk '{ printf "%.1f", $1 - $2 }')
  "$(dirname "$0")/../com/wine_fixture.sh" restart "$WINEPREFIX"
}
