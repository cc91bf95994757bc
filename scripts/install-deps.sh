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
# A mirror caught in the middle of a sync answers with index files of the wrong size:
# the update is tried again a few times, and a last failure is left to the install,
# which may still find every package in the lists it has.
lists_complete=1
update_lists() {
  for attempt in 1 2 3; do
    if $SUDO apt-get update -qq; then return 0; fi
    echo "package lists: update failed (attempt $attempt), trying again" >&2
    sleep $((attempt * 10))
  done
  echo "package lists: update failed; installing from the lists at hand" >&2
  lists_complete=0
}
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  update_lists
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # With one architecture's list of security updates missing, the packages that both
    # architectures carry (which must be of one version) cannot be matched.  Both then
    # take the release's own versions, downgrading the host's copies where needed.
    [ "$lists_complete" = 0 ] || exit 1
    echo "installing with both architectures on the release's versions" >&2
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends --allow-downgrades \
      -o Dir::Etc::PreferencesParts="$(cd "$(dirname "$0")" && pwd)/apt" "${missing[@]}" >/dev/null
  fi
fi
