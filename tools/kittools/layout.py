"""What goes on a kit drive: the kit's files, the application image (built
from this repository when none is given) and a startup.nsh that finds the
kit's drive, runs the application there and prints its status, so a VM
run and a USB stick boot behave alike.

A drive for one machine holds its image as BiosUpdateSelect.efi. A drive
for x64 and AArch64 holds both images, each under its machine's name, and
its startup.nsh starts the one this machine's firmware loads: firmware
refuses an image for another processor with Unsupported, and the shell
then abandons the script that tried it. So the script tries each image
in a nested script of its own (BiosUpdateSelectProbe.nsh, deciding only,
its output caught in a shell variable): a refusal ends that script with
%lasterror% 0x3, and startup.nsh goes on to the next machine's image."""

import hashlib
import os
import shutil
import subprocess

from . import image_rules, kit_medium, safe_files, vmboot
from .common import (ARCHES, DEFAULT_ARCH, IMAGE_NAME, PROBE_NAME, RECORD_NAME, REPO,
                     SCRIPT_MARK, START_MARK, STATUS_MARK, TOOL_NAMES, KitError, image_name)

DRIVES = 10  # fs0: to fs9:
PROBE_VARIABLE = "BiosUpdateSelectProbe"
# The names an application line may start with.
IMAGE_NAMES = tuple(name.lower() for name in TOOL_NAMES if name.lower().endswith(".efi"))


def check_app_args(text, what="--app-args"):
    """The application's options as they go on its line in startup.nsh.
    The script is ASCII, one command per line: anything else would end
    the line early or make the shell read the script as something else.
    Every word must be one of the image's options: the image ignores any
    other, so a misspelt `-prodcut` would leave the product check off."""
    if text is None:
        return None
    if any(not " " <= c <= "~" for c in text):
        raise KitError("%s must be printable ASCII on one line" % what)
    rules = image_rules.rules()
    value_options = rules["value_options"]
    image_options = rules["options"] + value_options
    words = text.split()
    value = False
    for i, word in enumerate(words):
        if value:
            value = False   # -log's FILE
            continue
        option = word.strip('"').lower()
        if option in value_options and i + 1 == len(words):
            raise KitError("%s: %s needs its value after it" % (what, word))
        value = option in value_options
        if option not in image_options:
            raise KitError('%s: "%s" is not an option of %s; its options are %s'
                           % (what, word, IMAGE_NAME, ", ".join(
                               o + (" FILE" if o in value_options else "") for o in image_options)))
    return " ".join(words)


def arch_options(arch, app_args):
    """The machine's own options (ARCHES) that `app_args` lack, as text."""
    given = [word.strip('"').lower() for word in (app_args or "").split()]
    words = [image_rules.option(name) for name in ARCHES[arch].options]
    return " ".join(w for w in words if w.lower() not in given)


def app_line(app_args, library=False, arch=DEFAULT_ARCH, arches=(DEFAULT_ARCH,)):
    """The application's line; a library medium's always passes -kits, and
    each machine's its own options (ARCHES)."""
    words = app_args.split() if app_args else []
    kits = image_rules.option("kits")
    if library and kits not in [w.strip('"').lower() for w in words]:
        words.insert(0, kits)
    extra = arch_options(arch, app_args)
    return " ".join([image_name(arch, arches)] + ([extra] if extra else []) + words)


def app_words(script, arch=None):
    """The words after the application's name on its line in a
    startup.nsh (quotes taken off, as the shell hands them over), or None
    when no line starts it. On a medium for several machines, `arch`
    picks that machine's line."""
    lines = [line.split() for line in script.decode("latin-1").splitlines()]
    lines = [words for words in lines if words and words[0].lower() in IMAGE_NAMES]
    own = [words for words in lines if arch and words[0].lower() == ARCHES[arch].image_name.lower()]
    for words in own + lines:
        return [word.strip('"') for word in words[1:]]
    return None


def with_record(app_args):
    """The application's options with the run record at the medium's root
    added (make-kit-image --log), unless they name a record file of their
    own."""
    log = image_rules.option("log")
    if log in (app_args or "").lower().split():
        return app_args
    return " ".join(filter(None, [app_args, "%s \\%s" % (log, RECORD_NAME)]))


def with_verify(app_args, verify=True):
    """The application's options with -verify added (make-kit-image's and
    kit-run's default); with `verify` false, checked to be without it."""
    words = [word.strip('"').lower() for word in (app_args or "").split()]
    verify_word = image_rules.option("verify")
    if not verify:
        if verify_word in words:
            raise KitError("--no-verify leaves %s out, but --app-args has it" % verify_word)
        return app_args
    if verify_word in words:
        return app_args
    return " ".join(filter(None, [verify_word, app_args]))


