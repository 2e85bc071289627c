#!/bin/sh
# Builds harvix-cli and the extraction benchmark in release mode, then runs it.
# Usage: bench/extract-bench.sh [--runs N] [--modules N] [--quick] [--work DIR]
set -eu
. "$(dirname "$0")/bench-lib.sh"

bench_run harvix-extract-bench "$@"
