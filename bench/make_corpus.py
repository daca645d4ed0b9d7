#!/usr/bin/env python3
"""Writes a deterministic corpus of typical card records, one hex line each.

Each line is a card's answer to a SELECT, GET PROCESSING OPTIONS or READ RECORD: either
a flat run of elements, or the answer whole, its elements inside their templates (6F,
77, 70), sometimes followed by the status word. The same count always gives the same
bytes; card numbers are random digits.

usage: make_corpus.py RECORDS > corpus.txt
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
         (gpo_format2_answer, 3), (read_record_answer, 3)]


def main():
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
