#!/usr/bin/env bash
# Shows that the certificate and the key are never one file, whatever the
# paths say (bind mounts, links that loop), that the cleanup of leftovers
# never takes a credential file of the run, and that a folder that cannot be
# flushed after the certificate took the old one's place still ends with a
# whole pair. Each case compares the files' bytes before and after.
#   tarvik_same_file_test.sh <tarvik>
# The bind-mount cases run in a private mount namespace, where the script
# calls itself as
#   tarvik_same_file_test.sh <tarvik> --mount-cases <work folder>
set -uo pipefail
# Absolute, as some runs start in another folder.
tarvik_binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source "$(dirname "$0")/testing/credential_test_lib.sh"
# Everything below a folder: names, link texts and the files' hashes.
tree_state() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while read -r entry; do
    if [ -L "$entry" ]; then
      echo "$entry -> $(readlink "$entry")"
    elif [ -d "$entry" ]; then
      echo "$entry/"
    else
      echo "$entry $(sha256sum <"$entry" | cut -c1-64)"
    fi
  done)
}
# <case> <record>: the run failed with the ERROR record and the closing one.
refused() {
  [ "$status" -eq 1 ] || fail "$1: status $status: $(cat "$work/err")"
  grep -q "^E.*\] $2" "$work/err" || fail "$1: no ERROR record: $(cat "$work/err")"
  has_record "$work/err" "Tarvik: $action failed\.$" || fail "$1: no closing record"
}

# 1. Two folders that are one through a bind mount: the certificate and the
# key under the same name in both are one file, the folder below there or
# not, the files there or not. Run in a private mount namespace.
if [ "${2:-}" = --mount-cases ]; then
  work=$3
  bind=$work/bind
  mkdir -p "$bind/A" "$bind/B" || exit 1
  if ! mount --bind "$bind/A" "$bind/B" 2>"$work/err"; then
    echo "SKIP: the bind-mount cases: mounting is not permitted here: $(cat "$work/err")"
    exit 0
  fi
  printf 'only one' >"$bind/A/existing"
  # certificate | key
  mount_cases=(
    "A/N/x|B/N/x"
    "A/x|B/x"
    "A/N/./x|B//N/x"
    "B/N/x|A/N/x"
    "A/existing|B/existing"
  )
  for row in "${mount_cases[@]}"; do
    IFS='|' read -r c k <<<"$row"
    for action in create ensure delete; do
      before=$(tree_state "$bind/A")
      tarvik --action=$action --kelm_client_cert="$bind/$c" \
        --kelm_client_privkey="$bind/$k" 2>"$work/err"
      status=$?
      refused "bind mount $row: $action" \
        "${action^}: the certificate file $bind/$c and the key file $bind/$k are one file; nothing was changed\.$"
      [ "$(tree_state "$bind/A")" = "$before" ] ||
        fail "bind mount $row: $action changed $(tree_state "$bind/A")"
    done
  done
  # Two names in the one folder are two files.
  tarvik --action=create --kelm_client_cert="$bind/A/pair.crt" \
    --kelm_client_privkey="$bind/B/pair.key" 2>"$work/err" ||
    fail "bind mount: a pair of two names: $(cat "$work/err")"
  tarvik --action=verify --kelm_client_cert="$bind/B/pair.crt" \
    --kelm_client_privkey="$bind/A/pair.key" 2>"$work/err" ||
    fail "bind mount: the pair of two names does not verify: $(cat "$work/err")"
  umount "$bind/B" || fail "could not unmount $bind/B"
  exit "$failures"
fi

work=$(mktemp -d) || { echo "FAIL: no temporary folder" >&2; exit 1; }
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME" || { echo "FAIL: cannot make $HOME" >&2; exit 1; }

if unshare -m --propagation private true 2>"$work/err"; then
  unshare -m --propagation private "$0" "$tarvik_binary" --mount-cases "$work"
  mount_failures=$?
  failures=$((failures + mount_failures))
