"""Tests of tools/ctest-strict and run_unittest.py on a small CTest project
of their own: a skipped test (a QEMU boot without QEMU among them, and a
Python case that skipped itself) fails the run and is named with its
reason, unless BUS_ALLOW_SKIPS=1 allows it, which the last line then says."""

import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

import tool_fixtures

HERE = os.path.dirname(os.path.abspath(__file__))
CTEST_STRICT = os.path.join(tool_fixtures.REPO, "tools", "ctest-strict")
E2E = os.path.join(tool_fixtures.REPO, "tests", "e2e", "e2e.py")

PYTHON_MODULES = {
    "passing_cases": """
        import unittest
        class Passing(unittest.TestCase):
            def test_one(self):
                self.assertEqual(1 + 1, 2)
        """,
    "skipping_cases": """
        import unittest
        class Skipping(unittest.TestCase):
            def test_runs(self):
                self.assertTrue(True)
            def test_signs(self):
                self.skipTest("no image to sign")
        """,
    "failing_and_skipping_cases": """
        import unittest
        class Both(unittest.TestCase):
            def test_fails(self):
                self.assertEqual(1, 2)
            def test_skips(self):
                self.skipTest("no ovmf")
        """,
}


def cmake_project(python, work, no_qemu_path):
    runner = os.path.join(HERE, "run_unittest.py")
    tests = [
        ("pass", [python, "-c", "print('fine')"]),
        ("fail", [python, "-c", "import sys; print('broken'); sys.exit(1)"]),
        ("skip", [python, "-c", "import sys; print('SKIP: this machine lacks a part'); sys.exit(77)"]),
        ("python_pass", [python, runner, "passing_cases"]),
        ("python_skip", [python, runner, "skipping_cases"]),
        ("python_fail_and_skip", [python, runner, "failing_and_skipping_cases"]),
        # A real QEMU boot of the suite, on a PATH without QEMU.
        ("qemu_missing", [python, E2E, "--boot", "installed-10", "--image", "/nonexistent.efi",
                          "--preview", python, "--work", os.path.join(work, "e2e")]),
    ]
    lines = ["cmake_minimum_required(VERSION 3.20)", "project(strict NONE)", "enable_testing()"]
    for name, command in tests:
        quoted = " ".join('"%s"' % word for word in command)
        lines.append("add_test(NAME %s COMMAND %s WORKING_DIRECTORY \"%s\")" % (name, quoted, work))
        lines.append("set_tests_properties(%s PROPERTIES SKIP_RETURN_CODE 77)" % name)
    lines.append('set_tests_properties(qemu_missing PROPERTIES ENVIRONMENT "PATH=%s")' % no_qemu_path)
    return "\n".join(lines) + "\n"


class CtestStrict(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="ctest-strict-test-")
        source = os.path.join(cls.tmp, "source")
        cls.build = os.path.join(cls.tmp, "build")
        empty = os.path.join(cls.tmp, "empty-path")
        for folder in (source, empty):
            os.makedirs(folder)
        for name, text in PYTHON_MODULES.items():
            with open(os.path.join(cls.tmp, name + ".py"), "w") as f:
                f.write(textwrap.dedent(text))
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write(cmake_project(sys.executable, cls.tmp, empty))
        subprocess.run(["cmake", "-S", source, "-B", cls.build], check=True,
                       stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def run_strict(self, pattern, allow=False, extra=()):
        env = {k: v for k, v in os.environ.items() if k != "BUS_ALLOW_SKIPS"}
        if allow:
            env["BUS_ALLOW_SKIPS"] = "1"
        done = subprocess.run([sys.executable, CTEST_STRICT] + list(extra) +
                              ["--test-dir", self.build, "-R", pattern],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=120)
        return done.returncode, done.stdout.decode().splitlines()

    def test_skips_fail_unless_allowed(self):
        skipped_line = "ctest-strict: skipped: skip: SKIP: this machine lacks a part"
        cases = [
            # pattern, allowed, status is zero, closing lines
            ("^pass$", False, True, []),
            ("^(pass|skip)$", False, False,
             [skipped_line, "ctest-strict: 1 test skipped, which fails the run (a developer "
              "without QEMU, ovmf or Chromium may set BUS_ALLOW_SKIPS=1 by hand)"]),
            ("^(pass|skip)$", True, True,
             [skipped_line, "ctest-strict: 1 test skipped, allowed by BUS_ALLOW_SKIPS=1"]),
            # Allowing skips never lets a failure through.
            ("^(fail|skip)$", True, False,
             [skipped_line, "ctest-strict: 1 test skipped, allowed by BUS_ALLOW_SKIPS=1"]),
            ("^fail$", False, False, []),
            ("^python_pass$", False, True, []),
            ("^python_skip$", False, False,
             ["ctest-strict: skipped: python_skip: SKIP: skipping_cases.Skipping.test_signs: "
              "no image to sign",
              "ctest-strict: 1 test skipped, which fails the run (a developer without QEMU, "
              "ovmf or Chromium may set BUS_ALLOW_SKIPS=1 by hand)"]),
            # A failing case is a failure, whatever else skipped.
            ("^python_fail_and_skip$", True, False, []),
        ]
        for pattern, allow, passes, closing in cases:
            with self.subTest(pattern=pattern, allow=allow):
                status, lines = self.run_strict(pattern, allow)
                self.assertEqual(status == 0, passes, lines)
                strict_lines = [line for line in lines if line.startswith("ctest-strict:")]
                self.assertEqual(strict_lines, closing)
                if closing:
                    self.assertEqual(lines[-len(closing):], closing)

    def test_a_boot_without_qemu_fails_and_says_why(self):
        status, lines = self.run_strict("^qemu_missing$")
        self.assertNotEqual(status, 0)
        self.assertIn("ctest-strict: skipped: qemu_missing: SKIP: this machine lacks "
                      "qemu-system-x86_64 (Debian package qemu-system-x86)", lines[-2])
        self.assertIn("1 test skipped, which fails the run", lines[-1])

    def test_skips_are_counted_for_the_caller(self):
        counts = os.path.join(self.tmp, "counts")
        for pattern in ("^(pass|skip|python_skip)$", "^pass$"):
            status, _ = self.run_strict(pattern, allow=True, extra=["--count-skips", counts])
            self.assertEqual(status, 0)
        with open(counts) as f:
            self.assertEqual(f.read().split(), ["2", "0"])


if __name__ == "__main__":
    unittest.main()
