#!/usr/bin/env bash
# Prints the GoogleTest programs of a built build folder, one line each: the
# working directory CTest runs them in, a tab, the program. They are taken
# from CTest's own list, so a new kelm_test() is found without a list to
# keep; tests that are no GoogleTest case (shell tests, fuzzer replays) are
# skipped. jq reads CTest's JSON in well under a second, where CMake's own
# string(JSON) took minutes over a listing of a thousand cases.
#   tools/gtest-programs.sh <build folder>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$#" -ne 1 ]; then
  echo "Usage: $0 <build folder>" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
# jq comes with the build's packages; a machine set up before it joined them
# gets it here.
"$root/tools/install-deps.sh"

# CTest lists a discovered case as its program run with a filter that names
# it; the program's folder is the case's WORKING_DIRECTORY, else the build
# folder.
listing=$(cd "$build" && ctest --show-only=json-v1)
jq -r --arg build "$build" '
  [.tests[]
   | select((.command | type) == "array"
            and any(.command[1:][]; startswith("--gtest_filter=")))
   | (first(.properties[]? | select(.name == "WORKING_DIRECTORY") | .value)
      // $build) + "\t" + .command[0]]
  | unique | .[]' <<<"$listing"
