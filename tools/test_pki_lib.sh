# Shell library for the scripts that make our committed test and development
# certificates with the openssl command line. Source it from a bash script
# running under `set -euo pipefail`, call pki_begin, add the script's own
# extension sections with pki_extensions, then issue certificates.
#
# Every certificate is made by `openssl ca` from a request, so its subject,
# serial number, dates, digest and extensions are exactly what the script
# says and nothing comes from openssl's defaults. Keys are made fresh on every
# run, so a run gives new bytes but the same forms.
#
# Files, all in $PKI_WORK (a temporary folder removed when the script exits):
#   NAME.key   the private key of certificate NAME, or a key made by pki_key
#   NAME.pem   certificate NAME (PEM, no text)
#   ca.cnf     the openssl config ($PKI_CONFIG)
#
# pki_begin [from=TIME] [until=TIME] [md=DIGEST] [first_serial=N]
# Makes the work folder and the openssl config's CA part, and sets what
# pki_issue uses where a certificate does not say otherwise: its validity
# (YYYYMMDDHHMMSSZ), its digest (default sha256), and its serial number,
# counted from N (decimal, default 1) and written as hex.
pki_begin() {
  PKI_NOT_BEFORE='' PKI_NOT_AFTER='' PKI_DIGEST=sha256 PKI_NEXT_SERIAL=1
  local option
  for option in "$@"; do
    case $option in
      from=*) PKI_NOT_BEFORE=${option#from=} ;;
      until=*) PKI_NOT_AFTER=${option#until=} ;;
      md=*) PKI_DIGEST=${option#md=} ;;
      first_serial=*) PKI_NEXT_SERIAL=${option#first_serial=} ;;
      *) echo "pki_begin: unknown option $option" >&2; return 1 ;;
    esac
  done
  PKI_WORK=$(mktemp -d)
  # The work folder holds private keys nobody should keep.
  trap 'rm -rf "$PKI_WORK"' EXIT
  PKI_CONFIG=$PKI_WORK/ca.cnf
  # The config names its database folder through CA_DIR, and openssl reads
  # that on loading the config for any command; pki_issue points it at a
  # folder of the certificate's own.
  export CA_DIR=$PKI_WORK

  # "preserve" keeps each subject exactly as requested (order and all), and
  # every field is optional so that names without a common name can be made.
  cat > "$PKI_CONFIG" <<'CNF'
[ ca ]
default_ca = test_ca

[ test_ca ]
dir             = $ENV::CA_DIR
database        = $dir/index.txt
serial          = $dir/serial
new_certs_dir   = $dir
policy          = keep_everything
unique_subject  = no
email_in_dn     = no
copy_extensions = none
preserve        = yes

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

CNF
}

# pki_extensions: appends the extension sections read from stdin to the
# config; pki_issue names them.
pki_extensions() {
  cat >> "$PKI_CONFIG"
}

# pki_key NAME [rsa2048|rsa1024|p256]: makes the key NAME unless it exists,
# so that several certificates can share one key.
pki_key() {
  local name=$1 kind=${2:-rsa2048}
  local file=$PKI_WORK/$name.key
  [ -f "$file" ] && return
  local options
  case $kind in
    rsa2048) options=(-algorithm RSA -pkeyopt rsa_keygen_bits:2048) ;;
    rsa1024) options=(-algorithm RSA -pkeyopt rsa_keygen_bits:1024) ;;
    p256) options=(-algorithm EC -pkeyopt ec_paramgen_curve:P-256) ;;
    *) echo "pki_key: unknown key kind $kind" >&2; return 1 ;;
  esac
  openssl genpkey "${options[@]}" -out "$file" 2>/dev/null
}

# pki_adopt NAME CERT_PEM KEY_PEM: takes a certificate and its key made
# elsewhere, so that certificates can be issued under NAME.
pki_adopt() {
  cp "$2" "$PKI_WORK/$1.pem"
  cp "$3" "$PKI_WORK/$1.key"
}

