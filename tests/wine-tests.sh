#!/usr/bin/env bash
# Runs the Windows x64 add-in tests under Wine: a fresh Wine prefix in a
# temporary folder, inside the private /dev of tests/private-dev.sh (Wine
# maps COM1 to /dev/ttyS0, which must never be opened), with a streaming
# scale-sim on a pseudo-terminal linked as COM5.
#   tests/wine-tests.sh WINDOWS_BUILD_DIR LINUX_TOOLS_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/windows-x64}" && pwd)
tools=$(cd "${2:-build/linux/tools}" && pwd)

if [ "${PESOLAN_PRIVATE_DEV:-}" != 1 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "wine-tests: skipped (a private /dev needs root)"
    exit 0
  fi
  exec "$here/private-dev.sh" "$0" "$build" "$tools"
fi

# Wine maps every serial device node it finds to a COM port: leave none but
# the one linked below.
rm -f /dev/ttyUSB0
prefix=$(mktemp -d /tmp/pesolan-wine.XXXXXX)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
rm -f "$prefix"/dosdevices/com*

out=$(mktemp)
"$tools/scale-sim" --pty --mode stream --lifetime 600 >"$out" &
sim=$!
for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
pty=$(awk '/^pty/ {print $2}' "$out")
rm -f "$out"
ln -s "$pty" "$prefix/dosdevices/com5"

cd "$build/tests"
PESOLAN_WINE_COM=5 wine addin_tests.exe "${@:3}"
