#!/usr/bin/env bash
# The binary interface as a Microsoft-compiled platform sees it: builds the
# Microsoft-ABI host (tools/abi-host) for x64 and x86, runs the x64 one under
# Wine against the x64 DLL and scale-sim.exe, and reads the x86 host's call
# sites against the x86 DLL's conventions (this kernel runs no 32-bit
# Windows programs; the x86 host is run too wherever it can be).
#   tests/abi-check.sh WINDOWS_X64_BUILD_DIR WINDOWS_X86_BUILD_DIR
# Wine runs inside the private /dev of tests/private-dev.sh: it maps COM1 to
# /dev/ttyS0, which may be the machine's console.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
x64=$(cd "${1:-build/windows-x64}" && pwd)
x86=$(cd "${2:-build/windows-x86}" && pwd)
if ! "$here/private-dev.sh" --check; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "abi-check: skipped (a private /dev needs root)"
    echo "the Microsoft-ABI host under Wine: a private /dev needs root" >>"${PESOLAN_SKIPPED:-/dev/null}"
    exit 0
  fi
  exec "$here/private-dev.sh" "$0" "$x64" "$x86"
fi
out=$(cd "$x64/.." && pwd)/abi-host
"$here/../tools/abi-host/build.sh" "$out"

work=$(mktemp -d /tmp/pesolan-abi.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1

# Runs the host for one architecture beside its DLL and scale-sim.exe.
run_host() {
  local arch=$1 build=$2 dir=$work/$1
  mkdir -p "$dir"
  cp "$out/abi-host-$arch.exe" "$build/Pesolan.dll" "$x64/tools/scale-sim.exe" "$dir/"
  (cd "$dir" && wine "abi-host-$arch.exe" 2>/dev/null) | tr -d '\r' | tee "$dir/output.txt" || true
  grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$dir/output.txt"
}

status=0
echo "== x64 host (Microsoft ABI, clang + lld-link) under Wine"
run_host x64 "$x64" || { echo "FAILED: the x64 host did not run"; status=1; }
grep -qE '^[1-9][0-9]* passed, 0 failed$' "$work/x64/output.txt" 2>/dev/null || status=1

echo "== x86 host"
if run_host x86 "$x86" >/dev/null 2>&1; then
  cat "$work/x86/output.txt"
  grep -qE '^[1-9][0-9]* passed, 0 failed$' "$work/x86/output.txt" || status=1
else
  echo "not run: 32-bit Windows programs do not run on this machine"
fi
"$here/abi-host-x86-check.sh" "$out/abi-host-x86.exe" "$x86/Pesolan.dll" || status=1
exit $status
