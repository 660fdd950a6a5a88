#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 10), from the kept corpus
# in tests/fuzz/corpus. Inputs that once crashed, kept in
# tests/fuzz/regressions/<target>/, are replayed first. New crashing inputs
# land in build/fuzz/crashes/. Exits non-zero when any target fails.
#   tools/run-fuzzers.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/crashes
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# One target: its regressions replayed, then fuzzed; says ok or FAILED.
fuzz() {
  local target=$1 fuzzer=build/fuzz/tests/fuzz/${1}_fuzzer work runs
  work=$(mktemp -d)
  local regressions=(tests/fuzz/regressions/$target/*)
  if [ -e "${regressions[0]}" ] && ! "$fuzzer" "${regressions[@]}" >"$work/replay.log" 2>&1; then
    tail -20 "$work/replay.log"
    echo "FAILED: $target fuzzer (an input that once crashed it does again)"
  elif ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/crashes/$target-" "$work" "tests/fuzz/corpus/$target" >"$work/run.log" 2>&1; then
    grep -A30 -E 'ERROR|runtime error|deadly signal' "$work/run.log" | head -40
    echo "FAILED: $target fuzzer (crashing input in build/fuzz/crashes/)"
  else
    runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$work/run.log")
    echo "ok: $target fuzzer, ${runs:-0} inputs in ${seconds}s"
  fi
  rm -rf "$work"
}

# The targets fuzz at once: each is one process on one core.
targets=(parse units exchange callasfunc)
for target in "${targets[@]}"; do fuzz "$target" >"$results/$target" 2>&1 & done
wait
cat "${targets[@]/#/$results/}"
passed=$(grep -c '^ok:' "${targets[@]/#/$results/}" | awk -F: '{n += $2} END {print n}')
failed=$((${#targets[@]} - passed))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
