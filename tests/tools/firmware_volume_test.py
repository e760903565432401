"""Tests of the kit tools' firmware_volume: the shell is found by what the
volumes say wherever it sits (plain, LZMA-compressed, in a nested volume,
as a large file, behind padding), and damaged flash images end in one
FirmwareError, never in a crash or a read past the data."""

import os
import unittest

from tool_fixtures import (OTHER_GUID, SHELL_GUID, ffs_file, lzma_section, pe, section,
                           sections, ui_section, volume)
from kittools import firmware_volume as fv
from kittools import pe_image

SHELL = pe() + b"shell body"
APPLICATION, DRIVER, FV_IMAGE = 0x09, 0x07, 0x0B


def shell_file(name="Shell", kind=APPLICATION, image=SHELL, **kw):
    return ffs_file(SHELL_GUID, kind, sections(section(0x10, image), ui_section(name)), **kw)


def compressed_main_volume(files):
    """The layout flash images use: a small volume whose one file holds an
    LZMA section around a firmware-volume section around the main volume."""
    inner = section(0x17, volume(files))
    return volume([ffs_file(OTHER_GUID, FV_IMAGE, lzma_section(inner))])


class FindShell(unittest.TestCase):
    def test_found_in_every_layout(self):
        other = ffs_file(OTHER_GUID, APPLICATION, sections(section(0x10, pe()), ui_section("UiApp")))
        pad = ffs_file("00000000-0000-0000-0000-000000000000", 0xF0, b"\xff" * 40)
        layouts = {
            "plain volume": volume([other, shell_file()]),
            "erase polarity 0": volume([shell_file(erased=0)], erased=0),
            "behind a pad file": volume([pad, shell_file()]),
            "large-file header": volume([shell_file(large=True)]),
            "inside a checksummed section": volume([ffs_file(SHELL_GUID, APPLICATION, section(
                0x02, bytes(16) + b"\x18\0\x02\0" + sections(section(0x10, SHELL),
                                                             ui_section("Shell"))))]),
            "compressed main volume": compressed_main_volume([other, shell_file()]),
            "after garbage and a second volume": b"\x5a" * 4096 + volume([other])
            + compressed_main_volume([shell_file()]),
        }
        for name, data in layouts.items():
            with self.subTest(name):
                self.assertEqual(fv.find_shell(data), SHELL)

    def test_what_is_not_the_shell(self):
        deleted = shell_file(state=0x07 | 0x10)
        cases = {
            "no volume": b"\0" * 8192,
            "a driver named Shell": volume([shell_file(kind=DRIVER)]),
            "another name": volume([shell_file(name="UiApp")]),
            "deleted file": volume([deleted]),
        }
        for name, data in cases.items():
            with self.subTest(name):
                with self.assertRaises(fv.FirmwareError):
                    fv.find_shell(data)

    def test_two_different_shells_are_refused(self):
        data = volume([shell_file(), shell_file(image=pe() + b"another")])
        with self.assertRaisesRegex(fv.FirmwareError, "2 different"):
            fv.find_shell(data)


class DamagedImages(unittest.TestCase):
    def test_each_damage_is_one_error(self):
        good = volume([shell_file()])
        file_at = 72
        damaged = {}
        raw = bytearray(good)
        raw[file_at + 20:file_at + 23] = b"\xff\xff\x7f"        # file size beyond the volume
        damaged["file size"] = (bytes(raw), "beyond its volume's end")
        raw = bytearray(good)
        raw[file_at + 24:file_at + 27] = b"\xff\xff\x00"        # section size beyond the file
        damaged["section size"] = (bytes(raw), "beyond its file's end")
        bad_lzma = section(0x02, fv.LZMA_GUID.bytes_le + b"\x18\0\x01\0" + b"not lzma data")
        damaged["LZMA data"] = (volume([ffs_file(OTHER_GUID, FV_IMAGE, bad_lzma)]),
                                "does not decompress")
        damaged["nested section without a volume"] = (volume(
            [ffs_file(OTHER_GUID, FV_IMAGE, section(0x17, b"\0" * 100))]), "no valid volume")
        nested = [shell_file()]
        for _ in range(fv.MAX_NESTING + 2):
            nested = [ffs_file(OTHER_GUID, FV_IMAGE, section(0x17, volume(nested)))]
        damaged["nested too deep"] = (volume(nested), "nested more than")
        for name, (data, reason) in damaged.items():
            with self.subTest(name):
                with self.assertRaisesRegex(fv.FirmwareError, reason):
                    fv.find_shell(data)

    def test_header_checksum_and_length_are_checked(self):
        good = volume([shell_file()])
        raw = bytearray(good)
        raw[50] ^= 1
        self.assertIsNone(fv.volume_at(bytes(raw), 0))
        self.assertIsNone(fv.volume_at(good[:-8], 0))     # FvLength beyond the data
        self.assertEqual(fv.volume_at(good, 0), (len(good), 72))


class InstalledOvmf(unittest.TestCase):
    """The reader on Debian's own firmware, where it is installed."""

    def test_the_shell_is_an_x64_efi_application(self):
        path = "/usr/share/OVMF/OVMF_CODE_4M.fd"
        if not os.path.isfile(path):
            self.skipTest("ovmf is not installed")
        with open(path, "rb") as f:
            shell = fv.find_shell(f.read())
        self.assertEqual(pe_image.describe(shell), (True, "a PE32+ EFI application for x86-64"))


if __name__ == "__main__":
    unittest.main()
