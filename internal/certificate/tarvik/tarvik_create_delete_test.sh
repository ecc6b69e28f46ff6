#!/usr/bin/env bash
# Runs the four actions end to end in a temporary home folder, checks the
# written credentials with the openssl command-line tool as an independent
# peer, and checks that verify catches each single corruption of them. Every
# run is bounded by a time-out: a hang fails the test instead of stalling it.
#   tarvik_create_delete_test.sh <tarvik> <dev pki folder> <signing tool>
#                                 <another model's intermediate, DER>
set -uo pipefail
tarvik=$1
pki=$2
signer=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
mkdir -p "$HOME"
unset KELM_CLIENT_CERT KELM_CLIENT_PRIVKEY KELM_CLIENT_CERT_CHAIN \
  KELM_AUTH_DEV_MODEL_CHAIN KELM_AUTH_DEV_GENERATE KELM_AUTH_DEV_SIGN \
  KELM_AUTH_DEV_RESULT KELM_AUTH_DEV_CALL_LOG
other_intermediate=$4
umask 022
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
mode() { stat -c %a "$1"; }
# The tool, killed after 60 seconds (status 124 then).
tarvik() { timeout 60 "$tarvik" "$@"; }

certs=$HOME/.config/kelm_shell/certs
cert=$certs/client.crt
key=$certs/client.key.bin

# create: both files, chain verifying up to the first development root.
tarvik --action=create 2>"$work/err" >"$work/out"
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
  tarvik --action=delete 2>"$work/err" >"$work/out"
  status=$?
  [ "$status" -eq 0 ] || fail "delete ($round) exited $status"
  grep -q '\] Tarvik: delete completed successfully\.$' "$work/err" ||
    fail "delete ($round): no closing record"
  [ -e "$cert" ] || [ -e "$key" ] && fail "delete ($round) left a file"
done

# Paths from switches and from the environment.
tarvik --action=Create --kelm_client_cert="$work/s/c.pem" \
  --kelm_client_privkey="$work/s/k.bin" 2>"$work/err"
[ $? -eq 0 ] && [ -f "$work/s/c.pem" ] && [ -f "$work/s/k.bin" ] ||
  fail "create with switches: $(cat "$work/err")"
grep -q '\] Tarvik: Create completed successfully\.$' "$work/err" ||
  fail "closing record does not repeat the word as typed"
KELM_CLIENT_CERT=$work/e/c.pem KELM_CLIENT_PRIVKEY=$work/e/k.bin \
  tarvik --action=create 2>"$work/err"
[ $? -eq 0 ] && [ -f "$work/e/c.pem" ] && [ -f "$work/e/k.bin" ] ||
  fail "create with environment: $(cat "$work/err")"
[ -e "$cert" ] && fail "create with overridden paths wrote the default file"

# A platform failure: its record and status 1, no files.
KELM_AUTH_DEV_GENERATE=fail tarvik --action=create 2>"$work/err"
[ $? -eq 1 ] || fail "failing library: status not 1"
grep -q '\] Create: Failed to create key and cert$' "$work/err" ||
  fail "failing library: no record"
grep -q '\] Tarvik: create failed\.$' "$work/err" ||
  fail "failing library: no closing record"
[ -e "$cert" ] || [ -e "$key" ] && fail "failing library left a file"

# verify: on a fresh home it fails; after create it succeeds and writes the
# records of the whole road in order.
rm -rf "$HOME" && mkdir -p "$HOME"
tarvik --action=verify 2>"$work/err"
status=$?
[ "$status" -eq 1 ] || fail "verify on a fresh home exited $status"
grep -q "\] Couldn't load client certificate from file: $cert\$" "$work/err" ||
  fail "verify on a fresh home: no record of the missing file"
grep -q '\] Tarvik: verify failed\.$' "$work/err" ||
  fail "verify on a fresh home: no closing record"

tarvik --action=create 2>"$work/err" || fail "create before verify failed"
tarvik --action=verify 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "verify after create exited $status: $(cat "$work/err")"
expected_records=(
  'W.*client_auth_manager.cc:.*\] Pref service not available\. This should only happen in tests\.$'
  'I.*main.cc:.*\] Tarvik starting$'
  'I.*main.cc:.*\] Tarvik: action = verify$'
  'E.*cert_util.cc:.*\] Client certificate file is not specified, using default\.$'
  'I.*platform_client_auth_creds.cc:.*\] Loaded client certificate\. Key len = 2048 bits\. Chain len = 1 \(source FROM_CERT\)\.$'
  'E.*cert_util.cc:.*\] Private key file is not specified, using default\.$'
  'I.*client_auth_creds.cc:.*\] Intermediate cert: '
  'I.*client_auth_creds.cc:.*\] Imported client auth cert\.$'
  'I.*client_auth_creds.cc:.*\] Imported client auth private key$'
  'I.*client_auth_signer.cc:.*\] Created singleton instance of ClientAuthSigner\.$'
  'W.*client_auth_manager.cc:.*\] Pref service not available\. This should only happen in tests\.$'
  'I.*main.cc:.*\] Tarvik: verify completed successfully\.$'
)
mapfile -t records <"$work/err"
[ "${#records[@]}" -eq "${#expected_records[@]}" ] ||
  fail "verify wrote ${#records[@]} records, expected ${#expected_records[@]}: $(cat "$work/err")"
for i in "${!expected_records[@]}"; do
  [[ "${records[$i]:-}" =~ ${expected_records[$i]} ]] ||
    fail "verify record $i: '${records[$i]:-}' does not match '${expected_records[$i]}'"
