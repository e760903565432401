"""fleet-report --medium: the fleet report's plan taken from a finished
medium (a disk image or an ISO made by make-kit-image), so that it cannot
drift from what the machines will run: the kits are the medium's own
(every kit's UpdateConfig.ini, read out of its FAT file system, laid out
as on the medium), the options those on the application's line in its
startup.nsh.

tools/fleet-report hands its command line here when it holds --medium;
the report itself then runs with --kits (or --kit for a medium of one
kit) and --app-args in place of --medium, and names each kit as the
medium holds it (fleet.iso:\\kits\\model7-tower).
"""

import errno
import os
import shutil
import stat
import subprocess
import sys
import tempfile

from . import image_rules, kit_medium, layout
from .common import ARCHES, IMAGE_NAME, KitError

PROG = "fleet-report"
# What --medium stands in for: a medium brings its own.
REPLACED = ("--kit", "--kits", "--app-args")


def split_medium(argv):
    """(the --medium FILE given, the other arguments). KitError when it is
    given twice or beside what it replaces."""
    medium, rest = [], []
    i = 0
    while i < len(argv):
        word = argv[i]
        if word == "--medium" and i + 1 < len(argv):
            if argv[i + 1].startswith("--"):
                raise KitError("--medium takes a FILE, not the option %s" % argv[i + 1])
            medium.append(argv[i + 1])
            i += 2
            continue
        if word.startswith("--medium="):
            if word[len("--medium="):].startswith("--"):
                raise KitError("--medium takes a FILE, not the option %s" % word[len("--medium="):])
            medium.append(word[len("--medium="):])
        else:
            if word.split("=", 1)[0] in REPLACED:
                raise KitError("--medium takes the kits and the options from the medium; "
                               "give no %s with it" % word.split("=", 1)[0])
            rest.append(word)
        i += 1
    if len(medium) != 1:
        raise KitError("give --medium FILE once" if medium else "--medium needs a FILE")
    return medium[0], rest


def output_of(argv):
    """The --output FILE among the report's arguments, or None."""
    for i, word in enumerate(argv):
        if word == "--":
            break
        if word == "--output" and i + 1 < len(argv):
            return argv[i + 1]
        if word.startswith("--output="):
            return word[len("--output="):]
    return None


def check_output(medium, output):
    """KitError when the report would be written over the medium, which is
    one of its inputs (the same file, or a hard link to it)."""
    if output is None:
        return
    try:
        same = os.path.samefile(medium, output)
    except OSError:
        return
    if same:
        raise KitError("--output %s: is an input (the --medium %s)" % (output, medium))


