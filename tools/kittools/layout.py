"""What goes on a kit drive: the kit's files, the application image (built
from this repository when none is given) and a startup.nsh that finds the
kit's drive, runs the application there and prints its status, so a VM
run and a USB stick boot behave alike."""

import os
import shutil
import subprocess

from . import kit_medium, vmboot
from .common import (CONFIG_NAME, IMAGE_NAME, IMAGE_OPTIONS, KIT_FILES, LIBRARY_DEPTH,
                     LIBRARY_FOLDER, LIBRARY_OPTION, REPO, SCRIPT_MARK, SCRIPTS, START_MARK,
                     STATUS_MARK, KitError)

DRIVES = 10  # fs0: to fs9:


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
    for word in text.split():
        if word.strip('"').lower() not in IMAGE_OPTIONS:
            raise KitError('%s: "%s" is not an option of %s; its options are %s'
                           % (what, word, IMAGE_NAME, ", ".join(IMAGE_OPTIONS)))
    return " ".join(text.split())


def app_line(app_args, library=False):
    """The application's line; a library medium's always passes -kits."""
    words = app_args.split() if app_args else []
    if library and LIBRARY_OPTION not in [w.strip('"').lower() for w in words]:
        words.insert(0, LIBRARY_OPTION)
    return " ".join([IMAGE_NAME] + words)


def app_words(script):
    """The words after the application's name on its line in a
    startup.nsh (quotes taken off, as the shell hands them over), or None
    when no line starts it."""
    for line in script.decode("latin-1").splitlines():
        words = line.split()
        if words and words[0].lower() == IMAGE_NAME.lower():
            return [word.strip('"') for word in words[1:]]
    return None


def decides_only(script):
    """Whether a startup.nsh starts the application with -n, which decides
    and runs no script."""
    return "-n" in [word.lower() for word in app_words(script) or ()]


def is_library_run(script):
    """Whether a startup.nsh runs the application over a kit library."""
    return LIBRARY_OPTION in [word.lower() for word in app_words(script) or ()]


def with_decide_only(script):
    """The startup.nsh with -n added to the application's own line, its
    other options kept as they are."""
    lines = script.split(b"\r\n")
    for i, line in enumerate(lines):
        words = line.decode("latin-1").split()
        if words and words[0].lower() == IMAGE_NAME.lower():
            if "-n" not in [word.strip('"').lower() for word in words[1:]]:
                lines[i] = line + b" -n"
            return b"\r\n".join(lines)
    raise KitError("the medium's startup.nsh does not start %s" % IMAGE_NAME)


def startup_nsh(app_args=None, library=False):
    """The kit drive's startup.nsh. On a real machine the kit may be any
    drive, so it looks for the one that holds both the application and the
    configuration (for a library, its kits folder), and makes its root
    current: the application reads UpdateConfig.ini from the current
    directory (with -kits, changes to the chosen kit's folder first) and
    the shell finds the update scripts there. `app_args` go on the
    application's line."""
    beside = LIBRARY_FOLDER if library else CONFIG_NAME
    lines = ["@echo -off",
             "# Update kit: find the drive with BiosUpdateSelect.efi and %s," % beside,
             "# make it current, and let BiosUpdateSelect.efi choose the update script."]
    for n in range(DRIVES):
        lines += ["if exist fs%d:\\%s then" % (n, IMAGE_NAME),
                  "  if exist fs%d:\\%s then" % (n, beside),
                  "    fs%d:" % n,
                  "    goto KIT_FOUND",
                  "  endif",
                  "endif"]
    lines += ['echo "Update kit not found: no drive fs0: to fs%d: holds %s and %s."'
              % (DRIVES - 1, IMAGE_NAME, "a %s folder" % LIBRARY_FOLDER if library
                 else CONFIG_NAME),
              "goto KIT_END",
              ":KIT_FOUND",
              "cd \\",
              'echo "%s"' % START_MARK,
              app_line(app_args, library),
              'echo "%s%%lasterror%% ==="' % STATUS_MARK,
              ":KIT_END"]
    return vmboot.startup_script(lines)


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

def default_image():
    return os.path.join(REPO, "build", "efi", IMAGE_NAME)


def build_image(log_dir):
    """Configures and builds the efi preset; a build that is up to date
    costs a fraction of a second, so a changed source never goes into a
    kit unnoticed."""
    log_path = os.path.join(log_dir, "efi-build.log")
    with open(log_path, "wb") as log:
        for command in (["cmake", "--preset", "efi"], ["cmake", "--build", "--preset", "efi"]):
            if command[1] == "--preset" and os.path.isfile(os.path.join(REPO, "build", "efi",
                                                                        "build.ninja")):
                continue
            try:
                done = subprocess.run(command, cwd=REPO, stdout=log, stderr=subprocess.STDOUT)
            except OSError as error:
                raise KitError("cannot build %s: %s: %s" % (IMAGE_NAME, command[0], error.strerror))
            if done.returncode != 0:
                raise KitError("building %s failed; see %s" % (IMAGE_NAME, log_path))
    image = default_image()
    if not os.path.isfile(image):
        raise KitError("the build made no %s; see %s" % (IMAGE_NAME, log_path))
    return image


