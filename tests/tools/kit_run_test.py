"""Tests of kit-run without a VM: how it reads the console of a run (the
kit a library run chose, the folder each script ran in), its summary
line, -n added to a medium's own options, the startup.nsh of a medium for
both machines, the machines a medium serves, and the SMBIOS data of a
copied sysfs folder."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import tool_fixtures  # noqa: F401  (puts tools/ on the path)
from kittools import kit_run, layout, smbios_dump, vmboot
from kittools.common import KitError
from kittools.progress import Progress

DUMPS = os.path.join(tool_fixtures.REPO, "tests", "data", "dumps")
KIT = os.path.join(tool_fixtures.REPO, "examples", "kit")
TOOLS = os.path.join(tool_fixtures.REPO, "tools")


class Console(unittest.TestCase):
    MARK = "=== update script ran: "

    def test_reading_the_run(self):
        """The kit a run chose: the folder its script ran in, else the
        folder the run left the shell in (shown after the status), else
        -v's line; the folder lines are not shown."""
        start, status = "=== BiosUpdateSelect.efi: start ===", "=== BiosUpdateSelect.efi: status "
        stand_in = self.MARK + "UpdateHWOld.nsh (stand-in; the kit's own script was not run)"
        kit_line = 'Kit kits\\Model7 Tower: ProductName= "Model7*" serves product "Model7 Tower".'
        refused = 'ERROR: no kit in kits serves product "X".'
        not_compared = 'ERROR: installed "1.26" and configured "2.17.1" cannot be compared.'
        cases = [
            # (what, lines before the status, the line after it, shown, scripts, kit)
            ("library, script ran", [stand_in, "FS0:\\kits\\Model7 Tower"], "FS0:\\kits\\Model7 Tower",
             [stand_in], ["UpdateHWOld.nsh"], "kits\\Model7 Tower"),
            ("library, -v", [kit_line, stand_in, "FS1:\\kits\\Model7 Tower"], "FS1:\\kits\\Model7 Tower",
             [kit_line, stand_in], ["UpdateHWOld.nsh"], "kits\\Model7 Tower"),
            ("library, -n: the kit from -v's line", [kit_line], "after",
             [kit_line], [], "kits\\Model7 Tower"),
            ("library, no script, no -v: the folder the run left", [not_compared],
             "FS0:\\kits\\as-2200", [not_compared], [], "kits\\as-2200"),
            ("refused: the run left the root", [refused], "FS0:", [refused], [], None),
            ("one kit at the root", [stand_in, "FS0:"], "after", [stand_in], ["UpdateHWOld.nsh"],
             None),
            # A script's own output that looks like a folder is shown.
            ("a folder line the script printed", [stand_in, "FS0:\\", "FS0:\\x"], "after",
             [stand_in, "FS0:\\x"], ["UpdateHWOld.nsh"], None),
        ]
        for what, lines, after, shown, scripts, kit in cases:
            with self.subTest(what):
                console = kit_run.Console(["noise", start] + lines + [status + "0x0 ===",
                                                                      after, "FS0:\\kits\\z"])
                self.assertEqual((console.shown, console.scripts, console.kit, console.status),
                                 (shown, scripts, kit, "0x0"))

    def test_summary(self):
        cases = [
            ((["UpdateHWOld.nsh"], "0x0", False, "cdrom", "medium", ["-kits", "-segments"],
              True, "kits\\model7-tower"),
             "kit kits\\model7-tower: UpdateHWOld.nsh ran; BiosUpdateSelect.efi -kits "
             "-segments ended with status 0x0 (success); started from the CD-ROM by the "
             "medium's own shell (\\EFI\\BOOT\\BOOTX64.EFI)"),
            (([], "0x15", False, "disk", "built-in", ["-kits"], True, None),
             "no kit chosen, no update script ran; BiosUpdateSelect.efi -kits ended with "
             "status 0x15 (Aborted: no decision was made); started from the disk by the "
             "firmware's built-in shell"),
            (([], "0x0", True, "usb-stick", "built-in", ["-kits", "-n"], True, "kits\\a"),
             "kit kits\\a: no update script ran (-n: decide only); BiosUpdateSelect.efi -kits "
             "-n ended with status 0x0 (success); started from the USB stick by the "
             "firmware's built-in shell"),
            ((["UpdateHWNew.nsh"], "0x0", False, "disk", "built-in", [], False, None),
             "UpdateHWNew.nsh ran; BiosUpdateSelect.efi ended with status 0x0 (success); "
             "started from the disk by the firmware's built-in shell"),
        ]
        for args, want in cases:
            with self.subTest(want[:40]):
                self.assertEqual(kit_run.summary(*args), want)

    def test_decide_only_keeps_the_medium_options(self):
        cases = [
            (layout.startup_nsh("-segments -product", library=True),
             ["-kits", "-segments", "-product", "-n"]),
            (layout.startup_nsh("-N -v"), ["-N", "-v"]),
            (layout.startup_nsh(None), ["-n"]),
        ]
        for script, want in cases:
            with self.subTest(want):
                changed = layout.with_decide_only(script)
                self.assertEqual(layout.app_words(changed), want)
                self.assertTrue(layout.decides_only(changed))
                self.assertEqual(changed.replace(b" -n", b""), script.replace(b" -n", b""))
        with self.assertRaises(KitError):
            layout.with_decide_only(b"@echo -off\r\necho nothing\r\n")

    def test_decide_only_on_every_machines_line(self):
        script = layout.startup_nsh("-v", arches=("x64", "aarch64"))
        changed = layout.with_decide_only(script)
        self.assertEqual(layout.app_words(changed, "x64"), ["-v", "-n"])
        self.assertEqual(layout.app_words(changed, "aarch64"), ["-smbios3", "-v", "-n"])
        # The probe lines are left as they are: they decide only already.
        self.assertEqual([l for l in changed.split(b"\r\n") if b"Probe.nsh " in l],
                         [l for l in script.split(b"\r\n") if b"Probe.nsh " in l])


