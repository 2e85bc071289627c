#!/bin/sh
# Installs liburing-dev when missing (needs root or sudo; without it only the writer
# thread's calls are timed), builds harvix-cli and the writer benchmark in release mode,
# then runs it. Arguments go to the benchmark:
#   bench/write-bench.sh [--runs N] [--batch N] [--wine DIR] [--work DIR] [--cli PATH]
#                        [--cold] [--keep]
set -eu
. "$(dirname "$0")/bench-lib.sh"

missing=""
[ -f /usr/include/liburing.h ] || missing="$missing liburing-dev"
[ -d "$wine_modules" ] || missing="$missing libwine"
# shellcheck disable=SC2086 # one word a package
bench_install $missing

bench_run harvix-write-bench "$@"
