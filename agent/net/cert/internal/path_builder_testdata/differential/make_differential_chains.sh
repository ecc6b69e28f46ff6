#!/usr/bin/env bash
# Makes the chains of the differential test and records how `openssl verify`
# judges each one. For every chain NAME it writes NAME.leaf.pem (the target),
# NAME.untrusted.pem (the intermediates, possibly none) and NAME.root.pem
# (the one trusted root), and one line "NAME ok" or "NAME error <code>
# <text>" in openssl_verdicts.txt. The test judges the same files with our
# path builder and chain verifier and compares. The output is committed: the
# build never runs this script, and the test never runs openssl.
#
# Every chain is valid except for the one defect its name gives; unless a
# line says otherwise a certificate is valid 2020-01-01 to 2040-01-01, has an
# RSA-2048 key and is signed with SHA-256; CAs have basicConstraints CA:true
# and keyUsage keyCertSign, leaves keyUsage digitalSignature and
# extendedKeyUsage clientAuth. Both sides judge at 2025-06-01 12:00:00 UTC
# for client authentication (openssl: -purpose sslclient).
#
# Usage: make_differential_chains.sh [output-dir]   (default: this folder)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 2025-06-01 12:00:00 UTC.
verify_time=1748779200

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

[ root_pathlen0 ]
basicConstraints       = critical, CA:true, pathlen:0
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash

[ ca_ext ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ ca_pathlen0 ]
basicConstraints       = critical, CA:true, pathlen:0
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ ca_not_ca ]
basicConstraints       = critical, CA:false
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ ca_no_bc ]
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ ca_no_keycertsign ]
basicConstraints       = critical, CA:true
keyUsage               = critical, digitalSignature
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ ca_eku_server ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
extendedKeyUsage       = serverAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf_key_encipherment ]
basicConstraints       = critical, CA:false
keyUsage               = critical, keyEncipherment
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf_eku_server ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = serverAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ leaf_unknown_critical ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
1.3.6.1.4.1.55555.77   = critical, DER:0500
CNF

key() {
  local name=$1 kind=${2:-rsa2048}
  [ -f "$work/$name.key" ] && return
  case $kind in
    rsa2048) openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
               -out "$work/$name.key" 2>/dev/null ;;
    rsa1024) openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 \
               -out "$work/$name.key" 2>/dev/null ;;
    p256) openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 \
               -out "$work/$name.key" 2>/dev/null ;;
  esac
}

serial=8192
# cert NAME CN KEY EXT ISSUER_CERT ISSUER_KEY [START END DIGEST]
# ISSUER_CERT "-" makes it self-signed with KEY.
cert() {
  local name=$1 cn=$2 k=$3 ext=$4 issuer=$5 issuer_key=$6
  local start=${7:-20200101000000Z} end=${8:-20400101000000Z} md=${9:-sha256}
  key "$k"
  serial=$((serial + 1))
  local db=$work/db-$name
  mkdir -p "$db"
  : > "$db/index.txt"
  printf '%04X\n' "$serial" > "$db/serial"
  CA_DIR=$db openssl req -new -config "$work/ca.cnf" -key "$work/$k.key" \
    -subj "/CN=$cn" -out "$work/$name.csr"
  local signer=(-selfsign -keyfile "$work/$k.key")
  if [ "$issuer" != "-" ]; then
    signer=(-cert "$work/$issuer.pem" -keyfile "$work/$issuer_key.key")
  fi
  CA_DIR=$db openssl ca -config "$work/ca.cnf" -batch -notext \
    "${signer[@]}" -in "$work/$name.csr" -out "$work/$name.pem" \
    -startdate "$start" -enddate "$end" -md "$md" -extensions "$ext" \
    2>/dev/null
}

# The last byte of a certificate's DER is the last byte of its signature.
break_signature() {
  local from=$1 to=$2 hex
  hex=$(openssl x509 -in "$work/$from.pem" -outform DER | xxd -p | tr -d '\n')
  local last=${hex: -2}
  printf '%s%02x' "${hex:0:${#hex}-2}" $(( 0x$last ^ 0x01 )) | xxd -r -p |
    openssl x509 -inform DER -out "$work/$to.pem" 2>/dev/null ||
    # openssl x509 may refuse to re-encode; keep the bytes as PEM by hand.
    { printf -- '-----BEGIN CERTIFICATE-----\n'
      printf '%s%02x' "${hex:0:${#hex}-2}" $(( 0x$last ^ 0x01 )) | xxd -r -p |
        base64 -w 64
      printf -- '-----END CERTIFICATE-----\n'; } > "$work/$to.pem"
}

