#!/usr/bin/env bash
# Makes the device certificate chains that the validator tests read, with the
# openssl command line, and writes them beside this script as DER
# (<name>.der). Chains that must validate are issued under the development
# PKI (dev/pki/data), whose two roots are the validator's built-in roots;
# the rest are broken on purpose, one defect each. The output is committed:
# the build never runs this script. Device keys are fresh on every run.
#
# The tests verify at 2028-01-01 00:00:00 UTC. Unless a line says otherwise
# a device certificate is valid 2024-01-01 to 2034-01-01, is issued by the
# model intermediate CA, has keyUsage digitalSignature, extendedKeyUsage
# clientAuth and the commonName DA:4E:71:00:00:01, and is signed with SHA-256.
#
#   device                    the plain device certificate (also as
#                             device.pem)
#   device_sha1               signed with SHA-1
#   device_expired            valid 2020-01-01 to 2021-01-01
#   device_not_yet_valid      valid 2030-01-01 to 2033-01-01
#   device_server_auth        extendedKeyUsage serverAuth only
#   device_no_key_usage       no keyUsage
#   device_key_encipherment   keyUsage keyEncipherment only
#   device_no_common_name     subject O and OU only
#   device_zero_serial        serial number 0 (valid from the run's day)
#   device_long_serial        a 21-byte serial number (valid from the run's day)
#   device_small_key          an RSA-1024 key
#   device_bad_signature      device with the last signature byte changed
#   untrusted_root, untrusted_intermediate, device_untrusted
#                             the same shape under a root nobody trusts
#   audio_intermediate        issued by root 1, pathlen 0, lists the
#                             audio-only policy 1.3.6.1.4.1.9999.5.1.1
#   device_audio              issued by audio_intermediate
#   device_audio_no_key_usage issued by audio_intermediate, no keyUsage
#   legacy_intermediate, device_legacy
#                             a chain under the second root
#   deep_1, deep_2, deep_3, device_deep
#                             three CA certificates below root 1, whose path
#                             length is 2
#   not_ca_intermediate, device_under_not_ca
#                             an intermediate issued by root 1 with CA:false
#   garbage                   bytes that are not a certificate
#
# Usage: make_validator_certs.sh [output-dir]   (default: this folder)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
pki=$(cd "$here/../../../../dev/pki/data" && pwd)
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
countryName            = optional
organizationName       = optional
organizationalUnitName = optional
commonName             = optional

[ req ]
distinguished_name = req_dn
prompt             = no
string_mask        = utf8only

[ req_dn ]

[ root_ext ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash

[ ca_ext ]
basicConstraints       = critical, CA:true, pathlen:0
keyUsage               = critical, digitalSignature, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ deep_ca_ext ]
basicConstraints       = critical, CA:true
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ audio_ca_ext ]
basicConstraints       = critical, CA:true, pathlen:0
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
certificatePolicies    = 1.3.6.1.4.1.9999.5.1.1

[ not_ca_ext ]
basicConstraints       = critical, CA:false
keyUsage               = critical, keyCertSign, cRLSign
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ device_ext ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ device_server_ext ]
basicConstraints       = critical, CA:false
keyUsage               = critical, digitalSignature
extendedKeyUsage       = serverAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ device_no_ku_ext ]
basicConstraints       = critical, CA:false
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always

[ device_ke_ext ]
basicConstraints       = critical, CA:false
keyUsage               = critical, keyEncipherment
extendedKeyUsage       = clientAuth
subjectKeyIdentifier   = hash
authorityKeyIdentifier = keyid:always
CNF

# The development PKI's certificates and keys under the names used below.
cp "$pki/root_ca_1.pem" "$work/root_1.pem"
cp "$pki/root_ca_1.key.pem" "$work/root_1.key"
cp "$pki/root_ca_2.pem" "$work/root_2.pem"
cp "$pki/root_ca_2.key.pem" "$work/root_2.key"
cp "$pki/model_intermediate_ca.pem" "$work/model.pem"
cp "$pki/model_intermediate_ca.key.pem" "$work/model.key"

key() {
  local name=$1 bits=${2:-2048}
  [ -f "$work/$name.key" ] || openssl genpkey -algorithm RSA \
    -pkeyopt rsa_keygen_bits:"$bits" -out "$work/$name.key" 2>/dev/null
}

device_subject="/C=US/O=Kelm Devices Development/OU=Development Model/CN=DA:4E:71:00:00:01"
serial=4096
# cert NAME SUBJECT KEY EXT ISSUER [START END DIGEST]
# The key file $work/KEY.key must exist or is made (RSA-2048); ISSUER "-"
# makes the certificate self-signed.
cert() {
  local name=$1 subject=$2 k=$3 ext=$4 issuer=$5
  local start=${6:-20240101000000Z} end=${7:-20340101000000Z} md=${8:-sha256}
  key "$k"
  serial=$((serial + 1))
  local db=$work/db-$name
  mkdir -p "$db"
  : > "$db/index.txt"
  printf '%04X\n' "$serial" > "$db/serial"
  CA_DIR=$db openssl req -new -config "$work/ca.cnf" -key "$work/$k.key" \
    -subj "$subject" -utf8 -out "$work/$name.csr"
  local signer=(-selfsign -keyfile "$work/$k.key")
  if [ "$issuer" != "-" ]; then
    signer=(-cert "$work/$issuer.pem" -keyfile "$work/$issuer.key")
  fi
  CA_DIR=$db openssl ca -config "$work/ca.cnf" -batch -notext -utf8 \
    "${signer[@]}" -in "$work/$name.csr" -out "$work/$name.pem" \
    -startdate "$start" -enddate "$end" -md "$md" -extensions "$ext" \
    2>/dev/null
  openssl x509 -in "$work/$name.pem" -outform DER -out "$out/$name.der"
  # Later certificates may be issued under this one.
  [ -f "$work/$name.key" ] || cp "$work/$k.key" "$work/$name.key"
}

