#!/usr/bin/env bash
# Runs an example program against the ini file of one host-served board and the example
# camera file, and checks what it prints.
# Usage: check_example.sh PROGRAM [EXAMPLES_DIR]
# EXAMPLES_DIR holds halcyra.ini and camera640.dcf (as installed under share/hlclib/examples);
# without it the script writes the ini file itself and takes the camera file of the source
# tree.  The expected output is chosen by the program's name: open_node or grab_continuous.
set -euo pipefail
program=$1 examples=${2:-}
work=$(mktemp -d /tmp/hlcexampleXXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/halcyra"
if [[ -z $examples ]]; then
  examples=$work/etc
  mkdir -p "$examples"
  printf '[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n' > "$examples/halcyra.ini"
  cp "$(dirname "$0")/../../examples/camera640.dcf" "$examples/"
fi
case $(basename "$program") in
  open_node)
    # No FPGA file is named for the board's grab module: the open reports the load code
    # beside the id it gives.
    args=()
    expect=(
      "systems: 1"
      "nodes: 1"
      "digitizers: 0"
      "displays: 1"
      "hook: type 0, error -9, user 7"
      "device: 0x02110002"
      "Error in imDevAlloc():"
      "<LDFPGA: File not found or invalid file>"
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
    ) ;;
  grab_continuous)
    # Started, three new frames seen, halted: the grab ends done, without an error.
    args=(camera640)
    expect=(
      "grabbing: state 40"
      "frames seen: 3"
      "halted: state 50"
      "grab error: 0"
      "close: 0"
    ) ;;
  *) echo "no expected output for $program"; exit 1 ;;
esac
# No console program can be found: messages for the console are dropped.
out=$(cd "$work" && HLCINIPATH="$examples" DCFPATH="$examples" HALCYRA="$work/halcyra" \
      PATH="$work/halcyra:/usr/bin:/bin" timeout 120 "$program" "${args[@]}")
echo "$out"
expected=$(printf '%s\n' "${expect[@]}")
if [[ "$out" != "$expected" ]]; then
  echo "unexpected output; expected:"
  echo "$expected"
  diff <(echo "$expected") <(echo "$out") || true
  exit 1
fi
