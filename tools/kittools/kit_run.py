"""kit-run: boots an update kit (a folder, or a medium from make-kit-image:
a disk image as a USB stick, an ISO as a CD-ROM) or a library of kits (a
folder of kits, or a library medium) in a VM as a given machine, x64 or
AArch64 (--arch), and reports the kit the application chose, the update
script it ran, the options it ran with and which shell ran it.

An update kit is a folder with UpdateConfig.ini, UpdateHWOld.nsh,
UpdateHWNew.nsh and whatever those scripts need (flash tools, BIOS files).
"""

import errno
import os
import re
import shutil
import signal
import sys
import tempfile

from . import image_rules, kit_medium, layout, pe_image, safe_files, smbios_dump, vmboot
from .progress import Progress
from .common import (ARCHES, DEFAULT_ARCH, IMAGE_NAME, REPO, SCRIPT_MARK, START_MARK,
                     STATUS_MARK, TOOL_NAMES, KitError)

# The most of a medium's run record read back.
RECORD_LIMIT = 1 << 24

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

def medium_arches(copy, paths):
    """The machines a kit medium serves, from the images it holds: each
    machine's named image, or BiosUpdateSelect.efi by its PE machine."""
    found = tuple(arch for arch in ARCHES if ARCHES[arch].image_name.lower() in paths)
    if found or IMAGE_NAME.lower() not in paths:
        return found
    machine = pe_image.application_machine(
        kit_medium.read_file(copy, paths[IMAGE_NAME.lower()], limit=1 << 24))
    return tuple(arch for arch in ARCHES if ARCHES[arch].pe_machine == machine) or (DEFAULT_ARCH,)


def prepare_kit_image(source, copy, run_scripts, app_args=None, decide_only=False,
                      arch=DEFAULT_ARCH):
    """A copy of a kit medium (a FAT image, or an ISO made by make-kit-image
    whose El Torito boot image is the FAT file system) with the update
    scripts of its kit, or of every kit of its library, as chosen, and
    with `app_args` on the application's line when given (else the
    medium's own line stays; `decide_only` adds -n to it). Returns the
    startup script the copy holds, and whether the copy has a shell of
    its own for the VM's machine `arch`."""
    if not os.path.isfile(source):
        raise KitError("no kit image at %s" % source)
    shutil.copyfile(source, copy)
    work = os.path.dirname(os.path.abspath(copy))
    try:
        copy = kit_medium.fat_target(copy)
        paths = {p.lower(): p for p in kit_medium.image_paths(copy)}
        startup = kit_medium.read_file(copy, "startup.nsh")
        library = startup is not None and layout.is_library_run(startup)
        folders = [""]
        if library:
            # The kits the image finds on this medium, as its own walk finds them.
            answer = layout.medium_library(copy, tempfile.mkdtemp(prefix="kits-", dir=work))
            if answer and answer["problem"]:
                # Booted all the same: the VM shows the machine refusing it.
                say("note: the application chooses no kit from this medium: %s"
                    % image_rules.problem_text(answer["problem"]))
            folders = [kit["medium_path"] for kit in answer["kits"]] if answer else []
        arches = medium_arches(copy, paths)
        missing = [] if arches else [IMAGE_NAME]
        missing += [name for name in ("startup.nsh",) if name.lower() not in paths]
        if library and not folders:
            missing.append("a kit under \\%s\\" % image_rules.library_folder())
        sums_name, scripts = image_rules.sums_name(), image_rules.scripts()
        for folder in folders:
            sums_path = (folder + "/" + sums_name if folder else sums_name).lower()
            sums = kit_medium.read_file(
                copy, paths[sums_path], limit=image_rules.rules()["bounds"]["sums_bytes"] + 1) \
                if sums_path in paths else None
            for name in image_rules.kit_files():
                path = (folder + "/" + name if folder else name).lower()
                if path not in paths:
                    missing.append(path.replace("/", "\\") if folder else name)
                elif name in scripts:
                    data = kit_medium.read_file(copy, paths[path], limit=1 << 24)
                    new = layout.marked_script(name, data) if run_scripts \
                        else layout.stand_in_script(name)
                    kit_medium.write_file(copy, paths[path], new)
                    if sums is not None:
                        # -verify checks the copy's scripts as the medium's.
                        sums = layout.restamp_sums(sums, name, data, new)
            if sums is not None:
                kit_medium.write_file(copy, paths[sums_path], sums)
        if missing:
            raise KitError("the kit image %s lacks %s (is it a medium made by "
                           "tools/make-kit-image?)" % (source, ", ".join(missing)))
        if arch not in arches:
            raise KitError("the kit image %s holds no image for %s, only for %s (make it with "
                           "make-kit-image --arch %s)"
                           % (source, ARCHES[arch].title,
                              ", ".join(ARCHES[a].title for a in arches),
                              ",".join(a for a in ARCHES if a in arches or a == arch)))
        if app_args is not None:
            own = layout.app_words(startup, arch) if startup is not None else None
            # A medium made with --log keeps its record under other options too.
            if layout.keeps_record(startup):
                app_args = layout.with_record(app_args)
            startup = layout.startup_nsh(app_args, library, arches)
            if own is not None and own != layout.app_words(startup, arch):
                # The dry run may then decide by another rule than the medium.
                say("note: --app-args replaces the medium's own options (%s); --decide-only "
                    "adds -n to them instead" % (" ".join(own) or "none"))
        if decide_only:
            startup = layout.with_decide_only(startup)
        if app_args is not None or decide_only:
            kit_medium.write_file(copy, "startup.nsh", startup)
    except kit_medium.MediumError as error:
        raise KitError("the medium %s: %s" % (source, error))
    return startup, "efi/boot/" + ARCHES[arch].boot_name.lower() in paths


