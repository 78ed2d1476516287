#!/usr/bin/env bash
# The main job in one command: installs what the tree needs (scripts/bootstrap.sh), configures
# the default build, builds only the car-park drive and runs it, passing on every argument
# (scripts/drive.sh --help lists them). Build output is shown, so a failing build says why.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
cmake --preset default >/dev/null
cmake --build --preset default --target carpark_drive
exec build/default/examples/carpark_drive "$@"