class Records(unittest.TestCase):
    """What kit-run reads back of a medium's run record, and the System
    Information it gives the VM."""

    def test_the_lines_a_boot_added(self):
        line = b'{"serial":"SN-1","ran":true}'
        cases = [
            ("a new file", b"", line + b"\n", [line.decode()]),
            ("after earlier records", line + b"\n", line + b"\n" + line + b"\n", [line.decode()]),
            ("nothing added", line + b"\n", line + b"\n", []),
            ("no file before or after", None, None, []),
            ("a cut line then a whole one", b"", b'{"se\n' + line + b"\n",
             ['{"se', line.decode()]),
            # A medium rewritten in between: every line it holds is new.
            ("a different file", b"x\n", line + b"\n", [line.decode()]),
        ]
        for what, before, after, want in cases:
            with self.subTest(what):
                self.assertEqual(kit_run.new_records(before, after), want)

    def test_serial_and_uuid_of_the_vm(self):
        def args(**given):
            values = dict(smbios_dump=None, bios_version="1.26", product=None, serial=None,
                          uuid=None, arch="x64", manufacturer=None, family=None, sku=None,
                          baseboard_manufacturer=None, baseboard_product=None)
            values.update(given)
            return type("Args", (), values)()
        cases = [
            ({}, []),
            ({"serial": "SN-1"}, ["type=1,serial=SN-1"]),
            ({"product": "Model7", "serial": "A,B", "uuid": "00112233-4455-6677-8899-aabbccddeeff"},
             ["type=1,product=Model7,serial=A,,B,uuid=00112233-4455-6677-8899-aabbccddeeff"]),
            # The fields the hardware IDs join: System Information, then the Base Board.
            ({"manufacturer": "Acme", "sku": "SKU-7", "family": "Line", "baseboard_product": "B-1",
              "baseboard_manufacturer": "Boards, Inc."},
             ["type=1,manufacturer=Acme,family=Line,sku=SKU-7",
              "type=2,manufacturer=Boards,, Inc.,product=B-1"]),
        ]
        for given, want in cases:
            with self.subTest(given):
                options, machine = kit_run.smbios_options(args(**given), None)
                self.assertEqual(machine, [])
                self.assertEqual([o for o in options if o.startswith(("type=1", "type=2"))], want)
        for given in ({"uuid": "0011223344556677"}, {"uuid": "zz112233-4455-6677-8899-aabbccddeeff"},
                      {"serial": ""}, {"serial": "a\nb"},
                      {"smbios_dump": "x.bin", "bios_version": None, "serial": "SN-1"},
                      {"smbios_dump": "x.bin", "bios_version": None, "sku": "SKU-7"},
                      {"baseboard_product": "a\rb"}):
            with self.subTest(given):
                with self.assertRaises(KitError):
                    kit_run.check_machine(args(**given))


