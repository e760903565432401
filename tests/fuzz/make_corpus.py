#!/usr/bin/env python3
"""Writes the hand-made starting inputs of the fuzz targets into
tests/fuzz/corpus/<target>/. Deterministic: same script, same bytes.

    make_corpus.py            rewrites the hand-made files
    make_corpus.py --check    exits 1 when a committed file differs

The SMBIOS target also starts from tests/data/dumps/*.bin and the
configuration target from examples/kit/UpdateConfig.ini; run-fuzzers passes
those folders along, so they are not copied here.
"""

import argparse
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def update_config():
    big = b"; firmware update kit for the test line\r\n" * 120  # past a 4 KiB buffer
    return {
        "plain.ini": b"ProductName=Model7\r\nVersion=12\r\n",
        "flag-on-longer-key.ini": b"CheckProductName=YES\r\nProductName=Model7\r\nVersion=12\r\n",
        "two-flags.ini": b"CheckProductName=YES\r\nUseProductName=NO\r\nProductName=X\r\nVersion=1\r\n",
        "flag-at-offset-0.ini": b"ProductName=YES\r\nVersion=3\r\n",
        "bom-lf.ini": b"\xef\xbb\xbf[Update]\nBIOSVersion=7\nProductName=NOVA\nVersion=9\n",
        "lone-cr.ini": b"ProductName=A\rVersion=12\rNext=1",
        "long-value.ini": b"ProductName=ABCDEFGHIJKL\nVersion=ABCDEFGHIJ\n",
        "equals-at-end.ini": b"ProductName=A\nVersion=",
        "nul-in-value.ini": b"ProductName=B\0ard\nVersion=1\0002\n",
        "utf16.ini": "ProductName=Model7\r\nVersion=12\r\n".encode("utf-16"),
        "no-version.ini": b"ProductName=Model7\r\n; Version is missing\r\n",
        "keys-past-buffer.ini": big + b"ProductName=Big\r\nVersion=4\r\n",
        "empty.ini": b"",
    }


def utf16_args(args):
    """Arguments as UTF-16LE units, each ended by a 0 unit; None is the
    single unit U+FFFF, which the target passes as a null pointer."""
    out = b""
    for arg in args:
        if arg is None:
            out += struct.pack("<H", 0xFFFF)
        else:
            out += arg.encode("utf-16-le", "surrogatepass")
        out += b"\0\0"
    return out


def argument_conversion():
    return {
        "name-only.bin": utf16_args(["BiosUpdateSelect.efi"]),
        "accents.bin": utf16_args(["BiosUpdateSelect.efi", "\u00e9", "\u20ac", "-f"]),
        "none.bin": b"",
        "null-argument.bin": utf16_args(["BiosUpdateSelect.efi", None, "x"]),
        "lone-surrogates.bin": utf16_args(["a\ud800b", "\udc00", "ok\udbff"]),
        "255-ascii.bin": utf16_args(["A" * 255, "B" * 256]),
        "two-byte-limit.bin": utf16_args(["\u00e9" * 127 + "x", "\u00e9" * 128]),
        "three-byte-limit.bin": utf16_args(["\u20ac" * 85, "\u20ac" * 84 + "ab", "\u20ac" * 86]),
        "64-arguments.bin": utf16_args(["a%d" % i for i in range(64)]),
        "65-arguments.bin": utf16_args(["a%d" % i for i in range(65)]),
        "100-arguments.bin": utf16_args(["a%d" % i for i in range(100)]),
    }


def console_input(switches, status1, status2, fmt, text1=b"", text2=b""):
    return (bytes([switches]) + struct.pack("<QQ", status1, status2) +
            fmt.encode("utf-16-le") + b"\0\0" + text1 + b"\0" + text2)