# --- Running ------------------------------------------------------------

def smbios_options(args, work, smbios3=False):
    """QEMU options for the installed BIOS the VM shows, and the machine
    options it needs: a dump with only a 3.x entry point is shown on x64
    through a 3.x entry point too when the application's line (`smbios3`)
    reads it there, as that machine's firmware would have it read."""
    machine = []
    if args.smbios_dump and args.arch == "aarch64":
        say("note: the AArch64 VM's firmware publishes SMBIOS through the 3.x entry point only: "
            "it shows the dump's structures there, whatever entry point the dump came with, "
            "and the AArch64 image reads them with %s, to the End-of-Table structure; "
            "a 2.x dump's structure count takes no part" % image_rules.option("smbios3"))
    if args.smbios_dump:
        dump = smbios_dump.read_dump(args.smbios_dump)
        try:
            structures = smbios_dump.vm_structures(dump, args.arch, smbios3)
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
            options += ["-smbios", "file=" + vmboot.qemu_value(path)]
        # QEMU refuses Processor Information (type 4) structures whose
        # count differs from the VM's processor count.
        processors = smbios_dump.processors(dump, structures)
        if processors > 1:
            options += ["-smp", "%d,sockets=%d,cores=1,threads=1" % (processors, processors)]
        if dump.kind != "2.x" and args.arch == "x64":
            machine = ["-machine", "smbios-entry-point-type=64"]
        return options, machine
    version = args.bios_version
    if not version or any(c in version for c in "\r\n\0"):
        raise KitError("--bios-version must be non-empty text on one line")
    # A vendor string makes the version string 2 of the structure, where
    # machines keep it and the application reads it. QEMU's option syntax
    # writes a comma inside a value as two.
    options = ["-smbios", "type=0,vendor=%s,version=%s,date=01/02/2024"
               % (DEFAULT_VENDOR, version.replace(",", ",,"))]
    # The first System Information structure: its Product Name is what
    # -product and -kits match, its serial number and UUID what a run
    # record is joined on; with its maker, family and SKU, and the Base
    # Board's maker and product, the fields the hardware IDs join. QEMU
    # keeps its own manufacturer unless one is given.
    for kind, fields in ((1, MACHINE_FIELDS[:6]), (2, MACHINE_FIELDS[6:])):
        given = [(key, getattr(args, attr)) for key, attr, _ in fields
                 if getattr(args, attr) is not None]
        if given:
            options += ["-smbios", "type=%d," % kind + ",".join(
                "%s=%s" % (key, value.replace(",", ",,")) for key, value in given)]
    return options, machine


