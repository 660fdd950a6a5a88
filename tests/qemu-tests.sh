#!/usr/bin/env bash
# Runs the Linux x86 (i386) library's tests under qemu-i386, user-mode
# emulation with the cross toolchain's libraries, in the private /dev of
# tests/private-dev.sh.
#
# An emulated program here can start neither a process nor a thread (with
# QEMU 7.2 and glibc 2.36, fork and pthread_create never return). So the
# scale-sims the tests talk to are native: a native scale-sim-broker,
# started here, starts each one a test asks for (PESOLAN_SIM_BROKER). The
# tests that start a process or a thread themselves are left out, each
# with its reason below; the concurrency tests are not built for i386.
#   tests/qemu-tests.sh I386_BUILD_DIR NATIVE_TOOLS_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/linux-x86}" && pwd)
tools=$(cd "${2:-build/linux/tools}" && pwd)
sysroot=/usr/i686-linux-gnu

if [ "${PESOLAN_PRIVATE_DEV:-}" != 1 ] && [ "$(id -u)" -eq 0 ]; then
  exec "$here/private-dev.sh" "$0" "$build" "$tools"
fi

left_out=(
  'Cli*'                                                    # they run the pesolan program: a process each
  'Exports.AHostThatCallsBackFromInsideItsOwnCallsIsServed' # it watches for a hang from a thread
  'SimBroker*'                                              # it starts a broker: a process
)
filter="-$(IFS=:; echo "${left_out[*]}")"

work=$(mktemp -d)
broker=
cleanup() {
  [ -n "$broker" ] && kill "$broker" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
"$tools/scale-sim-broker" "$tools/scale-sim" 3600 >"$work/broker" &
broker=$!
for _ in $(seq 50); do [ -s "$work/broker" ] && break; sleep 0.1; done
PESOLAN_SIM_BROKER=$(awk '/^broker/ {print $2}' "$work/broker")
export PESOLAN_SIM_BROKER

emulated() { qemu-i386 -L "$sysroot" "$@"; }

listed=0
ran=0
skipped=0
failed=0
for program in core_unit_tests channel_timing_tests core_channel_tests addin_tests soak_tests; do
  binary=$build/tests/$program
  all=$(emulated "$binary" --gtest_list_tests | grep -c '^  ')
  listed=$((listed + all))
  if emulated "$binary" --gtest_filter="$filter" >"$work/$program.log" 2>&1; then
    status=ok
  else
    status=FAILED
    failed=$((failed + 1))
    grep -E '^\[  FAILED  \]|Failure' -A4 "$work/$program.log" | head -60
  fi
  count=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' "$work/$program.log")
  skips=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:/\1/p' "$work/$program.log")
  ran=$((ran + ${count:-0}))
  skipped=$((skipped + ${skips:-0}))
  echo "$status: $program under qemu-i386, ${count:-0} of $all tests run (${skips:-0} skipped)"
done
echo "qemu-i386: $ran tests run ($skipped of them skipped themselves), $((listed - ran)) left out" \
  "(${left_out[*]}), $failed programs failed"
[ "$failed" -eq 0 ]
