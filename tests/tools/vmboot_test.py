"""Tests of the kit tools' vmboot's reading of the firmware's boot log: which
boot option started the kit, and how each medium is attached."""

import os
import tempfile
import unittest

import tool_fixtures  # noqa: F401  (puts tools/ on the path)
from kittools import vmboot

USB = 'BdsDxe: starting Boot0002 "UEFI QEMU QEMU USB HARDDRIVE 1-0000:00:02.0-1" from Pci(0x2)'
USB_FAILED = ('BdsDxe: failed to load Boot0002 "UEFI QEMU QEMU USB HARDDRIVE 1-0000:00:02.0-1" '
              'from Pci(0x2): Not Found')
SHELL = 'BdsDxe: starting Boot0003 "EFI Internal Shell" from Fv(7CB8)/FvFile(7C04)'
MARK = "=== start ==="


class BootPath(unittest.TestCase):
    def test_table(self):
        cases = [
            ("the medium's own shell", [USB, "UEFI Interactive Shell v2.2", MARK], "medium"),
            ("the medium failed, the built-in shell ran", [USB_FAILED, SHELL, MARK], "built-in"),
            ("no boot option at all", ["some output", MARK], None),
            # A later boot (a script reset the machine) does not count.
            ("only what came before the mark", [USB, MARK, SHELL], "medium"),
            ("blanks around the line", ["  " + SHELL + "  ", MARK], "built-in"),
            ("a quoted line is not the firmware's", ['echo "' + USB + '"', MARK], None),
        ]
        for what, lines, want in cases:
            with self.subTest(what):
                self.assertEqual(vmboot.boot_path(lines, before=MARK), want)

    def test_without_mark_the_last_start_counts(self):
        self.assertEqual(vmboot.boot_path([USB, SHELL]), "built-in")


class DriveOptions(unittest.TestCase):
    def test_each_attachment(self):
        folder = tempfile.mkdtemp(prefix="vmboot-")
        self.addCleanup(os.rmdir, folder)
        image = "/nowhere/kit.img"
        self.assertEqual(vmboot.drive_options(folder, "usb-stick"),
                         ["-drive", "format=raw,snapshot=on,file=fat:" + folder])
        self.assertEqual(vmboot.drive_options(image, "disk"),
                         ["-drive", "format=raw,snapshot=on,file=" + image])
        stick = vmboot.drive_options(image, "usb-stick")
        cdrom = vmboot.drive_options(image, "cdrom")
        self.assertIn("usb-storage,bus=xhci.0,drive=kit", stick)
        self.assertIn("if=none,id=kit,format=raw,snapshot=on,file=" + image, stick)
        self.assertIn("if=none,id=kit,format=raw,media=cdrom,readonly=on,file=" + image, cdrom)
        self.assertIn("usb-storage,bus=xhci.0,drive=kit", cdrom)

    def test_each_attachment_on_the_arm_machine(self):
        folder = tempfile.mkdtemp(prefix="vmboot-")
        self.addCleanup(os.rmdir, folder)
        image = "/nowhere/kit.img"
        cases = [
            # The ARM board has no IDE: internal disks are virtio block
            # devices, each with its own drive name.
            ((folder, "disk", 0), ["if=none,id=disk0,format=raw,snapshot=on,file=fat:" + folder,
                                   "virtio-blk-device,drive=disk0"]),
            ((image, "disk", 2), ["if=none,id=disk2,format=raw,snapshot=on,file=" + image,
                                  "virtio-blk-device,drive=disk2"]),
            ((image, "usb-stick", 0), ["qemu-xhci,id=xhci", "usb-storage,bus=xhci.0,drive=kit",
                                       "if=none,id=kit,format=raw,snapshot=on,file=" + image]),
            ((image, "cdrom", 0), ["virtio-scsi-pci,id=scsi", "scsi-cd,bus=scsi.0,drive=kit",
                                   "if=none,id=kit,format=raw,media=cdrom,readonly=on,file="
                                   + image]),
        ]
        for (drive, attach, index), wanted in cases:
            with self.subTest(attach=attach, drive=drive):
                options = vmboot.drive_options(drive, attach, "aarch64", index)
                for word in wanted:
                    self.assertIn(word, options)
                # Nothing of the x86 machine's attachments leaks in.
                self.assertNotIn("usb-storage,bus=xhci.0,drive=kit",
                                 options if attach == "cdrom" else [])


if __name__ == "__main__":
    unittest.main()
