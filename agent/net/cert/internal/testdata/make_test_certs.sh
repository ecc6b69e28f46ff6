#!/usr/bin/env bash
# Makes the certificates that the certificate parsing, chain verification
# and certificate object tests read, with the openssl command line, and
# writes them beside this script as DER (<name>.der); a few PEM and PKCS#7
# bundles are written too. The output is committed: the build never runs
# this script. Keys are made fresh on every run and thrown away, so a run
# gives new bytes but the same forms (names, serial numbers, dates,
# extensions). The tests compare subjects, serial numbers and dates with
# what `openssl x509` prints, which fixtures.txt records.
#
# Every certificate is valid from 2020-01-01 to 2040-01-01 unless its line
# below says otherwise; the tests verify at 2025-06-01 12:00:00 UTC.
#
# Usage: make_test_certs.sh [output-dir]   (default: this script's folder)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
# shellcheck source-path=SCRIPTDIR source=../../../../../tools/test_pki_lib.sh
source "$here/../../../../../tools/test_pki_lib.sh"
pki_begin from=20200101000000Z until=20400101000000Z

# 1.3.6.1.4.1.55555: an enterprise arc that no real policy uses.
P1=1.3.6.1.4.1.55555.1.1
P2=1.3.6.1.4.1.55555.2.1
P9=1.3.6.1.4.1.55555.9.9

pki_extensions <<CNF
[ root ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash

[ intermediate ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
authorityInfoAccess    = caIssuers;URI:http://ca.test.example/root.der, OCSP;URI:http://ocsp.test.example/

[ intermediate_pathlen0 ]
basicConstraints       = critical, CA:true, pathlen:0
keyUsage               = critical, keyCertSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_no_bc ]
keyUsage               = critical, keyCertSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_not_ca ]
basicConstraints       = critical, CA:false
keyUsage               = critical, keyCertSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_no_keycertsign ]
basicConstraints       = critical, CA:true
keyUsage               = critical, digitalSignature
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_eku_server ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign
extendedKeyUsage       = serverAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_nc ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign
nameConstraints        = critical, permitted;DNS:allowed.test.example
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_policy ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign
certificatePolicies    = $P1
policyMappings         = critical, $P1:$P2
policyConstraints      = critical, requireExplicitPolicy:0
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_any_policy ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign
certificatePolicies    = 2.5.29.32.0
policyConstraints      = critical, requireExplicitPolicy:0
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_inhibit_any ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign
certificatePolicies    = 2.5.29.32.0
policyConstraints      = critical, requireExplicitPolicy:0
inhibitAnyPolicy       = critical, 0
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ intermediate_nc_dir ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign
nameConstraints        = critical, permitted;dirName:nc_allowed_dir
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ nc_allowed_dir ]
O  = Tarvik Test
OU = Allowed

