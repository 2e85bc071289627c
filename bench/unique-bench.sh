#!/bin/sh
# What writing each picture once saves: harvix-cli extract over the Wine modules (or DIR),
# every kind, with --png, once as by default and once with --unique, each run into a
# fresh folder; prints the files, the bytes and the time of both, and what --unique
# saved. Builds harvix-cli in release mode unless HARVIX_CLI names one.
#   bench/unique-bench.sh [DIR] [--runs N]
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${HARVIX_BENCH_BUILD:-"$repo/build-bench"}
modules=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
runs=3
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    *) modules=$1; shift ;;
  esac
done
[ -d "$modules" ] || { echo "no modules at $modules (install libwine, or name a folder)" >&2; exit 2; }

cli=${HARVIX_CLI:-}
if [ -z "$cli" ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" \
      -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target harvix-cli -j2 >/dev/null
  cli="$build/cli/harvix-cli"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/harvix-unique-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export HARVIX_REGISTRY="$work/registry.db"

# One run into a fresh folder; prints "files bytes milliseconds" (the index files left
# out of the files and bytes: both runs write the same records).
measure() {
  dest="$work/out-$1-$2"
  start=$(date +%s%N)
  "$cli" extract --yes --png --kinds bitmap,icon,cursor,anicursor,video,html,image $3 --dest "$dest" --report "$work/report-$1-$2.json" "$modules" \
    >/dev/null 2>&1 || true
  end=$(date +%s%N)
  files=$(find "$dest" -type f ! -name __index.txt | wc -l)
  bytes=$(find "$dest" -type f ! -name __index.txt -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  echo "$files $bytes $(( (end - start) / 1000000 ))"
  rm -rf "$dest"
}

echo "modules: $modules ($(find "$modules" -maxdepth 1 -type f | wc -l) files), $runs runs each, --png, every kind"
best_default="" best_unique=""
i=1
while [ "$i" -le "$runs" ]; do
  d=$(measure default "$i" "")
  u=$(measure unique "$i" --unique)
  set -- $d; df=$1 db=$2 dt=$3
  set -- $u; uf=$1 ub=$2 ut=$3
  [ -z "$best_default" ] || [ "$dt" -lt "$best_default" ] && best_default=$dt
  [ -z "$best_unique" ] || [ "$ut" -lt "$best_unique" ] && best_unique=$ut
  i=$((i + 1))
done
folded=$(sed -n 's/.*"folded_copies": *\([0-9]*\).*/\1/p' "$work/report-unique-$runs.json" | awk '{s += $1} END {print s + 0}')
echo "default:  $df files, $db bytes, best of $runs: $best_default ms"
echo "--unique: $uf files, $ub bytes, best of $runs: $best_unique ms ($folded resource files folded, as the report counts them)"
awk -v df="$df" -v db="$db" -v uf="$uf" -v ub="$ub" -v dt="$best_default" -v ut="$best_unique" 'BEGIN {
  printf "saved:    %d files (%.1f %%), %d bytes (%.1f %%); time %.2f x the default run\n",
         df - uf, df ? 100 * (df - uf) / df : 0, db - ub, db ? 100 * (db - ub) / db : 0, dt ? ut / dt : 0 }'
