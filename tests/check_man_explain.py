#!/usr/bin/python3
"""Checks that the examples of the manual page's EXPLAIN section are the program's output.

    check_man_explain.py MANPAGE EMVTLV

Each example block (.EX to .EE) of the EXPLAIN section is what `EMVTLV -x -q` prints for
the records below, in order; masked card numbers cannot be read back from the page, so
the inputs are kept here. Exits 1 and shows the difference when a block does not match.
"""

import subprocess
import sys

# One entry a block, in the order the blocks stand: the records whose output it shows.
INPUTS = [
    ["4F07A0000000041010 9F66020018"],
    ["82021980", "82020000"],
    ["4F07A0000000041010 9F10120110A0400324C000000000000000000000FF"],
    ["9F440102 9F42020978 8E0E000003E800000000420342031E03 940408010301 9F38069F66049F3704",
     "80124000019D1B2A6F04C5E81706010A03A00000"],
    ["9F0206000000012345 5F360102 5F2A020978 5F2D04656E6672 9F350122 "
     "57114761739001010010D27122011143804489"],
]


def blocks(page):
    """The example blocks of the EXPLAIN section, as the reader sees them."""
    section = page.split(".SH EXPLAIN\n", 1)[1].split("\n.SH ", 1)[0]
    found = []
    for part in section.split(".EX\n")[1:]:
        text = part.split(".EE\n", 1)[0]
        found.append(text.replace("\\-", "-").replace("\\e", "\\"))
    return found


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as file:
        shown = blocks(file.read())
    if len(shown) != len(INPUTS):
        print(f"check_man_explain.py: {len(shown)} example blocks, {len(INPUTS)} inputs",
              file=sys.stderr)
        return 1
    for number, (text, records) in enumerate(zip(shown, INPUTS), start=1):
        run = subprocess.run([sys.argv[2], "-x", "-q"], input="\n".join(records) + "\n",
                             capture_output=True, text=True, check=False)
        if run.stdout != text:
            print(f"check_man_explain.py: block {number} differs\n--- page\n{text}--- program\n"
                  f"{run.stdout}", file=sys.stderr)
            return 1
    print(f"{len(shown)} blocks match")
    return 0


if __name__ == "__main__":
    sys.exit(main())
