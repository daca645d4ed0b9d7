#!/usr/bin/env python3
"""Runs the shell examples of the README and the manual page against the built program.

An example is a line "$ COMMAND" inside a fenced block of a Markdown file or an .EX/.EE
block of a manual page, followed by the output it shows, up to the next "$" line or the
end of the block. Each command runs under bash in a copy of tests/examples/, with
`emvtlv` on PATH being the program under test, and must print exactly that output
(trailing blank lines aside). A bare "$ emvtlv" is a terminal session and is skipped.

usage: run_doc_examples.py PROGRAM FIXTURES DOC...
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROFF = [("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'), ("\\e", "\\"), ("\\&", ""), ("\\(rs", "\\")]


def roff_text(line):
    for escape, text in ROFF:
        line = line.replace(escape, text)
    return line


def blocks(path):
    """The example blocks of a file, each a list of its lines as printed."""
    lines = path.read_text(encoding="utf-8").splitlines()
    found, block = [], None
    manual = path.suffix not in (".md",)
    for line in lines:
        if manual:
            if line.startswith(".EX"):
                block = []
            elif line.startswith(".EE"):
                found.append(block)
                block = None
            elif block is not None and not line.startswith(".\\\""):
                block.append(roff_text(line))
        elif line.startswith("```"):
            if block is None:
                block = []
            else:
                found.append(block)
                block = None
        elif block is not None:
            block.append(line)
    return found


def examples(path):
    for block in blocks(path):
        command, output = None, []
        for line in block + ["$"]:
            if line == "$" or line.startswith("$ "):
                if command is not None and command != "emvtlv":
                    yield command, "\n".join(output)
                command, output = (line[2:] if line.startswith("$ ") else None), []
            elif command is not None:
                output.append(line)


def main():
    program, fixtures, docs = pathlib.Path(sys.argv[1]).resolve(), pathlib.Path(sys.argv[2]), sys.argv[3:]
    failures = count = 0
    with tempfile.TemporaryDirectory(prefix="emvtlv-examples-") as work:
        work = pathlib.Path(work)
        (work / "bin").mkdir()
        (work / "bin" / "emvtlv").symlink_to(program)
        env = dict(os.environ, PATH=f"{work / 'bin'}:{os.environ['PATH']}", LC_ALL="C.UTF-8")
        for doc in docs:
            for command, expected in examples(pathlib.Path(doc)):
                count += 1
                run_dir = work / f"run{count}"
                shutil.copytree(fixtures, run_dir)
                got = subprocess.run(["bash", "-c", command], cwd=run_dir, env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                if got.stdout.rstrip("\n") != expected.rstrip("\n"):
                    failures += 1
                    print(f"{doc}: $ {command}\n--- shown\n{expected}\n--- printed\n{got.stdout}"
                          f"--- standard error\n{got.stderr}")
    print(f"{count} examples, {failures} failed")
    if count == 0:
        print("no examples found")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
