"""make-kit-image and kit-run as an attacker or a careless admin would run
them, as root, without a VM: devices, FIFOs and planted links where files
are meant, outputs that are inputs, empty option values, names with line
ends, a full file system, signals during signing. Each case checks the
exit status, the one line on stderr (no traceback), and that nothing under
the test's folder changed but the asked output: every entry's type and
bytes or link target, before and after."""

import hashlib
import os
import random
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from tool_fixtures import REPO, pe
from kittools import pe_image, smbios_dump, vmboot

TOOLS = os.path.join(REPO, "tools")
EXAMPLE_KIT = os.path.join(REPO, "examples", "kit")


def snapshot(root):
    """{relative path: what it is} for every entry under `root`, links not followed."""
    entries = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISREG(info.st_mode) and info.st_size > 64 << 20:
                what = ("file", info.st_size, info.st_mtime_ns)  # a sparse giant, not read
            elif stat.S_ISREG(info.st_mode):
                with open(path, "rb") as f:
                    what = ("file", hashlib.sha256(f.read()).hexdigest())
            elif stat.S_ISLNK(info.st_mode):
                what = ("link", os.readlink(path))
            elif stat.S_ISDIR(info.st_mode):
                what = ("folder",)
            else:
                what = ("special", stat.S_IFMT(info.st_mode), info.st_rdev)
            entries[os.path.relpath(path, root)] = what
    return entries


def entry_point_3x(table_length):
    """A 3.x entry point (24 bytes, checksum right) whose table follows at 32."""
    entry = bytearray(32)
    entry[0:5] = b"_SM3_"
    entry[6], entry[7], entry[8], entry[10] = 0x18, 3, 2, 1
    struct.pack_into("<IQ", entry, 12, table_length, 32)
    entry[5] = -sum(entry[:0x18]) & 0xFF
    return bytes(entry)


class OutsideBytes(unittest.TestCase):
    """The readers of files an admin hands over, on random damage: they
    name what is wrong and never fail otherwise."""

    def test_a_pe_image_cut_or_damaged_is_never_taken_for_a_whole_application(self):
        rng = random.Random(19)
        whole = pe()
        for _ in range(3000):
            data = bytearray(whole)
            cut = rng.random() < 0.5
            if cut:
                data = data[:rng.randrange(len(whole))]
            for _ in range(rng.randrange(4)):
                if data:
                    data[rng.randrange(len(data))] = rng.randrange(256)
            with self.subTest(size=len(data), cut=cut):
                ok, text = pe_image.describe(bytes(data))
                self.assertIsInstance(text, str)
                machine = pe_image.application_machine(bytes(data))
                if cut:
                    # The one section's bytes end where the file does.
                    self.assertFalse(ok, text)
                    self.assertIsNone(machine)

    def test_a_dump_of_random_bytes_is_refused_in_words_and_bounded(self):
        rng = random.Random(4)
        cases = []
        for _ in range(3000):
            data = bytearray(rng.choice([b"_SM_", b"_SM3_", b""]))
            data += bytes(rng.randrange(256) for _ in range(rng.randrange(64)))
            # Declared table lengths at the edges: none, one byte, the most each form holds.
            if data.startswith(b"_SM3_") and len(data) >= 24 and rng.random() < 0.5:
                struct.pack_into("<I", data, 12, rng.choice([0, 1, (64 << 20) + 1]))
            elif data.startswith(b"_SM_") and len(data) >= 0x18 and rng.random() < 0.5:
                struct.pack_into("<H", data, 0x16, rng.choice([0, 1, 0xFFFF]))
            cases.append(bytes(data))
        # Asked in one go: one answer for every file.
        with tempfile.TemporaryDirectory(prefix="random-dumps-") as folder:
            paths = []
            for index, data in enumerate(cases):
                paths.append(os.path.join(folder, "%04d.bin" % index))
                with open(paths[-1], "wb") as f:
                    f.write(data)
            found = smbios_dump.read_dumps(paths)
        self.assertEqual(len(found), len(cases))
        for data, dump in zip(cases, found):
            with self.subTest(data=data):
                if isinstance(dump, smbios_dump.DumpError):
                    self.assertNotIn("\n", str(dump))
                    continue
                self.assertLessEqual(dump.table_length, dump.table_limit)
                self.assertLessEqual(sum(len(s.data) for s in dump.structures), dump.table_length)


