#!/bin/sh
# Compares the dynamic symbol table of the library with the list of names
# the project exports: nothing missing, nothing leaked.
# usage: check_exports.sh <nm> <libhsim.so> <exported_symbols.txt>
set -eu
nm_tool=$1
library=$2
expected=$3
actual=$(mktemp)
wanted=$(mktemp)
trap 'rm -f "$actual" "$wanted"' EXIT
"$nm_tool" -D --defined-only "$library" | awk '{print $NF}' | sed 's/@.*//' | sort -u > "$actual"
grep -v '^#' "$expected" | grep -v '^$' | sort -u > "$wanted"
if diff -u "$wanted" "$actual"; then
  echo "exports match: $(wc -l < "$wanted") names"
else
  echo "exported names differ from $expected (- missing, + leaked)" >&2
  exit 1
fi
