#!/usr/bin/env bash
# Makes the certificates that the path builder tests read, with the openssl
# command line, and writes them beside this script as DER (<name>.der). The
# output is committed: the build never runs this script. Keys are fresh on
# every run, so a run gives new bytes but the same forms.
#
# Every certificate is valid from 2020-01-01 to 2040-01-01 unless its line
# says otherwise; the tests verify at 2025-06-01 12:00:00 UTC.
#
#   root, intermediate, leaf         a plain chain root > intermediate > leaf
#   leaf_expired                     under intermediate, ended 2021-01-01
#   twin_root_match                  anchor "Twin Root", key A, SKI
#   twin_root_mismatch               anchor "Twin Root", key B, SKI
#   twin_root_unknown                anchor "Twin Root", key C, no SKI
#   twin_cross                       "Twin Root" with key A issued by
#                                    other_root (an unspecified copy whose
#                                    SKI matches)
#   other_root                       anchor that issued twin_cross
#   twin_intermediate, twin_leaf     issued under key A (AKI names key A)
#   dup_a, dup_b, dup_c              "Dup CA" under root, one shared key, no
#                                    AKI in what they issue; validity
#                                    a 2021-2035, b 2023-2030, c 2023-2036
#   dup_leaf                         issued by "Dup CA" without an AKI
#   cycle_a, cycle_b                 "Cycle A" issued by "Cycle B" and the
#                                    other way round, neither trusted
#   cycle_leaf                       issued by "Cycle A"
#   loop_00 .. loop_11               twelve self-issued "Loop CA"
#                                    certificates, each its own key
#   loop_leaf                        issued by "Loop CA" (loop_00's key)
#   orphan                           issued by a name no source knows
#
# Usage: make_path_builder_certs.sh [output-dir]   (default: this folder)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/ca.cnf" <<'CNF'
[ ca ]
default_ca = test_ca

[ test_ca ]
dir             = $ENV::CA_DIR
database        = $dir/index.txt
serial          = $dir/serial
new_certs_dir   = $dir
policy          = anything
unique_subject  = no
email_in_dn     = no
copy_extensions = none
preserve        = yes

[ anything ]
commonName = supplied

[ req ]
distinguished_name = req_dn
prompt             = no
string_mask        = utf8only

[ req_dn ]

[ root ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash

[ root_no_ski ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = none
authorityKeyIdentifier = none

[ ca_ext ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ ca_no_aki ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = none

[ leaf ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf_no_aki ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = none
CNF

key() {
  [ -f "$work/$1.key" ] || openssl genpkey -algorithm RSA \
    -pkeyopt rsa_keygen_bits:2048 -out "$work/$1.key" 2>/dev/null
}

serial=1000
# cert NAME CN KEY EXT ISSUER_CERT ISSUER_KEY [START END]
# ISSUER_CERT "-" signs with KEY itself (self-signed).
cert() {
  local name=$1 cn=$2 k=$3 ext=$4 issuer=$5 issuer_key=$6
  local start=${7:-20200101000000Z} end=${8:-20400101000000Z}
  key "$k"
  serial=$((serial + 1))
  local db=$work/db-$name
  mkdir -p "$db"
  : > "$db/index.txt"
  printf '%04X\n' "$serial" > "$db/serial"
  CA_DIR=$db openssl req -new -config "$work/ca.cnf" -key "$work/$k.key" -subj "/CN=$cn" \
    -out "$work/$name.csr"
  local signer
  if [ "$issuer" = "-" ]; then
    signer=(-selfsign -keyfile "$work/$k.key")
  else
    key "$issuer_key"
    signer=(-cert "$work/$issuer.pem" -keyfile "$work/$issuer_key.key")
  fi
  CA_DIR=$db openssl ca -config "$work/ca.cnf" -batch -notext "${signer[@]}" \
    -in "$work/$name.csr" -out "$work/$name.pem" -startdate "$start" \
    -enddate "$end" -md sha256 -extensions "$ext" 2>/dev/null
  openssl x509 -in "$work/$name.pem" -outform DER -out "$out/$name.der"
}

cert root "Path Root" k_root root - -
cert intermediate "Path Intermediate" k_int ca_ext root k_root
cert leaf "Path Leaf" k_leaf leaf intermediate k_int
cert leaf_expired "Path Leaf" k_leaf leaf intermediate k_int \
  20200101000000Z 20210101000000Z

cert other_root "Other Root" k_other root - -
cert twin_root_match "Twin Root" k_twin_a root - -
cert twin_root_mismatch "Twin Root" k_twin_b root - -
cert twin_root_unknown "Twin Root" k_twin_c root_no_ski - -
cert twin_cross "Twin Root" k_twin_a ca_ext other_root k_other
cert twin_intermediate "Twin Intermediate" k_twin_int ca_ext twin_root_match k_twin_a
cert twin_leaf "Twin Leaf" k_twin_leaf leaf twin_intermediate k_twin_int

cert dup_a "Dup CA" k_dup ca_ext root k_root 20210101000000Z 20350101000000Z
cert dup_b "Dup CA" k_dup ca_ext root k_root 20230101000000Z 20300101000000Z
cert dup_c "Dup CA" k_dup ca_ext root k_root 20230101000000Z 20360101000000Z
cert dup_leaf "Dup Leaf" k_dup_leaf leaf_no_aki dup_a k_dup

# Each of the pair needs the other to exist first: make B self-signed to
# sign A, then reissue B under A.
cert cycle_b_seed "Cycle B" k_cycle_b root - -
cert cycle_a "Cycle A" k_cycle_a ca_ext cycle_b_seed k_cycle_b
cert cycle_b "Cycle B" k_cycle_b ca_ext cycle_a k_cycle_a
rm -f "$out/cycle_b_seed.der"
cert cycle_leaf "Cycle Leaf" k_cycle_leaf leaf cycle_a k_cycle_a

for i in $(seq -w 0 11); do
  cert "loop_$i" "Loop CA" "k_loop_$i" ca_no_aki - -
done
cert loop_leaf "Loop Leaf" k_loop_leaf leaf_no_aki loop_00 k_loop_00

cert nobody "Nobody Knows Me" k_nobody root - -
rm -f "$out/nobody.der"
cert orphan "Orphan" k_orphan leaf nobody k_nobody

echo "Path builder certificates written to $out"
