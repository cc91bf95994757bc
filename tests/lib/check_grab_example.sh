#!/usr/bin/env bash
# Runs the grab example against an ini file naming one host-served board with the example's
# camera file, and checks what it prints and every pixel of the TIFF file it writes.
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
tif=$work/frame.tif
[[ $(head -c 4 "$tif" | od -An -tx1 | tr -d ' \n') == 49492a00 ]] || fail "not a TIFF file"
(( $(stat -c %s "$tif") >= 640 * 480 )) || fail "TIFF file too short"
# Unsigned little-endian number of $2 bytes at byte offset $1 of the file.
num() { od -An -tu"$2" -j "$1" -N "$2" "$tif" | tr -d ' '; }
# The directory's width (tag 256), height (257), strip offsets (273) and strip sizes (279),
# each of 2-byte (type 3) or 4-byte values; a tag of one value holds it in place, of
# several the offset of their array.
ifd=$(num 4 4) width=0 height=0 strips=0 offsets=0 sizes=0 offsetBytes=4 sizeBytes=4
for ((i = 0; i < $(num "$ifd" 2); i++)); do
  entry=$((ifd + 2 + 12 * i))
  bytes=$(( $(num $((entry + 2)) 2) == 3 ? 2 : 4 ))
  case $(num "$entry" 2) in
    256) width=$(num $((entry + 8)) "$bytes") ;;
    257) height=$(num $((entry + 8)) "$bytes") ;;
    273) strips=$(num $((entry + 4)) 4) offsets=$((entry + 8)) offsetBytes=$bytes ;;
    279) sizes=$((entry + 8)) sizeBytes=$bytes ;;
  esac
done
(( width == 640 && height == 480 && strips > 0 && sizes > 0 )) || fail "TIFF directory: ${width}x${height}, $strips strips"
if (( strips * offsetBytes > 4 )); then offsets=$(num "$offsets" 4); fi
if (( strips * sizeBytes > 4 )); then sizes=$(num "$sizes" 4); fi
# Every pixel of the frame, strip after strip: the pattern's top left value plus the column
# and the line.
bad=$(for ((k = 0; k < strips; k++)); do
        od -An -tu1 -v -j "$(num $((offsets + offsetBytes * k)) "$offsetBytes")" \
           -N "$(num $((sizes + sizeBytes * k)) "$sizeBytes")" "$tif"
      done |
      awk -v a="$a" '{ for (i = 1; i <= NF; i++) { x = n % 640; y = int(n / 640);
                       if ($i != (a + x + y) % 256) bad++; n++ } }
                     END { if (n != 640 * 480) bad += 640 * 480; print bad + 0 }')
(( bad == 0 )) || fail "$bad pixels differ from the test pattern"
