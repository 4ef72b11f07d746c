#!/usr/bin/env bash
# The install step as a bare machine meets it: scripts/install_deps.sh (or the
# script named) runs against a package database that reports every package,
# or every other one, missing, and an apt-get that installs nothing: it checks
# each argument it is given, then simulates the install against the real
# package index on a machine with nothing installed. A name that is not a
# package's, an option where a name should be, a package the script asks for
# that is not missing (or misses asking for), root's apt-get run by another
# user, or a failing script fails the check.
# Usage: tests/install/install_deps_check.sh [SCRIPT]   (scripts/test.sh install runs it)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
script=$(realpath "${1:-$root/scripts/install_deps.sh}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "$(apt-get indextargets --format '$(FILENAME)' 'Created-By: Packages')" ]; then
  echo "install check: this machine has no package index to check the names against;" \
    "as root, run: apt-get update" >&2
  exit 1
fi

# The machine's commands, but for those each case puts in place itself.
declare -A seen=()
commands=()
IFS=: read -ra dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  for command in "$dir"/*; do
    name=${command##*/}
    case $name in
      apt-get | dpkg-query | id | sudo | python3* | clang*) continue ;;
    esac
    [ -x "$command" ] && [ -z "${seen[$name]:-}" ] || continue
    seen[$name]=1
    commands+=("$command")
  done
done
mkdir "$work/machine"
ln -s -t "$work/machine" "${commands[@]}"
# The stand-ins. Each writes what it was asked to the case's log.
shims=$work/shims
mkdir "$shims"
cat >"$shims/dpkg-query" <<'SHIM'
#!/bin/bash
# dpkg-query -W -f='${Status}' NAME: missing, or (every other) installed.
name=${!#}
count=$(wc -l <"$CASE/log")
if [ "$CASE_INSTALLED" = all ] || { [ "$CASE_INSTALLED" = every-other ] && ((count % 2)); }; then
  echo "query $name installed" >>"$CASE/log"
  printf 'install ok installed'
else
  echo "query $name missing" >>"$CASE/log"
  echo "dpkg-query: no packages found matching $name" >&2
  exit 1
fi
SHIM
cat >"$shims/id" <<'SHIM'
#!/bin/bash
[ "$*" = -u ] && echo "$CASE_UID" && exit 0
exec /usr/bin/id "$@"
SHIM
cat >"$shims/sudo" <<'SHIM'
#!/bin/bash
CASE_VIA=sudo exec "$@"
SHIM
cat >"$shims/apt-get" <<'SHIM'
#!/bin/bash
refuse() { echo "reject $*" >>"$CASE/log"; echo "apt-get (install check): $*" >&2; exit 100; }
user=${CASE_VIA:-$( ((CASE_UID == 0)) && echo root || echo user)}
command=${1:-}
shift || true
case $command in
  update) echo "update $user" >>"$CASE/log"; exit 0 ;;
  install) ;;
  *) refuse "'$command' is not a command the install step needs" ;;
esac
options=() names=()
for arg; do
  case $arg in
    -y | --yes | --assume-yes | -q | -qq | --quiet | --no-install-recommends) options+=("$arg") ;;
    -*) refuse "'$arg' is an option where a package name should be" ;;
    *)
      # Debian's package names, exact: no version, release, architecture or pattern.
      [[ $arg =~ ^[a-z0-9][a-z0-9+.-]+$ ]] || refuse "'$arg' is not a package name"
      names+=("$arg")
      ;;
  esac