def resolve_image(efi, log_dir):
    if efi:
        if not os.path.isfile(efi):
            raise KitError("no application image at %s" % efi)
        return efi
    return build_image(log_dir)


# --- Kit folders -------------------------------------------------------

def check_kit_dir(kit):
    if not os.path.isdir(kit):
        raise KitError("no kit folder at %s" % kit)
    missing = [f for f in KIT_FILES if not os.path.isfile(os.path.join(kit, f))]
    if missing:
        raise KitError("the kit %s lacks %s" % (kit, ", ".join(missing)))


def kit_entries(kit):
    """The kit's own files and folders, less what every kit drive gets
    from this tool (the application and startup.nsh)."""
    names = sorted(os.listdir(kit))
    replaced = [n for n in names if n.lower() in (IMAGE_NAME.lower(), "startup.nsh")]
    return [n for n in names if n not in replaced], replaced


def fill_kit_folder(kit, image, folder, scripts, app_args=None):
    """Lays out a kit drive in `folder`: the kit, the application, the
    startup script (with `app_args` on the application's line), and the
    update scripts as `scripts` says: "own" (the kit's, unchanged),
    "marked" (the kit's, reporting their name) or "stand-in" (scripts that
    only report their name). Returns the startup script."""
    entries, _ = kit_entries(kit)
    for name in entries:
        source = os.path.join(kit, name)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(folder, name))
        else:
            shutil.copyfile(source, os.path.join(folder, name))
    shutil.copyfile(image, os.path.join(folder, IMAGE_NAME))
    startup = startup_nsh(app_args)
    with open(os.path.join(folder, "startup.nsh"), "wb") as f:
        f.write(startup)
    if scripts != "own":
        replace_scripts(folder, scripts)
    return startup


# --- Kit libraries -----------------------------------------------------

def library_kits(library):
    """The kits of a library folder, as paths relative to it in sorted
    order, each checked as a kit, after the whole tree has been checked
    for what a FAT medium can hold. The kits are found as the image finds
    them on the medium (a folder holding UpdateConfig.ini, in any case, at
    most LIBRARY_DEPTH levels down, not searched further), so a kit it
    would miss or could take for two is refused here."""
    if not os.path.isdir(library):
        raise KitError("no kit library folder at %s" % library)
    try:
        tree = kit_medium.kit_tree(library)
    except kit_medium.MediumError as error:
        raise KitError(str(error))
    kits = sorted({os.path.dirname(rel) for rel, is_folder in tree
                   if not is_folder and os.path.basename(rel).upper() == CONFIG_NAME.upper()})
    if "" in kits:
        raise KitError("%s holds %s itself: it is one kit, not a library of kits (make its "
                       "medium without --kits, or put it in a folder of its own)"
                       % (library, os.path.join(library, CONFIG_NAME)))
    if not kits:
        raise KitError("no kit in the library %s (no folder under it holds %s)"
                       % (library, CONFIG_NAME))
    for kit in kits:
        path = os.path.join(library, kit)
        outer = [other for other in kits if kit.startswith(other + os.sep)]
        if outer:
            raise KitError("%s is a kit inside the kit %s: the application does not search "
                           "a kit's folders; put it beside, not inside"
                           % (path, os.path.join(library, outer[0])))
        depth = len(kit.split(os.sep))
        if depth > LIBRARY_DEPTH:
            raise KitError("%s lies %d levels down; the application searches a library at "
                           "most %d levels deep" % (path, depth, LIBRARY_DEPTH))
        check_kit_dir(path)
    return kits


def fill_library_folder(library, kits, image, folder, scripts, app_args=None):
    """Lays out a library drive in `folder`: the library as \\kits\\, laid
    out as it is, the application once at the root, the startup script
    (-kits and `app_args` on the application's line), and each kit's
    update scripts as `scripts` says (see fill_kit_folder). Returns the
    startup script."""
    shutil.copytree(library, os.path.join(folder, LIBRARY_FOLDER))
    shutil.copyfile(image, os.path.join(folder, IMAGE_NAME))
    startup = startup_nsh(app_args, library=True)
    with open(os.path.join(folder, "startup.nsh"), "wb") as f:
        f.write(startup)
    for kit in kits if scripts != "own" else ():
        replace_scripts(os.path.join(folder, LIBRARY_FOLDER, kit), scripts)
    return startup


def replace_scripts(kit_folder, scripts):
    for name in SCRIPTS:
        path = os.path.join(kit_folder, name)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(marked_script(name, data) if scripts == "marked" else stand_in_script(name))