# pki_request NAME SUBJECT KEY: writes the request NAME.csr for SUBJECT
# (openssl -subj form, read as UTF-8) with the key KEY, made if missing.
pki_request() {
  local name=$1 subject=$2 key=$3
  pki_key "$key"
  openssl req -new -config "$PKI_CONFIG" -key "$PKI_WORK/$key.key" \
    -subj "$subject" -utf8 -out "$PKI_WORK/$name.csr"
}

# pki_issue NAME SUBJECT EXT ISSUER [serial=HEX] [key=KEY] [from=TIME]
#           [until=TIME] [md=DIGEST]
# Issues certificate NAME (NAME.pem, and NAME.key its key) for SUBJECT with
# the extension section EXT, or none at all (a version 1 certificate) if EXT
# is "none". ISSUER names the issuing certificate, or is "self" for a
# self-signed one. The options default to: the next serial number of the
# counter, the key NAME (made RSA-2048 if missing), and pki_begin's settings.
pki_issue() {
  local name=$1 subject=$2 ext=$3 issuer=$4
  shift 4
  local serial='' key=$name
  local start=$PKI_NOT_BEFORE end=$PKI_NOT_AFTER md=$PKI_DIGEST
  local option
  for option in "$@"; do
    case $option in
      serial=*) serial=${option#serial=} ;;
      key=*) key=${option#key=} ;;
      from=*) start=${option#from=} ;;
      until=*) end=${option#until=} ;;
      md=*) md=${option#md=} ;;
      *) echo "pki_issue $name: unknown option $option" >&2; return 1 ;;
    esac
  done
  if [ -z "$serial" ]; then
    serial=$(printf '%04X' "$PKI_NEXT_SERIAL")
    PKI_NEXT_SERIAL=$((PKI_NEXT_SERIAL + 1))
  fi
  if [ -z "$start" ] || [ -z "$end" ]; then
    echo "pki_issue $name: no validity dates" >&2
    return 1
  fi

  # openssl ca takes the serial number from its database folder; one folder
  # per certificate means no earlier index entry can refuse a later one.
  local db=$PKI_WORK/db-$name
  mkdir -p "$db"
  : > "$db/index.txt"
  echo "$serial" > "$db/serial"

  pki_request "$name" "$subject" "$key"
  local signer=(-selfsign -keyfile "$PKI_WORK/$key.key")
  if [ "$issuer" != self ]; then
    signer=(-cert "$PKI_WORK/$issuer.pem" -keyfile "$PKI_WORK/$issuer.key")
  fi
  local extensions=(-extensions "$ext")
  [ "$ext" = none ] && extensions=()
  CA_DIR=$db openssl ca -config "$PKI_CONFIG" -batch -notext -utf8 \
    "${signer[@]}" -in "$PKI_WORK/$name.csr" -out "$PKI_WORK/$name.pem" \
    -startdate "$start" -enddate "$end" -md "$md" "${extensions[@]}" \
    2>/dev/null
  # Later certificates issued under this one are signed with this key.
  [ "$key" = "$name" ] || cp "$PKI_WORK/$key.key" "$PKI_WORK/$name.key"
}

# pki_der NAME FILE: writes certificate NAME to FILE as DER.
pki_der() {
  openssl x509 -in "$PKI_WORK/$1.pem" -outform DER -out "$2"
}

# pki_pem NAME FILE: writes certificate NAME to FILE as PEM.
pki_pem() {
  openssl x509 -in "$PKI_WORK/$1.pem" -out "$2"
}

# pki_break_signature NAME BROKEN: makes BROKEN.pem, certificate NAME with
# the last byte of its DER, which is the last byte of the signature,
# changed. The PEM is written by hand: the bytes must stay as they are.
pki_break_signature() {
  local hex
  hex=$(openssl x509 -in "$PKI_WORK/$1.pem" -outform DER | xxd -p | tr -d '\n')
  {
    echo '-----BEGIN CERTIFICATE-----'
    printf '%s%02x' "${hex:0:${#hex}-2}" $((0x${hex: -2} ^ 0x01)) |
      xxd -r -p | base64 -w 64
    echo '-----END CERTIFICATE-----'
  } > "$PKI_WORK/$2.pem"
}
