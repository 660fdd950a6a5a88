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
passed=0
failed=0
mkdir -p build/fuzz/crashes
for target in parse units exchange callasfunc; do
  fuzzer=build/fuzz/tests/fuzz/${target}_fuzzer
  work=$(mktemp -d)
  regressions=(tests/fuzz/regressions/$target/*)
  ok=1
  if [ -e "${regressions[0]}" ] && ! "$fuzzer" "${regressions[@]}" >"$work/replay.log" 2>&1; then
    ok=0
    tail -20 "$work/replay.log"
  fi
  if [ $ok = 1 ] && ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/crashes/$target-" "$work" "tests/fuzz/corpus/$target" >"$work/run.log" 2>&1; then
    ok=0
    grep -A30 -E 'ERROR|runtime error|deadly signal' "$work/run.log" | head -40
  fi
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$work/run.log" 2>/dev/null || true)
  if [ $ok = 1 ]; then
    passed=$((passed + 1))
    echo "ok: $target fuzzer, ${runs:-0} inputs in ${seconds}s"
  else
    failed=$((failed + 1))
    echo "FAILED: $target fuzzer (crashing input in build/fuzz/crashes/)"
  fi
  rm -rf "$work"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
