"""The kit tools' command line: `run` (tools/kit-run) boots a kit in a VM,
`image` (tools/make-kit-image) makes a bootable medium of it,
`fleet-medium` (tools/fleet-report --medium) runs the fleet report with a
medium's kits and options.

    python3 -m kittools run [--kit DIR|IMAGE | --kits DIR] [--medium usb-stick|cdrom]
                            [--bios-version TEXT [--product NAME] | --smbios-dump FILE|DIR]
                            [--app-args TEXT] [--decide-only] [--arch x64|aarch64] ...
    python3 -m kittools image [--arch LIST] [--app-args TEXT] [--shell FILE|ovmf]...
                              [--sign KEY --cert CERT] (KIT_DIR | --kits DIR) OUT
    python3 -m kittools fleet-medium REPORT --medium FILE [REPORT'S OPTIONS] INPUT...

tools/kit-run and tools/make-kit-image install what is missing and call
these, with tools/ on the module path.
"""

import argparse
import os
import signal
import sys

from . import fleet_medium, kit_image, kit_run
from .common import KitError
from .safe_files import one_line


class Interrupted(BaseException):
    """A signal that ends the run: raised where the run is, so every
    `finally` on the way out removes what it made (a half medium, a
    decrypted key)."""

    def __init__(self, number):
        BaseException.__init__(self, number)
        self.number = number


def _interrupt(number, _frame):
    raise Interrupted(number)


def empty_value(argv):
    """The first `--name=` with nothing after the '=': argparse would take
    the next word as its value, so a kit folder or OUT would silently
    become an option's value."""
    for word in argv:
        if word == "--":
            return None
        if word.startswith("--") and word.endswith("=") and word.count("=") == 1:
            return word
    return None


def main(argv):
    if argv[:1] == ["fleet-medium"]:
        # tools/fleet-report --medium: the report's own command line,
        # passed through but for --medium.
        return fleet_medium.main(argv[1:])
    # Each command parses on its own, under the name it is typed as: its
    # usage and its errors name kit-run or make-kit-image, never kittools.
    run = argparse.ArgumentParser(prog="kit-run",
                                  description="Boot an update kit in a VM and report which update "
                                              "script BiosUpdateSelect.efi chose, and from which "
                                              "medium and shell.")
    kit_run.add_arguments(run)

    image = argparse.ArgumentParser(prog="make-kit-image",
                                    description="Make a bootable medium of an update kit "
                                                "(KIT_DIR OUT), or of a library of kits (--kits "
                                                "DIR OUT): a FAT disk image, or a hybrid ISO for "
                                                "OUT.iso.")
    kit_image.add_arguments(image)
    parsers = {"run": run, "image": image}
    if not argv or argv[0] not in parsers:
        print("usage: python3 -m kittools {run,image,fleet-medium} ...", file=sys.stderr)
        return 2

    # The application's options begin with a dash, which argparse would take
    # for one of ours: `--app-args -v` has to mean `--app-args=-v`.
    argv = list(argv)
    i = 0
    while i < len(argv) - 1 and argv[i] != "--":
        if argv[i] == "--app-args":
            if argv[i + 1] == "--":
                # argparse would drop the "--" and hand over an empty list.
                print("%s: --app-args takes the image's options; \"--\" is none of them"
                      % {"run": "kit-run", "image": "make-kit-image"}.get(argv[0], "kittools"),
                      file=sys.stderr)
                return 2
            argv[i:i + 2] = ["--app-args=" + argv[i + 1]]
        i += 1
    empty = empty_value(argv)
    if empty:
        prog = {"run": "kit-run", "image": "make-kit-image"}.get(argv[0] if argv else "", "kittools")
        print("%s: %s has no value after the '='" % (prog, one_line(empty)), file=sys.stderr)
        return 2
    parser = parsers[argv[0]]
    args = parser.parse_args(argv[1:])
    args.command = argv[0]
    if args.command == "image" and args.passphrase_file and not args.sign:
        parser.error("--passphrase-file goes with --sign KEY")
    prog = parser.prog
    for number in (signal.SIGTERM, signal.SIGHUP):
        if signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, _interrupt)
    try:
        return kit_run.cmd_run(args) if args.command == "run" else kit_image.cmd_image(args)
    except KitError as error:
        print("%s: %s" % (prog, one_line(str(error))), file=sys.stderr)
        return 2
    except (Interrupted, KeyboardInterrupt) as error:
        number = error.number if isinstance(error, Interrupted) else signal.SIGINT
        print("%s: ended by %s; what it had begun is removed"
              % (prog, signal.Signals(number).name), file=sys.stderr)
        # The caller sees the signal, as from any program it ends.
        signal.signal(number, signal.SIG_DFL)
        os.kill(os.getpid(), number)
        return 128 + number
