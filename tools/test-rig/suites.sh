#!/usr/bin/env bash
# Inside the test machine: runs the test programs given, all at once (their
# tests spend most of their time waiting), and says how many tests ran and
# how many skipped themselves. Its status is 0 when every program passed.
#   tools/test-rig/suites.sh PRIVATE_DEV_SCRIPT [--ports PROGRAM] [--halves PROGRAM] PROGRAM...
# A program runs in a private /dev (tests/private-dev.sh) with its scales in
# this machine, except one given with --ports: it tests the machine's own
# serial ports, with their scales on the host. One given with --halves runs
# as two processes, each with half of its tests, so that the longest program
# does not hold up the rest.
set -uo pipefail
private=$1
shift
logs=$(mktemp -d)
start=$(date +%s)
names=()
launch() {  # launch NAME COMMAND...: runs it in the background, its output and status kept
  local name=$1
  shift
  names+=("$name")
  ( "$@" >"$logs/$name" 2>&1; echo $? >"$logs/$name.status" ) &
}
while [ $# -gt 0 ]; do
  case "$1" in
    --ports) launch "$(basename "$2")" "$2"; shift 2 ;;
    --halves)
      for half in 0 1; do
        launch "$(basename "$2")-half$((half + 1))" env -u PESOLAN_SIM_BROKER GTEST_TOTAL_SHARDS=2 \
          GTEST_SHARD_INDEX=$half "$private" "$2"
      done
      shift 2 ;;
    *) launch "$(basename "$1")" env -u PESOLAN_SIM_BROKER "$private" "$1"; shift ;;
  esac
done
wait
ran=0 skipped=0 failed=0
for name in "${names[@]}"; do
  log=$logs/$name
  if [ "$(cat "$log.status")" = 0 ]; then status=ok; else status=FAILED; failed=$((failed + 1)); fi
  [ "$status" = ok ] || grep -E '^\[  FAILED  \]|Failure' -A6 "$log" | head -80
  count=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\. (\([0-9]*\) ms.*/\1 \2/p' "$log")
  skips=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:/\1/p' "$log")
  set -- ${count:-0 0}
  ran=$((ran + $1))
  skipped=$((skipped + ${skips:-0}))
  echo "$status: $name: $1 tests (${skips:-0} skipped themselves) in $(($2 / 1000)) s"
done
echo "$ran tests run natively in the machine in $(($(date +%s) - start)) s, $skipped of them skipped themselves, none left out"
rm -rf "$logs"
[ "$failed" -eq 0 ]
