#!/usr/bin/env python3
"""Writes a deterministic corpus of typical card records, one hex line each.

Each line is a card's answer to a SELECT, GET PROCESSING OPTIONS or READ RECORD: either
a flat run of elements, or the answer whole, its elements inside their templates (6F,
77, 70; a GPO answer in format 1 as one 80), sometimes followed by the status word. The same count always gives the same
bytes; card numbers are random digits.

usage: make_corpus.py RECORDS > corpus.txt
       make_corpus.py --sessions LINES > sessions.log

With --sessions it writes card session logs instead, for trace mode (-a): whole
contact and contactless sessions (SELECT, GPO, READ RECORD, VERIFY, GENERATE AC) in
the line forms readers and kernels write, until LINES log lines are written. PINs and
card numbers are random digits, the data made up.
"""
import random
import sys


def tlv(tag, value):
    n = len(value)
    if n < 0x80:
        length = bytes([n])
    elif n < 0x100:
        length = bytes([0x81, n])
    else:
        length = bytes([0x82, n >> 8, n & 0xFF])
    return bytes.fromhex(tag) + length + value


def digits(rng, octets):
    """Packed BCD: two decimal digits an octet."""
    return bytes(rng.randrange(10) * 16 + rng.randrange(10) for _ in range(octets))


def raw(rng, octets):
    return bytes(rng.randrange(256) for _ in range(octets))


def select_response(rng):
    aid = bytes.fromhex(rng.choice(["A0000000031010", "A0000000041010", "A0000000651010"]))
    label = rng.choice([b"VISA CREDIT", b"MASTERCARD", b"DEBIT", b"JCB"])
    return (tlv("84", aid) + tlv("50", label) + tlv("87", b"\x01") +
            tlv("9F38", bytes.fromhex("9F66049F02069F37045F2A02")) + tlv("5F2D", b"enfr") +
            tlv("9F11", b"\x01") + tlv("9F12", label))


def gpo_response(rng):
    return (tlv("82", bytes.fromhex(rng.choice(["1980", "3900", "5C00"]))) +
            tlv("94", bytes.fromhex("08010100100102011801020020010200")[:rng.choice([8, 12, 16])]) +
            tlv("9F36", rng.randrange(0x400).to_bytes(2, "big")) + tlv("9F26", raw(rng, 8)) +
            tlv("9F27", bytes([rng.choice([0x00, 0x40, 0x80])])) +
            tlv("9F10", raw(rng, rng.choice([7, 18, 32]))))


def pan_record(rng):
    pan = digits(rng, 8)
    return (tlv("5A", pan) + tlv("5F24", bytes.fromhex("271231")) +
            tlv("5F25", bytes.fromhex("221201")) + tlv("5F34", b"\x01") +
            tlv("57", pan + bytes.fromhex("D2712201") + digits(rng, 6) + b"\x0F") +
            tlv("5F28", bytes.fromhex("0840")) + tlv("9F07", bytes.fromhex("FF00")) +
            tlv("42", digits(rng, 3)))


def risk_record(rng):
    return (tlv("8C", bytes.fromhex("9F02069F03069F1A0295055F2A029A039C019F37049F35019F4502")) +
            tlv("8D", bytes.fromhex("8A029F02069F03069F1A0295055F2A029A039C019F3704")) +
            tlv("8E", bytes.fromhex("000000000000000042031E031F03")) +
            tlv("9F0D", raw(rng, 5)) + tlv("9F0E", raw(rng, 5)) + tlv("9F0F", raw(rng, 5)))


def certificate_record(rng):
    return (tlv("8F", bytes([rng.choice([0x05, 0x92, 0x94])])) + tlv("90", raw(rng, 176)) +
            tlv("9F32", b"\x03") + tlv("92", raw(rng, 36)))


def status_word(rng):
    return b"\x90\x00" if rng.randrange(3) == 0 else b""


def select_pse_answer(rng):
    """SELECT 1PAY.SYS.DDF01: the FCI with the directory's SFI and the languages."""
    return (tlv("6F", tlv("84", b"1PAY.SYS.DDF01") +
                tlv("A5", tlv("88", bytes([rng.randrange(1, 31)])) +
                    tlv("5F2D", rng.choice([b"en", b"enfr", b"deen"])))) + status_word(rng))


