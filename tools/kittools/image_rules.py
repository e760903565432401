"""What the application's own code says of a kit library and of its
command line, asked of bios-update-select-kits (built from this
repository's host sources): the kits its walk finds in a folder and the
problem that stops it, its bounds, its option words and the names of its
files on a medium, the structures its walk visits in an SMBIOS dump, as
one JSON object. The tools keep no copy of those rules: each is asked
where it is used, never when a module is imported, so a tool's --help
runs no program.

The program is $BUS_KITS_QUERY when set (the tests point it at their
build), else the release build's, built here when it is missing or out of
date (a second when it is up to date, once per run of a tool)."""

import json
import os
import subprocess
import sys
import tempfile

from .common import REPO, KitError

PROGRAM = "bios-update-select-kits"
PRESET = "release"
# The most of the program's answer read: a library's kits and their names,
# or a dump's structures (about 14 bytes of answer for each byte of table
# at worst).
ANSWER_LIMIT = 64 << 20

_rules = None
_built = None


def program():
    global _built
    given = os.environ.get("BUS_KITS_QUERY")
    if given:
        return given
    if _built is not None:
        return _built
    build = os.path.join(REPO, "build", PRESET)
    if not os.path.isfile(os.path.join(build, PROGRAM)):
        print("note: building %s, which the kit tools ask the application's rules of "
              "(release build in build/%s; the first takes a minute or two) ..."
              % (PROGRAM, PRESET), file=sys.stderr)
    log_path = os.path.join(REPO, "build", "%s-build.log" % PRESET)
    os.makedirs(os.path.dirname(log_path), exist_ok=True)
    with open(log_path, "ab") as log:
        commands = [["cmake", "--build", "--preset", PRESET, "--target", PROGRAM, "-j", "2"]]
        if not os.path.isfile(os.path.join(build, "build.ninja")):
            commands.insert(0, ["cmake", "--preset", PRESET])
        for command in commands:
            try:
                done = subprocess.run(command, cwd=REPO, stdin=subprocess.DEVNULL, stdout=log,
                                      stderr=subprocess.STDOUT)
            except OSError as error:
                raise KitError("cannot build %s: %s: %s" % (PROGRAM, command[0], error.strerror))
            if done.returncode != 0:
                raise KitError("building %s failed; see %s" % (PROGRAM, log_path))
    _built = os.path.join(build, PROGRAM)
    return _built


def _ask(arguments):
    # The answer is read as it comes, and no further than ANSWER_LIMIT: a
    # dump's structures could otherwise make it as large as memory.
    try:
        with tempfile.TemporaryFile() as errors:
            with subprocess.Popen([program()] + arguments, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=errors) as process:
                chunks, size = [], 0
                while size <= ANSWER_LIMIT:
                    chunk = process.stdout.read1(1 << 20)
                    if not chunk:
                        break
                    chunks.append(chunk)
                    size += len(chunk)
                if size > ANSWER_LIMIT:
                    process.kill()
                returncode = process.wait()
            errors.seek(0)
            error_text = errors.read(1 << 16)
    except OSError as error:
        raise KitError("cannot run %s: %s" % (PROGRAM, error.strerror))
    if size > ANSWER_LIMIT:
        raise KitError("%s answered more than %d bytes" % (PROGRAM, ANSWER_LIMIT))
    if returncode != 0:
        lines = error_text.decode(errors="replace").strip().splitlines()
        line = lines[-1] if lines else "%s failed" % PROGRAM
        # The tool that asked names itself; the program's name is noise.
        raise KitError(line[len(PROGRAM) + 2:] if line.startswith(PROGRAM + ": ") else line)
    try:
        return json.loads(b"".join(chunks).decode())
    except ValueError:
        raise KitError("%s answered no JSON" % PROGRAM)


def rules():
    """The image's bounds, option words and file names: {"bounds": {...},
    "options": [...], "value_options": [...], "option_words": {name: word},
    "file_names": {...}}."""
    global _rules
    if _rules is None:
        _rules = _ask([])
    return _rules


def option(name):
    """The image's word for the option that switches `name` on: "kits",
    "verify", "log", "smbios3", "decide_only", "product", ... ("-kits")."""
    return rules()["option_words"][name]


def file_names():
    """The names the image gives its files on a medium: {"config": the
    configuration, "scripts": {"old": ..., "new": ...}, "sums": a kit's
    digest list, "library": the folder of a library's kits}."""
    return rules()["file_names"]


def config_name():
    """The kit's configuration file, as the image opens it."""
    return file_names()["config"]


def scripts():
    """The two update scripts: the one an older BIOS gets, then the other."""
    names = file_names()["scripts"]
    return (names["old"], names["new"])


def kit_files():
    """What every kit holds: its configuration and the two scripts."""
    return (config_name(),) + scripts()


def sums_name():
    """The list of a kit's files and their digests that -verify reads."""
    return file_names()["sums"]


def library_folder():
    """The folder -kits searches for kits, at the medium's root."""
    return file_names()["library"]


def library(folder):
    """The image's walk over `folder` served as its kits folder: "kits"
    (each with "path" as the image names it, "folder" on the host and
    "product_names"), "problem" (None, or "kind", "where", "folder" and
    the image's "line"), and the rules."""
    # A name beginning with '-' would be taken for an option.
    return _ask([os.path.join(".", folder) if folder.startswith("-") else folder])


def check_kit(folder):
    """The image's -verify check of the kit in `folder` against its
    SHA256SUMS: "intact", "line" (the image's ERROR line, or its -v line),
    "identity" (the SHA-256 of SHA256SUMS, "" when unread), "files" and
    "notes" (a line for each file it does not list)."""
    return _ask(["--check-kit", os.path.join(".", folder) if folder.startswith("-") else folder])


def model_keys(folder):
    """The kit's model keys as the image reads them: "product_names" and
    "hardware_ids" (None when the kit lacks the key). A HardwareIds= entry
    the image's model check refuses raises KitError with its line."""
    return _ask(["--model-keys", os.path.join(".", folder) if folder.startswith("-") else folder])


def dumps(paths):
    """Each SMBIOS dump in `paths` (none beginning with '-') as the image
    walks it: "dumps", in order, each with "problem" (the line that makes
    it unusable, or None), "entry_point", "version", "declared_count",
    "table_length", "structures" ("offset", "type", "handle", "bytes" in
    hex) and "stop" (None, or "kind", "offset" and the "line" saying why
    the walk ended early); "types", the structure types by name; and
    "table_limit", the largest table taken."""
    return _ask(["--dump"] + list(paths))


def problem_text(problem):
    """The image's line for a problem, without its "ERROR: "."""
    line = problem["line"]
    return line[len("ERROR: "):] if line.startswith("ERROR: ") else line
