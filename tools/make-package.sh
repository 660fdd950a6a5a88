#!/usr/bin/env bash
# Builds dist/Pesolan.zip, the add-in package the platform loads from a file
# or a configuration template: MANIFEST.XML and the four libraries.
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
