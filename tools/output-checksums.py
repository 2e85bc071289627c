#!/usr/bin/env python3
"""What a user sees of harvix-cli on the sample modules and the generated corpus, as
one list of checksums: every output file's path, size and SHA-256.

    tools/output-checksums.py --cli PATH --samples DIR --corpus-maker PATH \\
        (--check LIST | --record LIST) [--work DIR] [--keep]

The runs, each in a scratch folder with relative paths (so the records name the
modules the same way wherever it runs) and in the C locale:

  samples/extract      extract with the default options, --png
  samples/all          extract --mask "*" with the limits wide open
  samples/list.tsv     list, and list --format json, of the sample modules
  samples/list.json
  samples/version.txt  version of every sample module
  samples/thumbnails   thumbnail --size 128 and --size 32 of every sample module
  corpus/extract       extract of the benchmark's generated corpus (150 modules)

and the text each run writes to stdout (the counts) as a file beside its folder.

Two things follow the machine, not the program, and are normalised before hashing:
the index header's time line ("Harvix index file of ..."), and the order of modules,
which follows the order the file system lists a folder's entries in. Records, list
lines and their like are put in the order of their source file's path, keeping the
order in which one module's resources come.

--check compares with LIST and prints what differs (exit status 1 when anything does);
--record writes LIST anew. Record only when a change of the output is meant.
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE_FILE = re.compile(rb" - SOURCE FILE = (.*?) RESOURCE TYPE = ")
INDEX_TIME = re.compile(rb"^Harvix index file of .*$")
CORPUS_MODULES = 150


def run(args, cwd, stdout_file=None):
    env = dict(os.environ, LC_ALL="C", LANG="C", LC_TIME="C")
    env.pop("HARVIX_REGISTRY", None)
    env["HARVIX_REGISTRY"] = str(Path(cwd) / "registry.sqlite3")
    result = subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if stdout_file is not None:
        Path(cwd, stdout_file).parent.mkdir(parents=True, exist_ok=True)
        Path(cwd, stdout_file).write_bytes(result.stdout)
    return result


def by_source(lines, key):
    """Stable order by source path: modules sorted, each module's lines as written."""
    return sorted(lines, key=key)


def normalise_index(data):
    """Header time lines made equal; each block's records put in source-path order."""
    lines = data.split(b"\r\n")
    out, records = [], []

    def flush():
        out.extend(by_source(records, lambda r: (SOURCE_FILE.search(r) or [b"", b""])[1]))
        records.clear()

    for line in lines:
        if SOURCE_FILE.search(line):
            records.append(line)
            continue
        flush()
        out.append(INDEX_TIME.sub(b"Harvix index file of <time>", line))
    flush()
    return b"\r\n".join(out)


def normalise_tsv(data):
    lines = data.split(b"\n")
    tail = lines.pop() if lines and lines[-1] == b"" else None
    lines = by_source(lines, lambda l: l.split(b"\t", 1)[0])
    return b"\n".join(lines + ([tail] if tail is not None else []))


def normalise_json_lines(data):
    lines = [l for l in data.split(b"\n") if l]
    lines = by_source(lines, lambda l: json.loads(l).get("path", ""))
    return b"".join(l + b"\n" for l in lines)


def normalised(path, data):
    if path.name == "__index.txt":
        return normalise_index(data)
    if path.name in ("list.tsv", "version.txt"):
        return normalise_tsv(data)
    if path.name == "list.json":
        return normalise_json_lines(data)
    return data


def checksums(root, folders):
    rows = []
    for top in folders:
        base = root / top
        paths = [base] if base.is_file() else sorted(p for p in base.rglob("*") if p.is_file())
        for path in paths:
            data = normalised(path, path.read_bytes())
            rel = path.relative_to(root).as_posix()
            rows.append(f"{hashlib.sha256(data).hexdigest()} {len(data)} {rel}")
    return sorted(rows, key=lambda r: r.split(" ", 2)[2])


