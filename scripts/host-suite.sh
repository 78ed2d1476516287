#!/usr/bin/env bash
# Builds the host-conformance suite (tests/host) against an installed package and runs it.
#   scripts/host-suite.sh <install prefix> <build dir> [address]
# With "address" the suite is compiled with AddressSanitizer + UndefinedBehaviorSanitizer
# (the install must come from the asan build) and run with leak detection on. The last
# lines are ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="$1"
build="$2"
sanitize="${3:-}"
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

flags=()
if [ "$sanitize" = address ]; then
  flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=-g1 -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
         "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all")
  export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
else
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
launcher=$(command -v ccache || true)
cmake -S tests/host -B "$build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" "${flags[@]}" \
  ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
cmake --build "$build" -j "${VELMORA_JOBS:-$(nproc)}"
ctest --test-dir "$build" --output-on-failure -j "${VELMORA_JOBS:-$(nproc)}"
