#!/usr/bin/env python3
"""Writes the offline data authentication fixtures: made-up card sessions signed with
this folder's test keys (keys/*.pem: a test CA, an issuer and a card, made here, never
used anywhere else), one log a session in sessions/, the expected outcome of each in
sessions.tsv, and the test CA's public keys in test-ca-keys.tsv for --ca-keys. The
manual's and README's example (a CDA session whose ICC certificate has expired) and the
key file it uses go to tests/examples/ as oda-session.log and test-ca-keys.tsv.

SHA-1 comes from hashlib and the RSA private operation from the openssl command line
(pkeyutl without padding); missing keys are generated with openssl genpkey. The output
is the same on every run with the same keys.

usage: tests/oda/make_sessions.py
"""
import hashlib
import pathlib
import re
import subprocess

HERE = pathlib.Path(__file__).resolve().parent
KEYS = HERE / "keys"
SESSIONS = HERE / "sessions"

RID = bytes.fromhex("F0F0F0F0F0")
AID = RID + bytes.fromhex("1010")
CA_INDEX = 0xE1
PAN = bytes.fromhex("4999991234567897")
TX_DATE = bytes.fromhex("260315")  # 2026-03-15
UN = bytes.fromhex("11223344")
AMOUNT = bytes.fromhex("000000001500")
CURRENCY = bytes.fromhex("0978")

PDOL = bytes.fromhex("9F3704" "9A03" "9F0206" "5F2A02")
CDOL1 = bytes.fromhex("9F0206" "9F0306" "9F1A02" "9505" "5F2A02" "9A03" "9C01" "9F3704")
CDOL2 = bytes.fromhex("8A02" "9505" "9F3704")
DDOL = bytes.fromhex("9F3704")

# (name, bits, exponent): a decoy CA key shares the test CA's (RID, index).
KEY_SPECS = [("ca", 1024, 3), ("ca-decoy", 1024, 3), ("issuer", 1024, 3), ("icc", 768, 65537)]


def tlv(tag, value):
    tag = bytes.fromhex(tag) if isinstance(tag, str) else tag
    n = len(value)
    length = bytes([n]) if n < 0x80 else bytes([0x81, n]) if n < 0x100 else bytes([0x82, n >> 8, n & 255])
    return tag + length + value


def key(name):
    path = KEYS / f"{name}.pem"
    bits, exponent = next((b, e) for n, b, e in KEY_SPECS if n == name)
    if not path.exists():
        KEYS.mkdir(exist_ok=True)
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", f"rsa_keygen_bits:{bits}",
                        "-pkeyopt", f"rsa_keygen_pubexp:{exponent}", "-out", str(path)],
                       check=True, stderr=subprocess.DEVNULL)
    text = subprocess.run(["openssl", "rsa", "-in", str(path), "-noout", "-modulus"], check=True,
                          capture_output=True, text=True).stdout
    modulus = bytes.fromhex(re.search(r"Modulus=([0-9A-F]+)", text).group(1))
    return {"path": path, "n": modulus, "e": exponent.to_bytes(1 if exponent == 3 else 3, "big")}


def sign(k, block):
    assert len(block) == len(k["n"])
    return subprocess.run(["openssl", "pkeyutl", "-decrypt", "-inkey", str(k["path"]), "-pkeyopt",
                           "rsa_padding_mode:none"], input=block, check=True, capture_output=True).stdout


def sealed(body, extra, trailer=0xBC):
    """6A ‖ body ‖ SHA-1(body ‖ extra) ‖ trailer."""
    return b"\x6A" + body + hashlib.sha1(body + extra).digest() + bytes([trailer])


