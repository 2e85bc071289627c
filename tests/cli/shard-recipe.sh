#!/usr/bin/env bash
# The recipe of docs/scripts.md for a tree too large for one run, on the sample modules: the
# names from `find -print0`, three shards through GNU parallel, one harvix-cli extract
# per shard with its own report and destination, the reports summed with jq. The
# shards' outputs together must hold exactly the files and bytes of a single run (the
# names aside), and the summed report must equal the single run's.
# Usage: shard-recipe.sh HARVIX_CLI SAMPLES_DIR
set -euo pipefail
cli=$1 samples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$work"

# Eight modules (the samples twice, the copies under other names, so that no per-size
# icon file of one replaces another's in the single run) and one file that is no module.
mkdir -p tree/again
cp "$samples"/*.dll "$samples"/*.exe tree/
for f in "$samples"/*.dll "$samples"/*.exe; do cp "$f" "tree/again/copy-$(basename "$f")"; done
[ "$(find tree -type f | wc -l)" -eq 8 ] || fail "expected 8 sample files"

# The single run.
"$cli" extract --dest single --mask '*' --report single.json tree > /dev/null 2>&1 ||
  fail "single run exited $?"

# The recipe: shards of 3 names each.
mkdir out
find tree -type f -print0 |
  parallel --will-cite --pipe --recend '\0' -N 3 \
    "$cli" extract --files-from - --null --report shard-{#}.json --dest out/shard-{#} \
    > /dev/null 2>&1 || fail "a shard failed"
[ "$(ls shard-*.json | wc -l)" -eq 3 ] || fail "expected 3 shards, got $(ls shard-*.json)"

# The sum of the reports, as docs/scripts.md gives it.
sum='def total(f): map(f) | add;
  { files_found: total(.files_found), modules_read: total(.modules_read),
    not_modules: total(.not_modules),
    unreadable_files: total(.unreadable_files.count),
    unlisted_folders: total(.unlisted_folders.count),
    failed_runs: map(select(.exit_status != 0)) | length,
    kinds: (map(.kinds) | reduce (.[] | to_entries[]) as $k ({};
             reduce ($k.value | to_entries[]) as $c (.; .[$k.key][$c.key] += $c.value))) }'
jq -S -s "$sum" shard-*.json > summed.json
jq -S -s "$sum" single.json > expected.json
cmp -s summed.json expected.json || fail "summed reports differ: $(diff expected.json summed.json)"
[ "$(jq .modules_read summed.json)" -eq 6 ] || fail "modules read: $(cat summed.json)"

# Every output file (not the index files) by its folder below the destination and its
# bytes: "./Icons/32x32/8 <sha256>".
contents() {
  for d in "$@"; do
    (cd "$d" && find . -type f ! -name __index.txt -printf '%h ' -exec sha256sum {} \; |
      awk '{print $1, $2}')
  done | sort
}
single=$(contents single)
shards=$(contents out/shard-*)
[ -n "$single" ] || fail "the single run wrote nothing"
[ "$single" = "$shards" ] || fail "outputs differ: $(diff <(echo "$single") <(echo "$shards"))"
records() { cat "$@" | grep -c -- ' - SOURCE FILE = ' || true; }
[ "$(records single/*/__index.txt)" -eq "$(records out/shard-*/*/__index.txt)" ] ||
  fail "index records differ"
jq -c . summed.json
echo "shard recipe: $(echo "$single" | wc -l) files in 3 shards equal the single run"
