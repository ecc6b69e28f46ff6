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
# shellcheck source-path=SCRIPTDIR source=../../../../../../tools/test_pki_lib.sh
source "$here/../../../../../../tools/test_pki_lib.sh"
pki_begin from=20200101000000Z until=20400101000000Z \
  first_serial=8193  # then counting up in the order below

# 2025-06-01 12:00:00 UTC.
verify_time=1748779200

pki_extensions <<'CNF'
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

: > "$out/openssl_verdicts.txt"
# chain NAME LEAF ROOT [INTERMEDIATE...]
chain() {
  local name=$1 leaf=$2 root=$3
  shift 3
  cp "$PKI_WORK/$leaf.pem" "$out/$name.leaf.pem"
  cp "$PKI_WORK/$root.pem" "$out/$name.root.pem"
  : > "$out/$name.untrusted.pem"
  local intermediate
  for intermediate in "$@"; do
    cat "$PKI_WORK/$intermediate.pem" >> "$out/$name.untrusted.pem"
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

pki_issue root "/CN=Diff Root" root self key=k_root
pki_issue int "/CN=Diff Intermediate" ca_ext root key=k_int
pki_issue leaf "/CN=Diff Leaf" leaf int key=k_leaf

chain valid leaf root int

pki_issue direct_leaf "/CN=Diff Direct Leaf" leaf root key=k_leaf
chain valid_direct direct_leaf root

pki_issue int2 "/CN=Diff Intermediate 2" ca_ext int key=k_int2
pki_issue leaf_under_int2 "/CN=Diff Leaf" leaf int2 key=k_leaf
chain valid_two_intermediates leaf_under_int2 root int2 int

pki_key k_leaf_ec p256
pki_issue leaf_ec "/CN=Diff Leaf" leaf int key=k_leaf_ec
chain valid_ec_leaf leaf_ec root int

pki_issue leaf_sha384 "/CN=Diff Leaf" leaf int key=k_leaf md=sha384
chain valid_sha384 leaf_sha384 root int

pki_issue leaf_expired "/CN=Diff Leaf" leaf int key=k_leaf \
  from=20200101000000Z until=20240101000000Z
chain leaf_expired leaf_expired root int

pki_issue leaf_not_yet_valid "/CN=Diff Leaf" leaf int key=k_leaf \
  from=20300101000000Z until=20400101000000Z
chain leaf_not_yet_valid leaf_not_yet_valid root int

pki_issue int_expired "/CN=Diff Intermediate" ca_ext root key=k_int \
  from=20200101000000Z until=20240101000000Z
chain intermediate_expired leaf root int_expired

pki_issue root_expired "/CN=Diff Root" root self key=k_root \
  from=20150101000000Z until=20240101000000Z
chain root_expired leaf root_expired int

# Signed by the intermediate's key, but naming an issuer nobody has.
pki_issue other_name_ca "/CN=Diff Somebody Else" ca_ext root key=k_int
pki_issue leaf_wrong_issuer_name "/CN=Diff Leaf" leaf other_name_ca key=k_leaf
chain wrong_issuer_name leaf_wrong_issuer_name root int

# Names the intermediate, signed by a different key.
pki_issue impostor "/CN=Diff Intermediate" ca_ext root key=k_impostor
pki_issue leaf_wrong_issuer_key "/CN=Diff Leaf" leaf impostor key=k_leaf
chain wrong_issuer_key leaf_wrong_issuer_key root int

pki_break_signature leaf leaf_bad_signature
chain leaf_bad_signature leaf_bad_signature root int

pki_break_signature int int_bad_signature
chain intermediate_bad_signature leaf root int_bad_signature

pki_issue int_pathlen0 "/CN=Diff Intermediate" ca_pathlen0 root key=k_int
pki_issue int2_under_pathlen0 "/CN=Diff Intermediate 2" ca_ext int_pathlen0 \
  key=k_int2
chain path_length_exceeded leaf_under_int2 root int2_under_pathlen0 int_pathlen0

pki_issue root_pathlen0 "/CN=Diff Root" root_pathlen0 self key=k_root
chain root_path_length_exceeded leaf root_pathlen0 int

pki_issue int_not_ca "/CN=Diff Intermediate" ca_not_ca root key=k_int
chain intermediate_not_ca leaf root int_not_ca

pki_issue int_no_bc "/CN=Diff Intermediate" ca_no_bc root key=k_int
chain intermediate_no_basic_constraints leaf root int_no_bc

pki_issue int_no_keycertsign "/CN=Diff Intermediate" ca_no_keycertsign root \
  key=k_int
chain intermediate_no_keycertsign leaf root int_no_keycertsign

pki_issue int_eku_server "/CN=Diff Intermediate" ca_eku_server root key=k_int
chain intermediate_eku_server_only leaf root int_eku_server

pki_issue leaf_key_encipherment "/CN=Diff Leaf" leaf_key_encipherment int \
  key=k_leaf
chain leaf_key_usage_no_digital_signature leaf_key_encipherment root int

pki_issue leaf_eku_server "/CN=Diff Leaf" leaf_eku_server int key=k_leaf
chain leaf_eku_server_only leaf_eku_server root int

pki_issue leaf_unknown_critical "/CN=Diff Leaf" leaf_unknown_critical int \
  key=k_leaf
chain leaf_unknown_critical_extension leaf_unknown_critical root int

pki_key k_small rsa1024
pki_issue leaf_small_key "/CN=Diff Leaf" leaf int key=k_small
chain leaf_rsa1024 leaf_small_key root int

pki_issue leaf_sha1 "/CN=Diff Leaf" leaf int key=k_leaf md=sha1
chain leaf_sha1 leaf_sha1 root int

chain missing_intermediate leaf root

echo "Differential chains written to $out"
cat "$out/openssl_verdicts.txt"
