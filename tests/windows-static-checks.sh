#!/usr/bin/env bash
# Checks of the Windows DLLs that need no Windows: the undecorated exports,
# imports from system DLLs only, and the calling conventions of the x86
# interface methods (stdcall: callee pops, decorated @N in the symbol table;
# the stand-in destructor: thiscall, ret 4), and the version resource of the
# DLLs and of the programs beside them (tools/).
#   tests/windows-static-checks.sh X64_DLL X86_DLL
set -euo pipefail
x64=${1:-build/windows-x64/Pesolan.dll}
x86=${2:-build/windows-x86/Pesolan.dll}
passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

for arch in x64 x86; do
  dll=${!arch}
  [ "$arch" = x64 ] && tool=x86_64-w64-mingw32 || tool=i686-w64-mingw32
  headers=$("$tool-objdump" -p "$dll")
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{f=1; next} f && /^[ \t]+\[/{print $NF} f && /^$/{exit}' <<<"$headers")
  for name in GetClassNames GetClassObject DestroyObject SetPlatformCapabilities nPesolan; do
    check "$arch exports $name undecorated" "grep -qx '$name' <<<\"\$exports\""
  done
  check "$arch exports nothing else but CPesolan and fnPesolan" \
    "[ \"\$(grep -cvE '^(GetClassNames|GetClassObject|DestroyObject|SetPlatformCapabilities|nPesolan|_Z9fnPesolanv|_ZN8CPesolan.*)$' <<<\"\$exports\")\" = 0 ]"
  imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
  check "$arch imports only system DLLs ($imports)" \
    "! grep -qiE 'libgcc|libstdc|libwinpthread' <<<\"\$imports\" && [ -z \"\$(tr ' ' '\n' <<<\"\$imports\" | grep -vxE 'kernel32.dll|advapi32.dll|ws2_32.dll|msvcrt.dll|')\" ]"
done

# The driver version, written once: project() in CMakeLists.txt.
version=$(sed -n 's/^project(Pesolan VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")
for file in "$x64" "$x86" "$(dirname "$x64")/tools/pesolan.exe" "$(dirname "$x64")/tools/scale-sim.exe" \
            "$(dirname "$x86")/tools/pesolan.exe"; do
  # The resource's texts are UTF-16: each name is followed by its value.
  info=$(strings -a -el "$file" | tr '\n' '|')
  name="$(basename "$(dirname "$file")")/$(basename "$file")"
  for field in "FileVersion|$version" "ProductVersion|$version" "ProductName|Pesolan" "OriginalFilename|$(basename "$file")"; do
    check "$name version resource: ${field/|/ }" "grep -qF '|$field|' <<<\"|\$info\""
  done
done

# The 32-bit pesolan.exe beside the x86 DLL: an i386 program that needs no
# runtime DLL of the compiler, so a 32-bit client's DLL can be tried on any
# Windows.
tool32=$(dirname "$x86")/tools/pesolan.exe
headers=$(i686-w64-mingw32-objdump -p "$tool32")
check "x86 pesolan.exe is an i386 program" "grep -q 'file format pei-i386' <<<\"\$headers\""
imports=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$headers" | sort -u | tr '\n' ' ')
check "x86 pesolan.exe imports no compiler runtime ($imports)" "! grep -qiE 'libgcc|libstdc|libwinpthread' <<<\"\$imports\""

symbols=$(i686-w64-mingw32-nm "$x86")
for method in '7GetInfoEv@4' '10CallAsFuncElP8tVariantS2_l@20' '9SetLocaleEPKDs@8' '4InitEPv@8' \
              '19RegisterExtensionAsEPPDs@8' '13setMemManagerEPv@8'; do
  check "x86 Vestra_Scale_nLP::${method%%@*} is stdcall (@${method##*@})" "grep -q 'Vestra_Scale_nLP$method\$' <<<\"\$symbols\""
done
disassembly=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$x86")
ret=$(awk '/<__ZN5addin16Vestra_Scale_nLP22MsvcDeletingDestructorEj>:/{f=1} f && /\tret/{print $2, $3; exit}' <<<"$disassembly")
check "x86 stand-in destructor pops its flags argument (thiscall): $ret" "[ \"\$ret\" = 'ret \$0x4' ]"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
