#!/bin/sh
# Builds harvix-cli and the launcher benchmark in release mode, installs what it compares
# against when missing (icoextract and icoextract-thumbnailer, icoutils for wrestool and
# icotool, libwine for the Wine modules; needs root or sudo), then runs it. Arguments go
# to the benchmark:
#   bench/icon-bench.sh [--runs N] [--modules N] [--wine DIR] [--work DIR] [--keep]
set -eu
. "$(dirname "$0")/bench-lib.sh"

missing=""
command -v icoextract >/dev/null 2>&1 || missing="$missing icoextract"
command -v exe-thumbnailer >/dev/null 2>&1 || missing="$missing icoextract-thumbnailer"
command -v wrestool >/dev/null 2>&1 || missing="$missing icoutils"
[ -d "$wine_modules" ] || missing="$missing libwine"
# shellcheck disable=SC2086 # one word a package
bench_install $missing

bench_run harvix-icon-bench "$@"
