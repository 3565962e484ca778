#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the demo need.
# Idempotent: packages already present are not touched, and the package lists are only
# refreshed when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libboost-dev libboost-system-dev libboost-date-time-dev
  libwebsocketpp-dev libssl-dev librdkafka-dev libsimdjson-dev libfast-float-dev
  zlib1g-dev libglm-dev robin-map-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux mount kcat pigz
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
