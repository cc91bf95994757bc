#!/usr/bin/env bash
# Runs an example program against the example files (the simulated board's ini file, the
# grab module's FPGA file it names, and the example camera file), and checks what it prints
# and that it ends with 0.
# Usage: check_example.sh PROGRAM [EXAMPLES_DIR]
# EXAMPLES_DIR holds halcyra.ini, hlcgrab1.res and camera640.dcf (as installed under
# share/hlclib/examples); without it they are taken from the program's directory (the build
# folder's examples).  The expected output is chosen by the program's name: open_node or
# grab_continuous.
set -euo pipefail
program=$1 examples=${2:-$(dirname "$program")}
for f in halcyra.ini hlcgrab1.res camera640.dcf; do
  [[ -f "$examples/$f" ]] || { echo "no $f in $examples"; exit 1; }
done
work=$(mktemp -d /tmp/hlcexampleXXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/halcyra"
case $(basename "$program") in
  open_node)
    # The open loads the FPGA file the ini file names: it gives its id with no error beside
    # it, and only the error the program makes on purpose reaches the hook.
    args=()
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
      "errors left: 0"
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
# No console program can be found: messages for the console are dropped.  The FPGA file is
# found through the ini file alone (FPGANAME and FPGAPATH are not set).
status=0
out=$(cd "$work" && env -u FPGANAME -u FPGAPATH HLCINIPATH="$examples" DCFPATH="$examples" HALCYRA="$work/halcyra" \
      PATH="$work/halcyra:/usr/bin:/bin" timeout 120 "$program" "${args[@]}") || status=$?
echo "$out"
expected=$(printf '%s\n' "${expect[@]}")
if [[ "$out" != "$expected" ]]; then
  echo "unexpected output; expected:"
  echo "$expected"
  diff <(echo "$expected") <(echo "$out") || true
  exit 1
fi
[[ $status -eq 0 ]] || { echo "$(basename "$program") ended with $status"; exit 1; }
