#!/usr/bin/env bash
# Runs the grab example against an ini file naming one host-served board with the example's
# camera file, and checks what it prints and the TIFF file it writes.
# Usage: check_grab_example.sh PROGRAM CAMERA_FILE
set -euo pipefail
program=$1 camera=$2
work=$(mktemp -d /tmp/hlcgrabexampleXXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/etc" "$work/halcyra"
printf '[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n' > "$work/etc/halcyra.ini"
cp "$camera" "$work/etc/camera640.dcf"
out=$(cd "$work" && HLCINIPATH="$work/etc" DCFPATH="$work/etc" HALCYRA="$work/halcyra" \
      PATH="$work/halcyra:/usr/bin:/bin" timeout 120 "$program" camera640 "$work/frame.tif")
echo "$out"
fail() { echo "$1"; exit 1; }
mapfile -t lines <<< "$out"
[[ ${#lines[@]} -eq 3 ]] || fail "expected three lines"
# The simulated camera's test pattern rises by one from pixel to pixel and line to line.
[[ ${lines[0]} =~ ^grabbed\ 640x480,\ top\ left\ ([0-9]+)\ ([0-9]+)\ /\ ([0-9]+)\ ([0-9]+)$ ]] || fail "no grab line"
a=${BASH_REMATCH[1]} b=${BASH_REMATCH[2]} c=${BASH_REMATCH[3]} d=${BASH_REMATCH[4]}
(( b == (a + 1) % 256 && c == (a + 1) % 256 && d == (a + 2) % 256 )) || fail "not the test pattern: $a $b $c $d"
[[ ${lines[1]} == "saved $work/frame.tif" ]] || fail "no save line"
[[ ${lines[2]} == "close: 0" ]] || fail "no close line"
# A little-endian TIFF file holding at least the frame's bytes.
[[ $(head -c 4 "$work/frame.tif" | od -An -tx1 | tr -d ' \n') == 49492a00 ]] || fail "not a TIFF file"
(( $(stat -c %s "$work/frame.tif") >= 640 * 480 )) || fail "TIFF file too short"