: > "$out/openssl_verdicts.txt"
# chain NAME LEAF ROOT [INTERMEDIATE...]
chain() {
  local name=$1 leaf=$2 root=$3
  shift 3
  cp "$work/$leaf.pem" "$out/$name.leaf.pem"
  cp "$work/$root.pem" "$out/$name.root.pem"
  : > "$out/$name.untrusted.pem"
  local intermediate
  for intermediate in "$@"; do
    cat "$work/$intermediate.pem" >> "$out/$name.untrusted.pem"
  done
  local untrusted=()
  [ $# -gt 0 ] && untrusted=(-untrusted "$out/$name.untrusted.pem")
  local verdict
  if verdict=$(openssl verify -attime "$verify_time" -purpose sslclient \
      -CAfile "$out/$name.root.pem" "${untrusted[@]}" "$out/$name.leaf.pem" 2>&1); then
    echo "$name ok" >> "$out/openssl_verdicts.txt"
  else
    local first
    first=$(grep -m1 '^error [0-9]' <<<"$verdict" | sed 's/^error \([0-9]*\) at [0-9]* depth lookup: /\1 /')
    echo "$name error $first" >> "$out/openssl_verdicts.txt"
  fi
}

cert root "Diff Root" k_root root - -
cert int "Diff Intermediate" k_int ca_ext root k_root
cert leaf "Diff Leaf" k_leaf leaf int k_int

chain valid leaf root int

cert direct_leaf "Diff Direct Leaf" k_leaf leaf root k_root
chain valid_direct direct_leaf root

cert int2 "Diff Intermediate 2" k_int2 ca_ext int k_int
cert leaf_under_int2 "Diff Leaf" k_leaf leaf int2 k_int2
chain valid_two_intermediates leaf_under_int2 root int2 int

key k_leaf_ec p256
cert leaf_ec "Diff Leaf" k_leaf_ec leaf int k_int
chain valid_ec_leaf leaf_ec root int

cert leaf_sha384 "Diff Leaf" k_leaf leaf int k_int \
  20200101000000Z 20400101000000Z sha384
chain valid_sha384 leaf_sha384 root int

cert leaf_expired "Diff Leaf" k_leaf leaf int k_int \
  20200101000000Z 20240101000000Z
chain leaf_expired leaf_expired root int

cert leaf_not_yet_valid "Diff Leaf" k_leaf leaf int k_int \
  20300101000000Z 20400101000000Z
chain leaf_not_yet_valid leaf_not_yet_valid root int

cert int_expired "Diff Intermediate" k_int ca_ext root k_root \
  20200101000000Z 20240101000000Z
chain intermediate_expired leaf root int_expired

cert root_expired "Diff Root" k_root root - - 20150101000000Z 20240101000000Z
chain root_expired leaf root_expired int

# Signed by the intermediate's key, but naming an issuer nobody has.
cert other_name_ca "Diff Somebody Else" k_int ca_ext root k_root
cert leaf_wrong_issuer_name "Diff Leaf" k_leaf leaf other_name_ca k_int
chain wrong_issuer_name leaf_wrong_issuer_name root int

# Names the intermediate, signed by a different key.
cert impostor "Diff Intermediate" k_impostor ca_ext root k_root
cert leaf_wrong_issuer_key "Diff Leaf" k_leaf leaf impostor k_impostor
chain wrong_issuer_key leaf_wrong_issuer_key root int

break_signature leaf leaf_bad_signature
chain leaf_bad_signature leaf_bad_signature root int

break_signature int int_bad_signature
chain intermediate_bad_signature leaf root int_bad_signature

cert int_pathlen0 "Diff Intermediate" k_int ca_pathlen0 root k_root
cert int2_under_pathlen0 "Diff Intermediate 2" k_int2 ca_ext int_pathlen0 k_int
chain path_length_exceeded leaf_under_int2 root int2_under_pathlen0 int_pathlen0

cert root_pathlen0 "Diff Root" k_root root_pathlen0 - -
chain root_path_length_exceeded leaf root_pathlen0 int

cert int_not_ca "Diff Intermediate" k_int ca_not_ca root k_root
chain intermediate_not_ca leaf root int_not_ca

cert int_no_bc "Diff Intermediate" k_int ca_no_bc root k_root
chain intermediate_no_basic_constraints leaf root int_no_bc

cert int_no_keycertsign "Diff Intermediate" k_int ca_no_keycertsign root k_root
chain intermediate_no_keycertsign leaf root int_no_keycertsign

cert int_eku_server "Diff Intermediate" k_int ca_eku_server root k_root
chain intermediate_eku_server_only leaf root int_eku_server

cert leaf_key_encipherment "Diff Leaf" k_leaf leaf_key_encipherment int k_int
chain leaf_key_usage_no_digital_signature leaf_key_encipherment root int

cert leaf_eku_server "Diff Leaf" k_leaf leaf_eku_server int k_int
chain leaf_eku_server_only leaf_eku_server root int

cert leaf_unknown_critical "Diff Leaf" k_leaf leaf_unknown_critical int k_int
chain leaf_unknown_critical_extension leaf_unknown_critical root int

key k_small rsa1024
cert leaf_small_key "Diff Leaf" k_small leaf int k_int
chain leaf_rsa1024 leaf_small_key root int

cert leaf_sha1 "Diff Leaf" k_leaf leaf int k_int \
  20200101000000Z 20400101000000Z sha1
chain leaf_sha1 leaf_sha1 root int

chain missing_intermediate leaf root

echo "Differential chains written to $out"
cat "$out/openssl_verdicts.txt"
