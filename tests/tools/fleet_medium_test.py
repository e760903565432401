"""Tests of fleet-report --medium: the plan read off a finished medium is
the plan of the folder it was made from (each machine the same kit, named
as the medium holds it, and the same outcomes under the medium's own
options), for a library and for one kit, on a disk image and an ISO; and
what it refuses, with one line, exit status 2 and no output."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

from tool_fixtures import REPO, pe
from kittools import fleet_medium, kit_medium, layout

TOOLS = os.path.join(REPO, "tools")
FLEET = os.environ.get("BUS_FLEET", os.path.join(REPO, "build", "host",
                                                 "bios-update-select-fleet"))
DUMPS = os.path.join(REPO, "tests", "data", "dumps")
LIBRARY = os.path.join(REPO, "examples", "kits")
KIT = os.path.join(REPO, "examples", "kit")


def kittools(*args):
    # --quiet: the lines checked are the tool's own, however slow a step.
    args = list(args[:1]) + ["--quiet"] + list(args[1:]) if args[:1] in (("image",), ("run",)) \
        else list(args)
    done = subprocess.run([sys.executable, "-m", "kittools"] + list(args),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=dict(os.environ, PYTHONPATH=TOOLS), timeout=300)
    return done.returncode, done.stdout.decode(), done.stderr.decode().splitlines()


def without_unserved_kits(err):
    """The error stream less the plan's warnings of kits for machines the
    test fleet lacks (the example library has several)."""
    return [line for line in err if not re.match(
        r"[\w-]+: warning: kit .*: its model keys serve no machine of the fleet$", line)]


def plan(rows, rename=lambda kit: kit):
    """input -> (kit or kits, outcome, segments outcome) of a JSON report."""
    def kit_of(row):
        kit = row.get("kit")
        return [rename(k) for k in kit] if isinstance(kit, list) else (
            rename(kit) if kit else None)
    return {os.path.basename(row["input"]): (kit_of(row), row.get("scripts"), row.get("status"),
                                             json.dumps(row.get("segments"), sort_keys=True))
            for row in rows}


class FleetMedium(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(FLEET):
            raise AssertionError("no fleet report at %s (cmake --build --preset host)" % FLEET)
        cls.root = tempfile.mkdtemp(prefix="medium-test-")
        cls.app = os.path.join(cls.root, "app.efi")
        with open(cls.app, "wb") as f:
            f.write(pe())
        cls.media = {}
        for name, source in (("fleet.img", ["--kits", LIBRARY]), ("fleet.iso", ["--kits", LIBRARY]),
                             ("kit.img", [KIT])):
            out = os.path.join(cls.root, name)
            code, _, err = kittools("image", "--efi", cls.app, "--app-args",
                                    "-segments -product", *source, out)
            assert code == 0, err
            cls.media[name] = out

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def report(self, *args):
        """The JSON report, through --medium or straight from the folders."""
        if "--medium" in args:
            code, out, err = kittools("fleet-medium", FLEET, "--format", "json", *args, DUMPS)
        else:
            done = subprocess.run([FLEET, "--format", "json"] + list(args) + [DUMPS],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
            code, out, err = done.returncode, done.stdout.decode(), done.stderr.decode().splitlines()
        # The example library has kits for machines the test fleet lacks:
        # the plan says so of each, and nothing else.
        self.assertEqual((code, without_unserved_kits(err)), (0, []))
        return json.loads(out)

    def test_the_medium_plans_as_its_folder(self):
        folder = self.report("--kits", LIBRARY, "--app-args", "-segments -product")
        # The folder's plan assigns kits to some machines, refuses others:
        # the comparison below has something to compare.
        kits = {str(row.get("kit")) for row in folder}
        self.assertTrue({"None", os.path.join(LIBRARY, "model7-tower")} <= kits, kits)
        for name in ("fleet.img", "fleet.iso"):
            with self.subTest(name):
                medium = self.media[name]
                rows = self.report("--medium", medium)
                shown = medium + ":\\kits\\"
                self.assertEqual(
                    plan(rows, lambda kit: kit.replace(shown, LIBRARY + "/").replace("\\", "/")),
                    plan(folder))
                named = {row["kit"] for row in rows if isinstance(row.get("kit"), str)}
                self.assertIn(shown + "model7-tower", named)

    def test_a_medium_of_one_kit(self):
        folder = self.report("--kit", KIT, "--app-args", "-segments -product")
        rows = self.report("--medium", self.media["kit.img"])
        self.assertEqual(plan(rows, lambda kit: KIT if kit == self.media["kit.img"] + ":\\"
                              else kit), plan(folder))

    def test_a_medium_for_both_machines_gives_each_its_line(self):
        """Each machine is planned with its own processor's line (the row
        tests show how); the report gets both of the medium's lines."""
        arm = os.path.join(self.root, "arm.efi")
        with open(arm, "wb") as f:
            f.write(pe(0xAA64))
        medium = os.path.join(self.root, "both.img")
        code, _, err = kittools("image", "--arch", "x64,aarch64", "--efi", self.app, "--efi", arm,
                                "--app-args", "-product", "--kits", LIBRARY, medium)
        self.assertEqual(code, 0, err)
        args = fleet_medium.unpack(medium, tempfile.mkdtemp(dir=self.root))
        self.assertEqual(args[args.index("--app-args") + 1], "-product")
        self.assertEqual(args[args.index("--app-args-aarch64") + 1], "-smbios3 -product")
        self.assertEqual(len(self.report("--medium", medium)), len(os.listdir(DUMPS)) - 1)

    def test_names_mtools_would_read_as_patterns(self):
        """Kits a1 and a[1] on one medium: each machine is planned with its
        own kit's configuration, as from the folder; the options may follow
        the inputs, as without --medium."""
        library = os.path.join(self.root, "patterns")
        for name, product in (("a1", "Model7 Tower"), ("a[1]", "ThinkPad-X")):
            shutil.copytree(KIT, os.path.join(library, name))
            with open(os.path.join(library, name, "UpdateConfig.ini"), "w") as f:
                f.write("ProductName=%s\r\nVersion=9\r\n" % product)
        medium = os.path.join(self.root, "patterns.img")
        code, _, err = kittools("image", "--efi", self.app, "--app-args", "-product",
                                "--kits", library, medium)
        self.assertEqual(code, 0, err)
        folder = self.report("--kits", library, "--app-args", "-product")
        code, out, err = kittools("fleet-medium", FLEET, "--medium", medium, DUMPS,
                                  "--format", "json")
        self.assertEqual((code, without_unserved_kits(err)), (0, []))
        shown = medium + ":\\kits\\"
        self.assertEqual(plan(json.loads(out), lambda kit: kit.replace(shown, library + "/")),
                         plan(folder))

    def test_a_damaged_kit_is_a_warning_on_its_machines(self):
        """The medium's SHA256SUMS (make-kit-image's default) checked as the
        machines will: one byte of a kit file changed on the medium is a
        warning naming the file on every machine the kit serves."""
        for name, path, kit in (("kit.img", "UpdateHWOld.nsh", ""),
                                ("fleet.img", "kits/model7-tower/UpdateHWOld.nsh",
                                 "model7-tower")):
            with self.subTest(name):
                damaged = os.path.join(self.root, "damaged-" + name)
                shutil.copyfile(self.media[name], damaged)
                data = kit_medium.read_file(damaged, path)
                kit_medium.write_file(damaged, path, data[:-1] + bytes([data[-1] ^ 1]))
                rows = self.report("--medium", damaged)
                served = [row for row in rows if row.get("kit_sha256")
                          and str(row.get("kit")).endswith(kit)]
                self.assertTrue(served, rows)
                others = [row for row in rows if row not in served]
                self.assertFalse([row for row in others if "kit-damaged" in row["warning_keys"]])
                for row in served:
                    damage = [w for k, w in zip(row["warning_keys"], row["warnings"])
                              if k == "kit-damaged"]
                    self.assertEqual(len(damage), 1, row["warnings"])
                    self.assertIn("UpdateHWOld.nsh does not match SHA256SUMS", damage[0])
                rows = self.report("--medium", self.media[name])
                self.assertFalse([row for row in rows if "kit-damaged" in row["warning_keys"]])

    def test_refused(self):
        misspelt = os.path.join(self.root, "misspelt.img")
        shutil.copyfile(self.media["fleet.img"], misspelt)
        kit_medium.write_file(misspelt, "startup.nsh", kit_medium.read_file(
            misspelt, "startup.nsh").replace(b"-product", b"-prodcut"))
        hard_link = os.path.join(self.root, "fleet-link.img")
        os.link(self.media["fleet.img"], hard_link)
        with open(self.media["fleet.img"], "rb") as f:
            before = f.read()
        not_a_medium = os.path.join(self.root, "notes.txt")
        with open(not_a_medium, "wb") as f:
            f.write(b"not a medium\n" * 100)
        fifo = os.path.join(self.root, "fifo.img")
        os.mkfifo(fifo)
        zeroed = os.path.join(self.root, "zeroed.img")
        with open(zeroed, "wb") as f:
            f.truncate(4 << 20)
        partial = {}
        for name in ("fleet.img", "fleet.iso"):
            partial[name] = os.path.join(self.root, "partial-" + name)
            with open(self.media[name], "rb") as f, open(partial[name], "wb") as out:
                out.write(f.read(os.path.getsize(self.media[name]) // 2))
        # Media laid out by hand, as a careless copy might leave them.
        def medium(name, files, library=True):
            folder = os.path.join(self.root, name + ".d")
            for path, data in files.items():
                os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
                with open(os.path.join(folder, path), "wb") as f:
                    f.write(data)
            with open(os.path.join(folder, "startup.nsh"), "wb") as f:
                f.write(layout.startup_nsh("-product", library=library))
            out = os.path.join(self.root, name)
            kit_medium.make_fat_image(folder, out)
            return out
        config = b"ProductName=Model7 Tower\r\nVersion=2\r\n"
        no_kits = medium("no-kits.img", {"kits/empty/notes.txt": b"x"})
        blank = medium("blank.img", {"kits/a/UpdateConfig.ini": config,
                                     "kits/ spare/UpdateConfig.ini": config})
        config_folder = medium("config-folder.img", {"kits/a/UpdateConfig.ini": config,
                                                     "kits/b/UpdateConfig.ini/x": b"x"})
        huge = medium("huge.img", {"UpdateConfig.ini": config + b"#" * (1 << 20)}, library=False)
        # ISO 9660's mark where a disk image's kit file happens to lie.
        marked = os.path.join(self.root, "marked.img")
        shutil.copyfile(self.media["fleet.img"], marked)
        with open(marked, "r+b") as f:
            f.seek(16 * 2048)
            f.write(b"\x01CD001")
        cases = [
            (["--medium", self.media["fleet.img"], "--kits", LIBRARY], ["give no --kits"]),
            (["--medium", fifo], [fifo, "not a regular file"]),
            (["--medium", self.root], [self.root, "not a regular file"]),
            (["--medium", zeroed], [zeroed, "neither a FAT disk image nor an ISO"]),
            (["--medium", partial["fleet.img"]], ["partial copy"]),
            (["--medium", partial["fleet.iso"]], ["partial copy"]),
            (["--medium", no_kits], [no_kits, "no kit under \\kits\\"]),
            (["--medium", blank], [blank, "kits\\ spare begins or ends with a blank"]),
            (["--medium", config_folder], ["kits\\b holds a folder named UpdateConfig.ini"]),
            (["--medium", huge], [huge, "larger than 1048576 bytes"]),
            (["--medium", self.media["fleet.img"], "--app-args=-v"], ["give no --app-args"]),
            (["--medium", self.media["fleet.img"], "--medium", self.media["kit.img"]],
             ["--medium FILE once"]),
            (["--medium", os.path.join(self.root, "gone.iso")], ["gone.iso", "no such file"]),
            (["--medium", not_a_medium], [not_a_medium]),
            (["--medium", misspelt], [misspelt, '"-prodcut" is not an option']),
            # The medium is an input: the report is never written over it.
            (["--medium", self.media["fleet.img"], "--format", "html", "--output",
              self.media["fleet.img"]], ["--output", "is an input"]),
            (["--medium", self.media["fleet.img"], "--output=" + hard_link], ["is an input"]),
            (["--medium", "--output", self.media["fleet.img"]], ["not the option --output"]),
            (["--medium=--output", self.media["fleet.img"]], ["not the option --output"]),
        ]
        for args, words in cases:
            with self.subTest(" ".join(args)):
                code, out, err = kittools("fleet-medium", FLEET, *args, DUMPS)
                self.assertEqual((code, out, len(err)), (2, "", 1), err)
                self.assertTrue(err[0].startswith("fleet-report: "), err)
                self.assertNotIn("fleet-medium-", err[0])   # no private folder named
                for word in words:
                    self.assertIn(word, err[0])
        # Bytes at 32 KiB inside a disk image's kit file leave it a disk image.
        self.assertFalse(kit_medium.is_iso(marked))
        self.assertEqual(kit_medium.fat_target(marked), marked)
        with open(self.media["fleet.img"], "rb") as f:
            self.assertEqual(f.read(), before)


if __name__ == "__main__":
    unittest.main()
