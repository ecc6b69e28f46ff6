#!/usr/bin/env bash
# Makes the development PKI that the development platform authentication
# library and the tests build on, and writes it to data/ beside this script:
#
#   root_ca_1.pem / .der / .key.pem   first built-in root (serial 2,
#                                     pathlen 2, keyCertSign + cRLSign)
#   root_ca_2.pem / .der / .key.pem   second built-in root (serial 1, no
#                                     pathlen, no keyUsage); no certificate
#                                     of this PKI is issued under it
#   model_intermediate_ca.pem / .key.pem
#                                     the model intermediate CA, issued by the
#                                     first root; the library signs device
#                                     certificates with its key
#   model_template.pem                the model template certificate, issued
#                                     by the intermediate; its subject common
#                                     name is the placeholder AA:BB:CC:DD:EE:FF
#
# Every key is a fresh RSA-2048 key, so a run gives new bytes, but the forms
# (names, serial numbers, dates, extensions, DER lengths) are fixed and the
# script fails if a root's DER length is not the expected one. The output is
# committed: the build never runs this script. The private keys are
# development keys and protect nothing.
#
# Usage: dev/pki/make_dev_pki.sh [output-dir]   (default: dev/pki/data)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/data}
mkdir -p "$out"
# shellcheck source-path=SCRIPTDIR source=../../tools/test_pki_lib.sh
source "$here/../../tools/test_pki_lib.sh"
# No defaults: every certificate below gives its own dates and digest.
# shellcheck disable=SC2119
pki_begin

# Each certificate's section has the certificate's name.
pki_extensions <<'CNF'
[ root_ca_1 ]
basicConstraints       = critical, CA:true, pathlen:2
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ root_ca_2 ]
basicConstraints       = CA:true
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ model_intermediate_ca ]
basicConstraints       = critical, CA:true, pathlen:0
keyUsage               = critical, digitalSignature, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ model_template ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
CNF

# Every form is fixed here, dates and digest included, so that the roots'
# DER lengths come out as checked below.
O="/C=US/O=Kelm Devices Development"
pki_issue root_ca_1 \
  "$O/OU=Device Credentials/CN=Kelm Development Root CA 1" \
  root_ca_1 self serial=02 from=20140402173426Z until=20340328173426Z md=sha1
pki_issue root_ca_2 \
  "$O/OU=Device Credentials CA/CN=Kelm Development Legacy Root CA 2" \
  root_ca_2 self serial=01 from=20121217223933Z until=20321212223933Z md=sha1
pki_issue model_intermediate_ca \
  "$O/OU=Device Credentials/CN=Kelm Development Model Intermediate CA" \
  model_intermediate_ca root_ca_1 serial=1001 \
  from=20200101000000Z until=20340328000000Z md=sha256
pki_issue model_template \
  "$O/OU=Development Model/CN=AA:BB:CC:DD:EE:FF" \
  model_template model_intermediate_ca \
  serial=0a1b2c3d4e5f60718293a4b5c6d7e8f9 from=20240101000000Z until=20340301000000Z md=sha256

der_length() { openssl x509 -in "$1" -outform DER | wc -c; }
check_length() {
  local got
  got=$(der_length "$PKI_WORK/$1.pem")
  if [ "$got" -ne "$2" ]; then
    echo "$1: DER is $got bytes, expected $2" >&2
    exit 1
  fi
}
check_length root_ca_1 969
check_length root_ca_2 967

# The whole chain must verify (SHA-1 roots need security level 0 here).
openssl verify -auth_level 0 -x509_strict -CAfile "$PKI_WORK/root_ca_1.pem" \
  -untrusted "$PKI_WORK/model_intermediate_ca.pem" "$PKI_WORK/model_template.pem" \
  >/dev/null

for name in root_ca_1 root_ca_2 model_intermediate_ca model_template; do
  pki_pem "$name" "$out/$name.pem"
done
for name in root_ca_1 root_ca_2; do
  pki_der "$name" "$out/$name.der"
done
for name in root_ca_1 root_ca_2 model_intermediate_ca; do
  openssl pkey -in "$PKI_WORK/$name.key" -out "$out/$name.key.pem"
done
echo "Development PKI written to $out"
