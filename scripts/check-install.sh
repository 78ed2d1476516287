#!/usr/bin/env bash
# Builds everything at -O3 (the release preset, tests included), installs the package, and
# builds a small consumer project against the install: it compiles every installed header
# on its own and links and runs a program that sets no C++ standard of its own. Last, the
# host-conformance suite (tests/host) builds against the install and runs.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

prefix="$PWD/build/release/install"
echo "=== release build (-O3)"
cmake --preset release >/dev/null
cmake --build --preset release -j "${VELMORA_JOBS:-$(nproc)}"
rm -rf "$prefix"
cmake --install build/release --prefix "$prefix" >/dev/null

echo "=== consumer project against the install"
consumer="build/release/consumer"
launcher=$(command -v ccache || true)
cmake -S cmake/consumer -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
cmake --build "$consumer" -j "${VELMORA_JOBS:-$(nproc)}"
"$consumer/consumer"

echo "=== host-conformance suite against the install"
scripts/host-suite.sh "$prefix" build/release/host-suite