class Session:
    """One made-up session; the keyword arguments are the faults it carries."""

    def __init__(self, method, **fault):
        self.method = method
        self.fault = fault
        self.ca, self.issuer, self.icc = key("ca"), key("issuer"), key("icc")
        self.aip = {"SDA": "5800", "DDA": "3800", "CDA": "1900", "fDDA": "2000"}[method]
        self.aip = bytes.fromhex(self.aip)

    def records(self):
        f = self.fault
        tag_list = bytes.fromhex(f.get("tag_list", "82"))
        rec11 = tlv("5A", PAN) + tlv("5F24", bytes.fromhex("291231")) + tlv("8C", CDOL1) + \
            tlv("8D", CDOL2) + tlv("9F49", DDOL) + tlv("9F4A", tag_list)
        rec31 = tlv("5F28", bytes.fromhex("0826")) + tlv("9F07", bytes.fromhex("FF00")) + \
            tlv("9F69", bytes.fromhex("01" "0A0B0C0D" "0000"))
        rec_sfi11 = tlv("70", tlv("9F08", bytes.fromhex("0002")))
        static = rec11 + rec31 + rec_sfi11
        if tag_list == b"\x82":
            static += self.aip
        return rec11, rec31, rec_sfi11, static

    def issuer_certificate(self):
        f, n_ca, n_i = self.fault, len(self.ca["n"]), len(self.issuer["n"])
        field = n_ca - 36
        issuer_id = bytes.fromhex(f.get("issuer_id", "499999FF"))
        body = bytes([0x02]) + issuer_id + bytes.fromhex(f.get("issuer_expiry", "1230")) + \
            bytes.fromhex("000001") + b"\x01\x01" + bytes([n_i, len(self.issuer["e"])]) + \
            self.issuer["n"][:field]
        remainder = self.issuer["n"][field:]
        block = sealed(body, remainder + self.issuer["e"], f.get("issuer_trailer", 0xBC))
        return sign(self.ca, block), remainder

    def icc_certificate(self, static):
        f, n_i, n_ic = self.fault, len(self.issuer["n"]), len(self.icc["n"])
        field = n_i - 42
        pan = bytes.fromhex(f.get("icc_pan", PAN.hex() + "FFFF"))
        body = bytes([0x04]) + pan + bytes.fromhex(f.get("icc_expiry", "1229")) + \
            bytes.fromhex("000002") + b"\x01\x01" + bytes([n_ic, len(self.icc["e"])]) + \
            self.icc["n"][:field]
        remainder = self.icc["n"][field:]
        block = sealed(body, remainder + self.icc["e"] + static)
        if "icc_header" in f:
            block = bytes([f["icc_header"]]) + block[1:]
        return sign(self.issuer, block), remainder

    def ssad(self, static):
        n_i = len(self.issuer["n"])
        body = bytes([self.fault.get("ssad_format", 0x03), 0x01]) + bytes.fromhex("DAC1") + b"\xBB" * (n_i - 26)
        return sign(self.issuer, sealed(body, static))

    def sdad(self, dynamic, extra, format_byte=0x05):
        n_ic = len(self.icc["n"])
        body = bytes([format_byte, 0x01, len(dynamic)]) + dynamic + b"\xBB" * (n_ic - len(dynamic) - 25)
        return sign(self.icc, sealed(body, extra))

    def log(self):
        f = self.fault
        rec11, rec31, rec_sfi11, static = self.records()
        issuer_cert, issuer_rem = self.issuer_certificate()
        icc_cert, icc_rem = self.icc_certificate(static)
        if "flip" in f:
            target, at = f["flip"]
            if target == "90":
                issuer_cert = flip(issuer_cert, at)
            elif target == "9F46":
                icc_cert = flip(icc_cert, at)
        ca_index = f.get("ca_index", CA_INDEX)
        rec21 = tlv("8F", bytes([ca_index])) + tlv("90", issuer_cert) + tlv("92", issuer_rem) + \
            tlv("9F32", self.issuer["e"])
        rec22 = tlv("9F47", self.icc["e"])
        if self.method == "SDA":
            ssad = self.ssad(static)
            if f.get("flip", ("",))[0] == "93":
                ssad = flip(ssad, f["flip"][1])
            rec22 = tlv("93", ssad) + rec22
        rec23 = tlv("9F46", icc_cert) + tlv("9F48", icc_rem)
        afl = bytes.fromhex("08010101" "10010300" "18010101" "58010101")

        pdol_values = UN + TX_DATE + AMOUNT + CURRENCY
        lines = [f"# {self.method} session, made up and signed with the test keys"]

        def exchange(command, answer, status="9000"):
            lines.append("> " + command.hex().upper())
            lines.append("< " + (answer.hex().upper() + status))

        fci = tlv("6F", tlv("84", AID) + tlv("A5", tlv("50", b"TEST CARD") + tlv("9F38", PDOL)))
        exchange(bytes.fromhex("00A4040007") + AID + b"\x00", fci)
        gpo_data = tlv("83", pdol_values)
        gpo_answer = tlv("82", self.aip) + tlv("94", afl)
        if self.method == "fDDA":
            card_auth = bytes.fromhex("01" "0A0B0C0D" "0000")
            dynamic = bytes([2]) + bytes.fromhex("0102")
            sdad = self.sdad(dynamic, UN + AMOUNT + CURRENCY + card_auth, 0x95)
            gpo_answer += tlv("9F36", bytes.fromhex("0007")) + tlv("9F26", bytes(8)) + \
                tlv("9F27", b"\x80") + tlv("9F4B", sdad)
        exchange(bytes.fromhex("80A80000") + bytes([len(gpo_data)]) + gpo_data + b"\x00", tlv("77", gpo_answer))
        reads = [(1, 1, tlv("70", rec11)), (2, 1, tlv("70", rec21)), (2, 2, tlv("70", rec22)),
                 (2, 3, tlv("70", rec23)), (3, 1, tlv("70", rec31)), (11, 1, rec_sfi11)]
        for sfi, number, record in reads:
            if (sfi, number) == f.get("skip_record"):
                continue
            exchange(bytes([0x00, 0xB2, number, sfi << 3 | 4, 0x00]), record)
        if self.method == "DDA":
            dynamic = bytes([8]) + bytes.fromhex("0102030405060708")
            sdad = self.sdad(dynamic, UN)
            if f.get("flip", ("",))[0] == "9F4B":
                sdad = flip(sdad, f["flip"][1])
            exchange(bytes.fromhex("0088000004") + UN + b"\x00", tlv("80", sdad))
        cdol_values = AMOUNT + bytes(6) + bytes.fromhex("0826") + bytes(5) + CURRENCY + TX_DATE + b"\x00" + UN
        if self.method == "CDA":
            sent = cdol_values
            hashed_cdol = bytes.fromhex(f["hashed_amount"]) + cdol_values[6:] if "hashed_amount" in f else sent
            answer_cid = bytes([f.get("answer_cid", 0x80)])
            before = tlv("9F27", answer_cid) + tlv("9F36", bytes.fromhex("0007"))
            after = tlv("9F10", bytes.fromhex("06010A03A00000"))
            cryptogram = bytes.fromhex("A1A2A3A4A5A6A7A8")
            tdh = hashlib.sha1(pdol_values + hashed_cdol + before + after).digest()
            dynamic = bytes([8]) + bytes.fromhex("1112131415161718") + b"\x80" + cryptogram + tdh
            sdad = self.sdad(dynamic, UN)
            exchange(bytes.fromhex("80AE900000")[:4] + bytes([len(sent)]) + sent + b"\x00",
                     tlv("77", before + tlv("9F4B", sdad) + after))
            if "second" in f:
                # A second GENERATE AC (TC, CDA) after the issuer's answer.
                un2 = bytes.fromhex("55667788")
                cdol2_values = bytes.fromhex("3030") + bytes(5) + un2
                before = tlv("9F27", bytes([f["second"].get("answer_cid", 0x40)])) + \
                    tlv("9F36", bytes.fromhex("0007"))
                tdh = hashlib.sha1(pdol_values + cdol_values + cdol2_values + before + after).digest()
                dynamic = bytes([8]) + bytes.fromhex("2122232425262728") + b"\x40" + cryptogram + tdh
                sdad = self.sdad(dynamic, un2)
                exchange(bytes.fromhex("80AE5000") + bytes([len(cdol2_values)]) + cdol2_values + b"\x00",
                         tlv("77", before + tlv("9F4B", sdad) + after))
        else:
            answer = tlv("77", tlv("9F27", b"\x80") + tlv("9F36", bytes.fromhex("0007")) +
                         tlv("9F26", bytes.fromhex("A1A2A3A4A5A6A7A8")))
            exchange(bytes.fromhex("80AE8000") + bytes([len(cdol_values)]) + cdol_values + b"\x00", answer)
        return "\n".join(lines) + "\n"