def keeps_record(script):
    """Whether a startup.nsh has the application keep a run record."""
    return image_rules.option("log") in [word.lower() for word in app_words(script) or ()]


def record_path(script, arch=None):
    """Where on the medium the record of a startup.nsh's line goes
    ("rollout.jsonl", "logs/run.jsonl"): -log's FILE from the root, or
    from the current folder, which is the root unless the line chooses a
    kit from a library (None then, as for a line without -log). The last
    -log counts, as in the image."""
    words = app_words(script, arch) or []
    lowered = [word.lower() for word in words]
    log = image_rules.option("log")
    if log not in lowered:
        return None
    at = len(lowered) - 1 - lowered[::-1].index(log)
    if at + 1 >= len(words):
        return None
    name = words[at + 1].replace("\\", "/")
    if not name.startswith("/") and image_rules.option("kits") in lowered:
        return None
    return name.lstrip("/") or None


def decides_only(script):
    """Whether a startup.nsh starts the application with -n, which decides
    and runs no script."""
    return image_rules.option("decide_only") in [word.lower() for word in app_words(script) or ()]


def is_library_run(script):
    """Whether a startup.nsh runs the application over a kit library."""
    return image_rules.option("kits") in [word.lower() for word in app_words(script) or ()]


def with_decide_only(script):
    """The startup.nsh with -n added to the application's own lines (one
    per machine the medium serves), their other options kept as they
    are."""
    lines = script.split(b"\r\n")
    found = False
    decide_only = image_rules.option("decide_only")
    for i, line in enumerate(lines):
        words = line.decode("latin-1").split()
        if words and words[0].lower() in IMAGE_NAMES:
            found = True
            if decide_only not in [word.strip('"').lower() for word in words[1:]]:
                lines[i] = line + b" " + decide_only.encode("ascii")
    if not found:
        raise KitError("the medium's startup.nsh does not start %s" % IMAGE_NAME)
    return b"\r\n".join(lines)


def startup_nsh(app_args=None, library=False, arches=(DEFAULT_ARCH,)):
    """The kit drive's startup.nsh. On a real machine the kit may be any
    drive, so it looks for the one that holds both the application and the
    configuration (for a library, its kits folder), and makes its root
    current: the application reads UpdateConfig.ini from the current
    directory (with -kits, changes to the chosen kit's folder first) and
    the shell finds the update scripts there. `app_args` go on the
    application's line, after the options of the machine it is for. A
    drive for several machines first finds the image this machine's
    firmware starts."""
    library_folder, config_name = image_rules.library_folder(), image_rules.config_name()
    beside = library_folder if library else config_name
    found = image_name(arches[0], arches)
    lines = ["@echo -off",
             "# Update kit: find the drive with %s and %s," % (found, beside),
             "# make it current, and let BiosUpdateSelect.efi choose the update script."]
    for n in range(DRIVES):
        lines += ["if exist fs%d:\\%s then" % (n, found),
                  "  if exist fs%d:\\%s then" % (n, beside),
                  "    fs%d:" % n,
                  "    goto KIT_FOUND",
                  "  endif",
                  "endif"]
    lines += ['echo "Update kit not found: no drive fs0: to fs%d: holds %s and %s."'
              % (DRIVES - 1, found, "a %s folder" % library_folder if library
                 else config_name),
              "goto KIT_END",
              ":KIT_FOUND",
              "cd \\"]
    if len(arches) == 1:
        lines += run_lines(app_args, library, arches[0], arches)
    else:
        lines += ["# Firmware starts images for its own processor only, and refuses any",
                  "# other with Unsupported (0x3). Each try runs in %s," % PROBE_NAME,
                  "# where a refusal ends that script instead of this one. Its output goes",
                  "# to a variable: redirecting to nul stalls the shell on a read-only medium."]
        for arch in arches:
            lines += ["%s %s >v %s" % (PROBE_NAME, image_name(arch, arches), PROBE_VARIABLE),
                      "if not %lasterror% == 0x3 then",
                      "  goto KIT_%s" % arch.upper(),
                      "endif"]
        lines += ['echo "Update kit: this machine\'s firmware starts none of %s."'
                  % ", ".join(image_name(arch, arches) for arch in arches),
                  "goto KIT_END"]
        for arch in arches:
            lines += [":KIT_%s" % arch.upper()] + run_lines(app_args, library, arch, arches)
            if arch != arches[-1]:
                lines.append("goto KIT_END")
    lines.append(":KIT_END")
    return vmboot.startup_script(lines)


