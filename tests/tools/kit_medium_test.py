"""Tests of the kit tools' kit_medium: which names a FAT medium can hold, the
walk over a kit folder (links, loops, odd files), and finding the EFI
boot image in an El Torito catalog laid out by hand."""

import os
import shutil
import struct
import tempfile
import unittest

import tool_fixtures  # noqa: F401  (puts tools/ on the path)
from kittools import kit_medium as km


class FatNames(unittest.TestCase):
    def test_table(self):
        cases = [
            ("UpdateHWOld.nsh", None),
            ("BIOS_1.26 (final).bin", None),
            ("Überblick-ß.txt", None),
            ("x" * 255, None),
            ("x" * 256, "at most 255"),
            ("a:b.bin", "cannot hold ':'"),
            ('say "hi".txt', "cannot hold '\"'"),
            ("what?.bin", "cannot hold '?'"),
            ("a*b|c<d>e", "cannot hold '*', '<', '>', '|'"),
            ("back\\slash", "cannot hold '\\'"),
            ("tab\there", "control character 0x09"),
            ("trailing.", "trailing dots and blanks"),
            ("trailing ", "trailing dots and blanks"),
            ("emoji-\U0001F600.txt", "up to U+FFFF"),
            (os.fsdecode(b"latin1-\xe9.txt"), "not valid UTF-8"),
        ]
        for name, problem in cases:
            with self.subTest(name=name):
                got = km.fat_name_problem(name)
                if problem is None:
                    self.assertIsNone(got)
                else:
                    self.assertIsNotNone(got)
                    self.assertIn(problem, got)

    def test_names_that_differ_in_case_only_clash(self):
        self.assertEqual(km.fat_clashes(["Flash.efi", "b", "FLASH.EFI", "flash.efi"]),
                         [("FLASH.EFI", "Flash.efi"), ("FLASH.EFI", "flash.efi")])
        self.assertEqual(km.fat_clashes(["a", "b", "a.txt"]), [])


class KitTree(unittest.TestCase):
    def setUp(self):
        self.kit = tempfile.mkdtemp(prefix="kit-tree-")
        self.addCleanup(shutil.rmtree, self.kit)
        for name in ("UpdateConfig.ini", "startup.nsh", "tools/flash.efi"):
            os.makedirs(os.path.dirname(os.path.join(self.kit, name)), exist_ok=True)
            with open(os.path.join(self.kit, name), "w") as f:
                f.write("x")

    def test_entries_in_order_skipping_what_the_tool_adds(self):
        self.assertEqual(km.kit_tree(self.kit, skip=("startup.nsh",)),
                         [("UpdateConfig.ini", False), ("tools", True),
                          (os.path.join("tools", "flash.efi"), False)])

    def test_links_are_followed(self):
        os.symlink("UpdateConfig.ini", os.path.join(self.kit, "copy.ini"))
        os.symlink("tools", os.path.join(self.kit, "more-tools"))
        names = [p for p, _ in km.kit_tree(self.kit)]
        self.assertIn("copy.ini", names)
        self.assertIn(os.path.join("more-tools", "flash.efi"), names)

    def test_what_stops_the_medium(self):
        cases = {
            "a link to nothing": lambda: os.symlink("gone", os.path.join(self.kit, "dangling")),
            "a link to a folder that holds it":
                lambda: os.symlink("..", os.path.join(self.kit, "tools", "up")),
            "neither a file nor a folder": lambda: os.mkfifo(os.path.join(self.kit, "pipe")),
            "FAT ignores case": lambda: open(os.path.join(self.kit, "TOOLS"), "w").close(),
            "cannot hold ':'": lambda: open(os.path.join(self.kit, "tools", "a:b"), "w").close(),
        }
        for reason, make in cases.items():
            with self.subTest(reason):
                self.setUp()
                make()
                with self.assertRaisesRegex(km.MediumError, reason):
                    km.kit_tree(self.kit)


