#!/bin/sh
# Builds harvix-cli and the thumbnailer benchmark in release mode, installs what it
# compares against when missing (icoextract-thumbnailer for exe-thumbnailer, libwine for
# the Wine modules; needs root or sudo), then runs it. Arguments go to the benchmark:
#   bench/thumbnail-bench.sh [--runs N] [--modules N] [--wine DIR] [--work DIR] [--keep]
set -eu
. "$(dirname "$0")/bench-lib.sh"

missing=""
command -v exe-thumbnailer >/dev/null 2>&1 || missing="$missing icoextract-thumbnailer"
[ -d "$wine_modules" ] || missing="$missing libwine"
# shellcheck disable=SC2086 # one word a package
bench_install $missing

bench_run harvix-thumbnail-bench "$@"
