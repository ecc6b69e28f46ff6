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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 1.3.6.1.4.1.55555: an enterprise arc that no real policy uses.
P1=1.3.6.1.4.1.55555.1.1
P2=1.3.6.1.4.1.55555.2.1
P9=1.3.6.1.4.1.55555.9.9

cat > "$work/ca.cnf" <<CNF
[ ca ]
default_ca = test_ca

[ test_ca ]
dir            = \$ENV::CA_DIR
database       = \$dir/index.txt
serial         = \$dir/serial
new_certs_dir  = \$dir
policy         = keep_everything
unique_subject = no
email_in_dn    = no
copy_extensions = none
preserve       = yes

[ keep_everything ]
countryName            = optional
stateOrProvinceName    = optional
localityName           = optional
organizationName       = optional
organizationalUnitName = optional
commonName             = optional

[ req ]
distinguished_name = req_dn
prompt             = no
string_mask        = utf8only

[ req_dn ]

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

new_key() {
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:"${2:-2048}" \
    -out "$work/$1.key.pem" 2>/dev/null
}

# issue NAME SUBJECT SERIAL EXT_SECTION ISSUER [START END [KEY]]
# ISSUER "self" makes a self-signed certificate. EXT_SECTION "none" makes a
# version 1 certificate. KEY names the key of the new certificate (default:
# a key of its own, NAME).
issue() {
  local name=$1 subject=$2 serial=$3 ext=$4 issuer=$5
  local start=${6:-20200101000000Z} end=${7:-20400101000000Z} key=${8:-$1}
  local ca_dir=$work/db-$name
  mkdir -p "$ca_dir"
  : > "$ca_dir/index.txt"
  echo "$serial" > "$ca_dir/serial"
  [ -f "$work/$key.key.pem" ] || new_key "$key"
  CA_DIR=$ca_dir openssl req -new -config "$work/ca.cnf" \
    -key "$work/$key.key.pem" -subj "$subject" -utf8 -out "$work/$name.csr"
  local signer=(-selfsign -keyfile "$work/$key.key.pem")
  if [ "$issuer" != self ]; then
    signer=(-cert "$work/$issuer.pem" -keyfile "$work/$issuer.key.pem")
  fi
  local extensions=(-extensions "$ext")
  [ "$ext" = none ] && extensions=()
  CA_DIR=$ca_dir openssl ca -config "$work/ca.cnf" -batch -notext -utf8 \
    "${signer[@]}" -in "$work/$name.csr" -out "$work/$name.pem" \
    -startdate "$start" -enddate "$end" -md sha256 "${extensions[@]}" \
    2>/dev/null
  # The signing key of a certificate is its issuer's: keep the subject's
  # key under the certificate's name for the certificates it issues.
  [ "$key" = "$name" ] || cp "$work/$key.key.pem" "$work/$name.key.pem"
  openssl x509 -in "$work/$name.pem" -outform DER -out "$out/$name.der"
}

O="/O=Tarvik Test"
issue root "$O/CN=Tarvik Test Root" 01 root self
issue intermediate "$O/CN=Tarvik Test Intermediate" 0A intermediate root
issue leaf "$O/CN=leaf.test.example" 1001 leaf intermediate
issue leaf_expired "$O/CN=expired.test.example" 1002 leaf intermediate \
  20200101000000Z 20210101000000Z
issue leaf_not_yet_valid "$O/CN=future.test.example" 1003 leaf intermediate \
  20300101000000Z 20400101000000Z
issue leaf_no_eku "$O/CN=noeku.test.example" 1004 leaf_no_eku intermediate
issue leaf_looks_like_ca "$O/CN=looks-like-ca.test.example" 1005 \
  leaf_looks_like_ca intermediate
issue leaf_unknown_critical "$O/CN=unknown-critical.test.example" 1006 \
  leaf_unknown_critical intermediate
issue leaf_policy_unknown_qualifier "$O/CN=qualifier.test.example" 1007 \
  leaf_policy_unknown_qualifier intermediate

issue intermediate_pathlen0 "$O/CN=Path Length Zero CA" 0B \
  intermediate_pathlen0 root
issue intermediate_below_pathlen0 "$O/CN=Below Path Length Zero CA" 0C \
  intermediate intermediate_pathlen0
issue leaf_below_pathlen0 "$O/CN=deep.test.example" 1010 leaf \
  intermediate_below_pathlen0

