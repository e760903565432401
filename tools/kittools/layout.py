"""What goes on a kit drive: the kit's files, the application image (built
from this repository when none is given) and a startup.nsh that finds the
kit's drive, runs the application there and prints its status, so a VM
run and a USB stick boot behave alike."""

import os
import shutil
import subprocess

from . import vmboot
from .common import (CONFIG_NAME, IMAGE_NAME, KIT_FILES, REPO, SCRIPT_MARK, SCRIPTS,
                     START_MARK, STATUS_MARK, KitError)

DRIVES = 10  # fs0: to fs9:


def check_app_args(text):
    """The application's options as they go on its line in startup.nsh.
    The script is ASCII, one command per line: anything else would end
    the line early or make the shell read the script as something else."""
    if text is None:
        return None
    if any(not " " <= c <= "~" for c in text):
        raise KitError("--app-args must be printable ASCII on one line")
    return " ".join(text.split())


def app_line(app_args):
    return IMAGE_NAME + (" " + app_args if app_args else "")


def decides_only(script):
    """Whether a startup.nsh starts the application with -n, which decides
    and runs no script; the shell hands the option over in any case."""
    for line in script.decode("latin-1").splitlines():
        words = line.split()
        if words and words[0].lower() == IMAGE_NAME.lower():
            return any(word.strip('"').lower() == "-n" for word in words[1:])
    return False


def startup_nsh(app_args=None):
    """The kit drive's startup.nsh. On a real machine the kit may be any
    drive, so it looks for the one that holds both the application and the
    configuration, and makes it current: the application reads
    UpdateConfig.ini from the current directory and the shell finds the
    update scripts there. `app_args` go on the application's line."""
    lines = ["@echo -off",
             "# Update kit: find the drive with BiosUpdateSelect.efi and UpdateConfig.ini,",
             "# make it current, and let BiosUpdateSelect.efi choose the update script."]
    for n in range(DRIVES):
        lines += ["if exist fs%d:\\%s then" % (n, IMAGE_NAME),
                  "  if exist fs%d:\\%s then" % (n, CONFIG_NAME),
                  "    fs%d:" % n,
                  "    goto KIT_FOUND",
                  "  endif",
                  "endif"]
    lines += ['echo "Update kit not found: no drive fs0: to fs%d: holds %s and %s."'
              % (DRIVES - 1, IMAGE_NAME, CONFIG_NAME),
              "goto KIT_END",
              ":KIT_FOUND",
              "cd \\",
              'echo "%s"' % START_MARK,
              app_line(app_args),
              'echo "%s%%lasterror%% ==="' % STATUS_MARK,
              ":KIT_END"]
    return vmboot.startup_script(lines)


def stand_in_script(name):
    return vmboot.startup_script([
        "# Stand-in written by kit-run: reports its name instead of updating.",
        'echo "%s%s (stand-in; the kit\'s own script was not run)"' % (SCRIPT_MARK, name)])


def marked_script(name, data):
    """The kit's own script with one line in front that reports its name.
    The shell also runs scripts saved as UTF-16 with a byte-order mark;
    the added line then has to be UTF-16 too."""
    line = 'echo "%s%s"\r\n' % (SCRIPT_MARK, name)
    if data.startswith(b"\xff\xfe"):
        return b"\xff\xfe" + line.encode("utf-16-le") + data[2:]
    return line.encode("ascii") + data


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
    for name in SCRIPTS if scripts != "own" else ():
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(marked_script(name, data) if scripts == "marked" else stand_in_script(name))
    return startup