class HostileInput(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kit-hostile-")
        self.addCleanup(self.clean)
        self.kit = os.path.join(self.root, "kit")
        shutil.copytree(EXAMPLE_KIT, self.kit)
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.tmp)
        self.out = os.path.join(self.root, "out")
        os.makedirs(self.out)
        self.app = self.file("app.efi", pe())
        self.mounted = []

    def clean(self):
        for path in self.mounted:
            subprocess.run(["umount", "-l", path], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.root, ignore_errors=True)

    def file(self, name, data):
        path = os.path.join(self.root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def path(self, name):
        return os.path.join(self.root, name)

    def small_file_system(self, name, size):
        """A tmpfs of `size` bytes at `name`; the test is skipped where
        mounting is not allowed (the tools' tests run as root in CI)."""
        path = self.path(name)
        os.makedirs(path, exist_ok=True)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", path],
                              stderr=subprocess.DEVNULL)
        if done.returncode != 0:
            self.skipTest("mounting a tmpfs needs root, as admins run the tools")
        self.mounted.append(path)
        return path

    def tool(self, command, arguments, **popen):
        environment = dict(os.environ, TMPDIR=self.tmp, PYTHONPATH=TOOLS)
        environment.pop("KIT_SIGN_PASSPHRASE", None)
        environment.update(popen.pop("env", {}))
        # --quiet: the lines checked are the tool's own, however slow a step.
        quiet = ["--quiet"] if command in ("image", "run") else []
        return [sys.executable, "-m", "kittools", command] + quiet + arguments, environment

    def run_tool(self, command, arguments):
        argv, environment = self.tool(command, arguments)
        # A tool that read without bound would fail here, not fill the host.
        # The tools ask the image's rules of a host program; built with the
        # address sanitizer it cannot start under the cap, so the sanitizer
        # suite runs these cases uncapped (the plain suite keeps the cap).
        limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))  # noqa: E731
        capped = os.environ.get("BUS_TOOLS_SANITIZED") != "1"
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=environment, timeout=120,
                              preexec_fn=limit if capped else None)
        return done.returncode, done.stderr.decode("utf-8", "replace")

    def check_cases(self, command, prog, cases, output=None):
        """`output`: a folder the tool may make (kit-run's log folder), empty."""
        for what, make, arguments, holds in cases:
            with self.subTest(what):
                self.tearDown_between()
                if make:
                    make()
                before = snapshot(self.root)
                code, err = self.run_tool(command, [a.replace("{}", self.root) for a in arguments])
                self.assertEqual(code, 2, err)
                self.assertNotIn("Traceback", err)
                self.assertEqual(err.count("\n"), 1, err)
                self.assertTrue(err.startswith(prog + ": "), err)
                for word in holds:
                    self.assertIn(word.replace("{}", self.root), err)
                after = snapshot(self.root)
                if output and output not in before and after.get(output) == ("folder",):
                    del after[output]
                self.assertEqual(after, before)

    def tearDown_between(self):
        """Each case starts from the same folder: the kit, the image, empty out/ and tmp/."""
        for path in self.mounted:
            subprocess.run(["umount", "-l", path], stderr=subprocess.DEVNULL)
        self.mounted = []
        shutil.rmtree(self.root)
        os.makedirs(self.root)
        shutil.copytree(EXAMPLE_KIT, self.kit)
        os.makedirs(self.tmp)
        os.makedirs(self.out)
        self.file("app.efi", pe())

    def test_make_kit_image_refuses_in_one_line_and_writes_nothing(self):
        shell = pe()
        image = ["--efi", "{}/app.efi"]

        def planted_link():
            self.file("secret.key", b"private\n")
            os.symlink(self.path("secret.key"), self.path("out/kit.img"))

        cases = [
            ("OUT a character device",
             lambda: os.mknod(self.path("out/disk"), stat.S_IFCHR | 0o600, os.makedev(1, 3)),
             ["{}/kit", "{}/out/disk"], ["{}/out/disk is a device", "dd if=IMAGE"]),
            ("OUT a block device",
             lambda: os.mknod(self.path("out/sdx"), stat.S_IFBLK | 0o600, os.makedev(7, 200)),
             ["{}/kit", "{}/out/sdx"], ["{}/out/sdx is a device"]),
            ("OUT a FIFO", lambda: os.mkfifo(self.path("out/fifo")),
             ["{}/kit", "{}/out/fifo"], ["a FIFO, not a regular file"]),
            ("OUT a link planted to a key", planted_link,
             ["{}/kit", "{}/out/kit.img"], ["symbolic link"]),
            ("OUT the --shell", lambda: self.file("out/shell.efi", shell),
             ["--shell", "{}/out/shell.efi", "{}/kit", "{}/out/shell.efi"],
             ["is --shell {}/out/shell.efi"]),
            ("OUT the --cert", lambda: self.file("out/db.pem", b"cert"),
             ["--sign", "{}/out/db.pem", "--cert", "{}/out/db.pem", "{}/kit", "{}/out/db.pem"],
             ["writing it would destroy an input"]),
            ("OUT a hard link to the --efi image",
             lambda: os.link(self.path("app.efi"), self.path("out/kit.img")),
             ["{}/kit", "{}/out/kit.img"], ["is --efi"]),
            ("--shell a FIFO", lambda: os.mkfifo(self.path("shell.fifo")),
             ["--shell", "{}/shell.fifo", "{}/kit", "{}/out/kit.img"], ["a FIFO, not a regular"]),
            ("--shell /dev/zero", None,
             ["--shell", "/dev/zero", "{}/kit", "{}/out/kit.img"], ["a device, not a regular"]),
            ("--shell cut to 600 bytes", lambda: self.file("cut.efi", shell[:600]),
             ["--shell", "{}/cut.efi", "{}/kit", "{}/out/kit.img"], ["cut short"]),
            ("--shell with its section table overwritten",
             lambda: self.file("over.efi", shell[:0x148] + b"\xFF" * (len(shell) - 0x148)),
             ["--shell", "{}/over.efi", "{}/kit", "{}/out/kit.img"], ["{}/over.efi"]),
            ("--app-args= with no value", None,
             ["--app-args=", "{}/kit", "{}/out/kit.img"], ["--app-args= has no value"]),
            ("--app-args with a comment", None,
             ["--app-args", "-v # -n", "{}/kit", "{}/out/kit.img"], ['"#" is not an option']),
            ("a FIFO in the kit", lambda: os.mkfifo(self.path("kit/pipe")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/pipe"]),
            ("a kit file linked to /dev/zero", lambda: os.symlink("/dev/zero", self.path("kit/zero")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/zero"]),
            ("a link in the kit to itself", lambda: os.symlink("self", self.path("kit/self")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/self: a link that loops"]),
            ("a dangling link in the kit", lambda: os.symlink("missing", self.path("kit/gone")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/gone: a link to nothing"]),
            ("a link in the kit to its parent", lambda: os.symlink("..", self.path("kit/up")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/up: a link to a folder that holds it"]),
            ("a link in the kit to OUT's folder", lambda: os.symlink(self.out, self.path("kit/o")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/o: a link to {}/out, where the medium"]),
            ("a line end in a kit's name", lambda: os.makedirs(self.path("kit/two\nlines")),
             ["{}/kit", "{}/out/kit.img"], ["two\\x0Alines"]),
            ("a kit file that gives a read error",
             lambda: os.symlink("/proc/self/mem", self.path("kit/mem")),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/mem: read error: Input/output error"]),
            ("a kit file larger than FAT holds",
             lambda: os.truncate(self.file("kit/huge.bin", b""), 1 << 32),
             ["{}/kit", "{}/out/kit.img"], ["{}/kit/huge.bin: 4294967296 bytes, more than a FAT"]),
            ("a file EFI in the kit and --shell", lambda: (self.file("kit/EFI", b"x"),
                                                            self.file("shell.efi", shell)),
             ["--shell", "{}/shell.efi", "{}/kit", "{}/out/kit.img"], ["the kit's \\EFI is a file"]),
        ]
        self.check_cases("image", "make-kit-image",
                         [(w, m, image + a, h) for w, m, a, h in cases])

    def test_kit_run_refuses_in_one_line_and_writes_nothing(self):
        run = ["--efi", "{}/app.efi", "--log-dir", "{}/logs"]
        cases = [
            ("a FIFO in the kit", lambda: os.mkfifo(self.path("kit/pipe")),
             ["--kit", "{}/kit"], ["{}/kit/pipe: a FIFO"]),
            ("a kit file linked to /dev/zero", lambda: os.symlink("/dev/zero", self.path("kit/zero")),
             ["--kit", "{}/kit"], ["{}/kit/zero: a device"]),
            ("a link in the kit to itself", lambda: os.symlink("self", self.path("kit/self")),
             ["--kit", "{}/kit"], ["{}/kit/self: a link that loops"]),
            ("a dangling link in the kit", lambda: os.symlink("missing", self.path("kit/gone")),
             ["--kit", "{}/kit"], ["{}/kit/gone: a link to nothing"]),
            ("a link in the kit to its parent", lambda: os.symlink("..", self.path("kit/up")),
             ["--kit", "{}/kit"], ["{}/kit/up: a link to a folder that holds it"]),
            ("--app-args --", None, ["--kit", "{}/kit", "--app-args", "--"], ["--app-args"]),
            ("--app-args= with no value", None, ["--kit", "{}/kit", "--app-args="],
             ["--app-args= has no value"]),
            ("--log-dir a file", lambda: self.file("logs", b"x"), ["--kit", "{}/kit"],
             ["--log-dir {}/logs: a file, not a folder"]),
            ("--log-dir that cannot be made", lambda: self.file("notes", b"x"),
             ["--kit", "{}/kit", "--log-dir", "{}/notes/logs"],
             ["--log-dir {}/notes/logs: Not a directory"]),
            ("--smbios-dump a FIFO", lambda: os.mkfifo(self.path("dump")),
             ["--kit", "{}/kit", "--smbios-dump", "{}/dump"], ["{}/dump: not a regular file"]),
            ("--smbios-dump /dev/zero", None, ["--kit", "{}/kit", "--smbios-dump", "/dev/zero"],
             ["/dev/zero: not a regular file"]),
            ("--smbios-dump of 32 bytes declaring a 4 GiB table",
             lambda: self.file("big.bin", entry_point_3x(0xFFFFFFFF)),
             ["--kit", "{}/kit", "--smbios-dump", "{}/big.bin"], ["a table of 4294967295 bytes"]),
        ]
        self.check_cases("run", "kit-run", [(w, m, run + a, h) for w, m, a, h in cases],
                         output="logs")

    def test_an_out_as_long_as_a_name_can_be_is_written(self):
        out = self.path("out/" + "o" * 251 + ".img")
        code, err = self.run_tool("image", ["--efi", self.app, self.kit, out])
        self.assertEqual(code, 0, err)
        self.assertEqual(os.listdir(self.out), [os.path.basename(out)])

    def test_a_kits_own_broken_boot_file_is_not_announced_as_booting(self):
        self.file("kit/EFI/BOOT/BOOTX64.EFI", pe()[:600])
        code, err = self.run_tool("image", ["--efi", self.app, self.kit, self.path("out/kit.img")])
        self.assertEqual(code, 0, err)
        self.assertIn("the kit's own \\EFI\\BOOT\\BOOTX64.EFI is a PE32+ EFI application for "
                      "x86-64, cut short", err)
        self.assertIn("which firmware will not start", err)
        self.assertNotIn("boots the medium", err)

    def test_paths_with_commas_reach_qemu_whole(self):
        # QEMU ends an option's value at a single comma: a log folder, TMPDIR
        # or repository path holding one must reach it doubled.
        def value_of(option, key):
            parts, part, i = [], "", 0
            while i < len(option):
                if option[i] == "," and option[i + 1:i + 2] == ",":
                    part, i = part + ",", i + 2
                elif option[i] == ",":
                    parts, part, i = parts + [part], "", i + 1
                else:
                    part, i = part + option[i], i + 1
            values = dict(p.split("=", 1) for p in parts + [part] if "=" in p)
            return values[key]

        folder = self.path("a,b,,c/kit")
        os.makedirs(folder)
        image = self.file("x,y/kit.img", b"\0" * 512)
        for drive, attach, want in ((folder, "disk", "fat:" + folder), (image, "usb-stick", image),
                                    (image, "cdrom", image)):
            with self.subTest(attach=attach):
                options = vmboot.drive_options(drive, attach)
                value = [o for o in options if "file=" in o][0]
                self.assertEqual(value_of(value, "file"), want)

    def test_a_full_file_system_gets_one_line_naming_the_output(self):
        small = self.small_file_system("small", 1 << 20)
        with open(self.path("kit/flash.bin"), "wb") as f:
            f.write(os.urandom(2 << 20))
        before = snapshot(self.root)
        code, err = self.run_tool("image", ["--efi", self.app, self.kit, small + "/kit.img"])
        self.assertEqual(code, 2, err)
        self.assertEqual(err.count("\n"), 1, err)
        self.assertIn(small + "/kit.img", err)
        self.assertIn("No space left on device", err)
        self.assertEqual(snapshot(self.root), before)  # no half medium, no work folder

    def test_signals_remove_the_half_medium_and_the_decrypted_key(self):
        key, cert = self.path("db.key"), self.path("db.pem")
        subprocess.run(["openssl", "req", "-new", "-x509", "-newkey", "rsa:2048", "-subj",
                        "/CN=test key/", "-days", "30", "-passout", "pass:secret", "-keyout", key,
                        "-out", cert], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        # An sbsign that says it has started and then waits: the signal comes
        # while the key is decrypted and the medium half made, however fast
        # the machine is.
        stall = tempfile.mkdtemp(prefix="stalled-sbsign-")
        self.addCleanup(shutil.rmtree, stall, ignore_errors=True)
        started = os.path.join(stall, "started")
        with open(os.path.join(stall, "sbsign"), "w") as f:
            f.write('#!/bin/sh\n: > "%s"\nexec sleep 120\n' % started)
        os.chmod(os.path.join(stall, "sbsign"), 0o755)
        for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            with self.subTest(signal.Signals(number).name):
                if os.path.exists(started):
                    os.remove(started)
                before = snapshot(self.root)
                argv, environment = self.tool(
                    "image", ["--efi", self.app, "--sign", key, "--cert", cert, self.kit,
                              self.path("out/kit.img")],
                    env={"KIT_SIGN_PASSPHRASE": "secret",
                         "PATH": stall + os.pathsep + os.environ.get("PATH", "")})
                process = subprocess.Popen(argv, env=environment, stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                           preexec_fn=lambda: signal.signal(signal.SIGINT,
                                                                            signal.SIG_DFL))
                deadline = time.monotonic() + 60
                while not os.path.exists(started) and time.monotonic() < deadline:
                    time.sleep(0.02)
                self.assertTrue(os.path.exists(started), "sbsign was never started")
                process.send_signal(number)
                err = process.communicate(timeout=60)[1].decode()
                self.assertEqual(process.returncode, -number, err)
                self.assertIn("make-kit-image: ended by %s" % signal.Signals(number).name, err)
                self.assertNotIn("Traceback", err)
                self.assertEqual(os.listdir(self.tmp), [], "a decrypted key is left behind")
                self.assertEqual(snapshot(self.root), before)


if __name__ == "__main__":
    unittest.main()
