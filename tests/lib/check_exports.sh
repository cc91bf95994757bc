#!/usr/bin/env bash
# Compares the names libhlclib.so exports with the list kept in the tree, checks that the
# installed headers declare each of them exactly once (the program's calls in hlclib.h and
# hlclib_proc.h, which hlclib.h includes, everything else in hlclib_board.h, which hlclib.h
# does not include), and that every exported function runs inside the library's exception
# boundary (hlc_export.h), whose handler leaves the marker hlc_boundary_<name> in the
# library's symbol table.
# Usage: check_exports.sh LIBRARY EXPORT_LIST INCLUDE_DIR
set -euo pipefail
library=$1 list=$2 include=$3
actual=$(nm -D --defined-only "$library" | awk 'NF == 3 { print $3 }' | LC_ALL=C sort)
if ! diff -u "$list" <(echo "$actual"); then
  echo "the exported names of $library differ from $list"
  exit 1
fi
if grep -Eq '^\s*#\s*include\s*[<"]hlclib_board\.h' "$include/hlclib.h" "$include/hlclib_proc.h" "$include/hlclib_defs.h"; then
  echo "hlclib.h reaches hlclib_board.h"
  exit 1
fi
# A program's call: im + a family name + a verb; every other export is board-level.
public='^im(App|Dev|Sys|Thr|Sync|Buf|Cam|Dig|Disp|Cur|Jpeg|Pat|Blob|Bin|Float|Gen|Gra|Int|Rle)[A-Z0-9]'
wrong=0
while read -r name; do
  where=()
  for header in hlclib.h hlclib_proc.h hlclib_board.h; do
    if grep -Eq "[^A-Za-z0-9_]${name}( ?\(|;)" "$include/$header"; then where+=("$header"); fi
  done
  if [[ $name =~ $public ]]; then expected="hlclib.h or hlclib_proc.h"; else expected="hlclib_board.h"; fi
  if (( ${#where[@]} != 1 )) || [[ " $expected " != *" ${where[0]} "* ]]; then
    echo "$name: declared in ${where[*]:-no header}, expected once in $expected"
    wrong=1
  fi
done < "$list"
[[ $wrong == 0 ]]
functions=$(nm -D --defined-only "$library" | awk 'NF == 3 && $2 == "T" { print $3 }' | LC_ALL=C sort)
markers=$(nm --defined-only "$library" | awk 'NF == 3 { print $3 }' | sed -n 's/^hlc_boundary_//p' | LC_ALL=C sort)
outside=$(LC_ALL=C comm -23 <(echo "$functions") <(echo "$markers"))
if [[ -n $outside ]]; then
  echo "exported outside the exception boundary (no HLC_EXPORT_CATCH handler):"
  echo "$outside"
  exit 1
fi
echo "$(wc -l < "$list") names exported, each declared once; $(echo "$functions" | wc -l) functions inside the boundary"