def application_entry(rng):
    aid = bytes.fromhex(rng.choice(["A0000000031010", "A0000000041010", "A0000000651010",
                                    "A0000000032010"]))
    label = rng.choice([b"VISA CREDIT", b"MASTERCARD", b"DEBIT", b"JCB"])
    return tlv("61", tlv("4F", aid) + tlv("50", label) + tlv("87", bytes([rng.randrange(1, 4)])))


def select_ppse_answer(rng):
    """SELECT 2PAY.SYS.DDF01: the FCI listing the card's contactless applications."""
    entries = b"".join(application_entry(rng) for _ in range(rng.randrange(1, 4)))
    return (tlv("6F", tlv("84", b"2PAY.SYS.DDF01") + tlv("A5", tlv("BF0C", entries))) +
            status_word(rng))


def track2(rng, pan):
    return pan + bytes.fromhex("D2712201") + digits(rng, 6) + b"\x0F"


def gpo_format2_answer(rng):
    return (tlv("77", tlv("82", bytes.fromhex(rng.choice(["1980", "3900", "2000"]))) +
                tlv("94", bytes.fromhex("080101001001020118010200")[:rng.choice([4, 8, 12])]) +
                tlv("9F36", rng.randrange(0x400).to_bytes(2, "big")) +
                tlv("9F26", raw(rng, 8)) + tlv("9F10", raw(rng, rng.choice([7, 18, 32]))) +
                tlv("9F27", bytes([rng.choice([0x00, 0x40, 0x80])])) +
                tlv("57", track2(rng, digits(rng, 8))) +
                tlv("9F6C", bytes.fromhex(rng.choice(["3E00", "1000", "0080"])))) +
            status_word(rng))


def gpo_format1_answer(rng):
    """GET PROCESSING OPTIONS in format 1: the AIP and the AFL in one 80 template."""
    afl = bytes.fromhex("08010100100102011801020020010200")[:rng.choice([4, 8, 12, 16])]
    return tlv("80", bytes.fromhex(rng.choice(["1980", "3900", "5C00"])) + afl) + status_word(rng)


def read_record_answer(rng):
    pan = digits(rng, 8)
    return (tlv("70", tlv("5A", pan) + tlv("5F24", bytes.fromhex("271231")) +
                tlv("5F25", bytes.fromhex("221201")) + tlv("57", track2(rng, pan)) +
                tlv("8C", bytes.fromhex("9F02069F03069F1A0295055F2A029A039C019F3704")) +
                tlv("8D", bytes.fromhex("8A029F02069F03069F1A0295055F2A029A039C019F3704")) +
                tlv("8E", bytes.fromhex("000000000000000042031E031F03")) +
                tlv("9F07", bytes.fromhex("FF00")) + tlv("5F28", bytes.fromhex("0840"))) +
            status_word(rng))


# Weights chosen so a line averages about 170 hex characters; about half the lines
# hold templates.
KINDS = [(select_response, 2), (gpo_response, 2), (pan_record, 2), (risk_record, 3),
         (certificate_record, 1), (select_pse_answer, 2), (select_ppse_answer, 2),
         (gpo_format1_answer, 1), (gpo_format2_answer, 3), (read_record_answer, 3)]


def command(header, data=None, le=None):
    out = bytes.fromhex(header)
    if data is not None:
        out += bytes([len(data)]) + data
    if le is not None:
        out += bytes([le])
    return out


def spaced(b):
    return " ".join(f"{x:02X}" for x in b)


# Each style writes one command or one answer line; the answer's status word may stand
# on a line of its own.
STYLES = [
    (lambda n, b: "> " + b.hex().upper(), lambda n, b: "< " + b.hex().upper()),
    (lambda n, b: f"[{n:06d}] C-APDU: " + spaced(b), lambda n, b: f"[{n:06d}] R-APDU: " + spaced(b)),
    (lambda n, b: f"12:00:{n % 60:02d}.{n % 1000:03d} TX " + b.hex(),
     lambda n, b: f"12:00:{n % 60:02d}.{n % 1000:03d} RX " + b.hex()),
    (lambda n, b: b.hex().upper(), lambda n, b: b.hex().upper()),
]


