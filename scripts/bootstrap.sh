#!/usr/bin/env bash
# Installs the Debian packages the tree builds and tests with. Idempotent: when every
# package is already present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  nlohmann-json3-dev libfmt-dev libssl-dev libcurl4-openssl-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  libplist-dev
  openssl
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
