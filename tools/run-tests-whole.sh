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

echo "Listing the GoogleTest programs of $build..."
started=$SECONDS
programs=$("$root/tools/gtest-programs.sh" "$build")
if [ -z "$programs" ]; then
  echo "No GoogleTest programs found in $build" >&2
  exit 1
fi
count=$(wc -l <<<"$programs")
echo "Found $count programs in $((SECONDS - started)) s."

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# The seed the arguments name; without one each program takes its own from
# the clock and prints it (the lines below show it).
order="each program's seed from the clock"
for argument in "$@"; do
  case $argument in --gtest_random_seed=*) order="seed ${argument#*=}" ;; esac
done
# As many programs at once as CTest runs cases. A program that hangs is
# stopped after 15 minutes and counts as failed.
jobs=$(nproc)
echo "Running $count programs whole, shuffled ($order), $jobs at once..."

# One program: writes its log and status, and prints
# "<status> <seconds> <seed> <name>" when it ends.
run_one() {
  local directory=$1 program=$2
  shift 2
  local name status=0 started=$SECONDS seed
  name=$(basename "$program")
  (cd "$directory" &&
    timeout 900 "$program" --gtest_shuffle "$@" >"$logs/$name.log" 2>&1) ||
    status=$?
  echo "$status" >"$logs/$name.status"
  seed=$(sed -n "s/^Note: Randomizing tests' orders with a seed of \([0-9]*\).*/\1/p" \
    "$logs/$name.log" 2>/dev/null | head -n 1) || seed=-
  echo "$status $((SECONDS - started)) ${seed:--} $name"
}

# Programs end in any order; each is numbered as it ends.
{
  while IFS=$'\t' read -r directory program; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
    run_one "$directory" "$program" "$@" &
  done <<<"$programs"
  wait
} | {
  ended=0
  while read -r status seconds order_seed name; do
    ended=$((ended + 1))
    outcome=passed
    [ "$status" = 0 ] || outcome="FAILED (status $status)"
    echo "[$ended/$count] $name $outcome in $seconds s (seed $order_seed)"
  done
}

failed=()
while IFS=$'\t' read -r directory program; do
  name=$(basename "$program")
  if [ "$(cat "$logs/$name.status" 2>/dev/null)" != 0 ]; then
    failed+=("$name")
    echo "==== $name failed when run whole (status $(cat "$logs/$name.status" 2>/dev/null || echo none)):"
    # The order's seed, each failure with what follows it, and the end of
    # the log (a crash shows there); the whole log would drown them.
    log=$logs/$name.log
    grep -E '^Note: Randomizing' "$log" 2>/dev/null || true
    grep -A 15 -E ': Failure$' "$log" 2>/dev/null | head -n 300 || true
    echo "---- end of the log:"
    tail -n 30 "$log" 2>/dev/null || echo "(no log: the program could not be started in its folder)"
  fi
done <<<"$programs"

if [ "${#failed[@]}" -ne 0 ]; then
  echo "${#failed[@]} of $count GoogleTest programs failed when run whole: ${failed[*]}" >&2
  exit 1
fi
echo "All $count GoogleTest programs passed when run whole and shuffled."
