#!/usr/bin/env bash
# A long fuzz campaign over every libFuzzer target, one target at a time on one core.
#
#   tools/fuzz-campaign.sh [--seconds N] [--build DIR] [--malloc-mb M] [--rss-mb R]
#                          [--seeds GLOB] [TARGET...]
#
#   --seconds N    time per target (default 300)
#   --build DIR    build folder of the fuzz targets (default build-fuzz-campaign; when
#                  it holds no targets yet it is configured here as the fuzz preset,
#                  but optimised, which runs several times as many inputs a second)
#   --malloc-mb M  largest single allocation allowed (default 64): more is reported as
#                  an out-of-memory finding
#   --rss-mb R     largest resident size of the process (default 1024; the sanitizers'
#                  own bookkeeping counts in it)
#   --seeds GLOB   start only from the seeds whose names match GLOB (for example 'ne-*'
#                  for the 16-bit modules), so that the campaign works on those forms
#   TARGET         names without the fuzz_ prefix (default: every target)
#
# Each target starts from its seed corpus (written by its seeder, if it has one), the
# corpus a previous campaign left in DIR/campaign/TARGET and every past finding kept in
# fuzz/regressions/TARGET. An input that takes more than one second is a hang. Every new
# crash, hang or out-of-memory input is written into fuzz/regressions/TARGET/, where
# test.sh replays it from then on. When a finding stops the fuzzer early, the target is
# restarted until its time is used up.
#
# At the end a table gives, per target, the executions, the executions per second, the
# corpus size and the findings (crashes, hangs, out-of-memory), and an estimate of the
# time 10 million executions would take at the measured speed. The exit status is 1 when
# anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=300
build=build-fuzz-campaign
malloc_mb=64
rss_mb=1024
seed_glob=""
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --malloc-mb) malloc_mb=$2; shift 2 ;;
    --rss-mb) rss_mb=$2; shift 2 ;;
    --seeds) seed_glob=$2; shift 2 ;;
    -h|--help) sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz-campaign: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
