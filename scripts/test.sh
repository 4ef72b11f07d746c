#!/usr/bin/env bash
# Builds and runs every test, section by section: first the install step as
# a bare machine would run it, then natively (with
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short fuzz run of
# every target), natively again with ThreadSanitizer, then the Windows build
# under Wine, then the installer packages under Wine and a second build that
# must give the same bytes.
# Usage: scripts/test.sh [SECTION...]   (install, native, tsan, wine, package; default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install_deps.sh
source scripts/wine_env.sh
jobs=$(nproc)

section_install() {
  echo "=== the install step on a bare machine ==="
  tests/install/install_deps_check.sh
}

section_native() {
  echo "=== native build (Linux, ASan + UBSan) ==="
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON >/dev/null
  cmake --build build/native -j "$jobs"
  echo "=== native tests ==="
  ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/native --output-on-failure -j "$jobs"
  echo "=== fuzzing (10 s per target) ==="
  scripts/fuzz.sh 10
}

section_tsan() {
  echo "=== native build (Linux, ThreadSanitizer) ==="
  # TSan of this clang cannot map its shadow memory beside a more randomised
  # address space (vm.mmap_rnd_bits above 28) than this machine's; without
  # randomisation it can, so it always runs so where the kernel allows. The
  # build runs the suite to list its tests, so it runs so too.
  local -x TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
  local run=()
  if setarch "$(uname -m)" -R true 2>/dev/null; then
    run=(setarch "$(uname -m)" -R)
  fi
  # clang builds it faster than gcc. No optimisation and no debug information:
  # the tests wait far more than they compute, so that halves the build and
  # costs the run a second or two; a report still names its functions. Only
  # the suites that run below.
  CC=clang CXX=clang++ cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE= -DCMAKE_C_FLAGS=-O0 \
    -DCMAKE_CXX_FLAGS=-O0 -DQEL_TSAN=ON >/dev/null
  "${run[@]}" cmake --build build/tsan -j "$jobs" --target qel_tests qel_https_tests
  echo "=== native tests under ThreadSanitizer ==="
  # Any report fails the run. The portable suite runs in one process per shard
  # rather than one per test: cheaper, and a thread that outlives its test
  # still meets the next ones. The tool's scripted tests (tool_timeout,
  # fault_tool_exit_status) stay with the native section: they run, in an
  # executable of their own, the object the suite runs, and would add some
  # 20 s here.
  local shards=$jobs shard pids=() failed=0
  for ((shard = 0; shard < shards; shard++)); do
    (cd build/tsan/tests && GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
      "${run[@]}" ./qel_tests >"shard$shard.log" 2>&1) &
    pids+=($!)
  done
  for ((shard = 0; shard < shards; shard++)); do
    if wait "${pids[shard]}"; then
      grep -h '^\[  PASSED  \]' "build/tsan/tests/shard$shard.log"
    else
      echo "--- shard $shard of the portable suite failed:"
      cat "build/tsan/tests/shard$shard.log"
      failed=1
    fi
  done
  "${run[@]}" ctest --test-dir build/tsan --output-on-failure -R '^https$' || failed=1
  ((failed == 0))
}

section_wine() {
  echo "=== Windows build (mingw-w64) ==="
  configure_windows_build build/win
  wine_prefix_up "$root/build/win"
  # The hosts' prefix too (tests/scripts), should the run be stopped.
  trap 'wine_prefix_down "$root/build/win"; wine_prefix_down "$root/build/win/hosts"' EXIT
  cmake --build build/win -j "$jobs"
  echo "=== Windows tests under Wine ==="
  # Three at a time: the COM suites in one prefix, the hosts and the pool of
  # object threads in another, the portable suites beside them. They wait on
  # Wine far more than they compute.
  ctest --test-dir build/win --verbose -j 3
}

section_package() {
  echo "=== installer packages and signing (under Wine, a prefix of their own) ==="
  # The reproducible build's second copy is built and packaged meanwhile, at a
  # lower priority: the package tests wait on Wine far more than they compute.
  local copy_log=$root/build/reproducible.log copy status=0
  mkdir -p build
  nice tests/package/reproducible_test.sh build >"$copy_log" 2>&1 &
  copy=$!
  tests/package/package_test.sh || status=1
  tests/package/signing_test.sh || status=1
  echo "=== reproducible builds: a second copy, built later in another folder ==="
  wait "$copy" || status=1
  cat "$copy_log"
  tests/package/reproducible_test.sh compare || status=1
  return "$status"
}

all_sections=(install native tsan wine package)
# shellcheck source=sections.sh
source scripts/sections.sh
run_sections "$@"
