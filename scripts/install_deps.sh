#!/usr/bin/env bash
# Installs the Debian 12 packages the controller, its tests and benchmarks need.
set -euo pipefail
PACKAGES=(
  build-essential cmake pkg-config
  iproute2
  libprotobuf-dev protobuf-compiler
  cyclonedds-dev cyclonedds-tools
  libfastrtps-dev libfastcdr-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  liborocos-kdl-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
