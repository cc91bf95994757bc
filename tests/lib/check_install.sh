#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds and runs the example there with
# the flags pkg-config gives.  Usage: check_install.sh BUILD_DIR SOURCE_DIR C_COMPILER
set -euo pipefail
build=$1 source=$2 cc=$3
prefix=$(mktemp -d /tmp/hlcinstallXXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in lib/libhlclib.so lib/libhlcplatform.so include/hlclib.h lib/pkgconfig/hlclib.pc; do
  [[ -f "$prefix/$f" ]] || { echo "not installed: $f"; exit 1; }
done
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
flags=$(pkg-config --cflags --libs hlclib)
[[ " $flags " == *" -m32 "* ]] || { echo "pkg-config flags without -m32: $flags"; exit 1; }
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror "$source/examples/open_node.c" $flags -o "$prefix/open_node"
bash "$source/tests/lib/check_example.sh" "$prefix/open_node"
# shellcheck disable=SC2086
"$cc" -std=c99 -Wall -Wextra -Werror "$source/examples/grab_frame.c" $flags -o "$prefix/grab_frame"
bash "$source/tests/lib/check_grab_example.sh" "$prefix/grab_frame" "$source/examples/camera640.dcf"
