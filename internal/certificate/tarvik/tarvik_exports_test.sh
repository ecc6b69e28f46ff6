#!/bin/sh
# The program itself defines and exports close, localtime and localtime_r, so
# that the dynamic linker binds every call of them in the process (shared
# libraries included) to the program's own definitions.
# Usage: tarvik_exports_test.sh <path to tarvik>
set -eu

tool="$1"
exports=$(nm -D --defined-only "$tool" | awk '$2 == "T" { print $3 }')

status=0
for name in close localtime localtime_r; do
  if ! printf '%s\n' "$exports" | grep -qx "$name"; then
    echo "FAIL: $tool does not export $name" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "PASS: close, localtime and localtime_r exported"
exit "$status"
