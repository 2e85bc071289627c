#!/bin/sh
# Builds harvix-cli, the walk benchmark and the scale benchmark in release mode, installs
# libwine for its modules when missing (needs root or sudo), then runs it. Arguments go to
# the benchmark:
#   bench/scale-bench.sh [--work DIR] [--fractions 0.1,0.25,0.5,1] [--runs N] [--jobs N]
#                        [--wine DIR | --no-wine] [--copy] [--cold] [--keep] [--cli PATH]
#   bench/scale-bench.sh --make-tree DIR [--scale S] [--wine DIR | --no-wine] [--copy]
# The whole tree takes about 2 GiB of disk beside the outputs (the Wine modules are hard
# links unless --copy), and making it a minute or two.
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${HARVIX_BENCH_BUILD:-"$repo/build-bench"}

if [ ! -d /usr/lib/x86_64-linux-gnu/wine/x86_64-windows ] && command -v apt-get >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing libwine ..."
  $sudo apt-get install -y libwine >/dev/null || echo "could not install libwine: generated modules only"
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O2: GCC 12 at -O3 stops on a false -Wrestrict warning in inlined string code.
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
    -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target harvix-scale-bench -j2 >/dev/null
exec "$build/bench/harvix-scale-bench" "$@"