def run_lines(app_args, library, arch, arches):
    # After a library run `cd` shows the folder the run left the shell in:
    # the chosen kit's, or the root when none was chosen.
    return ['echo "%s"' % START_MARK,
            app_line(app_args, library, arch, arches),
            'echo "%s%%lasterror%% ==="' % STATUS_MARK] + (["cd"] if library else [])


def probe_script():
    """BiosUpdateSelectProbe.nsh IMAGE: starts IMAGE deciding only (-n
    runs no update script); startup.nsh keeps what it prints out of sight
    and reads %lasterror%."""
    return vmboot.startup_script([
        "# Written by make-kit-image: startup.nsh tries each machine's image here,",
        "# so that firmware refusing one abandons this script, not startup.nsh.",
        "%1 -n"])


def stand_in_script(name):
    """A script that reports its name and, on the next line, the folder it
    runs in (`cd` alone prints the current directory, e.g.
    FS0:\\kits\\model7-tower): the folder the application chose."""
    return vmboot.startup_script([
        "# Stand-in written by kit-run: reports its name instead of updating.",
        'echo "%s%s (stand-in; the kit\'s own script was not run)"' % (SCRIPT_MARK, name),
        "cd"])


def marked_script(name, data):
    """The kit's own script with two lines in front that report its name
    and the folder it runs in. The shell also runs scripts saved as UTF-16
    with a byte-order mark; the added lines then have to be UTF-16 too."""
    lines = 'echo "%s%s"\r\ncd\r\n' % (SCRIPT_MARK, name)
    if data.startswith(b"\xff\xfe"):
        return b"\xff\xfe" + lines.encode("utf-16-le") + data[2:]
    return lines.encode("ascii") + data


# --- The application image ---------------------------------------------

def default_image(arch=DEFAULT_ARCH):
    return os.path.join(REPO, "build", ARCHES[arch].preset, IMAGE_NAME)


def build_image(log_dir, arch=DEFAULT_ARCH):
    """Configures and builds the machine's efi preset; a build that is up
    to date costs a fraction of a second, so a changed source never goes
    into a kit unnoticed."""
    preset = ARCHES[arch].preset
    log_path = os.path.join(log_dir, "%s-build.log" % preset)
    with safe_files.NewFile(log_path, "the build log") as log:
        for command in (["cmake", "--preset", preset], ["cmake", "--build", "--preset", preset]):
            if command[1] == "--preset" and os.path.isfile(os.path.join(REPO, "build", preset,
                                                                        "build.ninja")):
                continue
            try:
                done = subprocess.run(command, cwd=REPO, stdout=log, stderr=subprocess.STDOUT)
            except OSError as error:
                raise KitError("cannot build %s: %s: %s" % (IMAGE_NAME, command[0], error.strerror))
            if done.returncode != 0:
                raise KitError("building %s failed; see %s" % (IMAGE_NAME, log_path))
    image = default_image(arch)
    if not os.path.isfile(image):
        raise KitError("the build made no %s; see %s" % (IMAGE_NAME, log_path))
    return image


def resolve_image(efi, log_dir, arch=DEFAULT_ARCH):
    if efi:
        if not os.path.isfile(efi):
            raise KitError("no application image at %s" % efi)
        return efi
    return build_image(log_dir, arch)


# --- Kit folders -------------------------------------------------------

def check_kit_dir(kit):
    if not os.path.isdir(kit):
        raise KitError("no kit folder at %s" % kit)
    # FAT ignores case, and so does the shell that opens them.
    files = {name.upper() for name in os.listdir(kit)
             if os.path.isfile(os.path.join(kit, name))}
    missing = [f for f in image_rules.kit_files() if f.upper() not in files]
    if missing:
        raise KitError("the kit %s lacks %s" % (kit, ", ".join(missing)))
    check_hardware_ids(kit)


def check_hardware_ids(kit):
    """A malformed HardwareIds= entry makes the image refuse the kit on
    every machine (and, in a library, refuse to choose any kit): refuse the
    medium instead, by the image's own reading and model check."""
    image_rules.model_keys(kit)


