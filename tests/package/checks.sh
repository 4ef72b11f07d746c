# shellcheck shell=bash
# Sourced by the package tests. check "what" command... runs one check and
# counts it; report NAME prints the counts and fails the script on any failure.
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