def session_exchanges(rng):
    """One session as (command, answer) pairs; the answer ends with its status word."""
    contactless = rng.randrange(2) == 0
    aid = bytes.fromhex(rng.choice(["A0000000031010", "A0000000041010", "A0000000651010"]))
    pan = digits(rng, 8)
    ok = b"\x90\x00"
    pse = b"2PAY.SYS.DDF01" if contactless else b"1PAY.SYS.DDF01"
    pdol = bytes.fromhex("9F66049F02069F37045F2A02")
    cdol1 = bytes.fromhex("9F02069F03069F1A0295055F2A029A039C019F37049F3403")
    out = [(command("00A40400", pse, 0),
            tlv("6F", tlv("84", pse) + tlv("A5", tlv("BF0C", application_entry(rng)))) + ok),
           (command("00A40400", aid, 0),
            tlv("6F", tlv("84", aid) + tlv("A5", tlv("50", b"CARD") + tlv("9F38", pdol))) + ok),
           (command("80A80000", b"\x83\x10" + bytes.fromhex("36000000") + digits(rng, 6) +
                    raw(rng, 4) + bytes.fromhex("0978"), 0),
            tlv("77", tlv("82", bytes.fromhex("1980")) + tlv("94", bytes.fromhex("0801020010010100"))) + ok)]
    for sfi, record in ((1, 1), (1, 2), (2, 1)):
        body = tlv("5A", pan) + tlv("57", track2(rng, pan)) if record == 1 and sfi == 1 else b""
        body += tlv("8C", cdol1) + tlv("8D", bytes.fromhex("8A0295059F3704"))
        out.append((command("00B2", None, None)[:0] + bytes([0, 0xB2, record, sfi << 3 | 4, 0]),
                    tlv("70", body) + ok))
    if not contactless:
        pin = bytes([0x24]) + digits(rng, 2) + b"\xFF" * 5
        out.append((command("00200080", pin), rng.choice([b"\x63\xC2", ok])))
    out.append((command("80AE" + rng.choice(["80", "90", "40"]) + "00",
                        digits(rng, 6) + bytes(6) + bytes.fromhex("0250") + raw(rng, 5) +
                        bytes.fromhex("0978") + bytes.fromhex("261207") + b"\x00" + raw(rng, 4) +
                        bytes.fromhex("1F0302"), 0),
                tlv("77", tlv("9F27", bytes([rng.choice([0x00, 0x40, 0x80])])) +
                    tlv("9F36", raw(rng, 2)) + tlv("9F26", raw(rng, 8)) +
                    tlv("9F10", raw(rng, 18))) + ok))
    return out


def sessions(lines_wanted):
    rng = random.Random(20261208)
    out = sys.stdout
    written = 0
    block = []
    while written < lines_wanted:
        to_card, from_card = rng.choice(STYLES)
        block.append("-- card presented")
        written += 1
        for cmd, answer in session_exchanges(rng):
            block.append(to_card(written, cmd))
            written += 1
            if rng.randrange(4) == 0:
                block.append(from_card(written, answer[:-2]))
                block.append("SW1SW2: " + answer[-2:].hex().upper())
                written += 2
            else:
                block.append(from_card(written, answer))
                written += 1
        if len(block) >= 10000:
            out.write("\n".join(block) + "\n")
            block = []
    if block:
        out.write("\n".join(block) + "\n")


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--sessions":
        sessions(int(sys.argv[2]))
        return
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 1000
    rng = random.Random(20261207)
    makers = [maker for maker, weight in KINDS for _ in range(weight)]
    out = sys.stdout
    lines = []
    for _ in range(count):
        line = rng.choice(makers)(rng).hex().upper()
        assert len(line) <= 511, len(line)
        lines.append(line)
        if len(lines) == 10000:
            out.write("\n".join(lines) + "\n")
            lines = []
    if lines:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
