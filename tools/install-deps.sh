#!/usr/bin/env bash
# Installs the Debian packages the build and tests need. Does nothing when they
# are all present, so it is cheap to run before every build. Extra package
# names given as arguments are installed too (CI's fuzzer build asks for
# clang this way).
#   tools/install-deps.sh [package...]
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libabsl-dev android-libboringssl-dev libevent-dev libdouble-conversion-dev
  libgtest-dev libgmock-dev libbenchmark-dev tzdata openssl
  libprotobuf-dev
  jq  # tools/gtest-programs.sh reads CTest's list of tests with it
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
