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
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# openssl ca needs a small database per issuing CA.
new_ca_db() {
  local dir=$1 serial=$2
  mkdir -p "$dir"
  : > "$dir/index.txt"
  echo "$serial" > "$dir/serial"
}

cat > "$work/ca.cnf" <<'CNF'
[ ca ]
default_ca = dev_ca

[ dev_ca ]
dir            = $ENV::CA_DIR
database       = $dir/index.txt
serial         = $dir/serial
new_certs_dir  = $dir
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
commonName             = supplied

[ req ]
distinguished_name = req_dn
prompt             = no
string_mask        = utf8only

[ req_dn ]

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

new_key() {
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 \
    -pkeyopt rsa_keygen_pubexp:65537 -out "$1" 2>/dev/null
}

# issue NAME SUBJECT SERIAL START END DIGEST EXT_SECTION [ISSUER_NAME]
# Without ISSUER_NAME the certificate is self-signed.
issue() {
  local name=$1 subject=$2 serial=$3 start=$4 end=$5 md=$6 ext=$7
  local issuer=${8:-}
  local ca_dir=$work/db-${issuer:-$name}
  [ -d "$ca_dir" ] || new_ca_db "$ca_dir" "$serial"
  echo "$serial" > "$ca_dir/serial"
  new_key "$work/$name.key.pem"
  CA_DIR=$ca_dir openssl req -new -config "$work/ca.cnf" -key "$work/$name.key.pem" \
    -subj "$subject" -utf8 -out "$work/$name.csr"
  local signer=(-selfsign -keyfile "$work/$name.key.pem")
  if [ -n "$issuer" ]; then
    signer=(-cert "$work/$issuer.pem" -keyfile "$work/$issuer.key.pem")
  fi
  CA_DIR=$ca_dir openssl ca -config "$work/ca.cnf" -batch -notext -utf8 \
    "${signer[@]}" -in "$work/$name.csr" -out "$work/$name.pem" \
    -startdate "$start" -enddate "$end" -md "$md" -extensions "$ext" \
    2>/dev/null
}

issue root_ca_1 \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials/CN=Kelm Development Root CA 1" \
  02 20140402173426Z 20340328173426Z sha1 root_ca_1
issue root_ca_2 \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials CA/CN=Kelm Development Legacy Root CA 2" \
  01 20121217223933Z 20321212223933Z sha1 root_ca_2
issue model_intermediate_ca \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials/CN=Kelm Development Model Intermediate CA" \
  1001 20200101000000Z 20340328000000Z sha256 model_intermediate_ca root_ca_1
issue model_template \
  "/C=US/O=Kelm Devices Development/OU=Development Model/CN=AA:BB:CC:DD:EE:FF" \
  0a1b2c3d4e5f60718293a4b5c6d7e8f9 20240101000000Z 20340301000000Z sha256 \
  model_template model_intermediate_ca

der_length() { openssl x509 -in "$1" -outform DER | wc -c; }
check_length() {
  local got
  got=$(der_length "$work/$1.pem")
  if [ "$got" -ne "$2" ]; then
    echo "$1: DER is $got bytes, expected $2" >&2
    exit 1
  fi
}
check_length root_ca_1 969
check_length root_ca_2 967

# The whole chain must verify (SHA-1 roots need security level 0 here).
openssl verify -auth_level 0 -x509_strict -CAfile "$work/root_ca_1.pem" \
  -untrusted "$work/model_intermediate_ca.pem" "$work/model_template.pem" \
  >/dev/null

for name in root_ca_1 root_ca_2 model_intermediate_ca model_template; do
  openssl x509 -in "$work/$name.pem" -out "$out/$name.pem"
done
for name in root_ca_1 root_ca_2; do
  openssl x509 -in "$work/$name.pem" -outform DER -out "$out/$name.der"
done
for name in root_ca_1 root_ca_2 model_intermediate_ca; do
  openssl pkey -in "$work/$name.key.pem" -out "$out/$name.key.pem"
done
echo "Development PKI written to $out"
