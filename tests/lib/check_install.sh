#!/usr/bin/env bash
# Installs the library into a temporary prefix, and builds and runs the installed examples
# there with the flags pkg-config gives, against the installed ini file and camera file.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 source=$2 cc=$3
prefix=$(mktemp -d /tmp/hlcinstallXXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
examples=$prefix/share/hlclib/examples
for f in lib/libhlclib.so lib/libhlcplatform.so lib/pkgconfig/hlclib.pc \
         include/hlclib.h include/hlclib_defs.h include/hlclib_proc.h include/hlclib_board.h \
         share/hlclib/examples/open_node.c share/hlclib/examples/grab_frame.c \
         share/hlclib/examples/grab_continuous.c share/hlclib/examples/camera640.dcf \
         share/hlclib/examples/halcyra.ini; do
  [[ -f "$prefix/$f" ]] || { echo "not installed: $f"; exit 1; }
done
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
