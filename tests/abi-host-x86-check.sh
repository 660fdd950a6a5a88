#!/usr/bin/env bash
# Reads the x86 Microsoft-ABI host's call sites into the component and
# compares them with the x86 DLL: each interface method is called through
# its table slot with `this` and the arguments pushed and no clean-up by the
# caller, as many bytes as the DLL's stdcall method takes (@N) and pops
# (ret N); the virtual destructor gets `this` in ECX and one pushed flag,
# which the DLL's destructor pops (ret 4).
#   tests/abi-host-x86-check.sh ABI_HOST_X86_EXE X86_DLL
set -euo pipefail
host=$1
dll=$2
passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

host_code=$(llvm-objdump -d --no-show-raw-insn "$host")
dll_code=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$dll")
dll_symbols=$(i686-w64-mingw32-nm "$dll")

# The instructions of a function, by the start of its symbol name.
body() { awk -v name="$2" 'index($0, "<" name) && /^[0-9a-f]+ </ {f=1; next} f && /^$/ {exit} f' <<<"$1"; }

# wrapper in the host, the method's name in the DLL's symbols, its slot offset
while read -r wrapper method offset; do
  code=$(body "$host_code" "?$wrapper@@")
  n=$(sed -n "s/.*Vestra_Scale_nLP[0-9]*$method@\([0-9]*\)\$/\1/p" <<<"$dll_symbols" | head -1)
  pushes=$(awk '/calll/ {exit} /pushl/ {n++} END {print n + 0}' <<<"$code")
  call=$(grep -m1 -oE 'calll[[:space:]]+\*[0-9]*\(%e[a-z]{2}\)' <<<"$code" | tr -s ' \t' ' ')
  after=$(awk 'c {print $2; exit} /calll/ {c=1}' <<<"$code")
  ret=$(awk -v name="Vestra_Scale_nLP" -v m="$method@" 'index($0, name) && index($0, m) && /^[0-9a-f]+ </ {f=1; next} f && /\tret/ {print $2, $3; exit}' <<<"$dll_code")
  check "$method: the host calls table slot +$offset ($call)" "[ \"\$call\" = 'calll *$offset(%ecx)' ] || [ \"\$call\" = 'calll *$offset(%eax)' ]"
  check "$method: the host pushes $((pushes * 4)) bytes, the DLL's @$n takes them" "[ -n '$n' ] && [ $((pushes * 4)) = '$n' ]"
  check "$method: the host leaves the clean-up to the callee (next: $after), which pops them (${ret:-no ret})" \
    "[ '$after' = retl ] && [ \"\$ret\" = 'ret \$0x$(printf '%x' "${n:-0}")' ]"
done <<'LIST'
CallInit InitEPv 4
CallSetMemManager setMemManagerEPv 8
CallGetInfo GetInfoEv 12
CallRegisterExtensionAs RegisterExtensionAsEPPDs 4
CallCallAsFunc CallAsFuncElP8tVariantS2_l 64
CallSetLocale SetLocaleEPKDs 4
LIST

code=$(body "$host_code" "?DeleteComponent@@")
pushes=$(awk '/calll/ {exit} /pushl/ {n++} END {print n + 0}' <<<"$code")
check "virtual destructor: this in ECX" "grep -qE 'movl[[:space:]]+4\(%esp\), %ecx' <<<\"\$code\""
check "virtual destructor: one pushed flag, then table slot 0" \
  "[ $pushes = 1 ] && grep -qE 'pushl[[:space:]]+\\\$1' <<<\"\$code\" && grep -qE 'calll[[:space:]]+\*\(%e[a-z]{2}\)' <<<\"\$code\""
ret=$(awk '/<__ZN5addin16Vestra_Scale_nLP22MsvcDeletingDestructorEj>:/{f=1} f && /\tret/{print $2, $3; exit}' <<<"$dll_code")
check "virtual destructor: the DLL's pops the flag ($ret)" "[ \"\$ret\" = 'ret \$0x4' ]"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
