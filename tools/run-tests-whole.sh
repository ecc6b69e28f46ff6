#!/usr/bin/env bash
# Runs every GoogleTest program of a built build folder once whole, its
# cases in shuffled order. CTest runs each case in a process of its own,
# which hides cases that depend on each other through process-wide state;
# this does not. Extra arguments go to every program (for example
# --gtest_repeat=3 or --gtest_random_seed=N to replay a failed order).
#   tools/run-tests-whole.sh [build-dir] [gtest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true

programs=$(cmake -DBUILD_DIR="$build" -P "$root/tools/gtest-programs.cmake")
if [ -z "$programs" ]; then
  echo "No GoogleTest programs found in $build" >&2
  exit 1
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# As many programs at once as CTest runs cases. A program that hangs is
# stopped after 15 minutes and counts as failed.
jobs=$(nproc)
while IFS=$'\t' read -r directory program; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  name=$(basename "$program")
  (
    status=0
    cd "$directory" &&
      timeout 900 "$program" --gtest_shuffle "$@" >"$logs/$name.log" 2>&1 ||
      status=$?
    echo "$status" >"$logs/$name.status"
  ) &
done <<<"$programs"
wait

failed=()
while IFS=$'\t' read -r directory program; do
  name=$(basename "$program")
  if [ "$(cat "$logs/$name.status")" != 0 ]; then
    failed+=("$name")
    echo "==== $name failed when run whole (status $(cat "$logs/$name.status")):"
    # The order's seed, each failure with what follows it, and the end of
    # the log (a crash shows there); the whole log would drown them.
    log=$logs/$name.log
    grep -E '^Note: Randomizing' "$log" || true
    grep -A 15 -E ': Failure$' "$log" | head -n 300 || true
    echo "---- end of the log:"
    tail -n 30 "$log"
  fi
done <<<"$programs"

count=$(wc -l <<<"$programs")
if [ "${#failed[@]}" -ne 0 ]; then
  echo "${#failed[@]} of $count GoogleTest programs failed when run whole: ${failed[*]}" >&2
  exit 1
fi
echo "All $count GoogleTest programs passed when run whole and shuffled."
