#!/usr/bin/env python3
"""Builds the fuzz seed corpora from the records and lines in the test tables.

record/: one file per record or line found in tests/*.cpp; stream/: a few whole
sessions made of them; tree/: the tree mode's input lines and records, each as text,
as raw bytes, and all of them as one input. Files are named by their content, so running it again only adds
what the tables gained; inputs merged in from fuzzing runs (fuzzer -merge=1) stay.
"""
import hashlib
import pathlib
import re

HERE = pathlib.Path(__file__).resolve().parent
TESTS = HERE.parent / "tests"

# First string of each table row: records (hex) and console lines (text).
ROW = re.compile(
    r'(?:record_case|walk_case|card_case|decode_case|session_case|pipe_case)\{\s*"((?:[^"\\]|\\.)*)"')

# Tree mode rows: input text of the line reader, hex records of the parser.
TREE_ROW = re.compile(r'(?:hex_line_case|tree_case)\{\s*"((?:[^"\\]|\\.)*)"')
HEX = re.compile(rb"^[0-9A-Fa-f ]*$")


def unescape(text):
    return text.encode().decode("unicode_escape").encode("latin-1")


def write(folder, data):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


def main():
    seeds = set()
    for source in sorted(TESTS.glob("*.cpp")):
        for match in ROW.finditer(source.read_text()):
            seeds.add(unescape(match.group(1)))
    seeds.discard(b"")
    seeds |= {b"5A 08", b"A\x00B\n", b"-12", b"0x5", b"5A01\r\n", b"7081FF" + b"9" * 505 + b"8\n"}
    # Rows the tables build from pieces: a long two-octet length, a PAN 60 templates deep.
    seeds |= {b"9F26820100" + b"B" * 502, b"7081FD" + b"7082FFFF" * 60 + b"5A084761739001010010"}
    ordered = sorted(seeds)
    for seed in ordered:
        write(HERE / "corpus" / "record", seed)
    for start in range(0, len(ordered), 6):
        write(HERE / "corpus" / "stream", b"\n".join(ordered[start:start + 6]) + b"\n")
    write(HERE / "corpus" / "stream", b"5A081234567890123456\n5A0812\n\n" + b"F" * 1200)

    tree = set()
    for source in sorted(TESTS.glob("*.cpp")):
        for match in TREE_ROW.finditer(source.read_text()):
            tree.add(unescape(match.group(1)))
    tree.discard(b"")
    for seed in sorted(tree):
        write(HERE / "corpus" / "tree", seed + b"\n")
        if HEX.fullmatch(seed) and len(seed.replace(b" ", b"")) % 2 == 0:
            write(HERE / "corpus" / "tree", bytes.fromhex(seed.replace(b" ", b"").decode()))
    write(HERE / "corpus" / "tree", b"\n".join(sorted(tree)) + b"\n")


if __name__ == "__main__":
    main()