def console_print():
    err = 1 << 63
    return {
        "smbios-message.bin": console_input(0, 0, 0, "ERROR: SMBIOS table not found.\n"),
        "config-message.bin": console_input(0, 0, 0, "UpdateConfig.ini not found\n"),
        "stdio-message.bin": console_input(0, err | 14, 0, "ERROR Initializing Standard IO: %a.\n    %r\n",
                                           b"No such file or directory"),
        "line-ends.bin": console_input(0, 0, 0, "a\n\rb\r\nc\rd\n\n\r\re%x%%a", b"\xff\x80"),
        "statuses.bin": console_input(0, err | 34, 6, "%a %r %a %r", b"", b"x"),
        "long.bin": console_input(0, err | 9, 0, "%a%r" + "0123456789" * 31 + "\n", b"q" * 300),
        "no-conout.bin": console_input(1, 5, 0, "%r\n"),
        "output-error.bin": console_input(4, 0, 0, "x\n"),
        "null-string.bin": console_input(16, 0, 0, "%a|\n"),
    }


def parse_version():
    texts = ["1.05", "  12A", "V1.05", "A0", "", "-3", "+7", "- 7", "+-1", "\t\n\v\f\r 007",
             "4294967297", "18446744073709551615", "18446744073709551616",
             "99999999999999999999999", "-2147483648", "2147483648", "1.07", "2.00", "\xa012"]
    return {"text-%02d.txt" % i: t.encode("latin-1") for i, t in enumerate(texts)}


def smbios_entry(table_length, count, anchor=b"_SM_"):
    entry = bytearray(32)
    entry[0:4] = anchor
    entry[5] = 0x1F
    entry[6:8] = bytes([2, 8])
    entry[0x10:0x15] = b"_DMI_"
    struct.pack_into("<HIH", entry, 0x16, table_length, 32, count)
    return bytes(entry)


def structure(kind, handle, strings=(), body=b""):
    data = struct.pack("<BBH", kind, 4 + len(body), handle) + body
    data += b"".join(s + b"\0" for s in strings) + b"\0" if strings else b"\0\0"
    return data


def smbios_walk():
    bios = structure(0, 1, (b"Acme", b"1.07", b"01/02/2026"), bytes(range(20)))
    other = structure(1, 2, (b"x",))
    repeated = bios + other + structure(2, 1) + structure(3, 3)
    cut = other + structure(0, 4, (b"Acme", b"9"), bytes(20))[:-3]
    no_strings = structure(0, 5, (), bytes(20))
    return {
        "one-bios.bin": smbios_entry(len(bios), 1) + bios,
        "repeated-handle.bin": smbios_entry(len(repeated), 9) + repeated,
        "strings-cut-at-end.bin": smbios_entry(len(cut), 5) + cut,
        "bios-without-strings.bin": smbios_entry(len(no_strings), 1) + no_strings,
        "count-beyond-table.bin": smbios_entry(len(bios + other), 500) + bios + other,
        "length-beyond-bytes.bin": smbios_entry(4096, 3) + bios,
        "bad-anchor.bin": smbios_entry(len(bios), 1, b"_SM3") + bios,
    }


def run_options():
    # Byte 0 even: two version texts split by a NUL; odd: an argument list.
    pairs = [("A05", "A07"), ("1.22.1", "1.3.4"), ("2.8.2", "2.10.0"), ("01.02.05", "1.2.7"),
             ("7LET56WW (1.26 )", "7LET60WW (1.30 )"), ("N01 Ver. 02.16", "n01 ver 2.17"),
             ("P61", "P61"), ("7LET56WW (1.26 )", "8AET46WW (1.26 )"), ("A05", "1.2.0"),
             ("1.2", "1.2.1"), ("-[A3E148AUS-1.07]-", "-[A3E148AUS-1.10]-"),
             ("G1ET45WW (1.20 )", "G1ET45WW (1.20 )"), ("F.42", "F.5"), ("", "   "),
             ("0000000000000000000000001", "1"), ("99999999999999999999", "100000000000000000000"),
             ("\xa01.05\xe9", "1.5")]
    inputs = {"segments-%02d.bin" % i: b"\0" + a.encode("latin-1") + b"\0" + b.encode("latin-1")
              for i, (a, b) in enumerate(pairs)}
    lists = [["BiosUpdateSelect.efi"],
             ["BiosUpdateSelect.efi", "-v", "-n", "-segments", "-product", "-smbios3"],
             ["BiosUpdateSelect.efi", "-V", "-SEGMENTS", "-Smbios3", "-segments"],
             ["-n", "UpdateHWNew.nsh", "Version=0", "--v", "-verbose", "/n", "-smbios", "-segment"],
             ["BiosUpdateSelect.efi", "\xff", "-n", "-v\xe9", "-\xcen"]]
    for i, args in enumerate(lists):
        inputs["arguments-%02d.bin" % i] = b"\1" + b"\0".join(a.encode("latin-1") for a in args)
    return inputs


