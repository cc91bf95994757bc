#!/usr/bin/env bash
# Runs programs that end with a node open, or right after closing it, 50 times each (eight
# at a time, each in a directory of its own) and requires every run to end as the program
# says, never by a signal.
# Usage: check_exit.sh CAMERA_FILE PROGRAM EXPECTED_OUTPUT [PROGRAM EXPECTED_OUTPUT ...]
set -uo pipefail
camera=$1
shift
work=$(mktemp -d /tmp/hlcexitXXXXXX)
trap 'rm -rf "$work"' EXIT
run() {
  local dir=$work/$1 program=$2 expected=$3
  mkdir -p "$dir/etc" "$dir/halcyra"
  printf '[Node]\nNodeId=0x11\nSlotNbr=1\nDeviceNbr=0x000d04\n' > "$dir/etc/halcyra.ini"
  cp "$camera" "$dir/etc/camera640.dcf"
  local out status
  out=$(cd "$dir" && HLCINIPATH="$dir/etc" DCFPATH="$dir/etc" HALCYRA="$dir/halcyra" \
        PATH="$dir/halcyra:/usr/bin:/bin" timeout 60 "$program" 2>&1)
  status=$?
  if [[ $status -ne 0 || "$out" != "$expected" ]]; then
    echo "run $1: status $status"
    echo "$out"
    return 1
  fi
}
failed=0 runs=0
while (( $# >= 2 )); do
  for ((i = 0; i < 50; i += 8)); do
    pids=()
    for ((j = i; j < i + 8 && j < 50; j++)); do
      run "$runs-$j" "$1" "$2" & pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
  done
  runs=$((runs + 50))
  shift 2
done
echo "$failed of $runs runs failed"
(( failed == 0 ))
