#!/bin/sh
# Builds harvix-cli and the launcher benchmark in release mode, installs what it compares
# against when missing (icoextract and icoextract-thumbnailer, icoutils for wrestool and
# icotool, libwine for the Wine modules; needs root or sudo), then runs it. Arguments go
# to the benchmark:
#   bench/icon-bench.sh [--runs N] [--modules N] [--wine DIR] [--work DIR] [--keep]
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${HARVIX_BENCH_BUILD:-"$repo/build-bench"}

missing=""
command -v icoextract >/dev/null 2>&1 || missing="$missing icoextract"
command -v exe-thumbnailer >/dev/null 2>&1 || missing="$missing icoextract-thumbnailer"
command -v wrestool >/dev/null 2>&1 || missing="$missing icoutils"
[ -d /usr/lib/x86_64-linux-gnu/wine/x86_64-windows ] || missing="$missing libwine"
if [ -n "$missing" ] && command -v apt-get >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing$missing ..."
  $sudo apt-get install -y $missing >/dev/null || echo "could not install$missing"
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O2: GCC 12 at -O3 stops on a false -Wrestrict warning in inlined string code.
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
    -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target harvix-icon-bench -j2 >/dev/null
exec "$build/bench/harvix-icon-bench" "$@"
