#!/usr/bin/env python3
"""Builds the fuzz seed corpora from the records and lines in the test tables.

record/: one file per record or line found in tests/*.cpp; stream/: a few whole
sessions made of them; tree/: the tree mode's input lines and records, each as text,
as raw bytes, and all of them as one input; leak/: the leak fuzzer's build steps for
each way of placing a card number. Files are named by their content, so running it again only adds
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
    leak_seeds()


# The leak fuzzer reads its input as build steps (leak_fuzz.cpp): a first byte (odd:
# digit runs anywhere), then steps; the numbers here are what each step reads there.
RAW, CARD, OPEN, CLOSE, MISFRAME, LINE, CUT, RUN = 0, 2, 4, 5, 6, 7, 8, 9
DIGITS = [1] * 7  # YYMM SSS


def card(kind, digits=4, length_form=0, extra=(), seed=(0x17, 0x2A)):
    """A card number of 12 + digits digits under plant kind `kind` (0 5A, 1 57,
    2 9F6B, 3 56, 4 to 7 a text tag, chosen by the first of `extra`). `seed` picks the
    digits; planted first in an input, these seeds start the number with:"""
    return [CARD, digits, *seed, kind, *extra, length_form]


STARTS = {"5713": (25, 32), "5720": (78, 95), "5709": (67, 143), "5610": (15, 87),
          "5615": (1, 170)}


def raw(hex_bytes):
    """Bytes as they are, in steps of up to seven."""
    data = bytes.fromhex(hex_bytes)
    steps = []
    for i in range(0, len(data), 7):
        chunk = data[i:i + 7]
        steps += [RAW, len(chunk), *chunk]
    return steps


def sad(n):
    return [n, *([1] * n), *([4] * n)]


TRACK2 = [1, *DIGITS, *sad(10)]
TRACK1 = [3, 0x01, 0x0E, 0x13, 1, *DIGITS, *sad(6)]


def leak_seeds():
    seeds = [
        card(0), card(0, 7, 1), card(0, 0, 2), card(1, extra=TRACK2), card(2, extra=TRACK2),
        card(1, extra=[0]), card(3, extra=TRACK1),
        # 9F11 with a length that runs past, a 5A inside.
        [MISFRAME, 0, 0, 0x20, *card(0)],
        [MISFRAME, 0, 0, 0x17, *card(2, 4, 1, TRACK2)],
        # A template shorter than what it holds.
        [OPEN, 7, 5, 0x0A, *card(1, extra=TRACK2)],
        # A card number after a length the console cannot read, in a template.
        *[[OPEN, 0, 0, MISFRAME, 1, form, 0, 0, 0, 0, *card(0), RAW, 5, 0x5F, 0x24, 3, 0x27, 0x12,
           CLOSE] for form in (1, 2, 3, 4)],
        # Nested.
        [OPEN, 2, 0, OPEN, 3, 1, OPEN, 4, 2, OPEN, 6, 0, *card(0), CLOSE, CLOSE, CLOSE, CLOSE],
        [OPEN, 5, 0, *card(1, extra=TRACK2), CLOSE, LINE, OPEN, 1, 0, *card(2, extra=TRACK2)],
        # Cut short by the record's end.
        [*card(0), CUT, 0], [*card(1, extra=[0]), CUT, 3], [*card(3, extra=TRACK1), CUT, 5],
        # Digit runs anywhere.
        [RUN, 0, *([1] * 12), *([2] * 8)],
    ]
    # Ordinary card answers whose track's number starts 56 or 57, its next digits a
    # plausible length: READ RECORD (70), GPO in format 2 (77), flat.
    name = raw("5F200F43415244484F4C4445522F54455354")
    for start, seed in STARTS.items():
        track = card(1, extra=TRACK2, seed=seed)
        seeds += [
            [OPEN, 0, 0, *track, *name, *raw("9F1F04C2F0D441"), CLOSE],
            [OPEN, 1, 0, *raw("820219809404080101009F360200129F2608A1B2C3D4E5F60718"), *track,
             *raw("9F6C023E00"), CLOSE],
            [*card(0, seed=seed), *raw("5F2403271231"), *card(1, extra=TRACK2), *name],
            [OPEN, 0, 1, *card(3, extra=TRACK1, seed=seed), *raw("9F1F0431323334"), CLOSE],
        ]
    for tag in range(7):  # the text tags, the first two hidden whole by the decoding modes
        seeds.append(card(4, extra=[tag, 1, *(sad(4) if tag < 2 else [])]))
    for seed in seeds:
        write(HERE / "corpus" / "leak", bytes([1 if seed[0] == RUN else 0, *seed]))


if __name__ == "__main__":
    main()
