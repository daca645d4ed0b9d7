#!/usr/bin/python3
"""Checks emvtlv's JSON Lines output against doc/emvtlv.schema.json.

    validate_json.py [--schema FILE] EMVTLV INPUT...
        runs `EMVTLV -j INPUT` for each input file and checks its output;
    validate_json.py [--schema FILE] --stdin [--input INPUT] [--trace]
        checks JSON lines read from standard input (made from INPUT, when given);
        with --trace, lines of trace mode (-a -j): objects by command and session,
        so neither their count nor their "line" follows the input lines.

Every output line must be one JSON object on its own line, in UTF-8, with integers for
numbers and no key twice, valid under the schema; `line` must count 1, 2, ... in order
and there must be exactly one object per input line. Stops at the first failure with a
message saying where, and exits 1; on success prints how many lines passed.
Needs Debian's python3-jsonschema.
"""

import argparse
import json
import os
import subprocess
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("validate_json.py: needs python3-jsonschema (apt-get install python3-jsonschema)")

DEFAULT_SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "doc",
                              "emvtlv.schema.json")


class Failure(Exception):
    pass


def input_line_count(data):
    """Lines as the program counts them: a last line without a newline still counts."""
    count = data.count(b"\n")
    if data and not data.endswith(b"\n"):
        count += 1
    return count


def unique_keys(pairs):
    keys = [key for key, _ in pairs]
    for key in keys:
        if keys.count(key) > 1:
            raise ValueError(f"key {key!r} appears twice")
    return dict(pairs)


def no_float(text):
    raise ValueError(f"number {text} is not a plain integer")


def no_constant(text):
    raise ValueError(f"{text} is not JSON")


def check_output(name, output, expected_lines, validator, trace=False):
    """Checks one run's output; returns the number of objects checked."""
    if output and not output.endswith(b"\n"):
        raise Failure(f"{name}: output does not end with a newline")
    lines = output.split(b"\n")[:-1] if output else []
    file, file_line = None, 0  # each FILE's lines count from 1, and again when named twice
    for index, raw in enumerate(lines, start=1):
        where = f"{name}: output line {index}"
        try:
            text = raw.decode("utf-8", errors="strict")
        except UnicodeDecodeError as error:
            raise Failure(f"{where}: not UTF-8 ({error})") from None
        try:
            obj = json.loads(text, object_pairs_hook=unique_keys, parse_float=no_float,
                             parse_constant=no_constant)
        except ValueError as error:
            raise Failure(f"{where}: not JSON ({error}): {text[:200]}") from None
        error = jsonschema.exceptions.best_match(validator.iter_errors(obj))
        if error is not None:
            path = "/".join(str(part) for part in error.absolute_path) or "(top)"
            raise Failure(f"{where}: at {path}: {error.message}: {text[:200]}")
        same_file = index > 1 and obj.get("file") == file and obj["line"] != 1
        file, file_line = obj.get("file"), file_line + 1 if same_file else 1
        if not trace and obj["line"] != file_line:
            raise Failure(f"{where}: \"line\" is {obj['line']}, expected {file_line}")
    if expected_lines is not None and len(lines) != expected_lines:
        raise Failure(f"{name}: {len(lines)} objects for {expected_lines} input lines")
    return len(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--schema", default=DEFAULT_SCHEMA, help="the JSON Schema file")
    parser.add_argument("--stdin", action="store_true",
                        help="check JSON lines from standard input instead of running emvtlv")
    parser.add_argument("--input", help="with --stdin: the input the lines were made from")
    parser.add_argument("--trace", action="store_true",
                        help="with --stdin: trace mode's objects, one per command and session")
    parser.add_argument("program", nargs="?", help="the emvtlv binary")
    parser.add_argument("files", nargs="*", help="input files, one record a line")
    args = parser.parse_args()
    if args.stdin == bool(args.program):
        parser.error("give either --stdin or an emvtlv binary and input files")
    if not args.stdin and not args.files:
        parser.error("no input files")

    with open(args.schema, encoding="utf-8") as file:
        schema = json.load(file)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)

    total = 0
    try:
        if args.stdin:
            expected = None
            if args.input:
                with open(args.input, "rb") as file:
                    expected = input_line_count(file.read())
            total += check_output("stdin", sys.stdin.buffer.read(),
                                  None if args.trace else expected, validator, args.trace)
        else:
            for path in args.files:
                with open(path, "rb") as file:
                    expected = input_line_count(file.read())
                run = subprocess.run([args.program, "-j", path], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, check=False)
                if run.returncode != 0:
                    stderr = run.stderr.decode("utf-8", "replace").strip()
                    raise Failure(f"{path}: {args.program} -j exited with {run.returncode}"
                                  + (f": {stderr}" if stderr else ""))
                total += check_output(path, run.stdout, expected, validator)
    except Failure as failure:
        print(f"validate_json.py: FAILED: {failure}", file=sys.stderr)
        return 1
    print(f"{total} passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
