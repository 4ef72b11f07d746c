#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs each for SECONDS (default 60), as many at a time as there are CPUs,
# starting from the seeds in fuzz/corpus/<target> plus what earlier runs found
# in build/fuzz/corpus. Prints the executions each run reached; exits non-zero
# if any run found a fault (its reproducer is kept in build/fuzz/findings/<target>/).
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-60}
build=build/fuzz
targets=()
for source in fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  [ -d "fuzz/corpus/$name" ] && targets+=("$name")
done

echo "=== fuzz build (clang, libFuzzer, ASan + UBSan) ==="
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQEL_FUZZ=ON -DQEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# One target on one CPU: its log, and its exit status in $build/logs/TARGET.status.
fuzz_target() {
  local target=$1 corpus=$build/corpus/$1 findings=$build/findings/$1
  local log=$build/logs/$1.log status=0
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  local options=(-max_total_time="$seconds" -timeout=20 -print_final_stats=1
    -artifact_prefix="$findings/")
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  # New inputs go to the first directory only; the seeds stay as they are.
  "$build/fuzz/$target" "${options[@]}" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  echo "$status" >"$build/logs/$target.status"
}

# As many targets at a time as there are CPUs.
running=0
for target in "${targets[@]}"; do
  echo "=== fuzz $target for ${seconds} s ==="
  fuzz_target "$target" &
  running=$((running + 1))
  if ((running == $(nproc))); then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=()
summary=()
for target in "${targets[@]}"; do
  log=$build/logs/$target.log
  status=$(cat "$build/logs/$target.status")
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  line=$(printf '%-20s %12s executions  %s  exit %d' "$target" "${executions:-?}" "$coverage" \
    "$status")
  summary+=("$line")
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "--- $target found a fault; the end of $log: ---"
    tail -n 40 "$log"
    ls -1 "$build/findings/$target"
  fi
done

echo "=== fuzz summary (${seconds} s each, $(nproc) CPUs) ==="
printf '%s\n' "${summary[@]}"
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
