#!/usr/bin/env bash
# The demonstration: simulated scales on loopback, read through the real
# add-in library by the command-line host, as the platform would.
set -euo pipefail
bin=${1:-build/linux/tools}
pesolan="$bin/pesolan"
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# Starts scale-sim in the background and sets $port to its TCP port.
start_sim() {
  local out
  out=$(mktemp)
  "$bin/scale-sim" --tcp --lifetime 60 "$@" >"$out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 50); do
    [ -s "$out" ] && break
    sleep 0.1
  done
  port=$(awk '/^tcp/ {print $3}' "$out")
  rm -f "$out"
}

step() { printf '\n\033[1m== %s\033[0m\n$ pesolan %s\n' "$1" "${*:2}"; }
run() { "$pesolan" "$@" || true; }

start_sim --mode stream --weight 12.345 --unit kg; stream=$port
start_sim --mode request --weight 1500 --unit g; request=$port
start_sim --mode request --unstable 1000; unstable=$port
start_sim --mode silent; silent=$port

step "The driver's description (first lines)" describe
run describe | head -4

step "A streaming scale (12.345 kg), three readings in kilograms" weight --tcp "127.0.0.1:$stream" --unit 3 --watch --count 3 --interval 200
run weight --tcp "127.0.0.1:$stream" --unit 3 --watch --count 3 --interval 200

step "The same scale in grams" weight --tcp "127.0.0.1:$stream" --unit 2
run weight --tcp "127.0.0.1:$stream" --unit 2

step "A scale that answers ENQ/DC1 requests (1500 g), in kilograms" weight --tcp "127.0.0.1:$request" --unit 3
run weight --tcp "127.0.0.1:$request" --unit 3

step "The same scale in grams, as JSON" --json weight --tcp "127.0.0.1:$request" --unit 2
run --json weight --tcp "127.0.0.1:$request" --unit 2

step "Where is which scale, and what to enter in the platform" find --tcp "127.0.0.1:$stream" --tcp "127.0.0.1:$request" --tcp "127.0.0.1:$silent"
run find --tcp "127.0.0.1:$stream" --tcp "127.0.0.1:$request" --tcp "127.0.0.1:$silent" 2>/dev/null | grep -v '^COM'

step "The device test report" test --tcp "127.0.0.1:$stream" --unit 3
run test --tcp "127.0.0.1:$stream" --unit 3

step "An unstable weight is refused" weight --tcp "127.0.0.1:$unstable"
run weight --tcp "127.0.0.1:$unstable"

step "...unless unstable weights are allowed" weight --tcp "127.0.0.1:$unstable" --allow-unstable
run weight --tcp "127.0.0.1:$unstable" --allow-unstable

step "A silent scale" weight --tcp "127.0.0.1:$silent"
run weight --tcp "127.0.0.1:$silent"

step "...and its device test report with the hint" test --tcp "127.0.0.1:$silent"
run test --tcp "127.0.0.1:$silent"

step "...and what the driver tried: the trace of the dialogue" weight --tcp "127.0.0.1:$silent" --trace
run weight --tcp "127.0.0.1:$silent" --trace 2>&1