# The VM's fields that kit-run sets: QEMU's -smbios key, the attribute,
# the option; System Information (type 1) first, then the Base Board (type 2).
MACHINE_FIELDS = [
    ("manufacturer", "manufacturer", "--manufacturer"), ("product", "product", "--product"),
    ("family", "family", "--family"), ("sku", "sku", "--sku"),
    ("serial", "serial", "--serial"), ("uuid", "uuid", "--uuid"),
    ("manufacturer", "baseboard_manufacturer", "--baseboard-manufacturer"),
    ("product", "baseboard_product", "--baseboard-product"),
]


_UUID = re.compile(r"^[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}$")


def keep_records(medium, data, record):
    """Writes `data` as the run record of the stick image `medium`: into a
    copy beside it, renamed over it when whole, so a failed write or a
    signal leaves the medium as it was."""
    medium = os.path.realpath(medium)  # the image itself, not a link to it
    try:
        handle, partial = tempfile.mkstemp(prefix=".kit-run-", suffix=".img",
                                           dir=os.path.dirname(medium))
    except OSError as error:
        raise KitError("--keep-records: cannot write beside %s: %s" % (medium, error.strerror))
    try:
        with os.fdopen(handle, "wb") as out, open(medium, "rb") as source:
            shutil.copyfileobj(source, out, 1 << 20)
        shutil.copymode(medium, partial)
        kit_medium.write_file(partial, record, data)
        os.replace(partial, medium)
    except OSError as error:
        os.unlink(partial)
        raise KitError("--keep-records: %s: %s" % (medium, error.strerror or error))
    except BaseException:
        os.unlink(partial)
        raise


def new_records(before, after):
    """The lines a boot added to the medium's run record: what follows
    the bytes it held before, whole lines only."""
    before = before or b""
    after = after or b""
    added = after[len(before):] if after.startswith(before) else after
    return [line for line in added.decode("utf-8", "replace").split("\n") if line.strip()]


def _kit_line():
    """The line -v prints for the kit that -kits chose: Kit kits\\NAME: ..."""
    return re.compile(r"^Kit (%s\\.*?): ProductName= " % re.escape(image_rules.library_folder()),
                      re.IGNORECASE)


# What `cd` prints after a script's mark: the folder the script runs in.
# The shell prints a drive's root as "FS0:".
_FOLDER_LINE = re.compile(r"^[A-Za-z][A-Za-z0-9]*:(\\.*)?$")


class Console:
    """What the console showed of the application's run: the lines
    between the start and status marks (less the folder lines of the
    scripts' marks), the scripts that ran with the folder each ran in
    (and last, the folder the run left the shell in), the kit a library
    run chose, the status text (or None) and whether the start mark was
    seen."""

    def __init__(self, lines):
        self.shown, self.scripts, self.folders = [], [], []
        self.kit, self.status, self.started = None, None, False
        after_mark = False
        said = None
        kit_line = _kit_line()
        library_folder = image_rules.library_folder().lower()
        for line in lines:
            if not self.started:
                self.started = line.strip() == START_MARK
                continue
            if self.status is not None:
                # A library's startup.nsh shows the folder the run left.
                left = _FOLDER_LINE.match(line.strip())
                if left:
                    self.folders.append(left.group(1) or "\\")
                break
            if line.startswith(STATUS_MARK):
                self.status = line[len(STATUS_MARK):].replace("===", "").strip()
                continue
            folder = _FOLDER_LINE.match(line.strip()) if after_mark else None
            after_mark = line.startswith(SCRIPT_MARK)
            if after_mark:
                self.scripts.append(line[len(SCRIPT_MARK):].split(" ")[0])
            if folder:
                self.folders.append(folder.group(1) or "\\")
                continue
            kit = kit_line.match(line)
            if kit and said is None:
                said = kit.group(1)
            self.shown.append(line)
        while self.shown and not self.shown[-1].strip():
            self.shown.pop()
        # The kit that ran is the folder its script ran in; without a
        # script, the folder the run left the shell in, or the kit -v says
        # was chosen (a medium made before startup.nsh showed the folder).
        kits = [f[1:] for f in self.folders
                if f[1:].lower().startswith(library_folder + "\\")]
        self.kit = kits[0] if kits else said


