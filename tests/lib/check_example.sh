#!/usr/bin/env bash
# Runs the example program against an ini file naming one host-served board and checks
# what it prints.  Usage: check_example.sh PROGRAM
set -euo pipefail
program=$1
work=$(mktemp -d /tmp/hlcexampleXXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/etc" "$work/halcyra"
printf '[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n' > "$work/etc/halcyra.ini"
# No console program can be found: messages for the console are dropped.
out=$(cd "$work" && HLCINIPATH="$work/etc" HALCYRA="$work/halcyra" PATH="$work/halcyra:/usr/bin:/bin" \
      timeout 120 "$program")
echo "$out"
expect=(
  "systems: 1"
  "nodes: 1"
  "digitizers: 0"
  "displays: 1"
  "device: 0x02110002"
  "node: 0x11"
  "system: 0"
  "board: 0"
  "ring slots: 64"
  "hook: type 0, error -2, user 7"
  "error code: -2"
  "Error in imDevInquire():"
  "<Invalid device ID>"
  "after clearing: 0"
  "close: 0"
)
expected=$(printf '%s\n' "${expect[@]}")
if [[ "$out" != "$expected" ]]; then
  echo "unexpected output; expected:"
  echo "$expected"
  diff <(echo "$expected") <(echo "$out") || true
  exit 1
fi
