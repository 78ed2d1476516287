#!/usr/bin/env bash
# Builds everything at -O3 (the release preset, tests included), installs the package
# (shared libraries), and builds a small consumer project against the install: it compiles
# every installed header on its own and with <sys/sysmacros.h> before and after them, under
# a strict host's warnings, and links and runs a program that sets no C++ standard of its
# own and checks that library, headers and package name one release. The shared objects
# must carry the release in their sonames and export the SDK's namespace only. A pkg-config
# host (no CMake) compiles and links the same program. A second, static install
# (BUILD_SHARED_LIBS=OFF, the libraries alone at -O0) is linked by the CMake consumer and by
# a pkg-config --static host; VELMORA_CHECK_STATIC=0 skips it. Last, the host-conformance
# suite (tests/host) builds against the shared install and runs.
#   VELMORA_CHECK_INSTALL_PREFIX=DIR checks an existing shared install instead of building one.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
jobs="${VELMORA_JOBS:-$(nproc)}"
launcher=$(command -v ccache || true)

prefix="${VELMORA_CHECK_INSTALL_PREFIX:-}"
work="build/release"
if [ -z "$prefix" ]; then
  prefix="$PWD/build/release/install"
  echo "=== release build (-O3)"
  cmake --preset release >/dev/null
  cmake --build --preset release -j "$jobs"
  rm -rf "$prefix"
  cmake --install build/release --prefix "$prefix" >/dev/null
else
  prefix=$(cd "$prefix" && pwd)
  work="build/check-install"
fi
mkdir -p "$work"
version=$(sed -n 's/^Version: //p' "$prefix"/lib*/pkgconfig/velmora.pc)
libdir=$(dirname "$(ls "$prefix"/lib*/pkgconfig/velmora.pc)")/..
libdir=$(cd "$libdir" && pwd)

echo "=== shared objects: sonames and exported symbols"
IFS=. read -r major minor _ <<<"$version"
for lib in velmora_platform velmora_beacons velmora_parking; do
  so="$libdir/lib$lib.so.$version"
  [ -f "$so" ] || { echo "missing $so"; exit 1; }
  soname=$(readelf -d "$so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.$major.$minor" ] || { echo "$so: soname '$soname', expected lib$lib.so.$major.$minor"; exit 1; }
  # Every defined dynamic symbol is the SDK's own; nothing else leaks out.
  foreign=$(nm -D --defined-only -C "$so" | grep -v 'velmora::' | awk '$2 != "A"' || true)
  if [ -n "$foreign" ]; then
    echo "$so exports symbols outside the SDK's namespace:"; echo "$foreign" | head -20; exit 1
  fi
done

echo "=== consumer project against the install"
consumer="$work/consumer"
cmake -S cmake/consumer -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
cmake --build "$consumer" -j "$jobs"
"$consumer/consumer"

echo "=== pkg-config host against the install"
pc() { PKG_CONFIG_PATH="$1/$(basename "$libdir")/pkgconfig" pkg-config "${@:2}" velmora; }
[ "$(pc "$prefix" --modversion)" = "$version" ]
# shellcheck disable=SC2046
${launcher:+$launcher} c++ -std=c++20 -Wall -Wextra -Wpedantic -Werror -DVELMORA_PACKAGE_VERSION="\"$version\"" \
  cmake/consumer/main.cpp $(pc "$prefix" --cflags --libs) -Wl,-rpath,"$libdir" -o "$work/pkgconfig-consumer"
"$work/pkgconfig-consumer"

if [ "${VELMORA_CHECK_STATIC:-1}" != 0 ]; then
  echo "=== static install (BUILD_SHARED_LIBS=OFF)"
  static_build="$work/static"
  static_prefix="$PWD/$work/static-install"
  cmake -S . -B "$static_build" -G Ninja -DBUILD_SHARED_LIBS=OFF -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0" -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF \
    -DVELMORA_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build "$static_build" -j "$jobs"
  rm -rf "$static_prefix"
  cmake --install "$static_build" --prefix "$static_prefix" >/dev/null
  static_libdir=$(dirname "$(ls "$static_prefix"/lib*/pkgconfig/velmora.pc)")/..
  for lib in velmora_platform velmora_beacons velmora_parking; do
    [ -f "$static_libdir/lib$lib.a" ] || { echo "missing lib$lib.a"; exit 1; }
  done
  cmake -S cmake/consumer -B "$work/static-consumer" -G Ninja -DCMAKE_PREFIX_PATH="$static_prefix" \
    -DVELMORA_CONSUMER_HEADERS=OFF ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
  cmake --build "$work/static-consumer" -j "$jobs"
  "$work/static-consumer/consumer"
  # shellcheck disable=SC2046
  ${launcher:+$launcher} c++ -std=c++20 -Wall -Wextra -Wpedantic -Werror -DVELMORA_PACKAGE_VERSION="\"$version\"" \
    cmake/consumer/main.cpp $(pc "$static_prefix" --static --cflags --libs) -o "$work/pkgconfig-static-consumer"
  "$work/pkgconfig-static-consumer"
fi

echo "=== host-conformance suite against the install"
scripts/host-suite.sh "$prefix" "$work/host-suite"
