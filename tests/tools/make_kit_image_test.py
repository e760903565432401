"""Tests of make-kit-image without a VM: every bad input gets one line
naming the file and the reason, exit status 2, no output and no leftover,
an old output untouched and the kit folder unchanged; signing works with
a passphrase from the environment or a file, without a terminal; an ISO
holds the kit's FAT file system as its El Torito EFI image and as a GPT
partition. Keys are made with openssl at test time."""

import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import uuid

from tool_fixtures import REPO, pe
from kittools import kit_medium, layout

TOOLS = os.path.join(REPO, "tools")
EXAMPLE_KIT = os.path.join(REPO, "examples", "kit")
BUILT_IMAGE = os.environ.get("BUS_EFI_IMAGE",
                             os.path.join(REPO, "build", "efi", "BiosUpdateSelect.efi"))
BUILT_AARCH64_IMAGE = os.environ.get(
    "BUS_EFI_AARCH64_IMAGE", os.path.join(REPO, "build", "efi-aarch64", "BiosUpdateSelect.efi"))
PASSPHRASE = "correct horse"


def tree_digest(folder):
    digest = hashlib.sha256()
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            digest.update(os.path.relpath(path, folder).encode())
            with open(path, "rb") as f:
                digest.update(f.read())
    return digest.hexdigest()


