#!/usr/bin/env bash
# The demonstration: a simulated scale on loopback, read through the driver.
set -euo pipefail
bin=${1:-build/linux/tools}
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# Starts scale-sim in the background and prints its TCP port.
start_sim() {
  local out
  out=$(mktemp)
  "$bin/scale-sim" --tcp --lifetime 60 "$@" >"$out" &
  pids+=($!)
  for _ in $(seq 50); do
    [ -s "$out" ] && break
    sleep 0.1
  done
  awk '/^tcp/ {print $3}' "$out"
  rm -f "$out"
}

echo "== A scale that streams weight lines (12.345 kg)"
port=$(start_sim --mode stream --weight 12.345 --unit kg)
"$bin/core-demo" 127.0.0.1 "$port" 3

echo "== A scale that answers ENQ/DC1 requests (1500 g)"
port=$(start_sim --mode request --weight 1500 --unit g)
"$bin/core-demo" 127.0.0.1 "$port" 2
