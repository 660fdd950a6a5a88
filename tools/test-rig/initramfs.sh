#!/usr/bin/env bash
# The test machine's initramfs, made from this machine's own files: busybox
# (bash, mount and unshare besides, for the scripts the tests run), the
# kernel's modules for USB, USB-serial adapters and the network card, the
# machine's init, and the files given, each at its own absolute path, so
# that the paths compiled into the tests hold inside too. The shared
# libraries they need come along: the x86_64 ones as ldd names them, the
# i386 ones from the cross toolchain's sysroot.
#   tools/test-rig/initramfs.sh OUT KERNEL_DIR FILE...
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1 kernel=$2
shift 2
root=$(mktemp -d)
chmod 755 "$root"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,sbin,usr/bin,mod,proc,sys,dev,tmp,etc,lib/x86_64-linux-gnu,lib64,root,rig}

place() {  # place FILE: copies it to the same path inside, stripped if it is a program
  mkdir -p "$root$(dirname "$1")"
  cp -L "$1" "$root$1"
  case "$(od -An -j4 -N1 -tu1 "$1" 2>/dev/null | tr -d ' ')" in
    2) strip --strip-debug "$root$1" 2>/dev/null || true ;;
    1) i686-linux-gnu-strip --strip-debug "$root$1" 2>/dev/null || true ;;
  esac
}
x86_64_libraries() {  # the x86_64 programs' libraries, as ldd finds them
  for f in "$@"; do
    [ "$(od -An -j4 -N1 -tu1 "$f" 2>/dev/null | tr -d ' ')" = 2 ] || continue
    ldd "$f" 2>/dev/null | awk '/=> \// {print $3}'
  done | sort -u
}

for f in "$@"; do place "$f"; done
cp /bin/busybox "$root/bin/"
for applet in $(/bin/busybox --list); do
  [ -e "$root/bin/$applet" ] || ln -s busybox "$root/bin/$applet"
done
for tool in /bin/bash /bin/mount /bin/umount /usr/bin/unshare /usr/bin/setpriv; do
  rm -f "$root$tool" "$root/bin/$(basename "$tool")"
  place "$tool"
done
# The tests' shell commands find programs by PATH: busybox's own shell runs
# its applets first, whatever PATH says.
ln -sf bash "$root/bin/sh"
ln -s /bin/busybox "$root/usr/bin/env"
for lib in $(x86_64_libraries "$@" /bin/bash /bin/mount /usr/bin/unshare /usr/bin/setpriv); do cp -L "$lib" "$root/lib/x86_64-linux-gnu/"; done
cp -L /lib64/ld-linux-x86-64.so.2 "$root/lib64/"
sysroot=/usr/i686-linux-gnu/lib
for lib in ld-linux.so.2 libc.so.6 libm.so.6 libstdc++.so.6 libgcc_s.so.1 libanl.so.1 libdl.so.2 libpthread.so.0 \
           libresolv.so.2 librt.so.1; do
  [ -e "$sysroot/$lib" ] && cp -L "$sysroot/$lib" "$root/lib/"
done
# Numbers under a comma locale, and the driver's Windows-1251 texts.
mkdir -p "$root/usr/lib/locale" "$root/usr/lib/x86_64-linux-gnu/gconv"
cp /usr/lib/locale/locale-archive "$root/usr/lib/locale/" 2>/dev/null || true
cp /usr/lib/x86_64-linux-gnu/gconv/{gconv-modules,CP1251.so} "$root/usr/lib/x86_64-linux-gnu/gconv/" 2>/dev/null || true
cp -r /usr/lib/x86_64-linux-gnu/gconv/gconv-modules.d "$root/usr/lib/x86_64-linux-gnu/gconv/" 2>/dev/null || true

modules=$(ls -d "$kernel"/lib/modules/*/kernel)
for m in drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/host/xhci-hcd drivers/usb/host/xhci-pci \
         drivers/usb/serial/usbserial drivers/usb/serial/ftdi_sio drivers/net/ethernet/intel/e1000/e1000; do
  f=$(ls "$modules/$m".ko* | head -1)
  case "$f" in *.xz) xz -dc "$f" >"$root/mod/$(basename "${f%.xz}")" ;; *) cp "$f" "$root/mod/" ;; esac
done

printf 'root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/nonexistent:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\nnogroup:x:65534:\n' >"$root/etc/group"
printf '127.0.0.1 localhost\n' >"$root/etc/hosts"
printf 'nameserver 127.0.0.1\n' >"$root/etc/resolv.conf"
printf 'hosts: files dns\n' >"$root/etc/nsswitch.conf"
cp "$here/guest-init" "$root/init"
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc 2>/dev/null | gzip -1) >"$out.part"
mv "$out.part" "$out"
