#!/usr/bin/env bash
# Fails when a binary needs OpenSSL's libraries instead of BoringSSL's, or
# links OpenSSL's symbol versions.
#   check-no-openssl.sh <binary>...
set -euo pipefail
status=0
for binary in "$@"; do
  needed=$(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  if grep -Eq '^lib(ssl|crypto)\.so\.(1|3)' <<<"$needed"; then
    echo "$binary needs OpenSSL: $(grep -E '^lib(ssl|crypto)' <<<"$needed" | tr '\n' ' ')" >&2
    status=1
  fi
  if readelf --dyn-syms -W "$binary" | grep -q '@OPENSSL_'; then
    echo "$binary uses OpenSSL symbol versions" >&2
    status=1
  fi
  resolved=$(ldd "$binary" 2>/dev/null | grep -E 'lib(ssl|crypto)\.so' || true)
  if grep -qv '/android/' <<<"${resolved:-/android/}"; then
    echo "$binary resolves crypto outside BoringSSL: $resolved" >&2
    status=1
  fi
done
exit $status
