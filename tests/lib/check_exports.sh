#!/usr/bin/env bash
# Compares the names libhlclib.so exports with the list kept in the tree, checks that
# the public header declares every one of them, and that every exported function runs
# inside the library's exception boundary (hlc_export.h), whose handler leaves the marker
# hlc_boundary_<name> in the library's symbol table.
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
functions=$(nm -D --defined-only "$1" | awk 'NF == 3 && $2 == "T" { print $3 }' | LC_ALL=C sort)
markers=$(nm --defined-only "$1" | awk 'NF == 3 { print $3 }' | sed -n 's/^hlc_boundary_//p' | LC_ALL=C sort)
outside=$(LC_ALL=C comm -23 <(echo "$functions") <(echo "$markers"))
if [[ -n $outside ]]; then
  echo "exported outside the exception boundary (no HLC_EXPORT_CATCH handler):"
  echo "$outside"
  exit 1
fi
echo "$(wc -l < "$2") names exported and declared, $(echo "$functions" | wc -l) functions inside the boundary"