def fleet_row():
    # Byte 0 chooses the form: even, a dump image; odd, a sysfs copy whose
    # entry point is the next byte's count of bytes (mod 40), then DMI; 7 mod
    # 8, the same through files.
    bios = structure(0, 0, (b"Acme", b"G1ET45WW (1.20 )", b"01/02/2026"),
                     bytes([1, 2, 0, 0xE8, 3, 0x0F]) + bytes(12))
    system = structure(1, 1, (b"Acme", b"Model7   "), bytes([1, 2, 0, 0]))
    shared = structure(0xDA, 0xDA00, (b"x",)) + structure(0xDB, 0xDA00, (b"y",))
    table = bios + system + shared + structure(127, 0xFEFF)
    entry2 = smbios_entry(len(table), 5)
    entry3 = b"_SM3_" + bytes([0, 24, 3, 2, 0, 1, 0]) + struct.pack("<IQ", len(table), 0xFFFF0000)
    return {
        "dump-2x.bin": b"\0" + entry2 + table,
        "sysfs-2x.bin": b"\1" + bytes([len(entry2)]) + entry2 + table,
        "sysfs-3x.bin": b"\3" + bytes([len(entry3)]) + entry3 + table,
        "files-3x.bin": b"\7" + bytes([len(entry3)]) + entry3 + table,
    }


def record_file():
    line = (b'{"time":"2026-03-01T08:30:15","manufacturer":"Acme","product":"Model7",'
            b'"serial":"SN-1","sku":null,"uuid":"00112233-4455-6677-8899-aabbccddeeff",'
            b'"bios_vendor":"Acme","bios_version":"10","bios_date":"03/04/2025","kit":null,'
            b'"product_name":"Model7","version":"20","options":"-log",'
            b'"script":"UpdateHWOld.nsh","ran":true,"status":"0x0","message":null}')
    refused = (b'{"time":null,"serial":"SN-2","product":"Model8","uuid":null,"script":null,'
               b'"ran":false,"status":"0x15","message":"ERROR: product \\"Model8\\" is not '
               b'ProductName= \\"Model7\\"."}')
    return {
        "one-line.jsonl": line + b"\n",
        "cut-then-whole.jsonl": line[:90] + b"\n" + line + b"\r\n" + refused + b"\n",
        "refused-no-lf.jsonl": refused,
        "escapes.jsonl": b'{"script":null,"ran":false,"serial":"\\u00e9\\u0000\\"","product":"\\ud83d\\ude00"}\n',
    }


TARGETS = {
    "update_config": update_config,
    "argument_conversion": argument_conversion,
    "console_print": console_print,
    "parse_version": parse_version,
    "smbios_walk": smbios_walk,
    "run_options": run_options,
    "fleet_row": fleet_row,
    "record_file": record_file,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    differs = []
    for target, build in TARGETS.items():
        folder = os.path.join(CORPUS, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in build().items():
            path = os.path.join(folder, name)
            if args.check:
                try:
                    with open(path, "rb") as f:
                        if f.read() != data:
                            differs.append(path)
                except FileNotFoundError:
                    differs.append(path)
            else:
                with open(path, "wb") as f:
                    f.write(data)
    for path in differs:
        print("differs: " + path)
    return 1 if differs else 0


if __name__ == "__main__":
    sys.exit(main())
