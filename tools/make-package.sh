#!/usr/bin/env bash
# Builds dist/Pesolan.zip, the add-in package the platform loads from a file
# or a configuration template: MANIFEST.XML and the four libraries; and
# beside it dist/Pesolan-tools.zip, the Windows programs pesolan.exe and
# scale-sim.exe in a folder for each width. Unpacked into one folder with
# the package, each pesolan.exe finds its library one folder up.
#   tools/make-package.sh DIST_DIR
set -euo pipefail
dist=$(cd "${1:-dist}" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

cp "$dist/windows-x86/Pesolan.dll" "$stage/Pesolan-windows-x86.dll"
cp "$dist/windows-x86_64/Pesolan.dll" "$stage/Pesolan-windows-x86_64.dll"
cp "$dist/linux-x86/libPesolan.so" "$stage/libPesolan-linux-x86.so"
cp "$dist/linux-x86_64/libPesolan.so" "$stage/libPesolan-linux-x86_64.so"
cat >"$stage/MANIFEST.XML" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">
  <component os="Windows" path="Pesolan-windows-x86.dll" type="native" arch="i386"/>
  <component os="Windows" path="Pesolan-windows-x86_64.dll" type="native" arch="x86_64"/>
  <component os="Linux" path="libPesolan-linux-x86.so" type="native" arch="i386"/>
  <component os="Linux" path="libPesolan-linux-x86_64.so" type="native" arch="x86_64"/>
</bundle>
XML
rm -f "$dist/Pesolan.zip"
(cd "$stage" && cmake -E tar cf "$dist/Pesolan.zip" --format=zip MANIFEST.XML \
  Pesolan-windows-x86.dll Pesolan-windows-x86_64.dll libPesolan-linux-x86.so libPesolan-linux-x86_64.so)
echo "$dist/Pesolan.zip"

tools=$(mktemp -d)
trap 'rm -rf "$stage" "$tools"' EXIT
for width in x86_64 x86; do
  mkdir "$tools/windows-$width"
  cp "$dist/windows-$width/pesolan.exe" "$dist/windows-$width/scale-sim.exe" "$tools/windows-$width/"
done
rm -f "$dist/Pesolan-tools.zip"
(cd "$tools" && cmake -E tar cf "$dist/Pesolan-tools.zip" --format=zip windows-x86_64 windows-x86)
echo "$dist/Pesolan-tools.zip"
