#!/usr/bin/env bash
# harvix-cli's output for scripts, run as a program on the sample modules: list --format
# json (checked against its schema, a path of bytes 0x80-0xFF written losslessly), the
# tsv default unchanged, extract --report for a completed and a refused run (checked
# against its schema), the summary on stderr, and --files-from with the header it writes.
# Usage: script-output.sh HARVIX_CLI SAMPLES_DIR SCHEMA_DIR
set -euo pipefail
cli=$1 samples=$2 schemas=$3
here=$(cd "$(dirname "$0")" && pwd)
validate() { /usr/bin/python3 "$here/validate_json.py" "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A tree of the samples, one of them under a name that is not UTF-8.
mkdir "$work/tree"
cp "$samples"/*.dll "$samples"/*.exe "$work/tree/"
odd=$(printf 'odd-\x80\xff\xc3(.dll')
mv "$work/tree/pictures.dll" "$work/tree/$odd"

# list: tsv is the default, json holds the same resources, one valid object per line.
"$cli" list --mask '*' "$work/tree" > "$work/default.tsv"
"$cli" list --format tsv --mask '*' "$work/tree" > "$work/explicit.tsv"
cmp -s "$work/default.tsv" "$work/explicit.tsv" || fail "--format tsv differs from the default"
"$cli" list --format json --mask '*' "$work/tree" > "$work/list.jsonl"
[ "$(wc -l < "$work/list.jsonl")" -eq "$(wc -l < "$work/default.tsv")" ] ||
  fail "json and tsv list different numbers of resources"
validate "$schemas/list-record.schema.json" --lines "$work/list.jsonl" || fail "list schema"
/usr/bin/python3 - "$work/list.jsonl" "$work/tree/$odd" <<'PY' || fail "path of odd bytes"
import json, os, sys
want = os.fsencode(sys.argv[2])
records = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")]
odd = [r for r in records if "path_bytes" in r]
assert odd, "no record has path_bytes"
assert all(bytes(r["path_bytes"]) == want for r in odd), "path_bytes is not the path"
assert all("\ufffd" in r["path"] for r in odd), "path lacks U+FFFD"
assert all(r["type_name"] == "RT_GROUP_ICON" and r["kind"] == "ICON"
           for r in records if r["type"] == 14)
assert all("path_bytes" not in r for r in records if r["path"].isascii())
PY

# list --files-from: the listed modules in the list's order, as the walk lists them.
printf '%s\n' "$work/tree/viewer.exe" "$work/tree/pointers64.dll" |
  "$cli" list --files-from - > "$work/listed.tsv"
{ grep -F "$work/tree/viewer.exe" "$work/default.tsv"; grep -F "$work/tree/pointers64.dll" "$work/default.tsv"; } |
  cmp -s - "$work/listed.tsv" || fail "list --files-from"

# extract --report: completed; stdout keeps its counts, stderr says what the limits left out.
"$cli" extract --dest "$work/out" --report "$work/report.json" "$work/tree" \
  > "$work/counts" 2> "$work/err" || fail "extract exited $?"
validate "$schemas/run-report.schema.json" "$work/report.json" || fail "report schema"
grep -q '^Icon: ' "$work/counts" || fail "counts missing from stdout"
grep -q '^harvix-cli extract: left out by the limits: Bitmap ' "$work/err" || fail "no limits line"
[ "$(jq -r '.outcome, .exit_status, .files_found, .modules_read' "$work/report.json" | tr '\n' ' ')" \
  = "completed 0 4 3 " ] || fail "report counts: $(cat "$work/report.json")"
[ "$(jq '.kinds.ICON.written' "$work/report.json")" = "$(sed -n 's/^Icon: //p' "$work/counts")" ] ||
  fail "written icons differ from the count"
# Every resource left out is listed with its reason in words, as many as the counts say,
# and list --explain says the same of each of them before anything is written.
[ "$(jq '[.kinds[] | .left_out_by_limits + .not_well_formed + .empty_or_missing] | add' "$work/report.json")" \
  = "$(jq '.left_out | length' "$work/report.json")" ] || fail "left_out differs from the counts"
[ "$(jq '.left_out | length' "$work/report.json")" -gt 0 ] || fail "nothing left out to check"
"$cli" list --explain --format json --mask '*' "$work/tree" > "$work/explain.jsonl"
validate "$schemas/list-record.schema.json" --lines "$work/explain.jsonl" || fail "explain schema"
/usr/bin/python3 - "$work/report.json" "$work/explain.jsonl" <<'PY' || fail "report and list --explain disagree"
import json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
records = [json.loads(l) for l in open(sys.argv[2], encoding="utf-8")]
key = lambda r: (r.get("path_bytes") and bytes(r["path_bytes"]) or r["path"], r["type"], r["name"], r["language"])
reported = {key(e): (e["reason"], e["detail"]) for e in report["left_out"]}
explained = {key(r): (r["extract"]["reason"], r["extract"]["detail"])
             for r in records if r["extract"]["outcome"] == "left_out"}
assert reported == explained, (reported, explained)
written = sum(1 for r in records if r["extract"]["outcome"] == "written")
assert written == sum(k["written"] for k in report["kinds"].values()), written
PY

# Paths as arguments: the report names them in order (the one of odd bytes exactly).
"$cli" extract --dest "$work/paths" --report "$work/paths.json" "$work/tree/$odd" "$work/tree" \
  > /dev/null 2>&1 || fail "extract of paths exited $?"
validate "$schemas/run-report.schema.json" "$work/paths.json" || fail "report of paths schema"
[ "$(jq -r '.options.paths | length' "$work/paths.json")" = 2 ] &&
  [ "$(jq -r '.options.paths[1].path' "$work/paths.json")" = "$work/tree" ] &&
  [ "$(jq -r '.options.paths[0] | has("path_bytes")' "$work/paths.json")" = true ] ||
  fail "report paths: $(jq -c .options "$work/paths.json")"

# --report -: the report instead of the counts; no file matched: one line on stderr.
"$cli" extract --dest "$work/none" --mask '*.nothing' --report - "$work/tree" \
  > "$work/none.json" 2> "$work/none.err" || fail "empty run exited $?"
validate "$schemas/run-report.schema.json" "$work/none.json" || fail "report - schema"
grep -qx "harvix-cli extract: no file matched the mask '\*.nothing'" "$work/none.err" ||
  fail "no-match line: $(cat "$work/none.err")"

# A refused destination still gets its report, with the status the command ends with.
status=0
"$cli" extract --dest "$work/out" --report "$work/refused.json" "$work/tree" \
  > /dev/null 2>&1 < /dev/null || status=$?
[ "$status" -eq 2 ] || fail "refused destination exited $status"
validate "$schemas/run-report.schema.json" "$work/refused.json" || fail "refused schema"
[ "$(jq -r '.outcome, .exit_status' "$work/refused.json" | tr '\n' ' ')" = "refused 2 " ] ||
  fail "refused report"

# --files-from -: the names in order, one that is no file counted as unreadable, the
# header naming standard input; names that could not be read make the status 1, as
# they do for list.
status=0
printf '%s\0%s\0%s\0' "$work/tree/viewer.exe" "$work/missing.dll" "$work/tree" |
  "$cli" extract --dest "$work/listed" --files-from - --null --report "$work/listed.json" \
  > /dev/null 2> "$work/listed.err" || status=$?
[ "$status" -eq 1 ] || fail "files-from exited $status"
validate "$schemas/run-report.schema.json" "$work/listed.json" || fail "files-from schema"
[ "$(jq -r '.files_found, .modules_read, .unreadable_files.count, .unreadable_files.first[1].reason, .outcome, .exit_status' \
  "$work/listed.json" | tr '\n' ' ')" = "3 1 2 not a regular file completed 1 " ] ||
  fail "files-from report: $(cat "$work/listed.json")"
grep -q '^harvix-cli extract: 2 files could not be read (first: ' "$work/listed.err" ||
  fail "unreadable line: $(cat "$work/listed.err")"
grep -q $'^Search in standard input\r$' "$work/listed/__index.txt" || fail "header search line"
echo "script output: all checks passed"
