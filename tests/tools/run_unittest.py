"""Runs Python test modules as `python3 -m unittest -v MODULE...` does, but
ends with 77, which CTest counts as skipped, when a case skipped itself and
none failed: a signing test without an image, or a firmware-volume test
without ovmf, proves nothing, and tools/ctest-strict fails a run that
skipped one. Each skip is named on the last lines with its reason.

    python3 run_unittest.py MODULE...
"""

import os
import sys
import unittest

SKIPPED = 77


def main(names):
    # Modules are found in the current folder, as `python3 -m unittest` finds them.
    sys.path.insert(0, os.getcwd())
    suite = unittest.defaultTestLoader.loadTestsFromNames(names)
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if not result.wasSuccessful():
        return 1
    if result.testsRun == 0:
        print("FAIL: no test ran")
        return 1
    if result.skipped:
        for test, reason in result.skipped:
            print("SKIP: %s: %s" % (test.id(), reason))
        return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
