#!/usr/bin/env bash
# Sets the machine up if needed, builds, and runs tarvik with the arguments
# given, e.g. tools/run-tarvik.sh --action=verify
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
KELM_NINJA_TARGETS=tarvik "$root/tools/build.sh" "$root/build" >&2
exec "$root/build/internal/certificate/tarvik/tarvik" "$@"
