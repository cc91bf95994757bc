#!/usr/bin/env bash
# Installs the library into a temporary prefix, and builds and runs the installed examples
# there with the flags pkg-config gives, against the installed ini file, FPGA file and camera
# file.  Then the installed console program: the installed library finds it by itself, it
# shows the ini file's search, and it ends once the program that used it has ended.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 source=$2 cc=$3
prefix=$(mktemp -d /tmp/hlcinstallXXXXXX)
console=$(mktemp -d /tmp/hlcconsoleXXXXXX)
trap 'rm -rf "$prefix" "$console"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
examples=$prefix/share/hlclib/examples
for f in lib/libhlclib.so lib/libhlcplatform.so lib/pkgconfig/hlclib.pc bin/hlccout \
         include/hlclib.h include/hlclib_defs.h include/hlclib_proc.h include/hlclib_board.h \
         share/hlclib/examples/open_node.c share/hlclib/examples/grab_frame.c \
         share/hlclib/examples/grab_continuous.c share/hlclib/examples/camera640.dcf \
         share/hlclib/examples/halcyra.ini share/hlclib/examples/hlcgrab1.res; do
  [[ -f "$prefix/$f" ]] || { echo "not installed: $f"; exit 1; }
done
[[ -x "$prefix/bin/hlccout" ]] || { echo "bin/hlccout is not executable"; exit 1; }
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
flags=$(pkg-config --cflags --libs hlclib)
[[ " $flags " == *" -m32 "* ]] || { echo "pkg-config flags without -m32: $flags"; exit 1; }
for example in open_node grab_frame grab_continuous; do
  # shellcheck disable=SC2086
  "$cc" -std=c99 -Wall -Wextra -Werror -pedantic "$examples/$example.c" $flags -o "$examples/$example"
done
bash "$source/tests/lib/check_example.sh" "$examples/open_node" "$examples"
bash "$source/tests/lib/check_grab_example.sh" "$examples/grab_frame" "$examples/camera640.dcf"
bash "$source/tests/lib/check_example.sh" "$examples/grab_continuous" "$examples"

# The console, on a pipe and options of its own.  HALCYRA is not set and the PATH names no
# console program: the installed library starts the one beside it.  HLCINIPATH names a
# directory that does not exist, and no other place holds an ini file.
fail() { echo "$1"; [[ -f $console/out ]] && cat "$console/out"; exit 1; }
mkdir "$console/cwd"
consoleEnv=(env -u HALCYRA -u COFFPATH -u FPGANAME -u FPGAPATH HLCCOUT_PIPE="$console/pipe"
            XDG_CONFIG_HOME="$console/config" HLCINIPATH="$console/missing" PATH=/usr/bin:/bin)
status=0
(cd "$console/cwd" && "${consoleEnv[@]}" timeout 120 "$examples/open_node" </dev/null >"$console/out" 2>&1) || status=$?
[[ $status -eq 1 ]] || fail "open_node without an ini file ended with $status"
# The console removes its pipe when it ends.
for ((i = 0; i < 300; i++)); do
  [[ -S $console/pipe ]] || break
  sleep 0.1
done
if [[ -S $console/pipe ]]; then
  # Only the console of this prefix is stopped.
  for p in /proc/[0-9]*; do
    tr '\0' ' ' < "$p/cmdline" 2>/dev/null | grep -qF "$prefix/bin/hlccout" && kill "${p#/proc/}" 2>/dev/null
  done
  fail "the console still runs 30 s after the program ended"
fi
for line in "HlcLib was unable to locate file 'halcyra.ini' in any of the following path(s):" \
            "HLCINIPATH=$console/missing" "HLCINIPATH names no directory '$console/missing'" \
            "$console/cwd" "open failed: Error in imDevAlloc():" "<HlcLib was unable to locate Ini file>"; do
  grep -qxF "$line" "$console/out" || fail "no line \"$line\""
done

# Started for a program that ends before it connects, the console ends with that program.
sleep 1 &
starter=$!
HLCCOUT_STARTER=$starter HLCCOUT_PIPE="$console/pipe2" XDG_CONFIG_HOME="$console/config" \
  timeout -s KILL 30 "$prefix/bin/hlccout" </dev/null >/dev/null 2>&1 &
program=$!
wait "$starter"
status=0
wait "$program" || status=$?
[[ $status -eq 0 ]] || fail "the console started for an ended program did not end by itself ($status)"
[[ ! -e $console/pipe2 ]] || fail "the console left its pipe behind"
