#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded time
# (FUZZ_SECONDS, default 20), starting from its checked-in seeds (fuzz/corpus/<target>) and
# with its JSON or date dictionary (fuzz/dict/<target>.dict). New inputs go to
# build/fuzz/corpus; crashes are kept under build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh --fuzz
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
seconds=${FUZZ_SECONDS:-20}
mkdir -p build/fuzz/artifacts
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  echo "=== ${name} for ${seconds}s"
  corpus="build/fuzz/corpus/${name}"
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -max_len=65536 -artifact_prefix=build/fuzz/artifacts/)
  [ -f "fuzz/dict/${name}.dict" ] && options+=(-dict="fuzz/dict/${name}.dict")
  seeds=()
  [ -d "fuzz/corpus/${name}" ] && seeds+=("fuzz/corpus/${name}")
  "$target" "${options[@]}" "$corpus" "${seeds[@]}"
done