else
  echo "SKIP: the bind-mount cases: no private mount namespace here: $(cat "$work/err")"
fi

# 2. A link that loops through itself at the certificate's last name, and
# the key that reaches the same entry through a folder link: one file. A
# path whose links cannot be followed may be any file: refused too.
loop=$work/loop
mkdir -p "$loop/certs"
ln -s client.crt/x "$loop/certs/client.crt"
ln -s certs "$loop/alias"
ln -s self "$loop/self"
# certificate | key | record
loop_cases=(
  "certs/client.crt|alias/client.crt|the certificate file certs/client.crt and the key file alias/client.crt are one file"
  "alias/./client.crt|$loop/certs/client.crt|the certificate file alias/\./client\.crt and the key file $loop/certs/client\.crt are one file"
  "self/client.crt|certs/client.key|cannot tell whether the certificate file self/client\.crt and the key file certs/client\.key are one file"
  "certs/client.key|certs/client.crt/k|cannot tell whether the certificate file certs/client\.key and the key file certs/client\.crt/k are one file"
)
for row in "${loop_cases[@]}"; do
  IFS='|' read -r c k record <<<"$row"
  for action in create ensure delete; do
    before=$(tree_state "$loop")
    (cd "$loop" && tarvik --action=$action --kelm_client_cert="$c" \
      --kelm_client_privkey="$k" 2>"$work/err")
    status=$?
    refused "loop $c $k: $action" "${action^}: $record; nothing was changed\.$"
    [ "$(tree_state "$loop")" = "$before" ] ||
      fail "loop $c $k: $action changed $(tree_state "$loop")"
  done
done

# 3. A key whose name is a leftover's name beside the certificate is no
# leftover: a create or ensure that fails keeps the pair, whatever the
# spelling of the key, while a real leftover still goes.
clean=$work/clean
mkdir -p "$clean/certs"
ln -s certs "$clean/alias"
clean_cert=$clean/certs/client.crt
clean_key=$clean/certs/.client.crt.tarvik-abc123
tarvik --action=create --kelm_client_cert="$clean_cert" \
  --kelm_client_privkey="$clean_key" 2>"$work/err" ||
  fail "leftover-named key: create: $(cat "$work/err")"
for key_spelling in certs/.client.crt.tarvik-abc123 \
  alias/.client.crt.tarvik-abc123 "$clean/certs/./.client.crt.tarvik-abc123"; do
  for action in create ensure; do
    printf 'stale' >"$clean/certs/.client.crt.tarvik-Zz9999"
    before=$(state "$clean_cert" "$clean_key")
    (cd "$clean" && KELM_AUTH_DEV_GENERATE=fail KELM_AUTH_DEV_SIGN=fail \
      tarvik --action=$action --kelm_client_cert=certs/client.crt \
      --kelm_client_privkey="$key_spelling" 2>"$work/err")
    status=$?
    refused "leftover-named key $key_spelling: $action" \
      "Create: Failed to create key and cert$"
    [ "$(state "$clean_cert" "$clean_key")" = "$before" ] ||
      fail "leftover-named key $key_spelling: $action did not keep the pair"
    [ -e "$clean/certs/.client.crt.tarvik-Zz9999" ] &&
      fail "leftover-named key $key_spelling: $action kept the real leftover"
    tarvik --action=verify --kelm_client_cert="$clean_cert" \
      --kelm_client_privkey="$clean_key" 2>"$work/err" ||
      fail "leftover-named key $key_spelling: $action: the pair does not verify"
  done
done

