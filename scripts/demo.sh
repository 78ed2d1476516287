#!/usr/bin/env bash
# Builds and runs the parking demo. With no arguments it runs against a local fake parking
# service; pass --server URL (and --user/--password) to use a real one.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset default >/dev/null
cmake --build --preset default --target parking_demo >/dev/null
exec build/default/examples/parking_demo "$@"