def kit_entries(kit):
    """The kit's own files and folders, less what every kit drive gets
    from this tool (the application images, startup.nsh and the probe)."""
    names = sorted(os.listdir(kit))
    ours = [name.lower() for name in TOOL_NAMES]
    replaced = [n for n in names if n.lower() in ours]
    return [n for n in names if n not in replaced], replaced


def place_images(image, folder):
    """Copies the application to the drive's root: `image` is the x64
    image's path, or {machine: path} for the machines the drive serves
    (with the probe script when they are several). Returns the machines."""
    images = image if isinstance(image, dict) else {DEFAULT_ARCH: image}
    arches = tuple(arch for arch in ARCHES if arch in images)
    for arch in arches:
        shutil.copyfile(images[arch], os.path.join(folder, image_name(arch, arches)))
    if len(arches) > 1:
        with open(os.path.join(folder, PROBE_NAME), "wb") as f:
            f.write(probe_script())
    return arches


def fill_kit_folder(kit, image, folder, scripts, app_args=None, shown=None):
    """Lays out a kit drive in `folder`: the kit, the application (see
    place_images), the startup script (with `app_args` on the
    application's line), and the update scripts as `scripts` says: "own"
    (the kit's, unchanged), "marked" (the kit's, reporting their name) or
    "stand-in" (scripts that only report their name). A copy that cannot
    be written is named as `shown` (default: `folder`). Returns the startup
    script."""
    _, replaced = kit_entries(kit)
    safe_files.copy_tree(kit, folder, shown or folder, skip=[name.lower() for name in replaced])
    arches = place_images(image, folder)
    startup = startup_nsh(app_args, arches=arches)
    with open(os.path.join(folder, "startup.nsh"), "wb") as f:
        f.write(startup)
    if scripts != "own":
        replace_scripts(folder, scripts)
    return startup


# --- Kit libraries -----------------------------------------------------

def library_kits(library):
    """The kits of a library folder, as paths relative to it in the order
    the image finds them, each checked as a kit, after the whole tree has
    been checked for what a FAT medium can hold. The kits are the ones
    the image's own walk finds (image_rules), and its problems refuse the
    library; a configuration it would pass over (inside a kit, or deeper
    than it searches) is refused here, since it was surely meant as a kit."""
    if not os.path.isdir(library):
        raise KitError("no kit library folder at %s" % library)
    try:
        tree = kit_medium.kit_tree(library)
    except kit_medium.MediumError as error:
        raise KitError(str(error))
    config_name = image_rules.config_name()
    configs = {os.path.dirname(rel) for rel, is_folder in tree
               if not is_folder and os.path.basename(rel).upper() == config_name.upper()}
    if "" in configs:
        raise KitError("%s holds %s itself: it is one kit, not a library of kits (make its "
                       "medium without --kits, or put it in a folder of its own)"
                       % (library, os.path.join(library, config_name)))
    answer = image_rules.library(library)
    if answer["problem"]:
        raise KitError("%s: %s"
                       % (library, image_rules.problem_text(answer["problem"])))
    kits = [os.path.relpath(kit["folder"], library) for kit in answer["kits"]]
    depth = answer["bounds"]["depth"]
    for missed in sorted(configs - set(kits)):
        path = os.path.join(library, missed)
        outer = [kit for kit in kits if missed.startswith(kit + os.sep)]
        if outer:
            raise KitError("%s is a kit inside the kit %s: the application does not search "
                           "a kit's folders; put it beside, not inside"
                           % (path, os.path.join(library, outer[0])))
        raise KitError("%s lies %d levels down; the application searches a library at "
                       "most %d levels deep" % (path, len(missed.split(os.sep)), depth))
    if not kits:
        raise KitError("no kit in the library %s (no folder under it holds %s)"
                       % (library, config_name))
    for kit in kits:
        check_kit_dir(os.path.join(library, kit))
    return kits


def medium_library(target, work):
    """The image's walk (image_rules.library) over the \\kits folder of
    the FAT file system `target` (kit_medium.fat_target), copied whole into
    the host folder `work` first (its copy is "root"); each kit also gets
    its "medium_path" ("kits/a/b"). None when the medium has no kits folder."""
    library_folder = image_rules.library_folder()
    kit_medium.copy_out(target, library_folder, work)
    names = [n for n in os.listdir(work) if n.lower() == library_folder.lower()]
    if not names or not os.path.isdir(os.path.join(work, names[0])):
        return None
    answer = image_rules.library(os.path.join(work, names[0]))
    answer["root"] = os.path.join(work, names[0])
    for kit in answer["kits"]:
        kit["medium_path"] = kit["path"].replace("\\", "/")
    return answer