def iso_with_catalog(catalog, record_ok=True):
    """Sectors 0-19 of an ISO: a boot record at sector 17 naming the
    catalog at sector 19."""
    data = bytearray(20 * km.ISO_SECTOR)
    record = 17 * km.ISO_SECTOR
    data[record:record + 6] = b"\0CD001"
    data[record + 7:record + 30] = km.EL_TORITO_ID if record_ok else b"X" * 23
    struct.pack_into("<I", data, record + 0x47, 19)
    data[19 * km.ISO_SECTOR:19 * km.ISO_SECTOR + len(catalog)] = catalog
    return bytes(data)


def validation(platform):
    entry = bytearray(32)
    entry[0], entry[1] = 1, platform
    entry[30:32] = b"\x55\xaa"
    return bytes(entry)


def boot_entry(rba, bootable=True):
    entry = bytearray(32)
    entry[0] = 0x88 if bootable else 0x00
    struct.pack_into("<HI", entry, 6, 4, rba)
    return bytes(entry)


def section_header(platform, count, last):
    return bytes([0x91 if last else 0x90, platform]) + struct.pack("<H", count) + b"\0" * 28


class FatImage(unittest.TestCase):
    def test_every_name_fat_holds_arrives_as_it_is(self):
        """Names beyond ASCII, names mtools would take for patterns, and a
        folder of more files than one command takes (batches made small
        here): each arrives under its own name, with its own bytes."""
        root = tempfile.mkdtemp(prefix="fat-image-")
        self.addCleanup(shutil.rmtree, root)
        folder = os.path.join(root, "drive")
        files = {"Caf\u00e9/donn\u00e9es-2024.bin": b"1", "a[1]/x.bin": b"2", "a1/x.bin": b"3",
                 "[x]/y.bin": b"4"}
        files.update({"many/f%02d.bin" % n: b"%d" % n for n in range(7)})
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        saved = km.BATCH
        km.BATCH = 3
        try:
            km.make_fat_image(folder, os.path.join(root, "kit.img"))
        finally:
            km.BATCH = saved
        image = os.path.join(root, "kit.img")
        for name, data in files.items():
            with self.subTest(name):
                self.assertEqual(km.read_file(image, name), data)
        # A name mtools cannot keep is refused naming what it would become.
        os.makedirs(os.path.join(root, "other", "caf\u00e9"))
        with self.assertRaises(km.MediumError) as caught:
            km.make_fat_image(os.path.join(root, "other"), os.path.join(root, "kit2.img"))
        self.assertIn("caf\u00e9 arrives in the image as caf\u00c9", str(caught.exception))


class ElTorito(unittest.TestCase):
    def offset(self, iso):
        return km.el_torito_efi_image(lambda at, n: iso[at:at + n])

    def test_the_efi_entry_wherever_it_is(self):
        cases = {
            "default entry": validation(0xEF) + boot_entry(34),
            "after a BIOS default entry": validation(0x00) + boot_entry(20)
            + section_header(0xEF, 1, True) + boot_entry(34),
            "second of a section": validation(0x00) + boot_entry(20)
            + section_header(0xEF, 2, True) + boot_entry(30, bootable=False) + boot_entry(34),
        }
        for name, catalog in cases.items():
            with self.subTest(name):
                self.assertEqual(self.offset(iso_with_catalog(catalog)), 34 * km.ISO_SECTOR)

    def test_isos_without_one(self):
        cases = {
            "no boot record": (iso_with_catalog(validation(0xEF) + boot_entry(34), False),
                               "no El Torito boot record"),
            "damaged catalog": (iso_with_catalog(b"\0" * 64), "damaged"),
            "BIOS only": (iso_with_catalog(validation(0x00) + boot_entry(20)), "no bootable"),
            "a section header claiming more entries than the sector holds":
                (iso_with_catalog(validation(0x00) + boot_entry(20)
                                  + section_header(0xEF, 0xFFFF, True)), "no bootable"),
            "cut short": (b"\0" * 100, "no El Torito boot record"),
        }
        for name, (iso, reason) in cases.items():
            with self.subTest(name):
                with self.assertRaisesRegex(km.MediumError, reason):
                    self.offset(iso)


if __name__ == "__main__":
    unittest.main()
