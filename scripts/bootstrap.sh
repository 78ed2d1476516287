#!/usr/bin/env bash
# Installs the Debian packages the tree builds and tests with (Debian 12 "bookworm").
# Idempotent: when every package is already present it only checks and returns.
#   scripts/bootstrap.sh          what building, testing, the benchmarks and the demo need
#   scripts/bootstrap.sh --fuzz   also clang and its sanitizer runtime, for the fuzz targets
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache ca-certificates
  nlohmann-json3-dev libfmt-dev libssl-dev libcurl4-openssl-dev libicu-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libplist-dev libxml2-dev libsqlite3-dev libsqlitecpp-dev
  libsdbus-c++-dev
  openssl
  dbus python3-dbusmock
)

for arg in "$@"; do
  case "$arg" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *)
      echo "bootstrap: unknown option '$arg' (known: --fuzz)" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "bootstrap: missing packages: ${missing[*]}" >&2
      echo "bootstrap: not root and sudo is not installed; as root, run:" >&2
      echo "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
    sudo_cmd=(sudo)
  fi
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