def fill_library_folder(library, kits, image, folder, scripts, app_args=None, shown=None):
    """Lays out a library drive in `folder`: the library as \\kits\\, laid
    out as it is, the application once at the root (see place_images), the startup script
    (-kits and `app_args` on the application's line), and each kit's
    update scripts as `scripts` says (see fill_kit_folder). Returns the
    startup script."""
    kits_folder = os.path.join(folder, image_rules.library_folder())
    os.mkdir(kits_folder)
    safe_files.copy_tree(library, kits_folder, shown or folder)
    arches = place_images(image, folder)
    startup = startup_nsh(app_args, library=True, arches=arches)
    with open(os.path.join(folder, "startup.nsh"), "wb") as f:
        f.write(startup)
    for kit in kits if scripts != "own" else ():
        replace_scripts(os.path.join(kits_folder, kit), scripts)
    return startup


# --- SHA256SUMS (-verify) -----------------------------------------------

def own_sums(kit):
    """The kit folder's own SHA256SUMS (any case), or None."""
    sums_name = image_rules.sums_name().upper()
    for name in os.listdir(kit):
        if name.upper() == sums_name and os.path.isfile(os.path.join(kit, name)):
            return os.path.join(kit, name)
    return None


def check_own_sums(kit):
    """A kit that brings its own SHA256SUMS is checked against it by the
    image's own check (image_rules): one that does not match stops the
    medium, since every machine would refuse it."""
    sums = own_sums(kit)
    if sums is None:
        return None
    answer = image_rules.check_kit(kit)
    if not answer["intact"]:
        raise KitError("%s: the kit does not match it: %s"
                       % (sums, image_rules.problem_text(answer)))
    return sums


def write_sums(source, folder, skip=(), replaced=()):
    """Writes SHA256SUMS into `folder`, the drive's copy of the kit
    `source`: every file that came from `source` (less `skip`, root names
    in lower case that the drive gets from the tools, and `replaced`, '/'
    paths in lower case that the tools overwrote), by its '/' path from the
    kit's folder, sorted, hashed as it lies on the drive, in the form
    sha256sum writes and -verify reads. A SHA256SUMS the kit brought is
    replaced."""
    sums_name = image_rules.sums_name()
    try:
        tree = kit_medium.kit_tree(source, skip=tuple(skip) + (sums_name.lower(),))
    except kit_medium.MediumError as error:
        raise KitError(str(error))
    paths = sorted(rel.replace(os.sep, "/") for rel, is_folder in tree
                   if not is_folder and rel.replace(os.sep, "/").lower() not in replaced)
    old = own_sums(folder)
    if old is not None:
        os.remove(old)
    lines = []
    for rel in paths:
        digest = hashlib.sha256()
        with open(os.path.join(folder, *rel.split("/")), "rb") as f:
            for chunk in iter(lambda: f.read(1 << 20), b""):
                digest.update(chunk)
        lines.append("%s  %s\n" % (digest.hexdigest(), rel))
    text = "".join(lines).encode("utf-8")
    bounds = image_rules.rules()["bounds"]
    if len(lines) > bounds["sums_lines"] or len(text) > bounds["sums_bytes"]:
        raise KitError("%s: %d files; -verify reads at most %d lines or %d bytes of %s (make "
                       "the medium with --no-verify)" % (source, len(lines), bounds["sums_lines"],
                                                         bounds["sums_bytes"], sums_name))
    with open(os.path.join(folder, sums_name), "wb") as f:
        f.write(text)
    return len(lines)


def restamp_sums(sums, name, old, new):
    """SHA256SUMS (bytes) with the digest of the script `name`, replaced
    on a copy of the medium from `old` to `new`, brought along: only
    where the line held `old`'s digest, so a script that was damaged
    stays refused."""
    before = hashlib.sha256(old).hexdigest().encode()
    lines = sums.split(b"\n")
    for i, line in enumerate(lines):
        path = line[66:].rstrip(b"\r")
        if line[:64] == before and line[64:66] in (b"  ", b" *") and path.lower() == name.lower().encode():
            lines[i] = hashlib.sha256(new).hexdigest().encode() + line[64:]
    return b"\n".join(lines)


def replace_scripts(kit_folder, scripts):
    for name in image_rules.scripts():
        path = os.path.join(kit_folder, name)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(marked_script(name, data) if scripts == "marked" else stand_in_script(name))
    # A kit's own SHA256SUMS is replaced by one of the copy (write_sums).
