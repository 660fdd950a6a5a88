#!/usr/bin/env bash
# Unpacks the add-in package and checks MANIFEST.XML against the files: the
# manifest and exactly the libraries it names, each of the system and
# architecture it claims.
#   tests/package-check.sh dist/Pesolan.zip
set -euo pipefail
zip=$(cd "$(dirname "${1:-dist/Pesolan.zip}")" && pwd)/$(basename "${1:-dist/Pesolan.zip}")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
(cd "$dir" && cmake -E tar xf "$zip")
passed=0
failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); echo "ok: $1"; else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

# What a library file is, from its header: "Windows i386", "Windows x86_64",
# "Linux i386", "Linux x86_64" (for ELF: its class, 32 or 64-bit, and machine).
kind() {
  local f=$1
  case "$(head -c 4 "$f" | od -An -tx1 | tr -d ' \n')" in
    7f454c46)
      case "$(od -An -j4 -N1 -tu1 "$f" | tr -d ' ') $(od -An -j18 -N2 -tu2 "$f" | tr -d ' ')" in
        "2 62") echo "Linux x86_64" ;;
        "1 3") echo "Linux i386" ;;
      esac ;;
    4d5a*)
      local pe machine
      pe=$(od -An -j60 -N4 -tu4 "$f" | tr -d ' ')
      machine=$(od -An -j$((pe + 4)) -N2 -tx2 "$f" | tr -d ' ')
      case "$machine" in 014c) echo "Windows i386" ;; 8664) echo "Windows x86_64" ;; esac ;;
  esac
}

# The newest version of a symbol set (GLIBC, GLIBCXX) that a library needs.
newest() {
  objdump -T "$1" | grep -oE "\($2_[0-9.]+\)" | tr -d '()' | sed "s/^$2_//" | sort -V | tail -1
}
# True when version $1 is at most $2; a version not found at all is no pass.
at_most() { [ -n "$1" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -1)" = "$2" ]; }

manifest="$dir/MANIFEST.XML"
check "the package holds MANIFEST.XML" "[ -f '$manifest' ]"
check "the manifest's root is bundle in the add-in namespace" \
  "grep -q '<bundle xmlns=\"http://v8.1c.ru/8.2/addin/bundle\">' '$manifest'"
listed=()
while read -r os path arch; do
  listed+=("$path")
  check "$path is there" "[ -f '$dir/$path' ]"
  check "$path is a $os $arch library" "[ \"\$(kind '$dir/$path')\" = '$os $arch' ]"
  if [ "$os" = Linux ]; then
    # Loads on older systems: glibc 2.17 and the C++ runtime of GCC 8 (Debian 10).
    check "$path needs at most GLIBC_2.17 (needs $(newest "$dir/$path" GLIBC))" \
      "at_most \"\$(newest '$dir/$path' GLIBC)\" 2.17"
    check "$path needs at most GLIBCXX_3.4.25 (needs $(newest "$dir/$path" GLIBCXX))" \
      "at_most \"\$(newest '$dir/$path' GLIBCXX)\" 3.4.25"
    check "$path exports the four add-in functions" \
      "[ \"\$(objdump -T '$dir/$path' | awk '/ Base / {print \$NF}' | grep -cxE 'GetClassNames|GetClassObject|DestroyObject|SetPlatformCapabilities')\" = 4 ]"
  fi
done < <(sed -n 's/.*<component os="\([^"]*\)" path="\([^"]*\)" type="native" arch="\([^"]*\)".*/\1 \2 \3/p' "$manifest")
check "the manifest names four native libraries" "[ ${#listed[@]} = 4 ]"
check "Windows i386, Windows x86_64, Linux i386 and Linux x86_64 are each named" \
  "[ \"\$(sed -n 's/.*os=\"\\([^\"]*\\)\".*arch=\"\\([^\"]*\\)\".*/\\1 \\2/p' '$manifest' | sort | tr '\n' ,)\" = 'Linux i386,Linux x86_64,Windows i386,Windows x86_64,' ]"
extra=$(cd "$dir" && ls | grep -vxF -e MANIFEST.XML "${listed[@]/#/-e}" || true)
check "nothing else is in the package${extra:+ (found: $extra)}" "[ -z '$extra' ]"

# The tools beside it: pesolan.exe and scale-sim.exe of each width.
tools=$(dirname "$zip")/Pesolan-tools.zip
check "Pesolan-tools.zip is beside the package" "[ -f '$tools' ]"
mkdir "$dir/tools"
(cd "$dir/tools" && cmake -E tar xf "$tools")
for width in "i386 x86" "x86_64 x86_64"; do
  set -- $width
  for program in pesolan.exe scale-sim.exe; do
    check "windows-$2/$program is a Windows $1 program" "[ \"\$(kind '$dir/tools/windows-$2/$program')\" = 'Windows $1' ]"
  done
done
check "the tools ZIP holds those four and nothing else" "[ \"\$(cd '$dir/tools' && find . -type f | sort | tr '\n' ,)\" = \
  './windows-x86/pesolan.exe,./windows-x86/scale-sim.exe,./windows-x86_64/pesolan.exe,./windows-x86_64/scale-sim.exe,' ]"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