# A self-issued CA (same subject as its issuer, a key of its own) under the
# path-length-zero CA, and a leaf under it.
issue self_issued_below_pathlen0 "$O/CN=Path Length Zero CA" 0D \
  intermediate intermediate_pathlen0
issue leaf_below_self_issued "$O/CN=self-issued.test.example" 1022 leaf \
  self_issued_below_pathlen0

issue intermediate_no_bc "$O/CN=No Basic Constraints CA" 0D \
  intermediate_no_bc root
issue leaf_under_no_bc "$O/CN=under-no-bc.test.example" 1011 leaf \
  intermediate_no_bc
issue intermediate_not_ca "$O/CN=Not A CA" 0E intermediate_not_ca root
issue leaf_under_not_ca "$O/CN=under-not-ca.test.example" 1012 leaf \
  intermediate_not_ca
issue intermediate_no_keycertsign "$O/CN=No KeyCertSign CA" 0F \
  intermediate_no_keycertsign root
issue leaf_under_no_keycertsign "$O/CN=under-no-kcs.test.example" 1013 leaf \
  intermediate_no_keycertsign
issue intermediate_eku_server "$O/CN=Server Auth Only CA" 10 \
  intermediate_eku_server root
issue leaf_under_eku_server "$O/CN=under-eku.test.example" 1014 leaf_no_eku \
  intermediate_eku_server

issue intermediate_nc "$O/CN=Name Constrained CA" 11 intermediate_nc root
issue leaf_nc_ok "$O/CN=a.allowed.test.example" 1015 leaf_nc_ok \
  intermediate_nc
issue leaf_nc_bad "$O/CN=other.test.example" 1016 leaf_nc_bad intermediate_nc

issue intermediate_policy "$O/CN=Policy Mapping CA" 12 intermediate_policy root
issue leaf_policy_p1 "$O/CN=p1.test.example" 1017 leaf_policy_p1 \
  intermediate_policy
issue leaf_policy_p2 "$O/CN=p2.test.example" 1018 leaf_policy_p2 \
  intermediate_policy
issue intermediate_any_policy "$O/CN=Any Policy CA" 13 \
  intermediate_any_policy root
issue leaf_policy_p9 "$O/CN=p9.test.example" 1019 leaf_policy_p9 \
  intermediate_any_policy
issue intermediate_inhibit_any "$O/CN=Inhibit Any Policy CA" 14 \
  intermediate_inhibit_any root
issue leaf_any_policy "$O/CN=any.test.example" 1020 leaf_any_policy \
  intermediate_inhibit_any

# A CA constrained to the directory subtree O=Tarvik Test, OU=Allowed,
# whose own subject lies outside it; a self-issued CA of that same subject
# below it, and a leaf inside the subtree below that.
issue intermediate_nc_dir "$O/CN=Directory Constrained CA" 15 \
  intermediate_nc_dir root
issue self_issued_below_nc_dir "$O/CN=Directory Constrained CA" 16 \
  intermediate intermediate_nc_dir
issue leaf_below_nc_dir "$O/OU=Allowed/CN=dir.test.example" 1023 leaf \
  self_issued_below_nc_dir

# A root that expired long ago, and a leaf it issued.
issue root_expired "$O/CN=Tarvik Expired Root" 02 root self \
  20000101000000Z 20100101000000Z
issue leaf_under_expired_root "$O/CN=old-root.test.example" 1024 leaf \
  root_expired

# Version 1, no extensions.
issue v1_self_signed "/CN=Version One" 05 none self
# Subject equal to the root's subject once normalized (case and spaces),
# but signed by the root's key: not self-signed.
issue root_lookalike "/O=TARVIK  TEST/CN=tarvik test root " 06 leaf_two_cn root
# Display names.
issue two_common_names "/CN=First Name/CN=Second Name/O=Org" 07 leaf_two_cn \
  root
issue no_common_name "/O=Org A/O=Org B/OU=Unit" 08 leaf_two_cn root
# A 1024-bit key: too small for a 2048-bit minimum.
new_key leaf_small_key 1024
issue leaf_small_key "$O/CN=small.test.example" 1021 leaf intermediate \
  20200101000000Z 20400101000000Z leaf_small_key

# Bundles.
cat "$work/leaf.pem" "$work/intermediate.pem" "$work/root.pem" > "$out/chain.pem"
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
