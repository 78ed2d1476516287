#!/usr/bin/env bash
# Installs what the tree needs, then configures, builds and runs every test: the default
# build, AddressSanitizer + UndefinedBehaviorSanitizer over every test, and ThreadSanitizer
# over the tests labelled "threads". The asan tree is also installed, and the host-conformance
# suite (tests/host) is built against that install with the same sanitizers and run. Then it
# compiles everything at -O3 and checks the installed package with a consumer project and
# the host-conformance suite (scripts/check-install.sh); set
# VELMORA_CHECK_INSTALL=0 to skip that. VELMORA_CLEAN_BUILDS=1 deletes each build tree once its
# tests have passed (ccache keeps the objects), which keeps a fresh machine's disk use to one
# tree at a time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh

# Object files are shared between build trees and clones of the tree through ccache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

presets=(${VELMORA_PRESETS:-default asan tsan})
for preset in "${presets[@]}"; do
  echo "=== preset ${preset}"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "$(nproc)"
  ctest --preset "${preset}"
  if [ "${preset}" = asan ]; then
    echo "=== host-conformance suite against the asan install (ASan+UBSan)"
    rm -rf build/asan/install
    cmake --install build/asan --prefix build/asan/install >/dev/null
    scripts/host-suite.sh "$PWD/build/asan/install" build/asan/host-suite address
  fi
  if [ "${VELMORA_CLEAN_BUILDS:-0}" = 1 ]; then rm -rf "build/${preset}"; fi
done

if [ "${VELMORA_CHECK_INSTALL:-1}" != 0 ]; then
  scripts/check-install.sh
  if [ "${VELMORA_CLEAN_BUILDS:-0}" = 1 ]; then rm -rf build/release; fi
fi

# Every fuzz target briefly (clang, ASan+UBSan); VELMORA_FUZZ_SECONDS=0 skips them.
fuzz_seconds=${VELMORA_FUZZ_SECONDS:-5}
if [ "${fuzz_seconds}" != 0 ]; then
  echo "=== fuzz targets, ${fuzz_seconds}s each"
  FUZZ_SECONDS="${fuzz_seconds}" scripts/fuzz.sh
fi