class BothMachines(unittest.TestCase):
    """The startup.nsh of a medium for x64 and AArch64: each image tried in
    the probe, in order, a refusal (0x3) going on to the next, and each
    machine's own line with its own options."""

    def lines(self, script):
        return script.decode("ascii").split("\r\n")

    def test_each_machine_runs_its_own_line(self):
        cases = [
            # (arches, app_args, library, the application's lines)
            (("x64",), "-v", False, ["BiosUpdateSelect.efi -v"]),
            (("aarch64",), "-v", False, ["BiosUpdateSelect.efi -smbios3 -v"]),
            (("aarch64",), "-V -SMBIOS3", False, ["BiosUpdateSelect.efi -V -SMBIOS3"]),
            (("x64", "aarch64"), None, False,
             ["BiosUpdateSelectX64.efi", "BiosUpdateSelectAA64.efi -smbios3"]),
            (("x64", "aarch64"), "-segments", True,
             ["BiosUpdateSelectX64.efi -kits -segments",
              "BiosUpdateSelectAA64.efi -smbios3 -kits -segments"]),
        ]
        for arches, app_args, library, want in cases:
            with self.subTest(arches=arches, app_args=app_args, library=library):
                lines = self.lines(layout.startup_nsh(app_args, library, arches))
                self.assertEqual([l for l in lines if l.lower().startswith("biosupdateselect")
                                  and ".efi" in l.split()[0]], want)

    def test_probes_come_first_and_fall_through_on_a_refusal(self):
        lines = self.lines(layout.startup_nsh(None, arches=("x64", "aarch64")))
        probes = [i for i, l in enumerate(lines) if l.startswith("BiosUpdateSelectProbe.nsh ")]
        self.assertEqual([lines[i].split()[1] for i in probes],
                         ["BiosUpdateSelectX64.efi", "BiosUpdateSelectAA64.efi"])
        for i, target in zip(probes, ("KIT_X64", "KIT_AARCH64")):
            # Output into a variable, never to nul: that stalls the shell
            # on a read-only medium.
            self.assertIn(">v ", lines[i])
            self.assertEqual(lines[i + 1:i + 4],
                             ["if not %lasterror% == 0x3 then", "  goto " + target, "endif"])
        # Each machine's run lies behind its label, after every probe, and
        # the first machine's run does not fall into the second's.
        x64, arm = lines.index(":KIT_X64"), lines.index(":KIT_AARCH64")
        self.assertLess(probes[-1], x64)
        self.assertIn("goto KIT_END", lines[x64:arm])
        self.assertEqual(lines[x64 + 2], "BiosUpdateSelectX64.efi")
        self.assertEqual(lines[arm + 2], "BiosUpdateSelectAA64.efi -smbios3")
        # The kit drive is found by the first machine's image.
        self.assertIn("if exist fs0:\\BiosUpdateSelectX64.efi then", lines)

    def test_the_probe_decides_only(self):
        lines = self.lines(layout.probe_script())
        self.assertEqual([l for l in lines if l and not l.startswith("#")], ["%1 -n"])


