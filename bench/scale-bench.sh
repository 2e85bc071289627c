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
. "$(dirname "$0")/bench-lib.sh"

missing=""
[ -d "$wine_modules" ] || missing="$missing libwine"
# shellcheck disable=SC2086 # one word a package
bench_install $missing

bench_run harvix-scale-bench "$@"
