#!/usr/bin/python3
"""Checks JSON documents (or JSON Lines with --lines) against a JSON Schema.

Usage: validate_json.py SCHEMA [--lines] FILE...   (exit 1 on the first invalid one)
"""
import json
import sys

import jsonschema


def main():
    args = sys.argv[1:]
    schema = json.load(open(args.pop(0), encoding="utf-8"))
    lines = "--lines" in args
    files = [a for a in args if a != "--lines"]
    validator = jsonschema.Draft202012Validator(schema)
    jsonschema.Draft202012Validator.check_schema(schema)
    count = 0
    for name in files:
        text = open(name, encoding="utf-8").read()
        documents = [l for l in text.splitlines() if l] if lines else [text]
        for doc in documents:
            errors = sorted(validator.iter_errors(json.loads(doc)), key=str)
            if errors:
                print(f"{name}: {errors[0].message} at {list(errors[0].absolute_path)}",
                      file=sys.stderr)
                return 1
            count += 1
    if count == 0:
        print("no JSON to check", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