case "$build" in /*) ;; *) build="$root/$build" ;; esac

if ! ls "$build"/fuzz/fuzz_* >/dev/null 2>&1; then
  echo "== configuring and building the fuzz targets in $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DHARVIX_FUZZ=ON -DHARVIX_GUI=OFF -DHARVIX_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/fuzz/fuzz_*; do
    [ -x "$exe" ] && targets+=("$(basename "$exe" | sed 's/^fuzz_//')")
  done
fi

# The seeder of each target (see fuzz/CMakeLists.txt), if it has one.
seeder_of() {
  case "$1" in
    avi_decoder) echo avi_seeder ;;
    extract_module) echo extract_seeder ;;
    module_reader) echo module_reader_seeder ;;
    image_decoder) echo image_seeder ;;
    *) echo "" ;;
  esac
}

# The value of "stat::NAME: value" in a libFuzzer log, summed over the runs in it.
stat_sum() {
  awk -v key="stat::$1:" '$1 == key { s += $2 } END { print s + 0 }' "$2"
}

# Targets that write files (extract_module) do so below TMPDIR: memory, where there is some.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# On a machine whose processors are busy, an ordinary input can miss the one-second
# limit because the fuzzer got no processor for a second. Every new hang is run alone
# again, up to three times; one that finishes in time was starved, not hung, and is
# moved out of the regressions into DIR/campaign/TARGET.starved/ (counted as "starved").
recheck_hangs() {
  local exe=$1 regressions=$2 starved=$3 f try
  for f in "$regressions"/timeout-*; do
    [ -e "$f" ] || continue
    grep -qxF "$(basename "$f")" "$known_hangs" && continue
    for try in 1 2 3; do
      if "$exe" -runs=1 -timeout=1 "$f" >/dev/null 2>&1; then
        mkdir -p "$starved"
        mv "$f" "$starved/"
        break
      fi
    done
    [ -e "$f" ] && basename "$f" >>"$known_hangs"
  done
  return 0
}

summary=()
found_any=0
for target in "${targets[@]}"; do
  exe="$build/fuzz/fuzz_$target"
  if [ ! -x "$exe" ]; then
    echo "fuzz-campaign: no target $exe" >&2
    exit 2
  fi
  work="$build/campaign/$target"
  seeds="$build/campaign/$target.seeds"
  regressions="$root/fuzz/regressions/$target"
  log="$build/campaign/$target.log"
  mkdir -p "$work" "$seeds" "$regressions"
  seeder=$(seeder_of "$target")
  if [ -n "$seeder" ] && [ -x "$build/fuzz/$seeder" ]; then
    "$build/fuzz/$seeder" "$seeds" >/dev/null
  fi
  if [ -n "$seed_glob" ]; then
    for f in "$seeds"/*; do
      [ -e "$f" ] || continue
      # shellcheck disable=SC2254
      case "$(basename "$f")" in $seed_glob) ;; *) rm -f "$f" ;; esac
    done
  fi
  known_hangs="$build/campaign/$target.hangs"
  ls "$regressions" | grep '^timeout-' >"$known_hangs" || true
  before=$(ls "$regressions" | wc -l)
  : >"$log"

  echo "== $target: ${seconds} s (log: $log)"
  start=$(date +%s)
  runs=0
  while :; do
    now=$(date +%s)
    left=$((seconds - (now - start)))
    [ "$left" -ge 5 ] || break
    runs=$((runs + 1))
    # Findings stop this fuzzer; the loop starts another one for the time left. A
    # fuzzer that stops at once (a kept finding still fails while loading the corpus)
    # would only find the same again: the target is given up then.
    "$exe" "$work" "$seeds" "$regressions" \
      -max_total_time="$left" -timeout=1 -malloc_limit_mb="$malloc_mb" -rss_limit_mb="$rss_mb" \
      -print_final_stats=1 -artifact_prefix="$regressions/" -close_fd_mask=1 \
      >>"$log" 2>&1 || true
    recheck_hangs "$exe" "$regressions" "$build/campaign/$target.starved"
    if [ $(( $(date +%s) - now )) -lt 3 ]; then
      echo "   $target stopped at once; see $log" >&2
      break
    fi
  done
  elapsed=$(( $(date +%s) - start ))
  [ "$elapsed" -gt 0 ] || elapsed=1

  execs=$(stat_sum number_of_executed_units "$log")
  after=$(ls "$regressions" | wc -l)
  crashes=$(ls "$regressions" | grep -c '^crash-' || true)
  hangs=$(ls "$regressions" | grep -c '^timeout-' || true)
  ooms=$(ls "$regressions" | grep -c '^oom-' || true)
  leaks=$(ls "$regressions" | grep -c '^leak-' || true)
  new=$((after - before))
  [ "$new" -eq 0 ] || found_any=1
  corpus=$(ls "$work" | wc -l)
  starved=$(find "$build/campaign/$target.starved" -type f 2>/dev/null | wc -l || true)
  rate=$((execs / elapsed))
  if [ "$rate" -gt 0 ]; then
    ten_million=$(awk -v r="$rate" 'BEGIN { printf "%.1f h", 10000000 / r / 3600 }')
  else
    ten_million="-"
  fi
  summary+=("$(printf '%-16s %12s %9s %7s %6s %7s %6s %6s %5s %5s %7s  %s' \
    "$target" "$execs" "$rate" "$elapsed" "$corpus" "$runs" "$new" "$crashes" "$hangs" "$((ooms + leaks))" "$starved" "$ten_million")")
done

echo
echo "== fuzz campaign: ${seconds} s per target, -timeout=1 -malloc_limit_mb=$malloc_mb -rss_limit_mb=$rss_mb"
printf '%-16s %12s %9s %7s %6s %7s %6s %6s %5s %5s %7s  %s\n' \
  target execs "execs/s" seconds corpus fuzzers new crash hang oom starved "10M execs at this speed"
for line in "${summary[@]}"; do echo "$line"; done
echo "(crash, hang, oom: the findings kept in fuzz/regressions/TARGET; new: found by this campaign;"
echo " starved: hangs that finished in time when run again alone, kept in campaign/TARGET.starved)"
exit "$found_any"
