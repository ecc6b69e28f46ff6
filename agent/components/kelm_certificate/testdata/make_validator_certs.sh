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
# shellcheck source-path=SCRIPTDIR source=../../../../tools/test_pki_lib.sh
source "$here/../../../../tools/test_pki_lib.sh"
pki_begin from=20240101000000Z until=20340101000000Z \
  first_serial=4097  # then counting up in the order below

pki_extensions <<'CNF'
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
pki_adopt root_1 "$pki/root_ca_1.pem" "$pki/root_ca_1.key.pem"
pki_adopt root_2 "$pki/root_ca_2.pem" "$pki/root_ca_2.key.pem"
pki_adopt model "$pki/model_intermediate_ca.pem" \
  "$pki/model_intermediate_ca.key.pem"

device_subject="/C=US/O=Kelm Devices Development/OU=Development Model/CN=DA:4E:71:00:00:01"

# Every certificate is also written out as DER under its name.
issue() {
  pki_issue "$@"
  pki_der "$1" "$out/$1.der"
}

# serial_cert NAME SERIAL: a device certificate with the given serial
# number, which openssl ca will not write.
serial_cert() {
  local name=$1 serial_number=$2
  pki_request "$name" "$device_subject" "$name"
  openssl x509 -req -in "$PKI_WORK/$name.csr" -CA "$PKI_WORK/model.pem" \
    -CAkey "$PKI_WORK/model.key" -set_serial "$serial_number" -days 3000 \
    -sha256 -extfile "$PKI_CONFIG" -extensions device_ext \
    -outform DER -out "$out/$name.der" 2>/dev/null
}

issue device "$device_subject" device_ext model
issue device_sha1 "$device_subject" device_ext model md=sha1
issue device_expired "$device_subject" device_ext model from=20200101000000Z \
  until=20210101000000Z
issue device_not_yet_valid "$device_subject" device_ext model \
  from=20300101000000Z until=20330101000000Z
issue device_server_auth "$device_subject" device_server_ext model
issue device_no_key_usage "$device_subject" device_no_ku_ext model
issue device_key_encipherment "$device_subject" device_ke_ext model
issue device_no_common_name \
  "/C=US/O=Kelm Devices Development/OU=Development Model" device_ext model
serial_cert device_zero_serial 0
serial_cert device_long_serial 0x0102030405060708090A0B0C0D0E0F101112131415
pki_key device_small_key rsa1024
issue device_small_key "$device_subject" device_ext model

pki_break_signature device device_bad_signature
pki_der device_bad_signature "$out/device_bad_signature.der"

issue untrusted_root "/CN=Untrusted Root" root_ext self from=20200101000000Z \
  until=20400101000000Z
issue untrusted_intermediate "/CN=Untrusted Intermediate" ca_ext \
  untrusted_root from=20200101000000Z until=20340101000000Z
issue device_untrusted "$device_subject" device_ext untrusted_intermediate

issue audio_intermediate \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials/CN=Kelm Development Audio Intermediate CA" \
  audio_ca_ext root_1 from=20200101000000Z until=20340101000000Z
issue device_audio "$device_subject" device_ext audio_intermediate
issue device_audio_no_key_usage "$device_subject" device_no_ku_ext \
  audio_intermediate

issue legacy_intermediate \
  "/C=US/O=Kelm Devices Development/OU=Device Credentials/CN=Kelm Development Legacy Intermediate CA" \
  ca_ext root_2 from=20200101000000Z until=20320101000000Z
issue device_legacy "$device_subject" device_ext legacy_intermediate

issue deep_1 "/CN=Kelm Deep CA 1" deep_ca_ext root_1 from=20200101000000Z \
  until=20340101000000Z
issue deep_2 "/CN=Kelm Deep CA 2" deep_ca_ext deep_1 from=20200101000000Z \
  until=20340101000000Z
issue deep_3 "/CN=Kelm Deep CA 3" deep_ca_ext deep_2 from=20200101000000Z \
  until=20340101000000Z
issue device_deep "$device_subject" device_ext deep_3

issue not_ca_intermediate "/CN=Kelm Not A CA" not_ca_ext root_1 \
  from=20200101000000Z until=20340101000000Z
issue device_under_not_ca "$device_subject" device_ext not_ca_intermediate

printf 'this is not a certificate' > "$out/garbage.der"

# The plain device certificate as PEM too, for the benchmark.
pki_pem device "$out/device.pem"

# The model intermediate as DER, so tests need not convert PEM.
pki_der model "$out/model_intermediate.der"

echo "Validator certificates written to $out"
