#!/usr/bin/env bash
# Runs the Windows x64 add-in tests under Wine: a fresh Wine prefix in a
# temporary folder, inside the private /dev of tests/private-dev.sh (Wine
# maps COM1 to /dev/ttyS0, which must never be opened), with scale-sims on
# pseudo-terminals: a streaming one as COM5 and one answering requests as
# COM6, first named in Wine's configuration, then linked by hand.
#   tests/wine-tests.sh WINDOWS_BUILD_DIR LINUX_TOOLS_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build/windows-x64}" && pwd)
tools=$(cd "${2:-build/linux/tools}" && pwd)

if ! "$here/private-dev.sh" --check; then
  if [ "$(id -u)" -ne 0 ]; then
    # make test names what it skipped in its closing lines.
    echo "wine-tests: skipped (a private /dev needs root)"
    echo "the Windows DLL's tests under Wine: a private /dev needs root" >>"${PESOLAN_SKIPPED:-/dev/null}"
    exit 0
  fi
  exec "$here/private-dev.sh" "$0" "$build" "$tools" "${@:3}"
fi

# Wine maps every serial device node it finds to a COM port: leave none but
# the one linked below.
rm -f /dev/ttyUSB[0-7]
prefix=$(mktemp -d /tmp/pesolan-wine.XXXXXX)
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
sims=()
cleanup() {
  [ ${#sims[@]} -gt 0 ] && kill "${sims[@]}" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1
rm -f "$prefix"/dosdevices/com*

# Starts a scale-sim on a pseudo-terminal for COM port $1; remembers its path.
declare -A ptys
start_scale() {
  local com=$1 out
  shift
  out=$(mktemp)
  "$tools/scale-sim" --pty --lifetime 600 "$@" >"$out" &
  sims+=($!)
  for _ in $(seq 50); do [ -s "$out" ] && break; sleep 0.1; done
  ptys[$com]=$(awk '/^pty/ {print $2}' "$out")
  rm -f "$out"
}
start_scale 5 --mode stream
start_scale 6 --mode request --weight 2.5 --unit t

# The ports as Wine's configuration names them (HKLM\Software\Wine\Ports):
# Wine then knows them as COM devices, as Windows knows its own.
for com in 5 6; do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$com" /d "${ptys[$com]}" /f >/dev/null 2>&1
done
wineserver -k 2>/dev/null || true
cd "$build/tests"
PESOLAN_WINE_COM=5 wine addin_tests.exe "${@:3}"

# pesolan.exe's ports and find on the same COM ports: find hears the
# streaming scale, sends nothing to the one answering requests unless asked.
expect() {  # expect LABEL PATTERN TEXT
  if grep -qE "$2" <<<"$3"; then echo "ok: pesolan.exe $1"; else echo "FAILED: pesolan.exe $1"; echo "$3"; exit 1; fi
}
pesolan() { wine "$build/tools/pesolan.exe" "$@" 2>/dev/null | tr -d '\r'; }
expect "ports lists COM5 free" '^COM5 +com5 +free' "$(pesolan ports)"
found=$(pesolan find)
expect "find hears the stream on COM5" '^COM5 .*stream scale: 12.345 kg stable' "$found"
expect "find leaves COM6 silent" '^COM6 .*silent' "$found"
expect "find gives the platform's parameters" 'Prm_Connect = 0, Prm_RsPort = 5, Prm_ConnAttrs = 0' "$found"
expect "find --ask reads COM6 through the driver" '^COM6 .*request scale \(ENQ, then DC1\): 2.5 t' "$(pesolan find --ask)"

# The library of the package's name is found one folder up, as the tools
# ZIP unpacked beside the package has it; one that does not load is
# explained: 193 is the other width, 126 no library there.
unpacked=$(mktemp -d)
mkdir "$unpacked/windows-x86_64"
cp "$build/tools/pesolan.exe" "$unpacked/windows-x86_64/"
cp "$build/Pesolan.dll" "$unpacked/Pesolan-windows-x86_64.dll"
# (Run from that folder: the system's search for a bare name looks in the
# current one, and this one holds the build's library.)
unpacked_pesolan() { (cd "$unpacked" && wine windows-x86_64/pesolan.exe "$@" 2>&1 | tr -d '\r'); }
expect "finds Pesolan-windows-x86_64.dll one folder up" 'library: .*\\Pesolan-windows-x86_64.dll' \
  "$(unpacked_pesolan --version)"
rm "$unpacked/Pesolan-windows-x86_64.dll"
expect "says where it looked for the library" 'error 126: the library, or one that it needs, is not there; pesolan looked for Pesolan.dll or Pesolan-windows-x86_64.dll' \
  "$(unpacked_pesolan describe)"
rm -rf "$unpacked"
expect "names error 193 as the other width" 'error 193: this program is 64-bit and takes the 64-bit library' \
  "$(wine "$build/tools/pesolan.exe" --lib "Z:$(cd "$build/../windows-x86" && pwd)/Pesolan.dll" describe 2>&1 | tr -d '\r')"

# The same ports linked by hand in the prefix's dosdevices folder, which Wine
# does not name as devices: the driver finds them by opening, as before.
# (Reading them is the same either way, and was tried above.)
wine reg delete 'HKLM\Software\Wine\Ports' /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
for com in 5 6; do ln -sfn "${ptys[$com]}" "$prefix/dosdevices/com$com"; done
PESOLAN_WINE_COM=5 wine addin_tests.exe --gtest_filter='Documents.SettingsListTheLinkedComPorts'
