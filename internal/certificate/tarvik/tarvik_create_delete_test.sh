#!/usr/bin/env bash
# Runs create and delete end to end in a temporary home folder, and checks
# the written credentials with the openssl command-line tool as an
# independent peer.
#   tarvik_create_delete_test.sh <tarvik> <dev pki folder> <signing tool>
set -uo pipefail
tarvik=$1
pki=$2
signer=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
unset KELM_CLIENT_CERT KELM_CLIENT_PRIVKEY KELM_AUTH_DEV_MODEL_CHAIN \
  KELM_AUTH_DEV_GENERATE KELM_AUTH_DEV_SIGN
umask 022
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
mode() { stat -c %a "$1"; }

certs=$HOME/.config/kelm_shell/certs
cert=$certs/client.crt
key=$certs/client.key.bin

# create: both files, chain verifying up to the first development root.
"$tarvik" --action=create 2>"$work/err" >"$work/out"
status=$?
[ "$status" -eq 0 ] || fail "create exited $status: $(cat "$work/err")"
[ -s "$work/out" ] && fail "create wrote to standard output"
grep -q '\] Tarvik: create completed successfully\.$' "$work/err" ||
  fail "create: no closing record"
[ -f "$cert" ] && [ -f "$key" ] || fail "create did not write both files"
[ "$(mode "$cert")" = 644 ] || fail "certificate mode $(mode "$cert")"
[ "$(mode "$key")" = 644 ] || fail "key mode $(mode "$key")"
[ "$(mode "$certs")" = 700 ] || fail "certs folder mode $(mode "$certs")"

# Split the chain: the device certificate first, then the intermediates.
awk -v dir="$work" '/-----BEGIN CERTIFICATE-----/ { n++ }
  { print > (dir "/chain_" n ".pem") }' "$cert"
[ -f "$work/chain_1.pem" ] && [ -f "$work/chain_2.pem" ] ||
  fail "chain does not hold two certificates"
openssl verify -CAfile "$pki/root_ca_1.pem" -untrusted "$work/chain_2.pem" \
  -purpose sslclient "$work/chain_1.pem" >"$work/verify" 2>&1 ||
  fail "openssl does not verify the chain: $(cat "$work/verify")"
openssl x509 -in "$work/chain_1.pem" -noout -subject | grep -q 'DA:4E:71:' ||
  fail "device certificate does not carry the SSID"

# The wrapped key signs through the library; openssl checks the signature
# against the device certificate's public key.
openssl x509 -in "$work/chain_1.pem" -noout -pubkey >"$work/pub.pem"
printf 'payload to sign' >"$work/data"
"$signer" "$key" "$work/data" "$work/sig" || fail "signing through the library failed"
openssl dgst -sha256 -verify "$work/pub.pem" -signature "$work/sig" \
  "$work/data" >/dev/null 2>&1 || fail "signature does not match the certificate"
# The key file holds no private key in the clear.
if openssl pkey -in "$key" -inform DER -noout 2>/dev/null ||
  openssl pkey -in "$key" -noout 2>/dev/null; then
  fail "key file holds a readable private key"
fi

# delete: both files gone, status 0; a second delete still succeeds.
for round in 1 2; do
  "$tarvik" --action=delete 2>"$work/err" >"$work/out"
  status=$?
  [ "$status" -eq 0 ] || fail "delete ($round) exited $status"
  grep -q '\] Tarvik: delete completed successfully\.$' "$work/err" ||
    fail "delete ($round): no closing record"
  [ -e "$cert" ] || [ -e "$key" ] && fail "delete ($round) left a file"
done

# Paths from switches and from the environment.
"$tarvik" --action=Create --kelm_client_cert="$work/s/c.pem" \
  --kelm_client_privkey="$work/s/k.bin" 2>"$work/err"
[ $? -eq 0 ] && [ -f "$work/s/c.pem" ] && [ -f "$work/s/k.bin" ] ||
  fail "create with switches: $(cat "$work/err")"
grep -q '\] Tarvik: Create completed successfully\.$' "$work/err" ||
  fail "closing record does not repeat the word as typed"
KELM_CLIENT_CERT=$work/e/c.pem KELM_CLIENT_PRIVKEY=$work/e/k.bin \
  "$tarvik" --action=create 2>"$work/err"
[ $? -eq 0 ] && [ -f "$work/e/c.pem" ] && [ -f "$work/e/k.bin" ] ||
  fail "create with environment: $(cat "$work/err")"
[ -e "$cert" ] && fail "create with overridden paths wrote the default file"

# A platform failure: its record and status 1, no files.
KELM_AUTH_DEV_GENERATE=fail "$tarvik" --action=create 2>"$work/err"
[ $? -eq 1 ] || fail "failing library: status not 1"
grep -q '\] Create: Failed to create key and cert$' "$work/err" ||
  fail "failing library: no record"
grep -q '\] Tarvik: create failed\.$' "$work/err" ||
  fail "failing library: no closing record"
[ -e "$cert" ] || [ -e "$key" ] && fail "failing library left a file"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tarvik create/delete: all checks passed"