[ leaf ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth, serverAuth
subjectAltName         = DNS:leaf.test.example
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf_no_eku ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf_nc_ok ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
subjectAltName         = DNS:a.allowed.test.example

[ leaf_nc_bad ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
subjectAltName         = DNS:other.test.example

[ leaf_policy_p1 ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
certificatePolicies    = $P1

[ leaf_policy_p2 ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
certificatePolicies    = $P2

[ leaf_policy_p9 ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
certificatePolicies    = $P9

[ leaf_any_policy ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
certificatePolicies    = 2.5.29.32.0

[ leaf_unknown_critical ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
1.3.6.1.4.1.55555.99   = critical, ASN1:NULL

[ leaf_policy_unknown_qualifier ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
# certificatePolicies, critical: P1 with one qualifier of the unknown id
# 1.3.6.1.4.1.55555.7 holding the IA5String "x".
2.5.29.32              = critical, DER:3020301E060A2B0601040183B20301013010300E06092B0601040183B20307160178

[ leaf_looks_like_ca ]
keyUsage               = critical, digitalSignature, keyCertSign

[ leaf_two_cn ]
basicConstraints       = critical, CA:false
CNF

# Every certificate is also written out as DER under its name.
issue() {
  pki_issue "$@"
  pki_der "$1" "$out/$1.der"
}

O="/O=Tarvik Test"
issue root "$O/CN=Tarvik Test Root" root self serial=01
issue intermediate "$O/CN=Tarvik Test Intermediate" intermediate root \
  serial=0A
issue leaf "$O/CN=leaf.test.example" leaf intermediate serial=1001
issue leaf_expired "$O/CN=expired.test.example" leaf intermediate serial=1002 \
  from=20200101000000Z until=20210101000000Z
issue leaf_not_yet_valid "$O/CN=future.test.example" leaf intermediate \
  serial=1003 from=20300101000000Z until=20400101000000Z
issue leaf_no_eku "$O/CN=noeku.test.example" leaf_no_eku intermediate \
  serial=1004
issue leaf_looks_like_ca "$O/CN=looks-like-ca.test.example" leaf_looks_like_ca \
  intermediate serial=1005
issue leaf_unknown_critical "$O/CN=unknown-critical.test.example" \
  leaf_unknown_critical intermediate serial=1006
issue leaf_policy_unknown_qualifier "$O/CN=qualifier.test.example" \
  leaf_policy_unknown_qualifier intermediate serial=1007

issue intermediate_pathlen0 "$O/CN=Path Length Zero CA" intermediate_pathlen0 \
  root serial=0B
issue intermediate_below_pathlen0 "$O/CN=Below Path Length Zero CA" \
  intermediate intermediate_pathlen0 serial=0C
issue leaf_below_pathlen0 "$O/CN=deep.test.example" leaf \
  intermediate_below_pathlen0 serial=1010

# A self-issued CA (same subject as its issuer, a key of its own) under the
# path-length-zero CA, and a leaf under it.
issue self_issued_below_pathlen0 "$O/CN=Path Length Zero CA" intermediate \
  intermediate_pathlen0 serial=0D
issue leaf_below_self_issued "$O/CN=self-issued.test.example" leaf \
  self_issued_below_pathlen0 serial=1022

issue intermediate_no_bc "$O/CN=No Basic Constraints CA" intermediate_no_bc \
  root serial=0D
issue leaf_under_no_bc "$O/CN=under-no-bc.test.example" leaf \
  intermediate_no_bc serial=1011
issue intermediate_not_ca "$O/CN=Not A CA" intermediate_not_ca root serial=0E
issue leaf_under_not_ca "$O/CN=under-not-ca.test.example" leaf \
  intermediate_not_ca serial=1012
issue intermediate_no_keycertsign "$O/CN=No KeyCertSign CA" \
  intermediate_no_keycertsign root serial=0F
issue leaf_under_no_keycertsign "$O/CN=under-no-kcs.test.example" leaf \
  intermediate_no_keycertsign serial=1013
issue intermediate_eku_server "$O/CN=Server Auth Only CA" \
  intermediate_eku_server root serial=10
issue leaf_under_eku_server "$O/CN=under-eku.test.example" leaf_no_eku \
  intermediate_eku_server serial=1014

issue intermediate_nc "$O/CN=Name Constrained CA" intermediate_nc root \
  serial=11
issue leaf_nc_ok "$O/CN=a.allowed.test.example" leaf_nc_ok intermediate_nc \
  serial=1015
issue leaf_nc_bad "$O/CN=other.test.example" leaf_nc_bad intermediate_nc \
  serial=1016

issue intermediate_policy "$O/CN=Policy Mapping CA" intermediate_policy root \
  serial=12
issue leaf_policy_p1 "$O/CN=p1.test.example" leaf_policy_p1 \
  intermediate_policy serial=1017
issue leaf_policy_p2 "$O/CN=p2.test.example" leaf_policy_p2 \
  intermediate_policy serial=1018
issue intermediate_any_policy "$O/CN=Any Policy CA" intermediate_any_policy \
  root serial=13
issue leaf_policy_p9 "$O/CN=p9.test.example" leaf_policy_p9 \
  intermediate_any_policy serial=1019
issue intermediate_inhibit_any "$O/CN=Inhibit Any Policy CA" \
  intermediate_inhibit_any root serial=14
issue leaf_any_policy "$O/CN=any.test.example" leaf_any_policy \
  intermediate_inhibit_any serial=1020

# A CA constrained to the directory subtree O=Tarvik Test, OU=Allowed,
# whose own subject lies outside it; a self-issued CA of that same subject
# below it, and a leaf inside the subtree below that.
issue intermediate_nc_dir "$O/CN=Directory Constrained CA" intermediate_nc_dir \
  root serial=15
issue self_issued_below_nc_dir "$O/CN=Directory Constrained CA" intermediate \
  intermediate_nc_dir serial=16
issue leaf_below_nc_dir "$O/OU=Allowed/CN=dir.test.example" leaf \
  self_issued_below_nc_dir serial=1023

# A root that expired long ago, and a leaf it issued.
issue root_expired "$O/CN=Tarvik Expired Root" root self serial=02 \
  from=20000101000000Z until=20100101000000Z
issue leaf_under_expired_root "$O/CN=old-root.test.example" leaf root_expired \
  serial=1024

# Version 1, no extensions.
issue v1_self_signed "/CN=Version One" none self serial=05
# Subject equal to the root's subject once normalized (case and spaces),
# but signed by the root's key: not self-signed.
issue root_lookalike "/O=TARVIK  TEST/CN=tarvik test root " leaf_two_cn root \
  serial=06
# Display names.
issue two_common_names "/CN=First Name/CN=Second Name/O=Org" leaf_two_cn root \
  serial=07
issue no_common_name "/O=Org A/O=Org B/OU=Unit" leaf_two_cn root serial=08
# A 1024-bit key: too small for a 2048-bit minimum.
pki_key leaf_small_key rsa1024
issue leaf_small_key "$O/CN=small.test.example" leaf intermediate serial=1021

# Bundles.
cat "$PKI_WORK/leaf.pem" "$PKI_WORK/intermediate.pem" "$PKI_WORK/root.pem" \
  > "$out/chain.pem"
openssl crl2pkcs7 -nocrl -certfile "$out/chain.pem" -outform DER \
  -out "$out/chain.p7b"

# What openssl prints about each fixture, for the tests to compare with.
: > "$out/fixtures.txt"
for der in "$out"/*.der; do
  name=$(basename "$der" .der)
  {
    echo "name=$name"
    openssl x509 -inform DER -in "$der" -noout -serial -startdate -enddate \
      -nameopt RFC2253 -subject
  } >> "$out/fixtures.txt"
done
