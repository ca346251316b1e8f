#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing voxrelay need, when missing.
# Usage: tools/deps.sh run|test
set -euo pipefail
want=(cmake ninja-build g++ python3 libboost-dev libloki-dev libsnmp-dev)
if [ "${1:-run}" = test ]; then
  want+=(clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest libbenchmark-dev libevent-dev
         tshark erlang-base erlang-asn1 asn1c faketime socat strace pkg-config
         g++-powerpc-linux-gnu qemu-user libpri-dev libss7-dev snmptrapd)
fi
missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