# serial_cert NAME SERIAL: a device certificate with the given serial
# number, which openssl ca will not write.
serial_cert() {
  local name=$1 serial_number=$2
  key "$name"
  CA_DIR=$work openssl req -new -config "$work/ca.cnf" -key "$work/$name.key" \
    -subj "$device_subject" -utf8 -out "$work/$name.csr"
  CA_DIR=$work openssl x509 -req -in "$work/$name.csr" -CA "$work/model.pem" \
    -CAkey "$work/model.key" -set_serial "$serial_number" -days 3000 \
    -sha256 -extfile "$work/ca.cnf" -extensions device_ext \
    -outform DER -out "$out/$name.der" 2>/dev/null
}

cert device "$device_subject" device device_ext model
cert device_sha1 "$device_subject" device_sha1 device_ext model \
  20240101000000Z 20340101000000Z sha1
cert device_expired "$device_subject" device_expired device_ext model \
  20200101000000Z 20210101000000Z
cert device_not_yet_valid "$device_subject" device_not_yet_valid device_ext \
  model 20300101000000Z 20330101000000Z
cert device_server_auth "$device_subject" device_server_auth \
  device_server_ext model
cert device_no_key_usage "$device_subject" device_no_key_usage \
  device_no_ku_ext model
cert device_key_encipherment "$device_subject" device_key_encipherment \
  device_ke_ext model
cert device_no_common_name \
  "/C=US/O=Kelm Devices Development/OU=Development Model" \
  device_no_common_name device_ext model
serial_cert device_zero_serial 0
serial_cert device_long_serial 0x0102030405060708090A0B0C0D0E0F101112131415
key device_small_key 1024
cert device_small_key "$device_subject" device_small_key device_ext model

# The last byte of the DER is the last byte of the signature.
xxd -p "$out/device.der" | tr -d '\n' > "$work/device.hex"
hex=$(cat "$work/device.hex")
last_byte=${hex: -2}
flipped=$(printf '%02x' $(( 0x$last_byte ^ 0x01 )))
printf '%s%s' "${hex:0:${#hex}-2}" "$flipped" | xxd -r -p > "$out/device_bad_signature.der"

cert untrusted_root "/CN=Untrusted Root" untrusted_root root_ext - \
  20200101000000Z 20400101000000Z
cert untrusted_intermediate "/CN=Untrusted Intermediate" \
  untrusted_intermediate ca_ext untrusted_root 20200101000000Z 20340101000000Z
cert device_untrusted "$device_subject" device_untrusted device_ext \
  untrusted_intermediate

cert audio_intermediate \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials/CN=Kelm Development Audio Intermediate CA" \
  audio_intermediate audio_ca_ext root_1 20200101000000Z 20340101000000Z
cert device_audio "$device_subject" device_audio device_ext audio_intermediate
cert device_audio_no_key_usage "$device_subject" device_audio_no_key_usage \
  device_no_ku_ext audio_intermediate

cert legacy_intermediate \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials/CN=Kelm Development Legacy Intermediate CA" \
  legacy_intermediate ca_ext root_2 20200101000000Z 20320101000000Z
cert device_legacy "$device_subject" device_legacy device_ext \
  legacy_intermediate

cert deep_1 "/CN=Kelm Deep CA 1" deep_1 deep_ca_ext root_1 \
  20200101000000Z 20340101000000Z
cert deep_2 "/CN=Kelm Deep CA 2" deep_2 deep_ca_ext deep_1 \
  20200101000000Z 20340101000000Z
cert deep_3 "/CN=Kelm Deep CA 3" deep_3 deep_ca_ext deep_2 \
  20200101000000Z 20340101000000Z
cert device_deep "$device_subject" device_deep device_ext deep_3

cert not_ca_intermediate "/CN=Kelm Not A CA" not_ca_intermediate not_ca_ext \
  root_1 20200101000000Z 20340101000000Z
cert device_under_not_ca "$device_subject" device_under_not_ca device_ext \
  not_ca_intermediate

printf 'this is not a certificate' > "$out/garbage.der"

# The plain device certificate as PEM too, for the benchmark.
openssl x509 -inform DER -in "$out/device.der" -out "$out/device.pem"

# The model intermediate as DER, so tests need not convert PEM.
openssl x509 -in "$work/model.pem" -outform DER -out "$out/model_intermediate.der"

echo "Validator certificates written to $out"
