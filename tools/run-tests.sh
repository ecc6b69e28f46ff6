#!/usr/bin/env bash
# Sets the machine up if needed, builds everything and runs every test.
#   tools/run-tests.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/tools/build.sh" "$build" "$@"
cd "$build"
ctest --output-on-failure -j "$(nproc)" ${KELM_CTEST_ARGS:-}
