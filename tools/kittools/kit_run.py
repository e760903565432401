"""kit-run: boots an update kit (a folder, or a medium from make-kit-image:
a disk image as a USB stick, an ISO as a CD-ROM) in a VM and reports which
update script BiosUpdateSelect.efi chose and which shell ran it.

An update kit is a folder with UpdateConfig.ini, UpdateHWOld.nsh,
UpdateHWNew.nsh and whatever those scripts need (flash tools, BIOS files).
"""

import os
import shutil
import subprocess
import sys
import tempfile

from . import kit_medium, layout, smbios_dump, vmboot
from .common import (IMAGE_NAME, KIT_FILES, REPO, SCRIPT_MARK, SCRIPTS, START_MARK,
                     STATUS_MARK, KitError)

DEFAULT_KIT = os.path.join(REPO, "examples", "kit")
# Below the example kit's configured version (2), so by default the VM
# shows the old-BIOS update being chosen.
DEFAULT_BIOS_VERSION = "1.26"
DEFAULT_VENDOR = "Acme"

STATUS_NAMES = {"0x0": "success", "0x15": "Aborted: no decision was made",
                "0x1": "Load Error", "0x2": "Invalid Parameter", "0x3": "Unsupported",
                "0x9": "Out of Resources", "0xE": "Not Found"}


def say(text):
    print("kit-run: " + text, file=sys.stderr)


# --- Kit images ----------------------------------------------------------

