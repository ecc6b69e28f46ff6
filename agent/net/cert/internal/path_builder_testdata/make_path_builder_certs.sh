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
# shellcheck source-path=SCRIPTDIR source=../../../../../tools/test_pki_lib.sh
source "$here/../../../../../tools/test_pki_lib.sh"
pki_begin from=20200101000000Z until=20400101000000Z \
  first_serial=1001  # then counting up in the order below

pki_extensions <<'CNF'
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

# Every certificate is also written out as DER under its name.
issue() {
  pki_issue "$@"
  pki_der "$1" "$out/$1.der"
}

issue root "/CN=Path Root" root self key=k_root
issue intermediate "/CN=Path Intermediate" ca_ext root key=k_int
issue leaf "/CN=Path Leaf" leaf intermediate key=k_leaf
issue leaf_expired "/CN=Path Leaf" leaf intermediate key=k_leaf \
  from=20200101000000Z until=20210101000000Z

issue other_root "/CN=Other Root" root self key=k_other
issue twin_root_match "/CN=Twin Root" root self key=k_twin_a
issue twin_root_mismatch "/CN=Twin Root" root self key=k_twin_b
issue twin_root_unknown "/CN=Twin Root" root_no_ski self key=k_twin_c
issue twin_cross "/CN=Twin Root" ca_ext other_root key=k_twin_a
issue twin_intermediate "/CN=Twin Intermediate" ca_ext twin_root_match \
  key=k_twin_int
issue twin_leaf "/CN=Twin Leaf" leaf twin_intermediate key=k_twin_leaf

issue dup_a "/CN=Dup CA" ca_ext root key=k_dup from=20210101000000Z \
  until=20350101000000Z
issue dup_b "/CN=Dup CA" ca_ext root key=k_dup from=20230101000000Z \
  until=20300101000000Z
issue dup_c "/CN=Dup CA" ca_ext root key=k_dup from=20230101000000Z \
  until=20360101000000Z
issue dup_leaf "/CN=Dup Leaf" leaf_no_aki dup_a key=k_dup_leaf

# Each of the pair needs the other to exist first: make B self-signed to
# sign A, then reissue B under A.
issue cycle_b_seed "/CN=Cycle B" root self key=k_cycle_b
issue cycle_a "/CN=Cycle A" ca_ext cycle_b_seed key=k_cycle_a
issue cycle_b "/CN=Cycle B" ca_ext cycle_a key=k_cycle_b
rm -f "$out/cycle_b_seed.der"
issue cycle_leaf "/CN=Cycle Leaf" leaf cycle_a key=k_cycle_leaf

for i in $(seq -w 0 11); do
  issue "loop_$i" "/CN=Loop CA" ca_no_aki self key="k_loop_$i"
done
issue loop_leaf "/CN=Loop Leaf" leaf_no_aki loop_00 key=k_loop_leaf

issue nobody "/CN=Nobody Knows Me" root self key=k_nobody
rm -f "$out/nobody.der"
issue orphan "/CN=Orphan" leaf nobody key=k_orphan

echo "Path builder certificates written to $out"