done

# The signature crosses three threads: the signing thread signs, exactly
# once per verify (the cache lives in one process only).
export KELM_AUTH_DEV_CALL_LOG=$work/calls
rm -f "$KELM_AUTH_DEV_CALL_LOG"
tarvik --action=verify 2>/dev/null || fail "verify with call log failed"
[ "$(grep -c KelmAuth_SignHash "$KELM_AUTH_DEV_CALL_LOG")" = 1 ] ||
  fail "verify did not sign exactly once"

# ensure: on a fresh home it creates; a second ensure only verifies.
rm -rf "$HOME" && mkdir -p "$HOME"
rm -f "$KELM_AUTH_DEV_CALL_LOG"
tarvik --action=ensure 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "ensure on a fresh home exited $status: $(cat "$work/err")"
[ -f "$cert" ] && [ -f "$key" ] || fail "ensure did not create the files"
grep -q '\] Tarvik: ensure completed successfully\.$' "$work/err" ||
  fail "ensure: no closing record"
cp "$cert" "$work/ensured.crt"
tarvik --action=ensure 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || fail "second ensure exited $status"
[ "$(grep -c KelmAuth_GenerateDeviceKeyAndCert "$KELM_AUTH_DEV_CALL_LOG")" = 1 ] ||
  fail "second ensure generated again"
cmp -s "$cert" "$work/ensured.crt" || fail "second ensure rewrote the certificate"
unset KELM_AUTH_DEV_CALL_LOG

# Each corruption: verify exits 1 with its record and leaves both files as
# they were. Every case starts from a good pair saved here.
cp "$cert" "$work/good.crt"
cp "$key" "$work/good.key"
# A key of another device, from a create in another home.
HOME=$work/other tarvik --action=create 2>/dev/null || fail "second device create failed"
cp "$work/other/.config/kelm_shell/certs/client.key.bin" "$work/foreign.key"
# The device certificate with the SSID's second letter changed: the DER is
# rewritten in place (its own signature is not checked by verify).
openssl x509 -in "$work/good.crt" -outform DER -out "$work/device.der"
LC_ALL=C sed 's/DA:4E:71:/DX:4E:71:/' "$work/device.der" >"$work/wrong_ssid.der"
cmp -s "$work/device.der" "$work/wrong_ssid.der" && fail "SSID not found in the device certificate"
{
  echo '-----BEGIN CERTIFICATE-----'
  base64 -w 64 "$work/wrong_ssid.der"
  echo '-----END CERTIFICATE-----'
  awk 'found { print } /-----END CERTIFICATE-----/ { found = 1 }' "$work/good.crt"
} >"$work/wrong_ssid.crt"
openssl x509 -in "$other_intermediate" -inform DER -out "$work/other_int.pem"
awk 'NR == 1, /-----END CERTIFICATE-----/' "$work/good.crt" >"$work/device_only.pem"
cat "$work/device_only.pem" "$work/other_int.pem" >"$work/other_model.crt"
head -c 700 "$work/good.crt" >"$work/truncated.crt"
# Flip characters in the middle of the device certificate's base64 body.
sed '5s/[A-Za-z]/Q/g' "$work/good.crt" >"$work/garbled.crt"

# name | certificate file | key file | environment | expected record
corruptions=(
  "truncated certificate|truncated.crt|good.key||Error parsing certificate chain - not enough certificates\."
  "garbled certificate|garbled.crt|good.key||Couldn't obtain client certificate signature length\."
  "chain of another model|other_model.crt|good.key||Verify: the client certificate chain does not match the model chain\.$"
  "key of another device|good.crt|foreign.key||Verify: Failed to verify signature$"
  "SSID does not match|wrong_ssid.crt|good.key||Verify: Found wrong value in BSSID field\."
  "platform signing fails|good.crt|good.key|KELM_AUTH_DEV_SIGN=fail|Verify: Failed to create signature\."
  "platform signs wrongly|good.crt|good.key|KELM_AUTH_DEV_SIGN=corrupt|Verify: Failed to verify signature$"
  "no model chain|good.crt|good.key|KELM_AUTH_DEV_MODEL_CHAIN=fail|Verify: no model cert chain available\."
  "model template without placeholder|good.crt|good.key|KELM_AUTH_DEV_MODEL_CHAIN=no_placeholder|Verify: the model template holds no BSSID placeholder\.$"
)
for row in "${corruptions[@]}"; do
  IFS='|' read -r name cert_file key_file environment record <<<"$row"
  cp "$work/$cert_file" "$cert"
  cp "$work/$key_file" "$key"
  before=$(sha256sum "$cert" "$key")
  env $environment timeout 60 "$tarvik" --action=verify 2>"$work/err"
  status=$?
  [ "$status" -eq 1 ] || fail "$name: verify exited $status"
  grep -q "\] $record" "$work/err" || fail "$name: no record '$record': $(cat "$work/err")"
  grep -q '\] Tarvik: verify failed\.$' "$work/err" || fail "$name: no closing record"
  [ "$(sha256sum "$cert" "$key")" = "$before" ] || fail "$name: verify changed the files"
done
# Another model's chain fails with an ERROR record of verify's own.
cp "$work/other_model.crt" "$cert"
cp "$work/good.key" "$key"
tarvik --action=verify 2>"$work/err"
grep -q '^E.*\] Verify: the client certificate chain does not match the model chain\.$' "$work/err" ||
  fail "another model's chain: no ERROR record of verify's own: $(cat "$work/err")"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "tarvik create/delete/verify/ensure: all checks passed"