def _mtools(args, image, what):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    try:
        done = subprocess.run(args[:1] + ["-i", image] + args[1:], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    except OSError:
        raise KitError("cannot %s: %s is missing (Debian package mtools)" % (what, args[0]))
    return done


def read_image_file(image, name):
    """A root file of a FAT image, or None when the image lacks it."""
    with tempfile.TemporaryDirectory(prefix="kit-read-") as tmp:
        target = os.path.join(tmp, "file")
        done = _mtools(["mcopy", "-n", "::/" + name, target], image, "read the kit image")
        if done.returncode != 0 or not os.path.isfile(target):
            return None
        with open(target, "rb") as f:
            return f.read()


def write_image_file(image, name, data):
    with tempfile.TemporaryDirectory(prefix="kit-write-") as tmp:
        source = os.path.join(tmp, name)
        with open(source, "wb") as f:
            f.write(data)
        done = _mtools(["mcopy", "-o", source, "::/" + name], image, "write the kit image")
        if done.returncode != 0:
            raise KitError("cannot write %s into %s: %s"
                           % (name, image, done.stderr.decode(errors="replace").strip()))


def prepare_kit_image(source, copy, run_scripts, app_args=None):
    """A copy of a kit image (a FAT image, or an ISO made by make-kit-image
    whose El Torito boot image is the FAT file system) with the update
    scripts as chosen, and with `app_args` on the application's line when
    given (else the image's own line stays). Returns the startup script
    the copy holds, and whether the copy has a shell of its own."""
    if not os.path.isfile(source):
        raise KitError("no kit image at %s" % source)
    shutil.copyfile(source, copy)
    if kit_medium.is_iso(copy):
        try:
            # mtools reaches a file system inside a larger file by offset.
            copy = "%s@@%d" % (copy, kit_medium.iso_fat_offset(copy))
        except kit_medium.MediumError as error:
            raise KitError("the ISO %s: %s" % (source, error))
    missing = []
    startup = None
    for name in (IMAGE_NAME, "startup.nsh") + KIT_FILES:
        data = read_image_file(copy, name)
        if data is None:
            missing.append(name)
        elif name in SCRIPTS:
            write_image_file(copy, name, layout.marked_script(name, data) if run_scripts
                             else layout.stand_in_script(name))
        elif name == "startup.nsh":
            startup = data
    if missing:
        raise KitError("the kit image %s lacks %s (is it a medium made by "
                       "tools/make-kit-image?)" % (source, ", ".join(missing)))
    if app_args is not None:
        startup = layout.startup_nsh(app_args)
        write_image_file(copy, "startup.nsh", startup)
    return startup, read_image_file(copy, "EFI/BOOT/BOOTX64.EFI") is not None


# --- Running ------------------------------------------------------------

def smbios_options(args, work):
    """QEMU options for the installed BIOS the VM shows."""
    if args.smbios_dump:
        dump = smbios_dump.read_dump(args.smbios_dump)
        try:
            structures = smbios_dump.vm_structures(dump)
        except smbios_dump.DumpError as error:
            raise KitError("%s: %s" % (args.smbios_dump, error))
        if dump.stop_reason:
            say("note: %s: the application stops reading the table where %s; "
                "the VM shows the structures before that" % (args.smbios_dump, dump.stop_reason))
        options = []
        folder = os.path.join(work, "smbios")
        os.makedirs(folder)
        for index, data in enumerate(structures):
            path = os.path.join(folder, "structure-%05d.bin" % index)
            with open(path, "wb") as f:
                f.write(data)
            options += ["-smbios", "file=" + path]
        # QEMU refuses Processor Information (type 4) structures whose
        # count differs from the VM's processor count.
        processors = sum(1 for data in structures if data[0] == 4)
        if processors > 1:
            options += ["-smp", "%d,sockets=%d,cores=1,threads=1" % (processors, processors)]
        return options
    version = args.bios_version
    if not version or any(c in version for c in "\r\n\0"):
        raise KitError("--bios-version must be non-empty text on one line")
    # A vendor string makes the version string 2 of the structure, where
    # machines keep it and the application reads it. QEMU's option syntax
    # writes a comma inside a value as two.
    return ["-smbios", "type=0,vendor=%s,version=%s,date=01/02/2024"
            % (DEFAULT_VENDOR, version.replace(",", ",,"))]


def parse_console(lines):
    """(lines between the start and status marks, scripts that ran, status
    text or None, whether the start mark was seen)."""
    started = False
    shown, scripts, status = [], [], None
    for line in lines:
        if not started:
            started = line.strip() == START_MARK
            continue
        if line.startswith(STATUS_MARK):
            status = line[len(STATUS_MARK):].replace("===", "").strip()
            break
        if line.startswith(SCRIPT_MARK):
            scripts.append(line[len(SCRIPT_MARK):].split(" ")[0])
        shown.append(line)
    while shown and not shown[-1].strip():
        shown.pop()
    return shown, scripts, status, started


MEDIUM_NAMES = {"disk": "disk", "usb-stick": "USB stick", "cdrom": "CD-ROM"}
BOOT_PATHS = {"medium": "the medium's own shell (\\EFI\\BOOT\\BOOTX64.EFI)",
              "built-in": "the firmware's built-in shell"}


def summary(scripts, status, decide_only=False, attach=None, path=None):
    if not scripts:
        # Under -n a run that succeeds has decided, and ran nothing on purpose.
        ran = "no update script ran (-n: decide only)" if decide_only else "no update script ran"
    elif len(scripts) == 1:
        ran = "%s ran" % scripts[0]
    else:
        ran = "%s ran, in that order" % ", ".join(scripts)
    name = STATUS_NAMES.get(status)
    started = ("; started from the %s by %s" % (MEDIUM_NAMES[attach], BOOT_PATHS[path])
               if attach and path else "")
    return "%s; BiosUpdateSelect.efi ended with status %s%s%s" % (
        ran, status, " (%s)" % name if name else "", started)


def cmd_run(args):
    kit = args.kit
    is_image = os.path.isfile(kit)
    if not is_image:
        layout.check_kit_dir(kit)
    if args.smbios_dump and args.bios_version is not None:
        raise KitError("give --bios-version or --smbios-dump, not both")
    if args.bios_version is None:
        args.bios_version = DEFAULT_BIOS_VERSION
    app_args = layout.check_app_args(args.app_args)
    if args.medium and not is_image:
        raise KitError("--medium is for a kit image; a kit folder boots as a disk")
    attach = "disk"
    if is_image:
        attach = args.medium or ("cdrom" if kit_medium.is_iso(kit) else "usb-stick")
        if attach == "cdrom" and not kit_medium.is_iso(kit):
            raise KitError("--medium cdrom: %s is no ISO (make one with make-kit-image "
                           "... OUT.iso)" % kit)
    missing = vmboot.missing_parts()
    if missing:
        raise KitError("cannot start a VM: missing " + ", ".join(missing))
    log_dir = os.path.abspath(args.log_dir or os.path.join(REPO, "build", "kit-run"))
    os.makedirs(log_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="kit-run-")
    try:
        smbios = smbios_options(args, work)
        if is_image:
            drive = os.path.join(work, "kit.iso" if attach == "cdrom" else "kit.img")
            startup, own_shell = prepare_kit_image(kit, drive, args.run_scripts, app_args)
        else:
            image = layout.resolve_image(args.efi, log_dir)
            drive = os.path.join(work, "kit")
            os.makedirs(drive)
            startup = layout.fill_kit_folder(kit, image, drive,
                                      "marked" if args.run_scripts else "stand-in", app_args)
            own_shell = False
        log_path = os.path.join(log_dir, "qemu-console.log")
        # The kit's startup.nsh leaves the shell at its prompt, as on a real
        # machine; the VM is switched off once the status has been shown.
        result = vmboot.boot(drive, smbios, log_path, timeout=args.timeout, attach=attach,
                             typing=[(STATUS_MARK.encode(), None), (b":\\> ", b"reset -s\r")])
    except (smbios_dump.DumpError, vmboot.VmError) as error:
        raise KitError(str(error))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    shown, scripts, status, started = parse_console(vmboot.without_shell_chatter(result.lines))
    for line in shown:
        print(line)
    if status is None:
        refusal = [line for line in result.lines if line.startswith(vmboot.QEMU_NAME + ":")]
        if refusal:
            raise KitError("QEMU refused to start: %s" % refusal[0].split(":", 1)[1].strip())
        if result.timed_out:
            why = "the VM did not finish within %d s" % args.timeout
        elif not started:
            why = "the VM never started the application"
        else:
            why = "the VM stopped before the application ended (did a script reset it?)"
        raise KitError("%s; the console log is %s" % (why, log_path))
    path = vmboot.boot_path(result.lines, before=START_MARK)
    if path == "built-in" and own_shell:
        say("note: the firmware did not start the medium's own \\EFI\\BOOT\\BOOTX64.EFI; "
            "its built-in shell ran the kit")
    print("kit-run: " + summary(scripts, status, layout.decides_only(startup), attach, path))
    return 0 if status == "0x0" else 1


def add_arguments(run):
    run.add_argument("--kit", default=DEFAULT_KIT, metavar="DIR|IMAGE",
                     help="kit folder, or a kit medium (disk image or ISO) from "
                          "make-kit-image (default: examples/kit)")
    run.add_argument("--bios-version", metavar="TEXT",
                     help="BIOS version the VM publishes (default: %s)" % DEFAULT_BIOS_VERSION)
    run.add_argument("--smbios-dump", metavar="FILE",
                     help="publish the SMBIOS structures of a `dmidecode --dump-bin` file instead")
    run.add_argument("--run-scripts", action="store_true",
                     help="run the kit's own update scripts (default: stand-ins that only "
                          "report their name)")
    run.add_argument("--app-args", metavar="TEXT",
                     help="options for BiosUpdateSelect.efi, put on its line in startup.nsh "
                          "(e.g. \"-v -segments\"); for a kit image, in place of the image's own")
    run.add_argument("--medium", choices=("usb-stick", "cdrom"),
                     help="attach a kit image as a USB stick or a CD-ROM (default: an ISO as a "
                          "CD-ROM, any other image as a USB stick); a folder is a disk")
    run.add_argument("--efi", metavar="FILE",
                     help="application image to use (default: build it, build/efi/%s)"
                          % IMAGE_NAME)
    run.add_argument("--timeout", type=int, default=180, metavar="SECONDS",
                     help="give up on the VM after this long (default: 180)")
    run.add_argument("--log-dir", metavar="DIR",
                     help="where the VM console log goes (default: build/kit-run)")