def unpack(medium, folder):
    """Copies the medium's kits into `folder`, laid out as on the medium,
    and returns the report's arguments for them. A library medium's kits
    are the ones the image's own walk finds there (its problem refuses the
    medium); every configuration is copied whole."""
    try:
        info = os.stat(medium)
    except OSError as error:
        raise KitError("--medium %s: %s (a disk image or an ISO made by make-kit-image)"
                       % (medium, "no such file" if error.errno == errno.ENOENT
                          else error.strerror))
    if not stat.S_ISREG(info.st_mode):
        raise KitError("--medium %s: not a regular file (a disk image or an ISO made by "
                       "make-kit-image)" % medium)
    try:
        target = kit_medium.fat_target(medium)
        paths = kit_medium.image_paths(target)
        startup = kit_medium.read_file(target, "startup.nsh")
    except kit_medium.MediumError as error:
        raise KitError("--medium %s: %s" % (medium, error))
    words = layout.app_words(startup) if startup is not None else None
    if words is None:
        raise KitError("--medium %s: no startup.nsh that starts %s (is it a medium made by "
                       "make-kit-image?)" % (medium, IMAGE_NAME))
    kits, verify = image_rules.option("kits"), image_rules.option("verify")
    library = kits in [w.lower() for w in words]

    # Only the kits' configurations are unpacked: -verify, which reads
    # every file of a kit, is left to the machines.
    def options_of(words):
        options = " ".join(w for w in words
                           if w.lower() not in (kits, verify))
        layout.check_app_args(options, "--medium %s: its startup.nsh" % medium)
        return options
    options = options_of(words)
    # A medium for both machines has a line for each: the report runs each
    # machine with its own processor's line.
    names = {path.lower() for path in paths}
    both = all(ARCHES[arch].image_name.lower() in names for arch in ARCHES)
    arch_args = []
    if both:
        options = options_of(layout.app_words(startup, "x64"))
        arch_args = ["--app-args-aarch64", options_of(layout.app_words(startup, "aarch64"))]
    config_name = image_rules.config_name()
    if library:
        try:
            answer = layout.medium_library(target, folder)
        except kit_medium.MediumError as error:
            raise KitError("--medium %s: %s" % (medium, error))
        if answer is not None and answer["problem"]:
            raise KitError("--medium %s: %s"
                           % (medium, image_rules.problem_text(answer["problem"])))
        if answer is None or not answer["kits"]:
            raise KitError("--medium %s: no kit under \\%s\\ (no folder there holds %s)"
                           % (medium, image_rules.library_folder(), config_name))
        kit_args = ["--kits", answer["root"]]
    else:
        limit = image_rules.rules()["bounds"]["config_bytes"]
        names = [p for p in paths if p.upper() == config_name.upper()]
        data = kit_medium.read_file(target, names[0], limit=limit + 1) if names else None
        if data is None:
            raise KitError("--medium %s: no %s at its root" % (medium, config_name))
        if len(data) > limit:
            raise KitError("--medium %s: its %s is larger than %d bytes; a kit's configuration "
                           "is a few lines" % (medium, config_name, limit))
        with open(os.path.join(folder, config_name), "wb") as f:
            f.write(data)
        unpack_listed(target, paths, folder, medium)
        kit_args = ["--kit", folder]
    return kit_args + ["--app-args", options] + arch_args + [
        "--shown-as", "%s=%s:" % (folder, medium)]


def unpack_listed(target, paths, folder, medium):
    """A kit at the medium's root with a SHA256SUMS: that file and every
    file it lists, copied into `folder` as they lie on the medium, so the
    report checks the kit as the machines will (a library's kits are
    copied whole already)."""
    names = {p.lower(): p for p in paths}
    sums_name = names.get(image_rules.sums_name().lower())
    if sums_name is None:
        return
    limit = image_rules.rules()["bounds"]["sums_bytes"]
    sums = kit_medium.read_file(target, sums_name, limit=limit + 1) or b""
    listed = [image_rules.sums_name()]
    for line in sums[:limit].decode("utf-8", "replace").splitlines():
        path = line.rstrip("\r")[66:]
        # Only names the medium holds, and never out of `folder`: the
        # image's own check then says what is wrong with the rest.
        if path and path.lower() in names and ".." not in path.split("/"):
            listed.append(names[path.lower()])
    for name in listed:
        where = os.path.join(folder, *os.path.dirname(name).split("/"))
        os.makedirs(where, exist_ok=True)
        try:
            kit_medium.copy_out(target, name, where)
        except kit_medium.MediumError as error:
            raise KitError("--medium %s: %s" % (medium, error))


def main(argv):
    """fleet-report BINARY ARGS...: runs the report BINARY with --medium
    replaced; its exit status, or 2 with one line."""
    binary, argv = argv[0], argv[1:]
    folder = None
    try:
        medium, rest = split_medium(argv)
        check_output(medium, output_of(rest))
        folder = tempfile.mkdtemp(prefix="fleet-medium-")
        extra = unpack(medium, folder)
        # Under the command's own name, as tools/fleet-report starts it.
        return subprocess.run([PROG] + extra + rest, executable=binary).returncode
    except KitError as error:
        print("%s: %s" % (PROG, error), file=sys.stderr)
        return 2
    except KeyboardInterrupt:
        return 130
    finally:
        if folder:
            shutil.rmtree(folder, ignore_errors=True)
