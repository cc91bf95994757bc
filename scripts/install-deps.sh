#!/usr/bin/env bash
# Installs every package the two build trees and their tests need (Debian).
# Idempotent: does nothing when everything is already there.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PKGS_APP="build-essential cmake pkg-config qt6-base-dev libtiff-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth"
PKGS_LIB="g++-multilib libtiff-dev:i386 libgtest-dev:i386 libgmock-dev:i386 libbenchmark-dev:i386"
# The fuzz targets (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes of
# both x86-64 and i386.
PKGS_FUZZ="clang libclang-rt-dev"

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi
for p in $PKGS_APP $PKGS_LIB $PKGS_FUZZ; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
