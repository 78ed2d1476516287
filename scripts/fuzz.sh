#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one for a bounded time
# (FUZZ_SECONDS, default 20). Crashes are kept under build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
seconds=${FUZZ_SECONDS:-20}
mkdir -p build/fuzz/artifacts
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  echo "=== $(basename "$target") for ${seconds}s"
  name="$(basename "$target")"
  corpus="build/fuzz/corpus/${name}"
  mkdir -p "$corpus"
  # Seeds kept in the tree (fuzz/corpus/<target>) are read beside the growing corpus, and
  # a dictionary of the input's tokens (fuzz/<target>.dict) is used where there is one.
  seeds="fuzz/corpus/$(basename "$target")"
  [ -d "$seeds" ] || seeds=""
  dict=""
  [ -f "fuzz/${name}.dict" ] && dict="-dict=fuzz/${name}.dict"
  "$target" -max_total_time="$seconds" -max_len=65536 -artifact_prefix=build/fuzz/artifacts/ $dict "$corpus" $seeds
done
