#!/bin/sh
# Builds harvix-cli and the comparison benchmark in release mode, installs the tools it
# compares against when they are missing (icoutils for wrestool, 7zip, and libwine for
# the Wine modules; needs root or sudo), then runs it. Arguments go to the benchmark:
#   bench/compare.sh [--runs N] [--modules N] [--work DIR] [--wine DIR | --no-wine]
#                    [--no-generated] [--walk-tree DIR | --no-walk] [--keep]
#                    [--no-wrestool] [--no-7z] [--cli PATH] [--baseline [LABEL=]PATH]...
#                    [--jobs N]... [--cold] [--strace PATH | --no-strace]
# --baseline [LABEL=]PATH also times another harvix-cli (say, a release build of an
# earlier commit) with the same arguments, and --jobs N this one with a fixed number of
# readers; both may be given more than once (the first baseline is the one the goals
# are measured against); --cold repeats everything with the page cache dropped
# before every run (needs root; where refused, it says so and runs warm). Warm, strace
# counts the system calls of one run each of harvix-cli and the floor of the fewest calls.
set -eu
. "$(dirname "$0")/bench-lib.sh"

missing=""
command -v wrestool >/dev/null 2>&1 || missing="$missing icoutils"
command -v 7z >/dev/null 2>&1 || command -v 7zz >/dev/null 2>&1 || missing="$missing 7zip"
[ -d "$wine_modules" ] || missing="$missing libwine"
command -v strace >/dev/null 2>&1 || missing="$missing strace"
# shellcheck disable=SC2086 # one word a package
bench_install $missing

bench_run harvix-compare-bench "$@"
