#!/usr/bin/env bash
# Makes sure this machine can run 32-bit x86 programs (the library tree's tests).
# Prints "native" when the kernel runs them itself, "emulated" when they run through
# user-mode emulation registered with the kernel's binfmt_misc; fails otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

probe_dir=$(mktemp -d)
trap 'rm -rf "$probe_dir"' EXIT
echo 'int main(void){return 0;}' > "$probe_dir/p.c"
gcc -m32 "$probe_dir/p.c" -o "$probe_dir/p"

binfmt=/proc/sys/fs/binfmt_misc
registered() { [ -e "$binfmt/qemu-i386" ] && head -n1 "$binfmt/qemu-i386" | grep -qx enabled; }

# A registered emulator takes precedence over the kernel's own 32-bit support.
if registered && "$probe_dir/p"; then
  echo emulated
  exit 0
fi
if "$probe_dir/p" 2>/dev/null; then
  echo native
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! command -v qemu-i386 >/dev/null; then
  # (a mirror caught mid-sync may fail the update: the lists at hand still hold the emulator)
  $SUDO apt-get update -qq || echo "package lists: update failed; installing from the lists at hand" >&2
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
fi
if [ ! -e "$binfmt/register" ]; then
  $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
fi
if [ ! -e "$binfmt/qemu-i386" ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine 3 (i386).
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$(command -v qemu-i386)"':F' \
    | $SUDO tee "$binfmt/register" >/dev/null
fi
if "$probe_dir/p"; then
  echo emulated
  exit 0
fi
echo "This machine cannot run 32-bit x86 programs, natively or emulated." >&2
exit 1