# A chain file of such a name stays through every writing action.
chain_dir=$work/chain
mkdir -p "$chain_dir"
ln -s "$chain_dir" "$work/chain_alias"
chain=$chain_dir/.client.crt.tarvik-abc123
printf '# the model chain is in the certificate file\n' >"$chain"
chain_before=$(state "$chain")
# how the chain is named
chain_names=(
  "--kelm_client_cert_chain=$chain"
  "KELM_CLIENT_CERT_CHAIN=$work/chain_alias/.client.crt.tarvik-abc123"
)
for how in "${chain_names[@]}"; do
  for action in ensure create delete; do
    printf 'stale' >"$chain_dir/.client.crt.tarvik-Zz9999"
    if [ "${how#--}" != "$how" ]; then
      tarvik --action=$action --kelm_client_cert="$chain_dir/client.crt" \
        --kelm_client_privkey="$chain_dir/client.key" "$how" 2>"$work/err"
    else
      env "$how" timeout 60 "$tarvik_binary" --action=$action \
        --kelm_client_cert="$chain_dir/client.crt" \
        --kelm_client_privkey="$chain_dir/client.key" 2>"$work/err"
    fi
    status=$?
    [ $status -eq 0 ] || fail "chain ${how%%=*}: $action: status $status: $(cat "$work/err")"
    [ "$(state "$chain")" = "$chain_before" ] ||
      fail "chain ${how%%=*}: $action did not keep the chain file"
    [ -e "$chain_dir/.client.crt.tarvik-Zz9999" ] &&
      fail "chain ${how%%=*}: $action kept the real leftover"
    if [ $action != delete ]; then
      tarvik --action=verify --kelm_client_cert="$chain_dir/client.crt" \
        --kelm_client_privkey="$chain_dir/client.key" \
        --kelm_client_cert_chain="$chain" 2>"$work/err" ||
        fail "chain ${how%%=*}: $action: the pair does not verify: $(cat "$work/err")"
    fi
  done
done

# 4. A folder that cannot be flushed: the certificate's rename works, the
# flush after it does not. Create and ensure still put the key beside it,
# and fail saying why: the new pair is whole. Root may open any folder, so
# the runs are nobody's; the tool and the library it loads through its run
# path must then be reachable by nobody, or are copied where they are.
setup_runner
flush=$work/flush
mkdir -m 755 "$flush"
flush_certs=$flush/certs
mkdir -m 755 "$flush_certs"
flush_cert=$flush_certs/client.crt
flush_key=$flush_certs/client.key.bin
[ "$(id -u)" -eq 0 ] && chown nobody "$flush_certs"
for action in create ensure; do
  tarvik --action=create --kelm_client_cert="$flush_cert" \
    --kelm_client_privkey="$flush_key" 2>"$work/err" ||
    fail "flush: create: $(cat "$work/err")"
  before=$(state "$flush_cert" "$flush_key")
  chmod 333 "$flush_certs"
  as_runner env HOME="$flush" KELM_AUTH_DEV_SIGN=fail timeout 60 \
    "$runner_tool" --action=$action --kelm_client_cert="$flush_cert" \
    --kelm_client_privkey="$flush_key" 2>"$work/err"
  status=$?
  chmod 755 "$flush_certs"
  refused "flush: $action" \
    "StagedFile: cannot flush the folder $flush_certs: Permission denied$"
  after=$(state "$flush_cert" "$flush_key")
  if [ "$after" != "$before" ]; then
    # Not the old pair: it must be the whole new one.
    [ "$(echo "$after" | sed -n 1p)" != "$(echo "$before" | sed -n 1p)" ] &&
      [ "$(echo "$after" | sed -n 2p)" != "$(echo "$before" | sed -n 2p)" ] ||
      fail "flush: $action left a mixed pair"
    tarvik --action=verify --kelm_client_cert="$flush_cert" \
      --kelm_client_privkey="$flush_key" 2>"$work/err" ||
      fail "flush: $action: the pair does not verify: $(grep '\] ' "$work/err" | tail -2)"
  fi
  [ -z "$(temporaries "$flush_certs")" ] || fail "flush: $action left $(temporaries "$flush_certs")"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tarvik same file: all checks passed"