def flip(data, at):
    return data[:at] + bytes([data[at] ^ 0x01]) + data[at + 1:]


# name, method, faults, the first failed check (or "-"), the check's text expected
ROWS = [
    ("sda_ok", "SDA", {}, "-", "every check ok"),
    ("dda_ok", "DDA", {}, "-", "every check ok"),
    ("fdda_ok", "fDDA", {}, "-", "every check ok"),
    ("cda_ok", "CDA", {}, "-", "every check ok"),
    ("cda_two_generate_acs_ok", "CDA", {"second": {}}, "-", "every check ok"),
    ("issuer_certificate_flipped", "DDA", {"flip": ("90", 40)}, "issuer_certificate_trailer", "trailer"),
    ("ssad_flipped", "SDA", {"flip": ("93", 7)}, "ssad_trailer", "trailer"),
    ("icc_certificate_flipped", "DDA", {"flip": ("9F46", 50)}, "icc_certificate_trailer", "trailer"),
    ("sdad_flipped", "DDA", {"flip": ("9F4B", 3)}, "sdad_trailer", "trailer"),
    ("issuer_trailer_wrong", "SDA", {"issuer_trailer": 0x3C}, "issuer_certificate_trailer",
     "trailer 3C, expected BC"),
    ("icc_header_wrong", "CDA", {"icc_header": 0x6B}, "icc_certificate_header", "header 6B, expected 6A"),
    ("ssad_format_wrong", "SDA", {"ssad_format": 0x02}, "ssad_format", "format 02, expected 03"),
    ("record_missing", "SDA", {"skip_record": (3, 1)}, "-", "record SFI 3 record 1 not in the log"),
    ("tag_list_not_82", "DDA", {"tag_list": "9F02"}, "static_data", "9F4A lists 9F02"),
    ("issuer_identifier_wrong", "SDA", {"issuer_id": "488888FF"}, "issuer_identifier", "issuer 488888"),
    ("issuer_certificate_expired", "SDA", {"issuer_expiry": "0325"}, "issuer_certificate_expiry",
     "certificate expired 03/25 before the transaction date 2026-03-15"),
    ("icc_certificate_expired", "CDA", {"icc_expiry": "1223"}, "icc_certificate_expiry",
     "certificate expired 12/23 before the transaction date 2026-03-15"),
    ("icc_pan_different", "DDA", {"icc_pan": "4999991234567880FFFF"}, "icc_pan", "does not match"),
    ("ca_key_unknown", "DDA", {"ca_index": 0xE2}, "-", "CA key F0F0F0F0F0/E2 not known"),
    ("cda_cid_different", "CDA", {"answer_cid": 0x40}, "cda_cid", "40 (9F27 in the answer)"),
    ("cda_second_cid_different", "CDA", {"second": {"answer_cid": 0x00}}, "cda2_cid",
     "00 (9F27 in the answer)"),
    ("cda_cdol_data_changed", "CDA", {"hashed_amount": "000000009900"}, "cda_transaction_data_hash",
     "hash does not match"),
]


