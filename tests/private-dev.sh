#!/usr/bin/env bash
# Runs a test program in a private mount namespace whose /dev holds no serial
# device of this machine: only what programs need (null, zero, full, random,
# urandom, tty, ptmx, pts) and empty ttyUSB0 to ttyUSB7 (COM65 to COM72) on
# which tests place pseudo-terminals. The real serial ports (one may be the system console)
# are never opened. Without root the program runs as it is and the tests
# that need the private /dev skip themselves.
#   tests/private-dev.sh PROGRAM [ARG...]
#   tests/private-dev.sh --check   0 when this process's /dev is that private one
set -euo pipefail

# Whether /dev, as this process's mount table shows its topmost mount there,
# is the private one (a variable could be set by hand).
private_dev() {
  awk '$5 == "/dev" { sub(/.* - /, ""); type = $1; source = $2 } END { exit !(type == "tmpfs" && source == "pesolan-dev") }' \
    /proc/self/mountinfo
}

if [ "${1:-}" = --check ]; then
  private_dev
  exit
fi

if [ -n "${PESOLAN_PRIVATE_DEV:-}" ]; then
  # Inside the namespace: build the private /dev, then run the program. Only
  # in a mount namespace other than the one this script left (it names it):
  # never over the machine's /dev, whatever the variable was set to by hand.
  case "$PESOLAN_PRIVATE_DEV" in
    "mnt:["*"]") [ "$(readlink /proc/self/ns/mnt)" != "$PESOLAN_PRIVATE_DEV" ] ;;
    *) false ;;
  esac || { echo "private-dev.sh: not in a mount namespace of its own" >&2; exit 1; }
  old=$(mktemp -d "${TMPDIR:-/tmp}/pesolan-dev.XXXXXX")
  mount --make-rprivate /
  mount --rbind /dev "$old"
  mount -t tmpfs -o mode=755 pesolan-dev /dev
  for node in null zero full random urandom tty; do
    touch "/dev/$node"
    mount --bind "$old/$node" "/dev/$node"
  done
  mkdir /dev/pts
  mount --rbind "$old/pts" /dev/pts
  # ptmx finds its pseudo-terminal instance beside itself: use the one in pts.
  ln -s pts/ptmx /dev/ptmx
  for n in 0 1 2 3 4 5 6 7; do touch "/dev/ttyUSB$n"; done
  # What was taken from the old /dev is mounted in its own right now: the
  # folder it was reached through goes.
  umount -l "$old"
  rmdir "$old"
  exec "$@"
fi

if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null; then
  PESOLAN_PRIVATE_DEV=$(readlink /proc/self/ns/mnt) exec unshare -m -- "$0" "$@"
fi
exec "$@"
