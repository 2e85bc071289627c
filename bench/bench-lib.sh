# Shared by the bench/*.sh launchers (sourced, not run): installing what a benchmark
# compares against, and building a benchmark in release mode once into build-bench.
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${HARVIX_BENCH_BUILD:-"$repo/build-bench"}
wine_modules=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows

# bench_install PACKAGE...: installs the Debian packages named (needs root or sudo);
# where that fails the benchmark goes on without them and says so.
bench_install() {
  [ $# -gt 0 ] || return 0
  command -v apt-get >/dev/null 2>&1 || return 0
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing $* ..."
  $sudo apt-get install -y "$@" >/dev/null || echo "could not install $*: left out"
}

# bench_run TARGET ARG...: builds the benchmark TARGET and harvix-cli (-O2 with symbols,
# the build the figures in docs/performance.md were measured with) and runs it.
bench_run() {
  target=$1
  shift
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
      -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target "$target" -j2 >/dev/null
  exec "$build/bench/$target" "$@"
}
