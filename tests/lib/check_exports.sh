#!/usr/bin/env bash
# Compares the names libhlclib.so exports with the list kept in the tree, and checks that
# the public header declares every one of them.
# Usage: check_exports.sh LIBRARY EXPORT_LIST HEADER
set -euo pipefail
actual=$(nm -D --defined-only "$1" | awk 'NF == 3 { print $3 }' | LC_ALL=C sort)
if ! diff -u "$2" <(echo "$actual"); then
  echo "the exported names of $1 differ from $2"
  exit 1
fi
undeclared=0
while read -r name; do
  if ! grep -Eq "[^A-Za-z0-9_]${name}( ?\(|;)" "$3"; then
    echo "exported but not declared in $(basename "$3"): $name"
    undeclared=1
  fi
done < "$2"
[[ $undeclared == 0 ]]
echo "$(wc -l < "$2") names exported and declared"