class MediumMachines(unittest.TestCase):
    """kit-run reads which machines a medium serves from the images on it,
    and refuses to boot one on a VM it holds no image for."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kit-run-test-")
        self.addCleanup(shutil.rmtree, self.root)

    def medium(self, arches, shells):
        files = {"x64": tool_fixtures.pe(), "aarch64": tool_fixtures.pe(machine=0xAA64)}
        command = [sys.executable, "-m", "kittools", "image", "--quiet", "--arch", ",".join(arches)]
        for arch in arches:
            path = os.path.join(self.root, arch + ".efi")
            with open(path, "wb") as f:
                f.write(files[arch])
            command += ["--efi", path] + (["--shell", path] if arch in shells else [])
        out = os.path.join(self.root, "-".join(arches) + ".img")
        subprocess.run(command + [KIT, out], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, env=dict(os.environ, PYTHONPATH=TOOLS))
        return out

    def test_table(self):
        cases = [
            # (machines of the medium, with a shell, VM, own shell, refusal)
            (("aarch64",), ("aarch64",), "aarch64", True, None),
            (("aarch64",), ("aarch64",), "x64", None, "--arch x64,aarch64"),
            (("x64",), (), "aarch64", None, "--arch x64,aarch64"),
            (("x64", "aarch64"), ("x64",), "aarch64", False, None),
            (("x64", "aarch64"), ("x64",), "x64", True, None),
        ]
        for arches, shells, vm, own_shell, refusal in cases:
            with self.subTest(arches=arches, vm=vm):
                medium = self.medium(arches, shells)
                copy = os.path.join(self.root, "copy.img")
                if refusal:
                    with self.assertRaises(KitError) as caught:
                        kit_run.prepare_kit_image(medium, copy, False, arch=vm)
                    self.assertIn(refusal, str(caught.exception))
                    continue
                startup, has_shell = kit_run.prepare_kit_image(medium, copy, False, arch=vm)
                self.assertEqual(has_shell, own_shell)
                self.assertEqual(layout.app_words(startup, vm)[:1],
                                 ["-smbios3"] if vm == "aarch64" else ["-verify"])


class DumpFolder(unittest.TestCase):
    def test_sysfs_folder_reads_as_its_table(self):
        """A copy of /sys/firmware/dmi/tables: the DMI file is the table,
        whatever address the entry point names; the same structures as
        the dump file of the same bytes laid out by dmidecode."""
        folder = os.path.join(DUMPS, "sysfs-desktop-A05")
        dump = smbios_dump.read_dump(folder)
        with open(os.path.join(folder, "smbios_entry_point"), "rb") as f:
            entry = f.read()
        with open(os.path.join(folder, "DMI"), "rb") as f:
            table = f.read()
        # dmidecode --dump-bin puts the table at 0x20 and says so.
        laid_out = bytearray(entry.ljust(0x20, b"\0") + table)
        laid_out[0x18:0x1C] = (0x20).to_bytes(4, "little")
        same = smbios_dump.parse_dump(bytes(laid_out))
        self.assertEqual([s.data for s in dump.structures], [s.data for s in same.structures])
        # String 2, the version, in the BIOS structure's string-set.
        self.assertEqual([s.data[s.length:].split(b"\0")[1] for s in dump.bios_information()],
                         [b"A05"])
        self.assertEqual(len(smbios_dump.vm_structures(dump)), len(dump.structures) - (
            1 if dump.structures[-1].type == 127 else 0))

    def test_damaged_folders(self):
        folder = os.path.join(DUMPS, "sysfs-server-3.2-only")
        cases = [
            (os.path.join(DUMPS, "no-such-folder"), smbios_dump.read_dump,
             "no-such-folder: No such file or directory"),
            (DUMPS, smbios_dump.read_dump, "smbios_entry_point"),
            (folder, lambda p: smbios_dump.vm_structures(smbios_dump.read_dump(p)),
             "only an SMBIOS 3.x entry point"),
        ]
        for path, call, words in cases:
            with self.subTest(path):
                with self.assertRaises(smbios_dump.DumpError) as caught:
                    call(path)
                self.assertIn(words, str(caught.exception))


class WhatTheAdminSees(unittest.TestCase):
    def test_progress_lines(self):
        """A slow step says what it does in one plain line; a quick one and
        --quiet say nothing."""
        import io
        import time
        for quiet, steps, expected in [
                (False, [("quick", 0.0), ("slow", 0.3)], ["kit-run: slow ...\n"]),
                (False, [("first", 0.3), ("second", 0.3)],
                 ["kit-run: first ...\n", "kit-run: second ...\n"]),
                (True, [("slow", 0.3)], [])]:
            with self.subTest(quiet=quiet, steps=steps):
                stream = io.StringIO()
                progress = Progress("kit-run", quiet, stream, after=0.1)
                for text, seconds in steps:
                    progress.begin(text)
                    time.sleep(seconds)
                progress.end()
                time.sleep(0.2)  # a timer that fired late would write now
                lines = stream.getvalue().splitlines(keepends=True)
                self.assertEqual(lines, expected)
                self.assertNotIn("\x1b", stream.getvalue())

    def test_a_vm_ended_by_a_signal(self):
        """Ctrl-C reaches QEMU too: its end is told apart from a refusal."""
        def result(lines, code, timed_out=False):
            return vmboot.BootResult("\n".join(lines).encode(), 1.0, timed_out, code, "log")
        cases = [
            ("Ctrl-C", result(["qemu-system-x86_64: terminating on signal 2"], 0), 2),
            ("killed", result([], -15), 15),
            ("powered off", result(["=== BiosUpdateSelect.efi: status 0x0 ==="], 0), None),
            ("refused", result(["qemu-system-x86_64: -drive x: No such file"], 1), None),
            ("killed here, too slow", result([], -9, timed_out=True), None),
        ]
        for what, boot, expected in cases:
            with self.subTest(what):
                self.assertEqual(vmboot.ended_by_signal(boot), expected)

    def test_usage_and_misspelt_kits_name_kit_run(self):
        folder = tempfile.mkdtemp(prefix="kit-run-test-")
        self.addCleanup(shutil.rmtree, folder)
        iso = os.path.join(folder, "fleet.iso")
        with open(iso, "wb") as f:
            f.write(b"\0" * 32768 + b"\x01CD001" + b"\0" * 4089)
        for args, words in [(["--kti", "x"], ["usage: kit-run", "--kti"]),
                            (["--kit", os.path.join(KIT, "fleet.is")],
                             ["kit-run: --kit", "fleet.is: no such file or folder"]),
                            # Records are kept on a stick image only.
                            (["--kit", iso, "--keep-records"],
                             ["--keep-records", "fleet.iso is an ISO"]),
                            (["--kit", KIT, "--keep-records"],
                             ["--keep-records", "a kit folder is copied"])]:
            with self.subTest(args):
                done = subprocess.run([sys.executable, "-m", "kittools", "run"] + args,
                                      stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, timeout=60,
                                      env=dict(os.environ, PYTHONPATH=TOOLS))
                err = done.stderr.decode()
                self.assertEqual(done.returncode, 2, err)
                for word in words:
                    self.assertIn(word, err)
                self.assertNotIn("kittools", err)


class RecordPath(unittest.TestCase):
    def test_where_the_line_writes_its_record(self):
        """kit-run reads back the record the medium's line names, not a
        fixed name; a library line's relative name is no fixed place."""
        cases = [
            ("-log \\rollout.jsonl", False, "rollout.jsonl"),
            ("-v -log \\logs\\site-a.jsonl", False, "logs/site-a.jsonl"),
            ("-log first.jsonl -LOG \\second.jsonl", False, "second.jsonl"),
            ("-log here.jsonl", False, "here.jsonl"),
            ("-log here.jsonl", True, None),
            ("-log \\here.jsonl", True, "here.jsonl"),
            ("-v", False, None),
        ]
        for options, library, want in cases:
            with self.subTest(options=options, library=library):
                startup = layout.startup_nsh(options, library=library)
                self.assertEqual(layout.record_path(startup), want)


if __name__ == "__main__":
    unittest.main()
