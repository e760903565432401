"""Tests of the kit tools' pe_image: only a PE32+ x86-64 EFI application passes,
and everything else is named for what it is, however short or damaged."""

import unittest

from tool_fixtures import pe
from kittools import pe_image


class Describe(unittest.TestCase):
    def test_table(self):
        cut_after_coff = pe()[:0x40 + 24 + 10]
        pointer_far_out = bytearray(pe())
        pointer_far_out[0x3C:0x40] = b"\xff\xff\xff\x7f"
        cases = [
            (pe(), True, "a PE32+ EFI application for x86-64"),
            (pe(machine=0xAA64), False, "a PE32+ EFI application for AArch64"),
            (pe(machine=0x014C, magic=0x10B), False, "a PE32 EFI application for x86 (32-bit)"),
            (pe(magic=0x10B), False, "a PE32 EFI application for x86-64"),
            (pe(subsystem=11), False, "a PE32+ EFI boot service driver for x86-64"),
            (pe(subsystem=12), False, "a PE32+ EFI runtime driver for x86-64"),
            (pe(subsystem=3), False, "a PE32+ Windows console program for x86-64"),
            (pe(subsystem=99), False, "a PE32+ image of subsystem 99 for x86-64"),
            (pe(machine=0x1234), False, "a PE32+ EFI application for machine 0x1234"),
            (pe(optional_size=0), False, "a PE object without an image header"),
            (pe(magic=0x107), False, "a PE object without an image header"),
            (cut_after_coff, False, 'a DOS program (no "PE" header)'),
            (bytes(pointer_far_out), False, 'a DOS program (no "PE" header)'),
            (b"MZ" + b"\0" * 200, False, 'a DOS program (no "PE" header)'),
            (b"", False, "an empty file"),
            (b"MZ", False, "a file cut short in its DOS header"),
            (b"\x7fELF\x02\x01\x01" + b"\0" * 100, False, "an ELF file"),
            (b"PK\x03\x04" + b"\0" * 100, False, "a zip archive (unpack it first)"),
            (b"\0" * 40 + b"_FVH" + b"\0" * 40, False,
             "a UEFI firmware volume (--shell ovmf takes the shell out of ovmf's)"),
            (b"# a script\r\necho hello\r\n", False, "a text file"),
            (b"\x00\x01\x02\x03" * 40, False, 'no PE image (no "MZ" header)'),
        ]
        for data, ok, text in cases:
            with self.subTest(text=text, size=len(data)):
                self.assertEqual(pe_image.describe(data), (ok, text))

    def test_each_machine_passes_only_its_own_application(self):
        cases = [
            (pe(), pe_image.MACHINE_X64, True),
            (pe(), pe_image.MACHINE_AARCH64, False),
            (pe(machine=0xAA64), pe_image.MACHINE_AARCH64, True),
            (pe(machine=0xAA64), pe_image.MACHINE_X64, False),
            (pe(machine=0xAA64, subsystem=11), pe_image.MACHINE_AARCH64, False),
            (pe(machine=0xAA64, magic=0x10B), pe_image.MACHINE_AARCH64, False),
        ]
        for data, machine, ok in cases:
            with self.subTest(machine=hex(machine), text=pe_image.describe(data)[1]):
                self.assertEqual(pe_image.describe(data, machine)[0], ok)


class ApplicationMachine(unittest.TestCase):
    def test_table(self):
        cases = [
            (pe(), 0x8664),
            (pe(machine=0xAA64), 0xAA64),
            (pe(machine=0x5064), 0x5064),
            # Not an application, or no PE32+ at all: no machine to go by.
            (pe(machine=0xAA64, subsystem=11), None),
            (pe(magic=0x10B), None),
            (pe()[:0x40 + 24 + 10], None),
            (b"\x7fELF" + b"\0" * 100, None),
            (b"", None),
        ]
        for data, want in cases:
            with self.subTest(size=len(data), want=want):
                self.assertEqual(pe_image.application_machine(data), want)


if __name__ == "__main__":
    unittest.main()