def main():
    SESSIONS.mkdir(exist_ok=True)
    for name, method, fault, _, _ in ROWS:
        (SESSIONS / f"{name}.log").write_text(Session(method, **fault).log())
    with open(HERE / "sessions.tsv", "w") as out:
        out.write("name\tfirst_failure\ttext\n")
        for name, _, _, first, text in ROWS:
            out.write(f"{name}\t{first}\t{text}\n")
    keys = ["rid\tindex\texponent\tmodulus\tsha1\tscheme\tkind\tcomment\n"]
    for name, comment in (("ca-decoy", "a second key under the same index, tried first"),
                          ("ca", "the test CA that signed the fixtures")):
        k = key(name)
        check = hashlib.sha1(RID + bytes([CA_INDEX]) + k["n"] + k["e"]).hexdigest().upper()
        keys.append(f"{RID.hex().upper()}\t{CA_INDEX:02X}\t{k['e'].hex().upper()}\t{k['n'].hex().upper()}"
                    f"\t{check}\temvtlv tests\ttest\t{comment}\n")
    examples = HERE.parent / "examples"
    for folder in (HERE, examples):
        (folder / "test-ca-keys.tsv").write_text("".join(keys))
    (examples / "oda-session.log").write_text((SESSIONS / "icc_certificate_expired.log").read_text())


if __name__ == "__main__":
    main()
