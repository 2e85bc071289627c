#!/bin/sh
# Builds harvix-cli and the extraction benchmark in release mode, then runs it.
# Usage: bench/extract-bench.sh [--runs N] [--modules N] [--quick] [--work DIR]
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${HARVIX_BENCH_BUILD:-"$repo/build-bench"}
if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O2: GCC 12 at -O3 stops on a false -Wrestrict warning in inlined string code.
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
    -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target harvix-extract-bench -j2 >/dev/null
exec "$build/bench/harvix-extract-bench" "$@"