MEDIUM_NAMES = {"disk": "disk", "usb-stick": "USB stick", "cdrom": "CD-ROM"}
BOOT_PATHS = {"medium": "the medium's own shell (\\EFI\\BOOT\\%s)",
              "built-in": "the firmware's built-in shell"}


def summary(scripts, status, decide_only=False, attach=None, path=None, options=(),
            library=False, kit=None, arch=DEFAULT_ARCH):
    """kit-run's last line: the kit a library run chose, the scripts that
    ran, the application's line and status, and the boot path."""
    if not scripts:
        # Under -n a run that succeeds has decided, and ran nothing on purpose.
        ran = "no update script ran (-n: decide only)" if decide_only else "no update script ran"
    elif len(scripts) == 1:
        ran = "%s ran" % scripts[0]
    else:
        ran = "%s ran, in that order" % ", ".join(scripts)
    if library:
        ran = ("kit %s: %s" % (kit, ran)) if kit else "no kit chosen, " + ran
    name = STATUS_NAMES.get(status)
    booted_by = BOOT_PATHS[path].replace("%s", ARCHES[arch].boot_name) if path else ""
    started = ("; started from the %s by %s" % (MEDIUM_NAMES[attach], booted_by)
               if attach and path else "")
    return "%s; %s ended with status %s%s%s" % (
        ran, " ".join((IMAGE_NAME,) + tuple(options)), status, " (%s)" % name if name else "",
        started)


def check_machine(args):
    """The machine the VM shows: a BIOS version (and product name), or a
    real machine's SMBIOS data, not both."""
    if args.smbios_dump and args.bios_version is not None:
        raise KitError("give --bios-version or --smbios-dump, not both")
    if args.smbios_dump and args.product is not None:
        raise KitError("give --product or --smbios-dump, not both: the dump has the machine's "
                       "own product name")
    for _, attr, name in MACHINE_FIELDS:
        value = getattr(args, attr)
        if value is not None and (not value or any(c in value for c in "\r\n\0")):
            raise KitError("%s must be non-empty text on one line" % name)
    given = [name for _, attr, name in MACHINE_FIELDS[:4] + MACHINE_FIELDS[6:]
             if attr != "product" and getattr(args, attr) is not None]
    if args.smbios_dump and given:
        raise KitError("give %s or --smbios-dump, not both: the dump has the machine's own"
                       % given[0])
    if args.smbios_dump and (args.serial is not None or args.uuid is not None):
        raise KitError("give --serial and --uuid or --smbios-dump, not both: the dump has the "
                       "machine's own")
    if args.uuid is not None and not _UUID.fullmatch(args.uuid):
        raise KitError("--uuid must be 8-4-4-4-12 hex digits, e.g. "
                       "00112233-4455-6677-8899-aabbccddeeff")
    if args.bios_version is None:
        args.bios_version = DEFAULT_BIOS_VERSION


