#!/usr/bin/env bash
# Runs the built tool the way a user does and checks its records, standard
# output and exit status.
#   tarvik_cli_test.sh <path to tarvik>
set -uo pipefail
tarvik=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs tarvik with the given arguments; leaves status, stderr and stdout.
run() {
  "$tarvik" "$@" >"$work/out" 2>"$work/err"
  status=$?
  if [ -s "$work/out" ]; then fail "$* wrote to standard output"; fi
}

prefix='^[IWEF]0000 00:00:[0-9]+\.[0-9]{6} [ 0-9]{6}[0-9]+ [^ :]+:[0-9]+\] '

expect_record() {  # <description> <extended regex for the text after the prefix>
  grep -Eq "${prefix}$2" "$work/err" || fail "$1: no record matching '$2'"
}

expect_status() {
  [ "$status" -eq "$1" ] || fail "$2: exit status $status, want $1"
}

# Every line is a prefixed record, apart from the usage record's own lines.
check_prefixes() {
  local usage_lines='^(<action> is one of:|verify - check whether the device is already individualized;|delete - removes any existing individualization;|create - delete, then individualize the device;|ensure - verify, and create if failed\.)$'
  while IFS= read -r line; do
    if ! [[ $line =~ $prefix ]] && ! [[ $line =~ $usage_lines ]]; then
      fail "$1: line without the record prefix: $line"
    fi
  done <"$work/err"
}

# An unknown word: the six-line usage record and status 1.
run --action=bogus
expect_status 1 "bogus action"
expect_record "bogus action" 'Tarvik: action = bogus$'
grep -Ezq "\] tarvik --action=<action> \[--logtofile\]
<action> is one of:
verify - check whether the device is already individualized;
delete - removes any existing individualization;
create - delete, then individualize the device;
ensure - verify, and create if failed\.
" "$work/err" || fail "bogus action: usage record differs"
grep -Eq '\] Tarvik: bogus (completed successfully\.|failed\.)$' "$work/err" &&
  fail "bogus action: closing record written"
check_prefixes "bogus action"

# The run begins with the WARNING about the missing preference store, then
# "Tarvik starting", then the action record, in this order and with these
# severities.
first_records=$(sed -nE "s/^([IWEF])0000 [^]]*\] /\1 /p" "$work/err" |
  head -n 3)
expected_first='W Pref service not available. This should only happen in tests.
I Tarvik starting
I Tarvik: action = bogus'
[ "$first_records" = "$expected_first" ] ||
  fail "first records out of order: $first_records"

# A shortened word matches nothing.
run --action=verif
expect_status 1 "shortened word"
grep -q "tarvik --action=<action> \[--logtofile\]" "$work/err" ||
  fail "shortened word: no usage record"

# An empty or missing action runs verify; the action record shows it empty.
for args in "--action=" "--action" ""; do
  run $args
  expect_record "'$args'" 'Tarvik: action = $'
  expect_record "'$args'" 'Tarvik: verify (completed successfully\.|failed\.)$'
  check_prefixes "'$args'"
done

# A byte outside ASCII reads as an empty action, so verify runs.
run "--action=v$(printf '\xc3\xa9')rify"
expect_record "non-ASCII" 'Tarvik: action = $'
expect_record "non-ASCII" 'Tarvik: verify '

# Case is ignored, and the closing record repeats the word as typed; a
# single dash works, blanks around the argument are trimmed, the last
# switch wins, and anything after a bare -- is not a switch.
run "--action=VeRiFy"
expect_record "mixed case" 'Tarvik: VeRiFy (completed successfully\.|failed\.)$'
run "-action=bogus2"
expect_record "single dash" 'Tarvik: action = bogus2$'
run " --action=bogus3 "
expect_record "blanks" 'Tarvik: action = bogus3$'
run --action=bogus4 --action=bogus5
expect_record "last wins" 'Tarvik: action = bogus5$'
run -- --action=bogus6
expect_record "after --" 'Tarvik: action = $'

# --logtofile where the parent folder is missing changes nothing.
run --logtofile --action=bogus7
expect_status 1 "logtofile"
expect_record "logtofile" 'Tarvik: action = bogus7$'

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tarvik command line: all checks passed"