def openssl(*args):
    subprocess.run(("openssl",) + args, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


ESP_TYPE = uuid.UUID("C12A7328-F81F-11D2-BA4B-00A0C93EC93B").bytes_le


def esp_offsets(path):
    """Byte offsets of the EFI system partitions in a file's GPT."""
    with open(path, "rb") as f:
        f.seek(512)
        header = f.read(92)
        if header[:8] != b"EFI PART":
            return []
        entries_lba, count, size = struct.unpack_from("<QII", header, 72)
        f.seek(entries_lba * 512)
        table = f.read(count * size)
    return [struct.unpack_from("<Q", table, i + 32)[0] * 512
            for i in range(0, len(table) - size + 1, size) if table[i:i + 16] == ESP_TYPE]



def stand_in_shell(image, folder):
    """A signable shell that is not the application (which make-kit-image
    refuses as a shell): a copy with one script name changed."""
    path = os.path.join(folder, "shell-%s.efi" % os.path.basename(os.path.dirname(image)))
    with open(image, "rb") as f, open(path, "wb") as out:
        out.write(f.read().replace("UpdateHWOld.nsh".encode("utf-16-le"),
                                   "UpdateHWOld.nsX".encode("utf-16-le")))
    return path

class MakeKitImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="kit-keys-")
        k = lambda name: os.path.join(cls.keys, name)  # noqa: E731
        for name in ("db", "other"):
            openssl("req", "-new", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                    "/CN=%s test key/" % name, "-days", "30", "-keyout", k(name + ".key"),
                    "-out", k(name + ".pem"))
        openssl("pkey", "-in", k("db.key"), "-aes256", "-passout", "pass:" + PASSPHRASE,
                "-out", k("db-protected.key"))
        openssl("x509", "-in", k("db.pem"), "-outform", "DER", "-out", k("db.der"))
        with open(k("passphrase"), "w") as f:
            f.write(PASSPHRASE + "\n")
        with open(k("wrong-passphrase"), "w") as f:
            f.write("not it\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys)

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="make-kit-image-")
        self.addCleanup(shutil.rmtree, self.root)
        self.kit = os.path.join(self.root, "kit")
        shutil.copytree(EXAMPLE_KIT, self.kit)
        self.out_dir = os.path.join(self.root, "out")
        os.makedirs(self.out_dir)
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.tmp)
        self.app = self.file("app.efi", pe())

    def file(self, name, data):
        path = os.path.join(self.root, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def key(self, name):
        return os.path.join(self.keys, name)

    def make(self, options, out="kit.img", env=None, app=None, source=None):
        """make-kit-image with `options`, of the kit (or `source`, e.g.
        ["--kits", DIR])."""
        command = [sys.executable, "-m", "kittools", "image", "--quiet", "--efi", app or self.app] + options + (
            source or [self.kit]) + [os.path.join(self.out_dir, out) if not os.path.isabs(out)
                                      else out]
        environment = {k: v for k, v in os.environ.items() if k != "KIT_SIGN_PASSPHRASE"}
        environment.update(env or {}, TMPDIR=self.tmp, PYTHONPATH=TOOLS)
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=environment, timeout=120)
        return done.returncode, done.stdout.decode(), done.stderr.decode().splitlines()

    def bad_inputs(self):
        k = self.key
        elf = self.file("shell-elf", b"\x7fELF\x02\x01\x01" + b"\0" * 200)
        arm = self.file("shell-arm.efi", pe(machine=0xAA64))
        driver = self.file("driver.efi", pe(subsystem=11))
        text = self.file("not-a-cert.pem", b"hello\n")
        protected = {"KIT_SIGN_PASSPHRASE": PASSPHRASE}
        cases = [
            # (what, options, setup, out, env, app, words the one line must hold)
            ("missing kit file", [], lambda: os.unlink(os.path.join(self.kit, "UpdateHWOld.nsh")),
             "kit.img", None, None, [self.kit, "UpdateHWOld.nsh"]),
            # The image would refuse such a kit on every machine.
            ("malformed HardwareIds= entry", [], lambda: self.file(
                os.path.join(self.kit, "UpdateConfig.ini"),
                b"HardwareIds={3fb92698-0841-52a5-85c2-11f633e675d7}, SKU 0777\r\nVersion=2\r\n"),
             "kit.img", None, None, ["UpdateConfig.ini", 'HardwareIds= entry "SKU 0777"']),
            ("shell is ELF", ["--shell", elf], None, "kit.img", None, None,
             [elf, "an ELF file, not a PE32+ EFI application for x64"]),
            ("shell for AArch64", ["--shell", arm], None, "kit.iso", None, None,
             [arm, "a PE32+ EFI application for AArch64", "add --arch x64,aarch64"]),
            ("unknown machine", ["--arch", "x64,riscv64"], None, "kit.img", None, None,
             ["--arch", "riscv64"]),
            ("two shells for one machine", ["--arch", "x64,aarch64", "--efi", arm, "--shell",
                                            self.app, "--shell", self.app], None, "kit.img",
             None, None, [self.app, "both for x64"]),
            ("ovmf and a file", ["--arch", "x64,aarch64", "--efi", arm, "--shell", "ovmf",
                                 "--shell", arm], None, "kit.img", None, None,
             ["--shell ovmf", "alone"]),
            ("x64 application for an AArch64 medium", ["--arch", "aarch64"], None, "kit.img",
             None, None, [self.app, "for x86-64", "not a PE32+ EFI application for AArch64"]),
            ("AArch64 driver as the application", ["--arch", "x64,aarch64", "--efi",
                                                   self.file("driver-arm.efi",
                                                             pe(machine=0xAA64, subsystem=11))],
             None, "kit.img", None, None, ["driver-arm.efi", "EFI boot service driver"]),
            ("shell missing", ["--shell", arm + ".gone"], None, "kit.img", None, None,
             [arm + ".gone", "cannot be read"]),
            ("ovmf misspelt", ["--shell", "ovfm"], None, "kit.img", None, None,
             ["--shell ovfm", "no such file", "--shell ovmf"]),
            ("application is a driver", [], None, "kit.img", None, driver,
             [driver, "EFI boot service driver"]),
            ("key missing", ["--sign", k("gone.key"), "--cert", k("db.pem")], None, "kit.img",
             None, None, [k("gone.key"), "cannot be read"]),
            ("key is a folder", ["--sign", self.keys, "--cert", k("db.pem")], None, "kit.img",
             None, None, [self.keys, "cannot be read"]),
            ("certificate missing", ["--sign", k("db.key"), "--cert", k("gone.pem")], None,
             "kit.img", None, None, [k("gone.pem"), "cannot be read"]),
            ("certificate is text", ["--sign", k("db.key"), "--cert", text], None, "kit.img",
             None, None, [text, "no X.509 certificate"]),
            ("key is a certificate", ["--sign", k("db.pem"), "--cert", k("db.pem")], None,
             "kit.img", None, None, [k("db.pem"), "no private key"]),
            ("key and certificate differ", ["--sign", k("other.key"), "--cert", k("db.pem")],
             None, "kit.iso", None, None, [k("other.key"), k("db.pem"), "does not match"]),
            ("wrong passphrase", ["--sign", k("db-protected.key"), "--cert", k("db.pem")], None,
             "kit.img", {"KIT_SIGN_PASSPHRASE": "not it"}, None,
             [k("db-protected.key"), "wrong passphrase"]),
            ("wrong passphrase file", ["--sign", k("db-protected.key"), "--cert", k("db.pem"),
                                       "--passphrase-file", k("wrong-passphrase")], None,
             "kit.img", protected, None, [k("db-protected.key"), "wrong passphrase"]),
            ("no passphrase", ["--sign", k("db-protected.key"), "--cert", k("db.pem")], None,
             "kit.img", None, None, [k("db-protected.key"), "KIT_SIGN_PASSPHRASE"]),
            ("passphrase file missing", ["--sign", k("db-protected.key"), "--cert", k("db.pem"),
                                         "--passphrase-file", k("gone")], None, "kit.img",
             None, None, [k("gone"), "cannot be read"]),
            ("key without certificate", ["--sign", k("db.key")], None, "kit.img", None, None,
             ["--cert"]),
            ("output folder missing", [], None, os.path.join(self.root, "gone", "kit.img"), None,
             None, [os.path.join(self.root, "gone"), "does not exist"]),
            ("output folder not writable", [], None, "/sys/kit.img", None, None,
             ["/sys", "cannot write"]),
            ("output is a folder", [], None, self.out_dir, None, None, [self.out_dir, "folder"]),
            ("output inside the kit", [], lambda: os.makedirs(os.path.join(self.kit, "tools")),
             os.path.join(self.kit, "tools", "kit.iso"), None, None,
             [self.kit, "inside the kit folder"]),
            ("name FAT cannot hold", [], lambda: open(os.path.join(self.kit, "v1:2.bin"), "w")
             .close(), "kit.img", None, None, ["v1:2.bin", "':'"]),
            ("names that differ in case", [], lambda: (
                os.makedirs(os.path.join(self.kit, "tools")),
                os.makedirs(os.path.join(self.kit, "Tools"))), "kit.iso", None, None,
             ["tools", "Tools", "ignores case"]),
            ("options on two lines", ["--app-args", "-v\nreset -s"], None, "kit.img", None, None,
             ["--app-args"]),
            # The kit's own SHA256SUMS, written before its script was edited.
            ("a SHA256SUMS the kit does not match", [], lambda: self.own_sums(b"edited"),
             "kit.img", None, None, [os.path.join(self.kit, "SHA256SUMS"),
                                     "UpdateHWOld.nsh does not match SHA256SUMS"]),
            ("-verify and --no-verify", ["--no-verify", "--app-args", "-verify"], None,
             "kit.img", None, None, ["--no-verify", "-verify"]),
        ]
        return cases

    def own_sums(self, edit=b""):
        """Gives the kit a SHA256SUMS as sha256sum writes it, then appends
        `edit` to its UpdateHWOld.nsh."""
        subprocess.run("sha256sum UpdateConfig.ini UpdateHW*.nsh > SHA256SUMS", shell=True,
                       cwd=self.kit, check=True)
        with open(os.path.join(self.kit, "UpdateHWOld.nsh"), "ab") as f:
            f.write(edit)

    def test_sha256sums_the_kit_brings_or_none(self):
        """A kit's own SHA256SUMS that matches goes on the medium as it is;
        --no-verify leaves out both the file and the option."""
        self.own_sums()
        with open(os.path.join(self.kit, "SHA256SUMS"), "rb") as f:
            own = f.read()
        shell = ["--shell", self.file("shell.efi", pe() + b"the shell")]
        code, _, stderr = self.make(shell, "own.img")
        self.assertEqual((code, stderr), (0, []))
        self.assertEqual(self.read_medium("own.img", "SHA256SUMS"), own)
        os.unlink(os.path.join(self.kit, "SHA256SUMS"))
        code, _, stderr = self.make(shell + ["--no-verify", "--app-args", "-v"], "plain.img")
        self.assertEqual((code, stderr), (0, []))
        self.assertNotIn("SHA256SUMS", kit_medium.image_paths(os.path.join(self.out_dir,
                                                                           "plain.img")))
        self.assertEqual(layout.app_words(self.read_medium("plain.img", "startup.nsh")), ["-v"])

    def test_bad_input(self):
        for index in range(len(self.bad_inputs())):
            self.setUp()    # a fresh kit and output folder per case
            what, options, setup, out, env, app, words = self.bad_inputs()[index]
            with self.subTest(what):
                if setup:
                    setup()
                old = os.path.join(self.out_dir, "kit.img")
                with open(old, "wb") as f:
                    f.write(b"old output")
                before = tree_digest(self.kit)
                code, stdout, stderr = self.make(options, out, env, app)
                self.assertEqual((code, stdout, len(stderr)), (2, "", 1), stderr)
                self.assertTrue(stderr[0].startswith("make-kit-image: "), stderr)
                for word in words:
                    self.assertIn(word, stderr[0])
                self.assertEqual(tree_digest(self.kit), before)
                self.assertEqual(sorted(os.listdir(self.out_dir)), ["kit.img"])
                with open(old, "rb") as f:
                    self.assertEqual(f.read(), b"old output")
                self.assertEqual(os.listdir(self.tmp), [])

    def test_disk_image_and_iso_hold_the_kit(self):
        os.makedirs(os.path.join(self.kit, "tools"))
        with open(os.path.join(self.kit, "tools", "Model7 BIOS 1.99.bin"), "wb") as f:
            f.write(os.urandom(100000))
        before = tree_digest(self.kit)
        expected = {"BiosUpdateSelect.efi", "startup.nsh", "UpdateConfig.ini",
                    "UpdateHWOld.nsh", "UpdateHWNew.nsh", "tools", "tools/Model7 BIOS 1.99.bin",
                    "EFI", "EFI/BOOT", "EFI/BOOT/BOOTX64.EFI", "SHA256SUMS"}
        # What sha256sum -c reads in the kit's folder: the kit's own files,
        # sorted, none of what the tool adds.
        sums = "".join("%s  %s\n" % (hashlib.sha256(open(os.path.join(self.kit, *name.split("/")),
                                                          "rb").read()).hexdigest(), name)
                       for name in sorted(["UpdateConfig.ini", "UpdateHWOld.nsh",
                                           "UpdateHWNew.nsh", "tools/Model7 BIOS 1.99.bin"]))
        shell = self.file("shell.efi", pe() + b"the shell")
        for out in ("kit.img", "kit.iso"):
            with self.subTest(out):
                code, stdout, stderr = self.make(["--shell", shell], out)
                self.assertEqual((code, stderr), (0, []))
                self.assertIn(out, stdout)
                path = os.path.join(self.out_dir, out)
                offset = kit_medium.iso_fat_offset(path) if out.endswith(".iso") else 0
                self.assertEqual(kit_medium.image_paths(path, offset), expected)
                self.assertEqual(self.read_medium(out, "SHA256SUMS").decode(), sums)
                self.assertEqual(layout.app_words(self.read_medium(out, "startup.nsh")),
                                 ["-verify"])
                if out.endswith(".iso"):
                    # Written to a stick, the firmware finds the same file
                    # system as an EFI system partition.
                    self.assertIn(offset, esp_offsets(path))
        self.assertEqual(tree_digest(self.kit), before)
        self.assertEqual(sorted(os.listdir(self.out_dir)), ["kit.img", "kit.iso"])

    def test_log_keeps_one_record_at_the_root(self):
        """--log puts -log \\rollout.jsonl on the application's line, for a
        kit and for a library alike; an ISO says once that a CD keeps none."""
        shell = self.file("shell.efi", pe() + b"the shell")
        for out, notes in (("kit.img", []),
                           ("kit.iso", ["make-kit-image: --log: a CD is read-only; records are "
                                        "written only where the ISO is written to a stick"])):
            with self.subTest(out):
                code, stdout, stderr = self.make(["--shell", shell, "--log", "--app-args", "-v"],
                                                 out)
                self.assertEqual((code, stderr), (0, notes))
                startup = self.read_medium(out, "startup.nsh")
                self.assertEqual(layout.app_words(startup),
                                 ["-verify", "-v", "-log", "\\rollout.jsonl"])
                self.assertTrue(layout.keeps_record(startup))
        code, stdout, stderr = self.make(["--shell", shell], "plain.img")
        self.assertFalse(layout.keeps_record(self.read_medium("plain.img", "startup.nsh")))

    def read_medium(self, out, name):
        path = os.path.join(self.out_dir, out)
        if out.endswith(".iso"):
            path = "%s@@%d" % (path, kit_medium.iso_fat_offset(path))
        done = subprocess.run(["mtype", "-i", path, "::/" + name], stdout=subprocess.PIPE,
                              check=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        return done.stdout

    def test_media_for_each_machine(self):
        arm_app = self.file("app-arm.efi", pe(machine=0xAA64) + b"the AArch64 application")
        x64_shell = self.file("shell.efi", pe() + b"the x64 shell")
        arm_shell = self.file("shell-arm.efi", pe(machine=0xAA64) + b"the AArch64 shell")
        kit_files = {"startup.nsh", "UpdateConfig.ini", "UpdateHWOld.nsh", "UpdateHWNew.nsh"}
        note = ("make-kit-image: the AArch64 image's line gets -smbios3: AArch64 firmware "
                "publishes SMBIOS through the 3.x entry point only")
        cases = [
            # (what, options, app, files on the medium: source, line of the
            #  image in startup.nsh or None, notes)
            ("AArch64 alone", ["--arch", "aarch64", "--shell", arm_shell], arm_app,
             {"BiosUpdateSelect.efi": arm_app, "EFI/BOOT/BOOTAA64.EFI": arm_shell},
             ["BiosUpdateSelect.efi -smbios3 -v"], [note]),
            ("AArch64 with -smbios3 given", ["--arch", "aarch64", "--app-args", "-SMBIOS3 -v"],
             arm_app, {"BiosUpdateSelect.efi": arm_app}, ["BiosUpdateSelect.efi -SMBIOS3 -v"],
             ["make-kit-image: no --shell: the medium boots only on a machine with a built-in "
              "UEFI Shell"]),
            # Files are placed by their machine, whatever the order given.
            ("both, one shell each", ["--arch", "aarch64,x64", "--efi", arm_app, "--shell",
                                      arm_shell, "--shell", x64_shell], self.app,
             {"BiosUpdateSelectX64.efi": self.app, "BiosUpdateSelectAA64.efi": arm_app,
              "EFI/BOOT/BOOTX64.EFI": x64_shell, "EFI/BOOT/BOOTAA64.EFI": arm_shell,
              "BiosUpdateSelectProbe.nsh": None},
             ["BiosUpdateSelectX64.efi -v", "BiosUpdateSelectAA64.efi -smbios3 -v"], [note]),
            ("both, a shell for x64 only", ["--arch", "x64,aarch64", "--efi", arm_app, "--shell",
                                            x64_shell], self.app,
             {"BiosUpdateSelectX64.efi": self.app, "BiosUpdateSelectAA64.efi": arm_app,
              "EFI/BOOT/BOOTX64.EFI": x64_shell, "BiosUpdateSelectProbe.nsh": None},
             ["BiosUpdateSelectX64.efi -v", "BiosUpdateSelectAA64.efi -smbios3 -v"],
             [note, "make-kit-image: no --shell for AArch64: the medium boots only on a machine "
                    "with a built-in UEFI Shell"]),
        ]
        for what, options, app, files, lines, notes in cases:
            for out in ("kit.img", "kit.iso"):
                with self.subTest(what, out=out):
                    if "--app-args" not in options:
                        options = options + ["--app-args", "-v"]
                    options = options + ["--no-verify"]
                    code, stdout, stderr = self.make(options, out, app=app)
                    self.assertEqual((code, stderr), (0, notes))
                    path = os.path.join(self.out_dir, out)
                    offset = kit_medium.iso_fat_offset(path) if out.endswith(".iso") else 0
                    folders = {"EFI", "EFI/BOOT"} if any("/" in n for n in files) else set()
                    self.assertEqual(kit_medium.image_paths(path, offset),
                                     kit_files | set(files) | folders)
                    for name, source in files.items():
                        if source is not None:
                            with open(source, "rb") as f:
                                self.assertEqual(self.read_medium(out, name), f.read(), name)
                    startup = self.read_medium(out, "startup.nsh").decode().splitlines()
                    self.assertEqual([line for line in startup
                                      if line.lower().startswith("biosupdateselect")
                                      and not line.startswith("BiosUpdateSelectProbe")], lines)

    def test_a_kit_beyond_fat16(self):
        """300 MiB of flash files: past what FAT16 with 4 KiB clusters holds."""
        with open(os.path.join(self.kit, "FLASH.BIN"), "wb") as f:
            f.truncate(300 << 20)
        code, _, stderr = self.make([])
        self.assertEqual(code, 0, stderr)
        path = os.path.join(self.out_dir, "kit.img")
        self.assertIn("FLASH.BIN", kit_medium.image_paths(path))
        with open(path, "rb") as f:
            self.assertEqual(f.read(90)[82:90], b"FAT32   ")   # the boot sector's type

    def test_without_a_shell_says_so(self):
        code, _, stderr = self.make([])
        self.assertEqual(code, 0)
        self.assertEqual(stderr, ["make-kit-image: no --shell: the medium boots only on a "
                                  "machine with a built-in UEFI Shell"])

    def test_signing(self):
        if not os.path.isfile(BUILT_IMAGE):
            self.skipTest("no %s to sign (cmake --build --preset efi)" % BUILT_IMAGE)
        shutil.copyfile(BUILT_IMAGE, os.path.join(self.kit, "FlashTool.efi"))
        k = self.key
        ways = {
            "passphrase from the environment": (["--cert", k("db.pem")],
                                                {"KIT_SIGN_PASSPHRASE": PASSPHRASE}),
            "passphrase from a file, DER certificate": (
                ["--cert", k("db.der"), "--passphrase-file", k("passphrase")], None),
        }
        shell = stand_in_shell(BUILT_IMAGE, self.root)
        for what, (options, env) in ways.items():
            with self.subTest(what):
                old = os.path.join(self.out_dir, "kit.img")
                with open(old, "wb") as f:
                    f.write(b"old output")
                code, _, stderr = self.make(["--shell", shell, "--sign",
                                             k("db-protected.key")] + options, env=env,
                                            app=BUILT_IMAGE)
                self.assertEqual(code, 0, stderr)
                self.assertEqual(len(stderr), 1)
                self.assertIn("\\FlashTool.efi", stderr[0])
                self.assertIn("refuse", stderr[0])
                for name, signed in (("BiosUpdateSelect.efi", True),
                                     ("EFI/BOOT/BOOTX64.EFI", True), ("FlashTool.efi", False)):
                    target = os.path.join(self.root, "check.efi")
                    subprocess.run(["mcopy", "-o", "-n", "-i", old, "::/" + name, target],
                                   check=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
                    verified = subprocess.run(["sbverify", "--cert", k("db.pem"), target],
                                              stdout=subprocess.DEVNULL,
                                              stderr=subprocess.DEVNULL).returncode == 0
                    self.assertEqual(verified, signed, name)
                # The decrypted key lived in a private folder, gone now.
                self.assertEqual(os.listdir(self.tmp), [])

    def test_signing_a_library(self):
        """Every kit's .efi files are checked: the one the certificate does
        not verify is named by its place on the medium."""
        if not os.path.isfile(BUILT_IMAGE):
            self.skipTest("no %s to sign (cmake --build --preset efi)" % BUILT_IMAGE)
        library = os.path.join(self.root, "library")
        for name in ("model7", "servers/bx"):
            shutil.copytree(self.kit, os.path.join(library, name))
        shutil.copyfile(BUILT_IMAGE, os.path.join(library, "servers", "bx", "Flash.efi"))
        code, _, stderr = self.make(["--sign", self.key("db.key"), "--cert", self.key("db.pem")],
                                    app=BUILT_IMAGE, source=["--kits", library])
        self.assertEqual(code, 0, stderr)
        refused = [line for line in stderr if "refuse" in line]
        self.assertEqual(len(refused), 1, stderr)
        self.assertIn("\\kits\\servers\\bx\\Flash.efi", refused[0])
        self.assertNotIn("model7", refused[0])
        target = os.path.join(self.root, "check.efi")
        subprocess.run(["mcopy", "-o", "-n", "-i", os.path.join(self.out_dir, "kit.img"),
                        "::/BiosUpdateSelect.efi", target], check=True,
                       env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        self.assertEqual(subprocess.run(["sbverify", "--cert", self.key("db.pem"), target],
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL).returncode, 0)

    def test_signing_a_medium_for_both_machines(self):
        if not all(map(os.path.isfile, (BUILT_IMAGE, BUILT_AARCH64_IMAGE))):
            self.skipTest("no %s and %s to sign" % (BUILT_IMAGE, BUILT_AARCH64_IMAGE))
        k = self.key
        code, _, stderr = self.make(["--arch", "x64,aarch64", "--efi", BUILT_AARCH64_IMAGE,
                                     "--shell", stand_in_shell(BUILT_IMAGE, self.root),
                                     "--shell", stand_in_shell(BUILT_AARCH64_IMAGE, self.root),
                                     "--sign", k("db.key"), "--cert", k("db.pem")],
                                    app=BUILT_IMAGE)
        self.assertEqual(code, 0, stderr)
        for name in ("BiosUpdateSelectX64.efi", "BiosUpdateSelectAA64.efi",
                     "EFI/BOOT/BOOTX64.EFI", "EFI/BOOT/BOOTAA64.EFI"):
            target = os.path.join(self.root, "check.efi")
            with open(target, "wb") as f:
                f.write(self.read_medium("kit.img", name))
            verified = subprocess.run(["sbverify", "--cert", k("db.pem"), target],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.assertEqual(verified.returncode, 0, name)


if __name__ == "__main__":
    unittest.main()
