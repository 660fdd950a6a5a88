#!/usr/bin/env bash
# Inside the test machine: runs the test programs given, all at once (their
# tests spend most of their time waiting), each in a private /dev
# (tests/private-dev.sh), and says how many tests ran and how many skipped
# themselves. Its status is 0 when every program passed.
#   tools/test-rig/suites.sh PRIVATE_DEV_SCRIPT PROGRAM...
set -uo pipefail
# The scales these suites talk to run in this machine, started by the tests.
unset PESOLAN_SIM_BROKER
private=$1
shift
logs=$(mktemp -d)
start=$(date +%s)
for program in "$@"; do
  ( "$private" "$program" >"$logs/$(basename "$program")" 2>&1; echo $? >"$logs/$(basename "$program").status" ) &
done
wait
ran=0 skipped=0 failed=0
for program in "$@"; do
  log=$logs/$(basename "$program")
  if [ "$(cat "$log.status")" = 0 ]; then status=ok; else status=FAILED; failed=$((failed + 1)); fi
  [ "$status" = ok ] || grep -E '^\[  FAILED  \]|Failure' -A6 "$log" | head -80
  count=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\. (\([0-9]*\) ms.*/\1 \2/p' "$log")
  skips=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:/\1/p' "$log")
  set -- ${count:-0 0}
  ran=$((ran + $1))
  skipped=$((skipped + ${skips:-0}))
  echo "$status: $(basename "$program"): $1 tests (${skips:-0} skipped themselves) in $(($2 / 1000)) s"
done
echo "$ran tests run natively in the machine in $(($(date +%s) - start)) s, $skipped of them skipped themselves, none left out"
rm -rf "$logs"
[ "$failed" -eq 0 ]
