#!/usr/bin/env bash
# Runs every GoogleTest program of a built build folder whole, its cases
# shuffled, once for each seed of a range, and prints per program how many
# orders passed. A failed order is kept as <program>.<seed>.log in the log
# folder and replays with
#   <program> --gtest_shuffle --gtest_random_seed=<seed>
# in the program's folder. CI does not run this (it takes long); run it
# after changing tests that share process-wide state.
#   tools/sweep-test-orders.sh [build-dir] [first-seed] [last-seed] [program-regex]
# KELM_SWEEP_JOBS programs run at once (default 4); KELM_SWEEP_LOGS names
# the log folder (default: a new temporary one, which is kept).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
first=${2:-1}
last=${3:-100}
pattern=${4:-.}
jobs=${KELM_SWEEP_JOBS:-4}
logs=${KELM_SWEEP_LOGS:-$(mktemp -d -t sweep-test-orders.XXXXXX)}
mkdir -p "$logs"

echo "Listing the GoogleTest programs of $build..."
started=$SECONDS
programs=$("$root/tools/gtest-programs.sh" "$build" |
  awk -F'\t' -v pattern="$pattern" '$2 ~ pattern')
if [ -z "$programs" ]; then
  echo "No GoogleTest programs found in $build" >&2
  exit 1
fi
count=$(wc -l <<<"$programs")
echo "Found $count programs in $((SECONDS - started)) s."
orders=$((count * (last - first + 1)))
echo "Running $count programs whole, shuffled, seeds $first..$last ($orders orders), $jobs at once; logs in $logs"

# One order: prints "<program> <seed> <status>".
run_one() {
  local directory=$1 program=$2 seed=$3 logs=$4
  local name status=0
  name=$(basename "$program")
  (cd "$directory" &&
    timeout 900 "$program" --gtest_shuffle --gtest_random_seed="$seed" \
      >"$logs/$name.$seed.log" 2>&1) || status=$?
  [ "$status" = 0 ] && rm -f "$logs/$name.$seed.log"
  echo "$name $seed $status"
}
export -f run_one

# Seed-major, so that every program is under way early and a slow one does
# not run alone at the end.
for seed in $(seq "$first" "$last"); do
  while IFS=$'\t' read -r directory program; do
    printf '%s\0%s\0%s\0%s\0' "$directory" "$program" "$seed" "$logs"
  done <<<"$programs"
done | xargs -0 -n 4 -P "$jobs" bash -c 'run_one "$@"' _ |
  tee "$logs/results.txt" | {
    # A failed order at once, and a count every twentieth of the way.
    ended=0 failures=0 step=$(((orders + 19) / 20))
    while read -r name seed status; do
      ended=$((ended + 1))
      if [ "$status" != 0 ]; then
        failures=$((failures + 1))
        echo "[$ended/$orders] $name seed $seed FAILED (status $status): $logs/$name.$seed.log"
      fi
      if [ $((ended % step)) = 0 ] || [ "$ended" = "$orders" ]; then
        echo "[$ended/$orders] orders run, $failures failed"
      fi
    done
  }

failed=0
printf '%-48s %s\n' program "orders passed"
while IFS=$'\t' read -r directory program; do
  name=$(basename "$program")
  tried=$(awk -v n="$name" '$1 == n' "$logs/results.txt" | wc -l)
  passed=$(awk -v n="$name" '$1 == n && $3 == 0' "$logs/results.txt" | wc -l)
  printf '%-48s %d/%d\n' "$name" "$passed" "$tried"
  [ "$passed" = "$tried" ] || failed=1
done <<<"$programs"
if [ "$failed" != 0 ]; then
  echo "Failed orders (program, seed, status):"
  awk '$3 != 0' "$logs/results.txt" | sort -k1,1 -k2,2n
  exit 1
fi
