#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and widget tests
# (warnings as errors), the same non-window tests under the address and undefined-
# behaviour sanitizers, and every fuzz corpus and past crash replayed through the
# fuzz targets. Exits non-zero on any failure.
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

echo "== fuzz targets: replay corpora and regressions"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --test-dir build-fuzz --output-on-failure -j "$jobs"
