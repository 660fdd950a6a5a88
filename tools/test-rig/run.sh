#!/usr/bin/env bash
# Boots the test machine under QEMU (software emulation, no KVM needed) and
# runs COMMAND inside it; prints what the machine's console shows and exits
# with the command's status.
#   tools/test-rig/run.sh INITRAMFS KERNEL_IMAGE NATIVE_TOOLS_DIR COMMAND [ARG...]
#
# The machine's serial ports: ttyS0 the console (this script's output; no
# test opens it), ttyS1 an ISA 16550A (COM2), ttyS4 a PCI UART (COM5, with
# 8250.nr_uarts=8), ttyUSB0 an FTDI adapter (COM65, serial number SCALE42)
# behind an xHCI controller; ttyS2 and ttyS3 have no UART behind them. Each
# of the three is a local socket here that a test's scale-sim attaches to
# (scale-sim --attach), so that ENQ and DC1 reach the sim and its lines the
# port. Inside, PESOLAN_SIM_BROKER names the scale-sim-broker of this
# machine, reached through QEMU's user network, which reaches nothing else;
# the broker also passes QMP commands to QEMU (a test pulls the adapter out
# and plugs it in again). PESOLAN_RIG_PORTS names the three sockets.
set -euo pipefail
initramfs=$1 kernel=$2 tools=$(cd "$3" && pwd)
shift 3
command -v qemu-system-x86_64 >/dev/null || { echo "run.sh: qemu-system-x86_64 is not installed" >&2; exit 1; }
work=$(mktemp -d /tmp/pesolan-rig.XXXXXX)
broker=
cleanup() {
  [ -n "$broker" ] && kill "$broker" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$tools/scale-sim-broker" "$tools/scale-sim" 3600 --qmp "$work/qmp.sock" >"$work/broker" &
broker=$!
for _ in $(seq 50); do [ -s "$work/broker" ] && break; sleep 0.1; done
port=$(awk '/^broker/ {print $2}' "$work/broker")
[ -n "$port" ] || { echo "run.sh: the broker did not start" >&2; exit 1; }

# The command, as a shell script for the machine's init, travels on the
# kernel's command line in base64.
plan="export PESOLAN_SIM_BROKER=10.0.2.100:4000 PESOLAN_RIG_PORTS=ttyS1=$work/uart.sock,ttyS4=$work/pci.sock,ttyUSB0=$work/usb.sock
$(printf '%q ' "$@")"
append="console=ttyS0 8250.nr_uarts=8 quiet loglevel=3 panic=-1 pesolan.plan=$(printf '%s' "$plan" | base64 -w0)"
chardev() { echo "socket,id=$1,path=$work/$1.sock,server=on,wait=off"; }
timeout "${PESOLAN_RIG_TIMEOUT:-1500}" qemu-system-x86_64 -m 1536 -smp 2 -display none -no-reboot \
  -kernel "$kernel" -initrd "$initramfs" -append "$append" \
  -serial stdio -monitor none -qmp "unix:$work/qmp.sock,server=on,wait=off" \
  -chardev "$(chardev uart)" -serial chardev:uart \
  -chardev "$(chardev pci)" -device pci-serial,chardev=pci \
  -chardev "$(chardev usb)" -device qemu-xhci,id=xhci -device usb-serial,chardev=usb,id=ftdi,serial=SCALE42,always-plugged=on \
  -netdev "user,id=net,restrict=on,guestfwd=tcp:10.0.2.100:4000-cmd:socat - TCP:127.0.0.1:$port" \
  -device e1000,netdev=net </dev/null | tee "$work/console" || true
status=$(sed -n 's/^pesolan-rig: status \([0-9]*\).*/\1/p' "$work/console" | tail -1)
[ -n "$status" ] || { echo "run.sh: the machine ended without a status" >&2; exit 1; }
exit "$status"
