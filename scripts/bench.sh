#!/usr/bin/env bash
# Runs the benchmarks, section by section. Each section builds what it needs
# in its own build directory and runs its benchmarks; every benchmark prints
# the machine, its figure, the baseline measured in the same run, the times
# and the ratio against its target. A missed target is reported, not fatal:
# the figures depend on the machine. A benchmark that cannot run is fatal.
# Usage: scripts/bench.sh [SECTION...]   (default: every section)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install_deps.sh
jobs=$(nproc)
# One line per target, named after its benchmark, for the summary at the end.
targets=$(mktemp)
output=$(mktemp)
trap 'rm -f "$targets" "$output"' EXIT

# Runs one benchmark program, showing its output and keeping its target lines.
run_benchmark() {
  local name
  name=$(basename "$1")${GLIBC_TUNABLES:+ (allocator keeping freed memory)}
  "$@" | tee "$output"
  grep -E ': (met|MISSED)$' "$output" | sed "s/^/$name: /" >>"$targets" || true
}

# Sections in the order they run; a new section is a function
# section_<name> and its name added here.
all_sections=(native wine)

# --- native: the Linux build, Release, no sanitizers ------------------------
section_native() {
  local build=build/bench
  local benchmarks=(bench_parse bench_download bench_check_latency)
  echo "=== native benchmarks: build (Release) ==="
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQEL_BENCH=ON \
    -DQEL_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target "${benchmarks[@]}"
  for benchmark in "${benchmarks[@]}"; do
    echo
    run_benchmark "$build/bench/$benchmark"
  done
  # Again, with glibc keeping freed memory for reuse instead of handing each
  # large block back: the 20 MiB text then no longer meets fresh pages every
  # run, as the baseline's buffer already does not.
  echo
  GLIBC_TUNABLES=glibc.malloc.mmap_threshold=67108864:glibc.malloc.trim_threshold=134217728 \
    run_benchmark "$build/bench/bench_download"
}

# --- wine: the Windows build, out of process under Wine ---------------------
# The benchmarks are hosts of the registered server; they live in bench/wine
# and borrow the COM suites' host support, so this build has its tests too.
# Activation runs first: it unregisters the server while it measures, then
# registers it again. The hostile responses run last, against the COM
# suites' test build of the server (its checks' limits 1.5 s), registered for
# them alone.
section_wine() {
  local build=build/bench-win
  local benchmarks=(bench_wine_activation bench_wine_latency bench_wine_responsiveness
    bench_wine_isolation bench_wine_footprint bench_wine_hostile)
  echo "=== benchmarks under Wine: build (Windows, Release) ==="
  # shellcheck source=wine_env.sh
  source scripts/wine_env.sh
  configure_windows_build "$build" -DQEL_BENCH=ON
  wine_prefix_up "$root/$build"
  # Whatever the end, no Wine process of the prefix is left running.
  trap "wine_prefix_down '$root/$build'; rm -f '$targets' '$output'" EXIT
  # Nothing of the build through a pipe: Wine's helpers would hold it open.
  cmake --build "$build" -j "$jobs" --target QELUpdateCheck1_1 qel_test_server \
    bench_baseline_process "${benchmarks[@]}" </dev/null
  local fixture=tests/com/wine_fixture.sh
  wine "$build/server/QELUpdateCheck1_1.exe" /RegServer </dev/null
  for benchmark in "${benchmarks[@]}"; do
    echo
    if [ "$benchmark" = bench_wine_hostile ]; then
      "$fixture" use "$WINEPREFIX" "$build/tests/com/test_server/QELUpdateCheck1_1.exe"
    fi
    wine "$build/bench/wine/$benchmark.exe" </dev/null | tee "$output"
    tr -d '\r' <"$output" | grep -E ': (met|MISSED)$' | sed "s/^/$benchmark: /" >>"$targets" || true
  done
  "$fixture" use "$WINEPREFIX" "$build/server/QELUpdateCheck1_1.exe"
  wine "$build/server/QELUpdateCheck1_1.exe" /UnregServer </dev/null || true
  wine_prefix_down "$root/$build"
}

# shellcheck source=sections.sh
source scripts/sections.sh
run_sections "$@"

echo
echo "=== targets ==="
cat "$targets"
