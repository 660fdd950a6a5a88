#!/usr/bin/env bash
# Builds the Microsoft-ABI host for x64 and x86 with clang and lld-link,
# without the Microsoft runtime: it imports kernel32 only, through import
# libraries made here from kernel32.names.
#   tools/abi-host/build.sh OUTDIR   ->  OUTDIR/abi-host-x64.exe, OUTDIR/abi-host-x86.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
sources=(main.cpp calls.cpp host_objects.cpp sim.cpp runtime.cpp)

for arch in x64 x86; do
  if [ $arch = x64 ]; then target=x86_64-pc-windows-msvc machine=i386:x86-64; else target=i686-pc-windows-msvc machine=i386; fi
  work="$out/abi-host-$arch.obj"
  mkdir -p "$work"
  # The import library: x86 names carry the @N of __stdcall, which the
  # library's entries strip to kernel32's own names.
  {
    echo "LIBRARY kernel32.dll"
    echo "EXPORTS"
    grep -v '^#' "$here/kernel32.names" | while read -r name bytes; do
      if [ $arch = x86 ]; then echo "  $name@$bytes"; else echo "  $name"; fi
    done
  } >"$work/kernel32.def"
  llvm-dlltool -m $machine -d "$work/kernel32.def" -l "$work/kernel32.lib" $([ $arch = x86 ] && echo -k)
  objects=()
  for source in "${sources[@]}"; do
    clang++ --target=$target -std=c++17 -O2 -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics \
      -mno-stack-arg-probe -Wall -Wextra -Werror -c "$here/$source" -o "$work/${source%.cpp}.obj"
    objects+=("$work/${source%.cpp}.obj")
  done
  lld-link /nologo /nodefaultlib /subsystem:console /entry:HostMain /debug:symtab /out:"$out/abi-host-$arch.exe" \
    "${objects[@]}" "$work/kernel32.lib"
done