def cmd_run(args):
    kit = args.kits if args.kits is not None else args.kit
    if args.kits is not None and args.kit is not None:
        raise KitError("give --kit or --kits, not both")
    if kit == "":
        raise KitError("--kit%s needs a folder or a medium, not an empty name"
                       % ("s" if args.kits is not None else ""))
    kit = DEFAULT_KIT if kit is None else kit
    if args.kits is None and args.kit and not os.path.lexists(kit):
        raise KitError("--kit %s: no such file or folder (a kit folder, or a medium made by "
                       "make-kit-image)" % kit)
    is_image = args.kits is None and os.path.isfile(kit)
    kits = layout.library_kits(kit) if args.kits is not None else None
    if kits is None and not is_image:
        layout.check_kit_dir(kit)
    check_machine(args)
    app_args = layout.check_app_args(args.app_args)
    library_option = image_rules.option("kits")
    if kits is None and not is_image and library_option in (app_args or "").lower().split():
        raise KitError("--app-args %s is for a library of kits: give --kits DIR"
                       % library_option)
    if not is_image:
        # A folder runs as make-kit-image would make it: -verify unless
        # --no-verify.
        app_args = layout.with_verify(app_args, not args.no_verify)
    elif args.no_verify:
        raise KitError("--no-verify is for a kit folder; a kit image runs as it was made")
    if args.decide_only and not is_image:
        # A folder's run has no options of its own: -n joins those given.
        app_args = " ".join(filter(None, [app_args, image_rules.option("decide_only")]))
    if args.medium and not is_image:
        raise KitError("--medium is for a kit image; a kit folder boots as a disk")
    if args.keep_records and (not is_image or kit_medium.is_iso(kit)):
        raise KitError("--keep-records keeps a boot's records on a stick image (make-kit-image "
                       "--log KIT kit.img); %s" % (
                           "%s is an ISO, which a machine meets as a read-only CD" % kit
                           if is_image else "a kit folder is copied for each run"))
    attach = "disk"
    if is_image:
        attach = args.medium or ("cdrom" if kit_medium.is_iso(kit) else "usb-stick")
        if attach == "cdrom" and not kit_medium.is_iso(kit):
            raise KitError("--medium cdrom: %s is no ISO (make one with make-kit-image "
                           "... OUT.iso)" % kit)
    missing = vmboot.missing_parts(args.arch)
    if missing:
        raise KitError("cannot start a VM: missing " + ", ".join(missing))
    log_dir = os.path.abspath(args.log_dir or os.path.join(REPO, "build", "kit-run"))
    try:
        os.makedirs(log_dir, exist_ok=True)
    except OSError as error:
        raise KitError("--log-dir %s: %s" % (log_dir, "a file, not a folder"
                                             if error.errno == errno.EEXIST else error.strerror))
    # Before the boot, not after it: a log that cannot be written safely.
    for name in ("qemu-console.log", "%s-build.log" % ARCHES[args.arch].preset):
        safe_files.check_output(os.path.join(log_dir, name), [], "a log goes to a regular file")
    work = tempfile.mkdtemp(prefix="kit-run-")
    scripts = "marked" if args.run_scripts else "stand-in"
    progress = Progress("kit-run", args.quiet)
    try:
        records_before = None
        if is_image:
            progress.begin("copying the medium %s" % safe_files.one_line(kit))
            drive = os.path.join(work, "kit.iso" if attach == "cdrom" else "kit.img")
            startup, own_shell = prepare_kit_image(kit, drive, args.run_scripts, app_args,
                                                   args.decide_only, args.arch)
            record = layout.record_path(startup, args.arch)
            if record and attach != "cdrom":
                records_before = kit_medium.read_file(kit_medium.fat_target(drive), record,
                                                      limit=RECORD_LIMIT) or b""
            elif args.keep_records:
                raise KitError("--keep-records: %s keeps no run record (make it with "
                               "make-kit-image --log)" % kit)
        else:
            progress.begin("building %s (build/%s)" % (IMAGE_NAME, ARCHES[args.arch].preset))
            image = {args.arch: checked_image(layout.resolve_image(args.efi, log_dir, args.arch),
                                              args.arch)}
            progress.begin("making the kit's drive")
            drive = os.path.join(work, "kit")
            os.makedirs(drive)
            kits_folder = os.path.join(drive, image_rules.library_folder())
            pairs = ([(os.path.join(kit, k), os.path.join(kits_folder, k), ())
                      for k in kits] if kits is not None
                     else [(kit, drive, tuple(name.lower() for name in TOOL_NAMES))])
            for source, _, _ in pairs if not args.no_verify else ():
                layout.check_own_sums(source)
            if kits is not None:
                startup = layout.fill_library_folder(kit, kits, image, drive, scripts, app_args)
                # The copy's SHA256SUMS: its scripts are stand-ins.
                for source, copy, skip in pairs if not args.no_verify else ():
                    layout.write_sums(source, copy, skip)
                # A FAT image of it, as make-kit-image makes: its folders in
                # the order the medium lists them (a host folder shown as a
                # disk lists them in the host's order).
                fat = os.path.join(work, "library.img")
                kit_medium.make_fat_image(drive, fat)
                drive = fat
            else:
                startup = layout.fill_kit_folder(kit, image, drive, scripts, app_args)
                for source, copy, skip in pairs if not args.no_verify else ():
                    layout.write_sums(source, copy, skip)
            own_shell = False
        # The dump is judged by the options the machine will run with.
        smbios3 = image_rules.option("smbios3") in [
            w.lower() for w in layout.app_words(startup, args.arch) or ()]
        smbios, machine = smbios_options(args, work, smbios3)
        log_path = os.path.join(log_dir, "qemu-console.log")
        # The kit's startup.nsh leaves the shell at its prompt, as on a real
        # machine (in the kit's folder after a library run: "FS0:\\kits\\a\\> ");
        # the VM is switched off once the status has been shown.
        # A medium that keeps a record is written by the VM: the copy
        # keeps the writes, so the record can be read back.
        progress.begin("booting the %s VM (firmware, then the shell)" % ARCHES[args.arch].title)
        result = vmboot.boot(drive, smbios, log_path, timeout=args.timeout, attach=attach,
                             typing=[(START_MARK.encode(), lambda: progress.begin(
                                         "waiting for %s to end" % IMAGE_NAME)),
                                     (STATUS_MARK.encode(), progress.end),
                                     (b"\\> ", b"reset -s\r")],
                             arch=args.arch, keep_writes=records_before is not None,
                             machine_args=machine)
        progress.end()
        ended = vmboot.ended_by_signal(result)
        if ended == signal.SIGINT:
            raise KeyboardInterrupt  # as if it had reached kit-run first
        if ended is not None:
            raise KitError("the VM was ended by %s before the machine finished; the console "
                           "log is %s" % (signal.Signals(ended).name, log_path))
        records = None
        if records_before is not None:
            after = kit_medium.read_file(kit_medium.fat_target(drive), record,
                                         limit=RECORD_LIMIT)
            records = new_records(records_before, after)
            if args.keep_records and records and console_ended(result):
                keep_records(kit, after, record)
    except (smbios_dump.DumpError, vmboot.VmError, kit_medium.MediumError) as error:
        raise KitError(str(error))
    except shutil.Error as error:
        source, _, why = error.args[0][0]
        raise KitError("%s: %s" % (source, why))
    finally:
        progress.end()
        shutil.rmtree(work, ignore_errors=True)
    console = Console(vmboot.without_shell_chatter(result.lines))
    for line in console.shown:
        print(line)
    if records is not None:
        if not records:
            print("kit-run: the boot added no record to \\%s" % record.replace("/", "\\"))
        elif args.keep_records:
            print("kit-run: kept on %s: \\%s now holds %d lines" % (
                safe_files.one_line(kit), record.replace("/", "\\"),
                len([line for line in after.split(b"\n") if line.strip()])))
        for line in records:
            # A record's texts are escaped JSON; C0 and C1 controls cannot
            # reach the terminal all the same.
            print("kit-run: record: " + "".join(
                "?" if c < " " or "\x7f" <= c <= "\x9f" else c for c in line))
    if console.status is None:
        qemu = vmboot.MACHINES[args.arch].qemu
        refusal = [line for line in result.lines if line.startswith(qemu + ":")]
        if refusal:
            raise KitError("QEMU refused to start: %s" % refusal[0].split(":", 1)[1].strip())
        if result.timed_out:
            why = "the VM did not finish within %d s" % args.timeout
        elif not console.started:
            why = "the VM never started the application"
        else:
            why = "the VM stopped before the application ended (did a script reset it?)"
        raise KitError("%s; the console log is %s" % (why, log_path))
    path = vmboot.boot_path(result.lines, before=START_MARK)
    if path == "built-in" and own_shell:
        say("note: the firmware did not start the medium's own \\EFI\\BOOT\\%s; "
            "its built-in shell ran the kit" % ARCHES[args.arch].boot_name)
    print("kit-run: " + summary(console.scripts, console.status, layout.decides_only(startup),
                                attach, path, layout.app_words(startup, args.arch) or (),
                                layout.is_library_run(startup), console.kit, args.arch))
    return 0 if console.status == "0x0" else 1


