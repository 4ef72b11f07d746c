# shellcheck shell=bash
# Sourced first by the package tests: sets $root, the source tree, and goes
# there. empty_dir DIR makes DIR anew. check "what" command... runs one check
# and counts it; report NAME prints the counts and fails the script on any
# failure.
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root" || exit
empty_dir() {
  rm -rf "$1"
  mkdir -p "$1"
}
passed=0
failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
report() {
  echo "$1: $passed passed, $failures failed"
  ((failures == 0))
}
# same_bytes WHAT A B checks each file under B against the same file under A,
# byte for byte, one check each.
same_bytes() {
  local files file
  files=$(cd "$3" && find . -type f | sort)
  check "$1: there are files to compare" test -n "$files"
  while IFS= read -r file; do
    [ -z "$file" ] || check "$1: ${file#./} is the same, byte for byte" cmp "$2/$file" "$3/$file"
  done <<<"$files"
}
