#!/bin/sh
# Builds harvix-cli and the comparison benchmark in release mode, installs the tools it
# compares against when they are missing (icoutils for wrestool, 7zip, and libwine for
# the Wine modules; needs root or sudo), then runs it. Arguments go to the benchmark:
#   bench/compare.sh [--runs N] [--modules N] [--work DIR] [--wine DIR | --no-wine]
#                    [--no-generated] [--walk-tree DIR | --no-walk] [--keep]
#                    [--no-wrestool] [--no-7z] [--cli PATH] [--baseline [LABEL=]PATH]...
#                    [--jobs N]... [--cold]
# --baseline [LABEL=]PATH also times another harvix-cli (say, a release build of an
# earlier commit) with the same arguments, and --jobs N this one with a fixed number of
# readers; both may be given more than once (the first baseline is the one the goals
# are measured against); --cold repeats everything with the page cache dropped
# before every run (needs root; where refused, it says so and runs warm).
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${HARVIX_BENCH_BUILD:-"$repo/build-bench"}

missing=""
command -v wrestool >/dev/null 2>&1 || missing="$missing icoutils"
command -v 7z >/dev/null 2>&1 || command -v 7zz >/dev/null 2>&1 || missing="$missing 7zip"
[ -d /usr/lib/x86_64-linux-gnu/wine/x86_64-windows ] || missing="$missing libwine"
if [ -n "$missing" ] && command -v apt-get >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing$missing ..."
  $sudo apt-get install -y $missing >/dev/null || echo "could not install$missing: left out"
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
  # -O2: GCC 12 at -O3 stops on a false -Wrestrict warning in inlined string code.
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
    -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target harvix-compare-bench -j2 >/dev/null
exec "$build/bench/harvix-compare-bench" "$@"