done
((${#names[@]})) || refuse "install without a package name"
echo "install $user ${options[*]} -- ${names[*]}" >>"$CASE/log"
SHIM
chmod +x "$shims"/*

failures=0
# The cases: the user's id, whether sudo, python3 and a clang are on PATH,
# which packages the database reports installed, and how the script must end:
# installed (apt-get install as root, once, after an update), refused (one
# line that names every missing package and the command), or nothing to do.
cases=(
  "bare machine, root, python3 on PATH|0|no|yes|no|none|installed"
  "bare machine, not root, through sudo, a clang on PATH|1000|yes|no|yes|none|installed"
  "half of the packages installed|0|no|yes|no|every-other|installed"
  "not root and no sudo|1000|no|yes|no|none|refused"
  "everything installed|1000|no|no|yes|all|nothing"
)
number=0
for row in "${cases[@]}"; do
  IFS='|' read -r what uid sudo python clang installed outcome <<<"$row"
  number=$((number + 1))
  export CASE=$work/case$number CASE_UID=$uid CASE_INSTALLED=$installed
  mkdir -p "$CASE/bin"
  : >"$CASE/log"
  for tool in dpkg-query id apt-get; do ln -s "$shims/$tool" "$CASE/bin/$tool"; done
  [ "$sudo" = no ] || ln -s "$shims/sudo" "$CASE/bin/sudo"
  [ "$python" = no ] || ln -s "$(command -v python3)" "$CASE/bin/python3"
  [ "$clang" = no ] || ln -s "$(command -v clang)" "$CASE/bin/clang"
  status=0
  PATH=$CASE/bin:$work/machine bash "$script" >"$CASE/out" 2>"$CASE/err" || status=$?
  # What was missing (a python3 on PATH is not installed again), what was
  # asked for, and apt-get's runs.
  missing=$(sed -n 's/^query \(.*\) missing$/\1/p' "$CASE/log" | sort)
  [ "$python" = no ] || missing=$(grep -vx python3 <<<"$missing" || true)
  asked=$(sed -n 's/^install .* -- //p' "$CASE/log" | tr ' ' '\n' | sort)
  runs=$(grep -v '^query ' "$CASE/log" | cut -d' ' -f1-2 | tr '\n' ' ' || true)
  as=root fails=0 want=
  [ "$uid" = 0 ] || as=sudo
  [ "$outcome" != refused ] || fails=1
  [ "$outcome" != installed ] || want="update $as install $as "
  err=$(cat "$CASE/err")
  problem=$(sed -n 's/^reject //p' "$CASE/log" | head -n 1)
  if [ -n "$problem" ]; then
    :
  elif (((status != 0) != fails)); then
    problem="exit status $status"
  elif [ "$runs" != "$want" ]; then
    problem="apt-get ran: ${runs:-never}; expected: ${want:-never}"
  elif [ "$outcome" = installed ] && { [ -z "$missing" ] || [ "$asked" != "$missing" ]; }; then
    problem="asked to install: $(tr "\n" " " <<<"$asked"); missing: $(tr "\n" " " <<<"$missing")"
  elif [ "$outcome" = refused ]; then
    [ "$(wc -l <"$CASE/err")" = 1 ] && [[ $err == *"apt-get install"* ]] ||
      problem="not one line with the command to run: $err"
    for name in $missing; do
      [[ " $err " == *" $name "* ]] || problem="the line does not name $name: $err"
    done
  fi
  if [ -z "$problem" ]; then
    echo "ok: $what"
  else
    echo "FAILED: $what: $problem"
    sed 's/^/  | /' "$CASE/out" "$CASE/err"
    failures=$((failures + 1))
  fi
done

# Every install asked for, simulated at once against the real package index
# on a machine with nothing installed: each name is a real package with an
# installable version, and together they resolve.
mapfile -t names < <(sed -n 's/^install .* -- //p' "$work"/case*/log | tr ' ' '\n' | sort -u)
: >"$work/empty-status"
if ((${#names[@]} == 0)); then
  echo "FAILED: no case asked apt-get to install anything"
  failures=$((failures + 1))
elif apt-get -s -o Dir::State::status="$work/empty-status" install --no-install-recommends -- \
    "${names[@]}" >"$work/simulation" 2>&1; then
  echo "ok: the ${#names[@]} packages asked for install on a bare machine"
else
  echo "FAILED: the package index cannot install what was asked for:"
  grep '^E:' "$work/simulation" | sed 's/^/  | /'
  failures=$((failures + 1))
fi
echo "install check: $((${#cases[@]} + 1 - failures)) passed, $failures failed"
((failures == 0))
