"""Tests of kit libraries without a VM: which folders make-kit-image takes
for kits and which libraries it refuses, the library medium it makes, how
kit-run prepares such a medium (stand-in scripts in every kit, -n added
to the medium's own options), and the refusal of an --app-args word that
is no option of the image."""

import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from tool_fixtures import REPO, pe
from kittools import image_rules, kit_medium, kit_run, layout
from kittools.common import KitError

TOOLS = os.path.join(REPO, "tools")
EXAMPLE_KIT = os.path.join(REPO, "examples", "kit")
EXAMPLE_LIBRARY = os.path.join(REPO, "examples", "kits")


def kittools(*args, tmp=None):
    env = dict(os.environ, PYTHONPATH=TOOLS)
    if tmp:
        env["TMPDIR"] = tmp
    # --quiet: the lines checked are the tool's own, however slow a step.
    args = list(args[:1]) + ["--quiet"] + list(args[1:]) if args[:1] in (("image",), ("run",)) \
        else list(args)
    done = subprocess.run([sys.executable, "-m", "kittools"] + list(args),
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, timeout=120)
    return done.returncode, done.stdout.decode(), done.stderr.decode().splitlines()


class Library(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kit-library-")
        self.addCleanup(shutil.rmtree, self.root)
        self.library = os.path.join(self.root, "kits")
        os.makedirs(self.library)

    def kit(self, relative):
        shutil.copytree(EXAMPLE_KIT, os.path.join(self.library, relative))

    def test_kits_found_and_refused(self):
        """Each library laid out, and the kits found or the words of the
        one line that refuses it."""
        lib = lambda *parts: os.path.join(self.library, *parts)  # noqa: E731
        cases = [
            ("one kit", ["a"], None, ["a"]),
            ("kits side by side, in sorted order", ["b", "a", "vendor/z"], None,
             ["a", "b", os.path.join("vendor", "z")]),
            ("a kit four levels down", ["1/2/3/4"], None, [os.path.join("1", "2", "3", "4")]),
            ("a kit five levels down", ["1/2/3/4/5"], None,
             [lib("1", "2", "3", "4", "5"), "5 levels down", "at most 4"]),
            ("a kit inside a kit", ["a", "a/old"], None,
             [lib("a", "old"), "inside the kit", lib("a")]),
            ("no kit at all", [], lambda: os.makedirs(lib("empty")),
             ["no kit", self.library]),
            ("the folder is a kit itself", [],
             lambda: shutil.copy(os.path.join(EXAMPLE_KIT, "UpdateConfig.ini"), self.library),
             ["one kit, not a library", lib("UpdateConfig.ini")]),
            ("kits whose paths differ in case only", ["vendor/Model7", "vendor/model7"], None,
             [lib("vendor", "Model7"), lib("vendor", "model7"), "ignores case"]),
            ("a kit without its scripts", ["a"], lambda: os.unlink(lib("a", "UpdateHWNew.nsh")),
             [lib("a"), "UpdateHWNew.nsh"]),
            # The image opens UpdateConfig.ini in any case: such a folder is
            # a kit to it, and must be a whole one.
            ("a configuration in other case", [], lambda: (
                os.makedirs(lib("odd")),
                open(lib("odd", "updateconfig.ini"), "w").close()), [lib("odd"), "lacks"]),
            ("a name FAT cannot hold", ["a:b"], None, ["a:b", "':'"]),
            # As the image opens them: a kit whose files are in other case.
            ("a kit in lower case", [], lambda: [
                shutil.copytree(EXAMPLE_KIT, lib("lower")),
                [os.rename(lib("lower", n), lib("lower", n.lower()))
                 for n in os.listdir(lib("lower"))]], ["lower"]),
            ("a link to nothing", ["a"], lambda: os.symlink(lib("gone"), lib("a", "tool.bin")),
             ["a link to nothing"]),
        ]
        for what, kits, setup, want in cases:
            with self.subTest(what):
                shutil.rmtree(self.library)
                os.makedirs(self.library)
                for kit in kits:
                    self.kit(kit)
                if setup:
                    setup()
                if what.startswith(("one kit", "kits side", "a kit four", "a kit in lower")):
                    self.assertEqual(layout.library_kits(self.library), want)
                    continue
                with self.assertRaises(KitError) as caught:
                    layout.library_kits(self.library)
                for word in want:
                    self.assertIn(word, str(caught.exception))

    def test_the_image_walk_refuses(self):
        """What the image's own walk refuses refuses the library, with the
        image's line: a path it cannot open, a blank at a name's end, a
        folder named UpdateConfig.ini, more folders than it searches, a
        configuration too large to plan with."""
        lib = lambda *parts: os.path.join(self.library, *parts)  # noqa: E731
        long_name = "x" * 234
        cases = [
            ("a path beyond 255 characters", lambda: self.kit(long_name),
             ["kits\\" + long_name, "longer than 255 characters"]),
            ("a leading blank", lambda: self.kit(" spare"),
             ["kits\\ spare begins or ends with a blank"]),
            ("UpdateConfig.ini as a folder", lambda: os.makedirs(lib("b", "UpdateConfig.ini")),
             ["kits\\b holds a folder named UpdateConfig.ini"]),
            ("beyond 4096 folders", lambda: [os.makedirs(lib("many", str(n)))
                                             for n in range(4096)],
             ["beyond 4096 folders or 65536 entries"]),
            ("a configuration above 1 MiB", lambda: open(lib("a", "UpdateConfig.ini"), "ab")
             .write(b"#" * (1 << 20)), ["larger than 1 MiB"]),
        ]
        for what, setup, want in cases:
            with self.subTest(what):
                shutil.rmtree(self.library)
                os.makedirs(self.library)
                self.kit("a")
                setup()
                with self.assertRaises(KitError) as caught:
                    layout.library_kits(self.library)
                for word in want:
                    self.assertIn(word, str(caught.exception))

    def test_what_the_image_says_of_a_tab(self):
        """The report's --kits and the tools take the image's own line for a
        name it cannot show (make-kit-image names the FAT rule first), and
        the image's own names for the files they lay out."""
        self.kit("old\tkit")
        problem = image_rules.library(self.library)["problem"]
        self.assertEqual(image_rules.problem_text(problem),
                         "kits holds an unprintable folder name; no kit can be chosen.")
        # A host library's link to a folder above it is named as such, not
        # by the folders the walk would meet going round through it.
        shutil.rmtree(os.path.join(self.library, "old\tkit"))
        self.kit("a")
        os.symlink("..", os.path.join(self.library, "up"))
        with self.assertRaises(KitError) as caught:
            image_rules.library(self.library)
        self.assertEqual(str(caught.exception), "%s is a link to %s, a folder that holds the "
                         "library" % (os.path.join(self.library, "up"), self.root))
        # Inside a kit the image does not look: a link there is no matter.
        os.unlink(os.path.join(self.library, "up"))
        os.symlink("../..", os.path.join(self.library, "a", "up"))
        self.assertEqual(len(image_rules.library(self.library)["kits"]), 1)
        # The names the tools lay out and look for: the configuration, the
        # script for an older BIOS, the other one, -verify's list, -kits' folder.
        self.assertEqual((image_rules.kit_files(), image_rules.sums_name(),
                          image_rules.library_folder()),
                         (("UpdateConfig.ini", "UpdateHWOld.nsh", "UpdateHWNew.nsh"),
                          "SHA256SUMS", "kits"))

    def test_library_medium(self):
        """make-kit-image --kits: the library as \\kits\\, the image once at
        the root, and a startup.nsh that runs it with -kits; kit-run's copy
        of that medium gets stand-ins in every kit and -n added to the
        medium's own options."""
        self.kit("model7")
        self.kit("servers/bx")
        os.makedirs(os.path.join(self.library, "servers", "bx", "tools"))
        with open(os.path.join(self.library, "servers", "bx", "tools", "flash.bin"), "wb") as f:
            f.write(b"\xaa" * 5000)
        app = os.path.join(self.root, "app.efi")
        with open(app, "wb") as f:
            f.write(pe())
        out = os.path.join(self.root, "fleet.img")
        code, stdout, stderr = kittools("image", "--efi", app, "--app-args", "-segments -product",
                                        "--kits", self.library, out)
        self.assertEqual(code, 0, stderr)
        self.assertIn("the library %s as \\kits\\ (2 kits)" % self.library, stdout)
        kit_files = {"UpdateConfig.ini", "UpdateHWOld.nsh", "UpdateHWNew.nsh"}
        self.assertEqual(kit_medium.image_paths(out),
                         {"BiosUpdateSelect.efi", "startup.nsh", "kits", "kits/model7",
                          "kits/servers", "kits/servers/bx", "kits/servers/bx/tools",
                          "kits/servers/bx/tools/flash.bin"} |
                         {"kits/model7/" + n for n in kit_files | {"SHA256SUMS"}} |
                         {"kits/servers/bx/" + n for n in kit_files | {"SHA256SUMS"}})
        # Each kit's SHA256SUMS lists its own files, '/' paths from its folder.
        self.assertEqual([line.split("  ")[1] for line in kit_medium.read_file(
                              out, "kits/servers/bx/SHA256SUMS").decode().splitlines()],
                         ["UpdateConfig.ini", "UpdateHWNew.nsh", "UpdateHWOld.nsh",
                          "tools/flash.bin"])
        startup = kit_medium.read_file(out, "startup.nsh")
        self.assertEqual(layout.app_words(startup), ["-kits", "-verify", "-segments", "-product"])
        self.assertIn(b"if exist fs0:\\kits then", startup)
        answer = layout.medium_library(out, self.root)
        self.assertEqual([kit["medium_path"] for kit in answer["kits"]],
                         ["kits/model7", "kits/servers/bx"])

        copy = os.path.join(self.root, "copy.img")
        startup, own_shell = kit_run.prepare_kit_image(out, copy, run_scripts=False,
                                                       decide_only=True)
        self.assertFalse(own_shell)
        self.assertEqual(layout.app_words(startup),
                         ["-kits", "-verify", "-segments", "-product", "-n"])
        self.assertEqual(kit_medium.read_file(copy, "startup.nsh"), startup)
        for kit in ("kits/model7", "kits/servers/bx"):
            for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
                self.assertEqual(kit_medium.read_file(copy, kit + "/" + name),
                                 layout.stand_in_script(name))
        # A kit folder in upper case is found in the medium's own case.
        os.rename(os.path.join(self.library, "model7"), os.path.join(self.library, "Model7"))
        upper = os.path.join(self.root, "upper.img")
        code, _, stderr = kittools("image", "--efi", app, "--kits", self.library, upper)
        self.assertEqual(code, 0, stderr)
        kit_run.prepare_kit_image(upper, os.path.join(self.root, "upper-copy.img"),
                                  run_scripts=False)
        self.assertEqual(kit_medium.read_file(os.path.join(self.root, "upper-copy.img"),
                                              "kits/Model7/UpdateHWOld.nsh"),
                         layout.stand_in_script("UpdateHWOld.nsh"))
        # The medium itself is as it was made.
        self.assertEqual(layout.app_words(kit_medium.read_file(out, "startup.nsh")),
                         ["-kits", "-verify", "-segments", "-product"])

        # Options given for the run replace the medium's, and stay a
        # library run.
        said = io.StringIO()
        with contextlib.redirect_stderr(said):
            startup, _ = kit_run.prepare_kit_image(out, copy, run_scripts=True, app_args="-v")
        self.assertEqual(layout.app_words(startup), ["-kits", "-v"])
        # ... and says so, naming the options it replaced.
        self.assertEqual(said.getvalue().splitlines(), [
            "kit-run: note: --app-args replaces the medium's own options (-kits -verify "
            "-segments -product); --decide-only adds -n to them instead"])
        marked = kit_medium.read_file(copy, "kits/model7/UpdateHWOld.nsh")
        with open(os.path.join(EXAMPLE_KIT, "UpdateHWOld.nsh"), "rb") as f:
            self.assertEqual(marked, layout.marked_script("UpdateHWOld.nsh", f.read()))

    def test_medium_lists_folders_in_sorted_order(self):
        """FAT keeps entries in the order written and the firmware lists
        them so: the image then names several kits in the same order as
        the host tools, whatever order the host's folder lists them in."""
        names = ["kit-%02d" % n for n in (7, 3, 11, 1, 9, 5, 2, 10, 8, 4, 6)]
        for name in names:
            self.kit(name)
        app = os.path.join(self.root, "app.efi")
        with open(app, "wb") as f:
            f.write(pe())
        out = os.path.join(self.root, "fleet.img")
        code, _, stderr = kittools("image", "--efi", app, "--kits", self.library, out)
        self.assertEqual(code, 0, stderr)
        listing = subprocess.run(["mdir", "-b", "-i", out, "::/kits"], stdout=subprocess.PIPE,
                                 env=dict(os.environ, MTOOLS_SKIP_CHECK="1"), check=True)
        listed = [line.rstrip("/").split("/")[-1]
                  for line in listing.stdout.decode().splitlines() if line.strip()]
        self.assertEqual(listed, sorted(names))

    def test_large_iso_says_so(self):
        self.kit("a")
        with open(os.path.join(self.library, "a", "FLASH.BIN"), "wb") as f:
            f.truncate(33 << 20)
        app = os.path.join(self.root, "app.efi")
        with open(app, "wb") as f:
            f.write(pe())
        code, _, stderr = kittools("image", "--efi", app, "--kits", self.library,
                                   os.path.join(self.root, "fleet.iso"))
        self.assertEqual(code, 0, stderr)
        big = [line for line in stderr if "32 MiB" in line]
        self.assertEqual(len(big), 1, stderr)
        self.assertIn("boot image is 38 MiB", big[0])
        code, _, stderr = kittools("image", "--efi", app, EXAMPLE_KIT,
                                   os.path.join(self.root, "small.iso"))
        self.assertEqual(code, 0, stderr)
        self.assertEqual([line for line in stderr if "32 MiB" in line], [])


class Options(unittest.TestCase):
    def test_app_args(self):
        """The image's options pass, in any case and quoted as the shell
        takes them; any other word is named with the options there are."""
        cases = [
            ("-segments -product", "-segments -product"),
            ("  -V  -Segments  ", "-V -Segments"),
            ("-v\t-n", "printable ASCII on one line"),
            ('"-n" -smbios3 -kits', '"-n" -smbios3 -kits'),
            # -log's FILE is its value, whatever it looks like.
            ("-LOG -v -segments", "-LOG -v -segments"),
            ("-v -log", "-log needs its value"),
            ("", ""),
            ("-segment -prodcut", '"-segment" is not an option'),
            ("-v --product", '"--product" is not an option'),
            ("-v product", '"product" is not an option'),
            ("-v\nreset -s", "printable ASCII on one line"),
            ("-v \u00e9", "printable ASCII on one line"),
        ]
        for text, want in cases:
            with self.subTest(text):
                try:
                    got = layout.check_app_args(text)
                except KitError as error:
                    got = str(error)
                    if "not an option" in want:
                        self.assertIn("-v, -n, -segments, -product, -smbios3, -kits, -verify, -hwids, -log FILE",
                                      got)
                if "not an option" in want or "ASCII" in want or "needs" in want:
                    self.assertIn(want, got)
                else:
                    self.assertEqual(got, want)

    def test_refused_before_any_work(self):
        """One line, exit status 2, no output: for each tool's misuse."""
        root = tempfile.mkdtemp(prefix="kit-refusals-")
        self.addCleanup(shutil.rmtree, root)
        out = os.path.join(root, "fleet.img")
        # Outside `root`, which must stay empty.
        elsewhere = tempfile.mkdtemp(prefix="kit-refusals-inputs-")
        self.addCleanup(shutil.rmtree, elsewhere)
        app = os.path.join(elsewhere, "app.efi")
        with open(app, "wb") as f:
            f.write(pe())
        # The application itself where the shell goes (a stand-in without a build).
        built = os.path.join(elsewhere, "built.efi")
        with open(built, "wb") as f:
            f.write(pe() + "UpdateHWOld.nsh UpdateHWNew.nsh".encode("utf-16-le"))
        logs = os.path.join(elsewhere, "logs")
        os.makedirs(logs)
        os.symlink(os.path.join(elsewhere, "victim"), os.path.join(logs, "qemu-console.log"))
        cases = [
            (["image", "--app-args", "-segments -prodcut", "--kits", EXAMPLE_LIBRARY, out],
             ['"-prodcut"', "-product"]),
            (["image", "--app-args", "-kits", EXAMPLE_KIT, out], ["-kits", "--kits DIR"]),
            (["image", "--kits", EXAMPLE_LIBRARY], ["--kits DIR OUT"]),
            (["image", "--kits", EXAMPLE_LIBRARY, EXAMPLE_KIT, out], ["--kits DIR OUT"]),
            (["run", "--kits", EXAMPLE_LIBRARY, "--app-args", "-prodcut"], ['"-prodcut"']),
            (["run", "--kit", EXAMPLE_KIT, "--kits", EXAMPLE_LIBRARY], ["--kit or --kits"]),
            (["run", "--kits", EXAMPLE_KIT], ["one kit, not a library"]),
            (["run", "--kit", EXAMPLE_KIT, "--app-args", "-kits"], ["--kits DIR"]),
            (["run", "--product", "Model7 Tower", "--smbios-dump",
              os.path.join(REPO, "tests", "data", "dumps", "desktop-2.8.bin")],
             ["--product or --smbios-dump"]),
            (["run", "--product", ""], ["--product"]),
            (["run", "--kit", ""], ["--kit", "empty"]),
            (["run", "--uuid", "00112233-4455-6677-8899-aabbccddeeff\n"], ["--uuid"]),
            (["image", "--efi", app, "--shell", built, EXAMPLE_KIT, out],
             ["--shell " + built, "BiosUpdateSelect.efi itself"]),
            (["run", "--kit", EXAMPLE_KIT, "--efi", app, "--log-dir", logs],
             [os.path.join(logs, "qemu-console.log"), "symbolic link"]),
        ]
        for args, words in cases:
            with self.subTest(" ".join(args)):
                code, stdout, stderr = kittools(*args)
                self.assertEqual((code, stdout, len(stderr)), (2, "", 1), stderr)
                for word in words:
                    self.assertIn(word, stderr[0])
                self.assertEqual(os.listdir(root), [])
        self.assertFalse(os.path.lexists(os.path.join(elsewhere, "victim")))


if __name__ == "__main__":
    unittest.main()
