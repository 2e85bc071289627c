#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and widget tests
# (warnings as errors), the same non-window tests under the address and undefined-
# behaviour sanitizers, the tests of the run's threads under the thread sanitizer,
# every fuzz corpus and past crash replayed through the fuzz targets, and a release
# build made into a Debian package and checked. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
jobs=$(nproc)

tools/install-deps.sh test

echo "== build and test (default)"
cmake --preset default -DHARVIX_TESTS=ON >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== build and test (address and undefined-behaviour sanitizers)"
cmake --preset asan -DHARVIX_GUI=OFF >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== build and test (thread sanitizer: the run's threads, the run, search and engine)"
tsan_tests=(handoff/handoff_test run/run_tests search/search_tests engine/engine_tests)
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target "${tsan_tests[@]##*/}"
for t in "${tsan_tests[@]}"; do
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "build-tsan/tests/$t"
done

echo "== fuzz targets: replay corpora and regressions"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -j "$jobs"

echo "== release build, Debian package and its checks"
started=$SECONDS
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DHARVIX_WERROR=ON \
  -DHARVIX_TESTS=OFF >/dev/null
cmake --build build-release -j "$jobs"
packaging/check-package.sh build-release
echo "(release build and package checks: $((SECONDS - started)) s)"
