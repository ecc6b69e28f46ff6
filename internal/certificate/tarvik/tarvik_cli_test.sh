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

# The action word is shown escaped: a value holding a newline cannot forge a
# record, and a backslash is doubled so that every shown word reads back to
# one value.
run "--action=x"$'\n''E0000 00:00:1.000000       1 forged.cc:1] forged'
expect_status 1 "forged action"
expect_record "forged action" 'Tarvik: action = x\\nE0000 00:00:1\.000000       1 forged\.cc:1\] forged$'
check_prefixes "forged action"
grep -q '^E0000 00:00:1\.000000' "$work/err" && fail "forged action: a forged record"
run '--action=a\nb'
expect_record "backslash action" 'Tarvik: action = a\\\\nb$'

# An unparsable log threshold is fatal before any action (status 134), and
# its record shows the value escaped too.
PLOVEX_STDERRTHRESHOLD="lo\\ud"$'\n''E0000 00:00:1.000000       1 forged.cc:1] forged' run --action=verify
expect_status 134 "unparsable threshold"
expect_record "unparsable threshold" "Invalid PLOVEX_STDERRTHRESHOLD value 'lo\\\\\\\\ud\\\\nE0000 00:00:1\\.000000       1 forged\\.cc:1\\] forged'"
grep -q '^E0000 00:00:1\.000000' "$work/err" && fail "unparsable threshold: a forged record"
grep -q 'Tarvik starting' "$work/err" && fail "unparsable threshold: the tool started"

# A path with a backslash shows it doubled, and one with a newline as \n:
# the two records differ.
run --action=verify "--kelm_client_cert=$work/a\nb"
expect_record "backslash path" "Couldn't load client certificate from file: $work/a\\\\\\\\nb$"
run --action=verify "--kelm_client_cert=$work/a"$'\n'"b"
expect_record "newline path" "Couldn't load client certificate from file: $work/a\\\\nb$"
grep -q 'a\\\\nb$' "$work/err" && fail "newline path: shown as the backslash path"

# A misspelt switch never sends a file elsewhere: the writers refuse every
# switch that tarvik does not read, naming it, before anything is touched;
# verify ignores it.
mkdir -p "$work/p"
for action in create delete ensure; do
  run --action=$action --kelm_client_crt="$work/p/c.crt" \
    --kelm_client_privkey="$work/p/k.bin"
  expect_status 1 "misspelt switch: $action"
  expect_record "misspelt switch: $action" "${action^}: the switch --kelm_client_crt is not one that tarvik reads; nothing was changed\.$"
  expect_record "misspelt switch: $action" "Tarvik: $action failed\.$"
  [ -z "$(ls -A "$work/p")" ] && [ ! -e "$HOME/.config" ] ||
    fail "misspelt switch: $action wrote $(ls -A "$work/p") $(ls -A "$HOME")"
done
run --action=create --Kelm_Client_Cert="$work/p/c.crt" "--x"$'\n'"y"
expect_record "odd switches" "Create: the switch --Kelm_Client_Cert is not one that tarvik reads; nothing was changed\.$"
expect_record "odd switches" "Create: the switch --x\\\\ny is not one that tarvik reads; nothing was changed\.$"
run --action=verify --kelm_client_crt="$work/p/c.crt"
expect_record "misspelt switch: verify" "Couldn't load client certificate from file: $HOME/\.config/kelm_shell/certs/client\.crt$"
grep -q 'is not one that tarvik reads' "$work/err" && fail "verify refused a switch"

# A home folder whose ".." leads nowhere: every action fails naming the
# variable, with status 1 and no fatal error.
for action in verify delete create ensure; do
  HOME=$work/no/../home run --action=$action
  expect_status 1 "unresolvable HOME: $action"
  expect_record "unresolvable HOME: $action" "${action^}: the home folder HOME=$work/no/\.\./home has a \"\.\.\" component that leads to no folder, so the default credential files cannot be found; nothing was changed\.$"
  grep -q 'Check failed' "$work/err" && fail "unresolvable HOME: $action: fatal"
  [ -e "$work/home/.config" ] && fail "unresolvable HOME: $action made files"
done

# Where the files go: a switch wins over its variable, lower-case variable
# names are found too, and without HOME the default folder lies under
# $TMPDIR.
run --action=create --kelm_client_cert="$work/p/switch.crt" \
  --kelm_client_privkey="$work/p/switch.key"
KELM_CLIENT_CERT=$work/p/variable.crt run --action=verify \
  --kelm_client_cert="$work/p/switch.crt" --kelm_client_privkey="$work/p/switch.key"
expect_status 0 "switch over variable"
kelm_client_cert=$work/p/switch.crt kelm_client_privkey=$work/p/switch.key \
  run --action=verify
expect_status 0 "lower-case variables"
mkdir -p "$work/tmpdir"
env -u HOME TMPDIR="$work/tmpdir" "$tarvik" --action=ensure 2>"$work/err" ||
  fail "no HOME: ensure failed: $(cat "$work/err")"
[ -s "$work/tmpdir/.config/kelm_shell/certs/client.crt" ] ||
  fail "no HOME: no certificate under TMPDIR"

# A successful run on the default paths: ensure makes the pair, then verify
# passes, logging the WARNING about the preference store and the two ERROR
# records about the default paths, which are expected.
rm -rf "$HOME/.config"
run --action=ensure
expect_status 0 "ensure on a fresh home"
run --action=verify
expect_status 0 "verify after ensure"
for text in "Client certificate file is not specified, using default\." \
  "Private key file is not specified, using default\."; do
  grep -Eq "^E0000 [^]]*\] $text$" "$work/err" || fail "verify: no ERROR record '$text'"
done
grep -Eq '^W0000 [^]]*\] Pref service not available' "$work/err" ||
  fail "verify: no WARNING about the preference store"
expect_record "verify after ensure" 'Tarvik: verify completed successfully\.$'

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tarvik command line: all checks passed"