def make_outputs(cli, samples, corpus_maker, work):
    failures = []

    def expect(result, what, statuses=(0,)):
        if result.returncode not in statuses:
            failures.append(f"{what}: exit status {result.returncode}: "
                            f"{result.stderr.decode(errors='replace').strip()}")

    shutil.copytree(samples, work / "samples")
    for folder in ("out/samples", "out/corpus"):
        (work / folder).mkdir(parents=True)
    modules = sorted(p.name for p in (work / "samples").iterdir() if p.is_file())

    expect(run([cli, "extract", "--png", "--dest", "out/samples/extract", "samples"], work,
               "out/samples/extract.counts"), "extract --png of the samples")
    expect(run([cli, "extract", "--mask", "*", "--bitmap-limits", "0-64;0-100000;0-100000",
                "--icon-limits", "0-64;0-100000;0-100000", "--dest", "out/samples/all",
                "samples"], work, "out/samples/all.counts"), "extract --mask * of the samples")
    expect(run([cli, "list", "samples"], work, "out/samples/list.tsv"), "list")
    expect(run([cli, "list", "--format", "json", "samples"], work, "out/samples/list.json"),
           "list --format json")
    expect(run([cli, "version"] + [f"samples/{m}" for m in modules], work,
               "out/samples/version.txt"), "version")
    (work / "out/samples/thumbnails").mkdir()
    for module in modules:
        for size in ("128", "32"):
            expect(run([cli, "thumbnail", "--size", size, f"samples/{module}",
                        f"out/samples/thumbnails/{module}-{size}.png"], work),
                   f"thumbnail of {module}", (0, 1))

    made = run([corpus_maker, "--corpus-only", "--modules", str(CORPUS_MODULES),
                "--work", str(work / "made")], work)
    expect(made, "the corpus maker")
    (work / "made/corpus").rename(work / "corpus")
    expect(run([cli, "extract", "--dest", "out/corpus/extract", "corpus"], work,
               "out/corpus/extract.counts"), "extract of the corpus")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--cli", required=True, help="the harvix-cli to run")
    parser.add_argument("--samples", required=True, help="the sample modules (build/samples)")
    parser.add_argument("--corpus-maker", required=True,
                        help="harvix-extract-bench, which writes the generated corpus")
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--check", metavar="LIST", help="compare with LIST")
    mode.add_argument("--record", metavar="LIST", help="write LIST anew")
    parser.add_argument("--work", help="scratch folder (default: a new temporary one)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()

    cli = str(Path(args.cli).resolve())
    corpus_maker = str(Path(args.corpus_maker).resolve())
    work = Path(args.work).resolve() if args.work else Path(tempfile.mkdtemp(prefix="harvix-output."))
    if args.work:
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
    try:
        failures = make_outputs(cli, Path(args.samples).resolve(), corpus_maker, work)
        if failures:
            print("output-checksums: a run failed:\n  " + "\n  ".join(failures), file=sys.stderr)
            return 2
        rows = checksums(work / "out", ["samples", "corpus"])
        header = ("# harvix-cli's output on the sample modules and the generated corpus:\n"
                  "# SHA-256, size and path of every file (made by tools/output-checksums.py,\n"
                  "# which says what is run and what is normalised).\n")
        if args.record:
            Path(args.record).write_text(header + "\n".join(rows) + "\n")
            print(f"output-checksums: {len(rows)} files recorded in {args.record}")
            return 0
        expected = [l for l in Path(args.check).read_text().splitlines()
                    if l and not l.startswith("#")]
        if rows == expected:
            print(f"output-checksums: all {len(rows)} files as recorded")
            return 0
        want = {r.split(" ", 2)[2]: r for r in expected}
        have = {r.split(" ", 2)[2]: r for r in rows}
        for path in sorted(set(want) | set(have)):
            if path not in have:
                print(f"missing:   {path}")
            elif path not in want:
                print(f"new:       {path}")
            elif want[path] != have[path]:
                print(f"differs:   {path}")
        print(f"output-checksums: the output differs from {args.check} "
              f"(scratch folder {work} kept to look at)", file=sys.stderr)
        args.keep = True
        return 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
