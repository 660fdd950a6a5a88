#!/usr/bin/env bash
# Measures the Windows x64 DLL under Wine the way make bench measures the
# Linux library (the TCP modes: Wine offers no serial port to measure):
# pesolan-bench.exe against scale-sim.exe in a fresh Wine prefix. Run it in
# the private /dev of tests/private-dev.sh, so that probing COM ports never
# reaches a serial device of this machine.
#   tools/wine-bench.sh WINDOWS_BUILD_DIR JSON_OUT [REPORT_TO_APPEND_TO]
set -euo pipefail
build=$(cd "$1" && pwd)
json=$(realpath -m "$2")
report=${3:+$(realpath -m "$3")}

rm -f /dev/ttyUSB0  # Wine would map it to a COM port
prefix=$(mktemp -d /tmp/pesolan-wine-bench.XXXXXX)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$prefix"' EXIT
wineboot -i >/dev/null 2>&1
rm -f "$prefix"/dosdevices/com*

cd "$build/tools"
args=(--lib "$(winepath -w "$build/Pesolan.dll")" --sim scale-sim.exe --cpu-target 5
      --json "$(winepath -w "$json")")
[ -n "$report" ] && args+=(--append-report "$(winepath -w "$report")")
wine pesolan-bench.exe "${args[@]}"
