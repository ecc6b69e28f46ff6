#!/usr/bin/env bash
# Installs OpenSSL 3's development package (for this peer benchmark only;
# the tool's own dependencies never include it), builds the peer benchmark
# program and runs it; the ratios are printed at the end.
#   benchmarks/openssl_peer/setup.sh [build-dir]   (default: build-openssl-peer)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-openssl-peer}

if ! dpkg-query -W -f='${Status}' libssl-dev 2>/dev/null |
    grep -q 'install ok installed'; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends libssl-dev
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELM_BUILD_BENCHMARKS=ON -DKELM_BUILD_OPENSSL_PEER_BENCHMARK=ON
ninja -C "$build" -j4 kelm_openssl_peer_benchmarks
"$build/benchmarks/openssl_peer/kelm_openssl_peer_benchmarks" "${@:2}"
