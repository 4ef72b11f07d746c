#!/bin/sh
# Under Wine, in the build tree's prefix, against the registered server:
#  - the server's usage and exit statuses for each kind of command line;
#  - two copies in two folders: unregistering the one that is not registered
#    leaves the other's registration, machine-wide and per user; the
#    registered one unregisters through a link to its folder too;
#  - updatecheck doctor in each state: nothing registered, registered with
#    the file moved away, registered to a file that is no server (but has a
#    version resource), per-user only, registered and working.
# Puts the suite's machine-wide registration back however it ends.
# Usage: server_registration.sh <server.exe> <updatecheck.exe> <work dir>
# shellcheck disable=SC2317  # the state_ functions and restore are called by name
set -u
set -f  # "/?" is a switch, not a pattern
server=$1
tool=$2
work=$3
clsid='{E9631264-9B44-48AB-BB3B-BF40BA1DF84F}'
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Runs a command; its status, stdout and stderr are in $status, out and err.
run() {
  "$@" <"$work/null" >"$work/out" 2>"$work/err"
  status=$?
}

expect() {  # <what> <status wanted> <file> <text it must hold>
  [ "$status" = "$2" ] || { fail "$1: exit status $status, not $2"; sed 's/^/  stderr| /' "$work/err"; }
  grep -qF -- "$4" "$work/$3" || { fail "$1: $3 lacks '$4'"; sed 's/^/  | /' "$work/$3"; }
}

# The executable LocalServer32 names in HKLM or HKCU, or nothing.
registered() {
  wine reg query "$1\\Software\\Classes\\CLSID\\$clsid\\LocalServer32" /ve 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_SZ *"\(.*\)"$/\1/p'
}

restore() {
  wine reg delete "HKCU\\Software\\Classes\\CLSID\\$clsid" /f </dev/null >/dev/null 2>&1
  wine "$server" /RegServer </dev/null >/dev/null 2>&1
  wine "$server" /UnregServerPerUser </dev/null >/dev/null 2>&1
  rm -rf "$work"
}
trap restore EXIT

rm -rf "$work"
mkdir -p "$work/A" "$work/B"
ln -s B "$work/link-to-B"
: >"$work/null"
for copy in A B; do cp "$server" "$work/$copy/"; done
exe=$(basename "$server")
a=$(winepath -w "$work/A/$exe")
b=$(winepath -w "$work/B/$exe")
b_by_link=$(winepath -w "$work/link-to-B/$exe")

echo "== the server's command lines"
while IFS='|' read -r arguments want says; do
  # shellcheck disable=SC2086  # several switches are several arguments
  run wine "$server" $arguments
  expect "server '$arguments'" "$want" err "$says"
  [ -s "$work/out" ] && fail "server '$arguments': wrote to stdout"
done <<'TABLE'
/?|0|usage: QELUpdateCheck1_1.exe /RegServer | /UnregServer
-?|0|  /UnregServer         remove the machine-wide registration, if it names this file
/help|0|usage:
-HELP|0|usage:
/Bogus|2|QELUpdateCheck1_1: unknown switch '/Bogus'
|2|QELUpdateCheck1_1: no switch given (COM starts the server itself, with -Embedding)
RegServer|2|unknown switch 'RegServer'
--RegServer|2|unknown switch '--RegServer'
/|2|unknown switch '/'
/RegServer /UnregServer|2|one switch at a time
TABLE

echo "== two copies: only the registered one unregisters"
wine "$server" /UnregServer </dev/null >/dev/null 2>&1
while IFS='|' read -r hive register unregister scope; do
  run wine "$a" "$register"
  run wine "$b" "$register"
  [ "$(registered "$hive")" = "$b" ] || fail "$hive: B's $register did not win"
  run wine "$a" "$unregister"
  expect "A $unregister" 0 err "nothing removed: the update checker is registered $scope to $b, not to this file"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "A $unregister: more than one line"
  [ "$(registered "$hive")" = "$b" ] || fail "$hive: A's $unregister removed B's registration"
  # The same file by another path (in another case, through a link to its
  # folder) is this copy.
  wine reg add "$hive\\Software\\Classes\\CLSID\\$clsid\\LocalServer32" /ve /f \
    /d "\"$(printf '%s' "$b" | tr '[:lower:]' '[:upper:]')\"" </dev/null >/dev/null 2>&1
  run wine "$b_by_link" "$unregister"
  if [ "$status" != 0 ] || [ -s "$work/err" ]; then fail "B $unregister by a link: status $status"; fi
  [ -z "$(registered "$hive")" ] || fail "$hive: B's $unregister left LocalServer32"
done <<'TABLE'
HKLM|/RegServer|/UnregServer|machine-wide
HKCU|/RegServerPerUser|/UnregServerPerUser|for this user
TABLE

echo "== doctor"
state_nothing() { :; }
state_moved() {
  wine "$a" /RegServer </dev/null >/dev/null 2>&1
  mv "$work/A/$exe" "$work/A/moved.exe"
}
# A file that carries a version resource, though it is no server.
state_foreign() {
  mv "$work/A/moved.exe" "$work/A/$exe"
  wine reg add "HKLM\\Software\\Classes\\CLSID\\$clsid\\LocalServer32" /ve /f \
    /d 'C:\windows\system32\kernel32.dll' </dev/null >/dev/null 2>&1
}
state_per_user() {
  wine reg delete "HKLM\\Software\\Classes\\CLSID\\$clsid" /f </dev/null >/dev/null 2>&1
  wine "$a" /UnregServer </dev/null >/dev/null 2>&1
  wine "$a" /RegServerPerUser </dev/null >/dev/null 2>&1
}
state_working() {
  wine "$a" /UnregServerPerUser </dev/null >/dev/null 2>&1
  wine "$a" /RegServer </dev/null >/dev/null 2>&1
}
while IFS='|' read -r state want text json; do
  "state_$state"
  run wine "$tool" doctor
  expect "doctor, $state" "$want" out "$text"
  run wine "$tool" doctor --json
  expect "doctor --json, $state" "$want" out "$json"
done <<'TABLE'
nothing|2|Class UpdateCheck registered: none|"creatable":false,"createResult":-2147221164,"createResultHex":"0x80040154"
moved|2|(MISSING: the file is not there)|"registered":"machine-wide","wins":"machine-wide","machine":{"registered":true
foreign|2|C:\windows\system32\kernel32.dll (exists, version |"serverExists":true,"serverVersion":"
per_user|2|Only a per-user registration exists, and Wine does not activate classes registered per user|"createResultHex":"0x80040154","meaning":"class not registered","inProcess":false,"underWine":true,"registered":"per-user","wins":"per-user"
working|0|Create UpdateCheck: yes, a host can create it (0x00000000: created)|"creatable":true
TABLE
run wine "$tool" doctor
grep -qF "LocalServer32 \"$a\"" "$work/out" || fail "doctor does not name A's path"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures != 0))
