#!/usr/bin/env bash
# Debian's own kernel for the test machine, unpacked into a folder of the
# build tree (nothing is installed into /boot): the package that
# linux-image-amd64 depends on, fetched with apt-get download.
#   tools/test-rig/kernel.sh DIR     prints the kernel image's path
set -euo pipefail
dir=$1
mkdir -p "$dir"
if ! ls "$dir"/kernel/boot/vmlinuz-* >/dev/null 2>&1; then
  pkg=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$pkg" ] || { echo "kernel.sh: apt-cache names no linux-image for linux-image-amd64" >&2; exit 1; }
  (cd "$dir" && rm -f linux-image-*.deb && apt-get download -qq "$pkg" 2>/dev/null)
  rm -rf "$dir/kernel.part"
  dpkg-deb -x "$dir"/linux-image-*.deb "$dir/kernel.part"
  mv "$dir/kernel.part" "$dir/kernel"
  rm -f "$dir"/linux-image-*.deb
fi
ls "$dir"/kernel/boot/vmlinuz-* | head -1
