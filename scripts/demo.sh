#!/usr/bin/env bash
# Builds and runs the parking demo. With no arguments it runs against a local fake parking
# service; pass --server URL (and --user/--password) to use a real one; --help lists the
# options. Build output is shown, so a failing build says why.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
cmake --preset default >/dev/null
cmake --build --preset default --target parking_demo
exec build/default/examples/parking_demo "$@"
