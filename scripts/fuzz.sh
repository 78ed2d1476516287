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
  corpus="build/fuzz/corpus/$(basename "$target")"
  mkdir -p "$corpus"
  # Seeds kept in the tree (fuzz/corpus/<target>) are read beside the growing corpus.
  seeds="fuzz/corpus/$(basename "$target")"
  [ -d "$seeds" ] || seeds=""
  "$target" -max_total_time="$seconds" -max_len=65536 -artifact_prefix=build/fuzz/artifacts/ "$corpus" $seeds
done