def console_ended(result):
    """Whether the console shows the application's end: only a boot that
    ran to it leaves records worth keeping."""
    return any(line.startswith(STATUS_MARK) for line in result.lines)


def checked_image(path, arch):
    """`path`, when it is an EFI application for the VM's machine."""
    data = safe_files.read_regular(path, safe_files.APPLICATION_LIMIT,
                                     "the application image ")
    ok, kind = pe_image.describe(data, ARCHES[arch].pe_machine)
    if not ok:
        raise KitError("the application image %s is %s; the %s VM needs one for %s "
                       "(build/%s/%s)" % (path, kind, ARCHES[arch].title, ARCHES[arch].title,
                                          ARCHES[arch].preset, IMAGE_NAME))
    return path


def add_arguments(run):
    run.add_argument("--kit", metavar="DIR|IMAGE",
                     help="kit folder, or a medium (disk image or ISO) from make-kit-image, of "
                          "one kit or of a library (default: examples/kit)")
    run.add_argument("--kits", metavar="DIR",
                     help="a library of kits, made into a medium for the run (as make-kit-image "
                          "--kits DIR would): the machine runs the kit that serves its product")
    run.add_argument("--bios-version", metavar="TEXT",
                     help="BIOS version the VM publishes (default: %s)" % DEFAULT_BIOS_VERSION)
    run.add_argument("--product", metavar="NAME",
                     help="product name the VM publishes (System Information), which -product "
                          "and a library's kits are matched against (default: QEMU's own)")
    run.add_argument("--manufacturer", metavar="NAME",
                     help="the VM's manufacturer (System Information; default: QEMU's own)")
    run.add_argument("--family", metavar="NAME", help="the VM's family (System Information)")
    run.add_argument("--sku", metavar="TEXT", help="the VM's SKU number (System Information)")
    run.add_argument("--baseboard-manufacturer", metavar="NAME",
                     help="the VM's Base Board manufacturer (Base Board Information)")
    run.add_argument("--baseboard-product", metavar="NAME",
                     help="the VM's Base Board product (Base Board Information); with the "
                          "options above, the fields a kit keyed by hardware IDs is matched by")
    run.add_argument("--serial", metavar="TEXT",
                     help="the VM's serial number (System Information), which a run record "
                          "is joined on")
    run.add_argument("--uuid", metavar="UUID",
                     help="the VM's UUID (System Information), 8-4-4-4-12 hex digits")
    run.add_argument("--smbios-dump", metavar="FILE|DIR",
                     help="publish the SMBIOS structures of a `dmidecode --dump-bin` file, or "
                          "of a copy of /sys/firmware/dmi/tables, instead")
    run.add_argument("--decide-only", action="store_true",
                     help="add -n to the application's options, a medium's own ones kept: it "
                          "decides, says what it would run, and runs nothing")
    run.add_argument("--no-verify", action="store_true",
                     help="run a kit folder without the SHA256SUMS and -verify that "
                          "make-kit-image gives a medium by default")
    run.add_argument("--run-scripts", action="store_true",
                     help="run the kit's own update scripts (default: stand-ins that only "
                          "report their name)")
    run.add_argument("--app-args", metavar="TEXT",
                     help="options for BiosUpdateSelect.efi, put on its line in startup.nsh "
                          "(e.g. \"-v -segments\"); for a kit image, in place of the image's own")
    run.add_argument("--medium", choices=("usb-stick", "cdrom"),
                     help="attach a kit image as a USB stick or a CD-ROM (default: an ISO as a "
                          "CD-ROM, any other image as a USB stick); a folder is a disk")
    run.add_argument("--arch", choices=tuple(ARCHES), default=DEFAULT_ARCH,
                     help="the VM's machine: x64 (default; ovmf) or aarch64 (64-bit ARM; "
                          "qemu-efi-aarch64); a kit medium must hold an image for it")
    run.add_argument("--efi", metavar="FILE",
                     help="application image to use for a kit folder (default: build it, "
                          "build/efi/%s, or build/efi-aarch64/%s for --arch aarch64)"
                          % (IMAGE_NAME, IMAGE_NAME))
    run.add_argument("--timeout", type=int, default=180, metavar="SECONDS",
                     help="give up on the VM after this long (default: 180)")
    run.add_argument("--log-dir", metavar="DIR",
                     help="where the VM console log goes (default: build/kit-run)")
    run.add_argument("--keep-records", action="store_true",
                     help="write the records the boot added back to the stick image (--kit "
                          "IMAGE made with make-kit-image --log), so several boots build one "
                          "rollout.jsonl; refused for an ISO and a kit folder")
    run.add_argument("--quiet", action="store_true",
                     help="no progress lines on the error stream (a step that takes more than "
                          "2 s says what it does)")
