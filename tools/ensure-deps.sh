#!/usr/bin/env bash
# Installs what this project needs on a Debian machine (as root), or prints
# the apt-get line to run. Usage: ensure-deps.sh build|test
set -euo pipefail

want=(cmake ninja-build g++ make)
if [ "${1:-build}" = test ]; then
  want+=(libgtest-dev googletest mingw-w64 wine wine64 locales clang libclang-rt-14-dev lld llvm util-linux
         g++-i686-linux-gnu qemu-system-x86 busybox-static cpio socat)
fi

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Run as root:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The tests read numbers under a comma locale as well.
if [ "${1:-build}" = test ] && ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing locale ru_RU.UTF-8. Run as root: localedef -i ru_RU -f UTF-8 ru_RU.UTF-8" >&2
    exit 1
  fi
  localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
