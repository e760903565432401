"""make-kit-image: turns an update kit folder, or a library of kits (each
machine then runs the kit that serves its product), into a bootable
medium, a FAT disk image or (OUT ending in .iso) a hybrid ISO for virtual
CD/DVD media, for x64 machines, AArch64 machines or both (--arch),
optionally with a UEFI Shell on it for each and with its EFI images
signed.

Every input is checked before any work starts, and each fault gets one
line naming the file and the reason (exit status 2): a missing kit file,
a name FAT cannot hold, a --shell or --efi that is no EFI application for
a machine of the medium, a key or certificate that cannot be read or do not match, an
OUT whose folder is missing or cannot be written. The medium is built in
a private folder beside OUT and renamed to OUT only when it is complete,
so an old OUT is replaced whole or not at all. The kit folder is only
read.
"""

import contextlib
import os
import shutil
import sys
import tempfile

from . import (firmware_volume, image_rules, kit_medium, kit_sign, layout, pe_image, safe_files,
               vmboot)
from .progress import Progress
from .common import (ARCHES, DEFAULT_ARCH, IMAGE_NAME, RECORD_NAME, PROBE_NAME, TOOL_NAMES,
                     KitError, image_name, parse_arches)

BOOT_FOLDERS = ("EFI", "BOOT")
SHELL_FROM_OVMF = "ovmf"


def note(text):
    print("make-kit-image: " + text, file=sys.stderr)


def boot_file_path(arch):
    return "\\EFI\\BOOT\\" + ARCHES[arch].boot_name


def read_application(path, what):
    return safe_files.read_regular(path, safe_files.APPLICATION_LIMIT, what + " ")


def files_by_arch(paths, what, arches):
    """{machine: (path, bytes)} of the files given as `what` (--shell FILE
    or --efi FILE, each once per machine), each placed by its PE machine
    type, which must be one of the medium's."""
    found = {}
    for path in paths:
        data = read_application(path, what)
        machine = pe_image.application_machine(data)
        arch = next((a.name for a in ARCHES.values() if a.pe_machine == machine), None)
        if arch not in arches:
            kind = pe_image.describe(data)[1]
            wanted = " or ".join("%s (machine 0x%04X)" % (ARCHES[x].title, ARCHES[x].pe_machine)
                                 for x in arches)
            raise KitError("%s %s is %s, not a PE32+ EFI application for %s%s"
                           % (what, path, kind, wanted,
                              "; add --arch %s for it" % ",".join(
                                  x for x in ARCHES if x in arches or x == arch)
                              if arch else ""))
        if arch in found:
            raise KitError("%s %s and %s are both for %s; give one per machine"
                           % (what, found[arch][0], path, ARCHES[arch].title))
        found[arch] = (path, data)
    return found


def firmware_shell(arch):
    """(shell bytes, where it came from) out of the machine's own Debian
    firmware: ovmf for x64, qemu-efi-aarch64 for AArch64."""
    machine = vmboot.MACHINES[arch]
    firmware = vmboot.find_firmware(arch)
    code = firmware[0] if firmware else machine.firmware_pairs[0][0]
    if not firmware:
        raise KitError("--shell ovmf: no %s firmware at %s (Debian package %s)"
                       % (ARCHES[arch].title, code, machine.firmware_package))
    try:
        with open(code, "rb") as f:
            shell = firmware_volume.find_shell(f.read())
    except OSError as error:
        raise KitError("--shell ovmf: %s cannot be read: %s" % (code, error.strerror))
    except firmware_volume.FirmwareError as error:
        raise KitError("--shell ovmf: %s: %s" % (code, error))
    ok, kind = pe_image.describe(shell, ARCHES[arch].pe_machine)
    if not ok:
        raise KitError("--shell ovmf: the shell in %s is %s" % (code, kind))
    return shell, "the UEFI Shell of " + code


def load_shells(choices, arches):
    """{machine: (shell bytes, where it came from)} for the --shell options:
    "ovmf" (each machine's from its firmware package) or a FILE per
    machine."""
    choices = choices or []
    if isinstance(choices, str):
        choices = [choices]
    shells = {}
    if SHELL_FROM_OVMF in choices:
        if len(choices) > 1:
            raise KitError("--shell ovmf brings every machine's shell; give it alone")
        for arch in arches:
            shells[arch] = firmware_shell(arch)
        return shells
    for choice in choices:
        if not os.path.lexists(choice) and looks_like_ovmf(choice):
            raise KitError("--shell %s: no such file; --shell ovmf takes the shell out of the "
                           "installed firmware" % choice)
    for arch, (path, data) in files_by_arch(choices, "--shell", arches).items():
        shells[arch] = (data, path)
    return shells


def looks_like_ovmf(word):
    """Whether `word` is "ovmf" mistyped: the same letters in another order
    or case, or one letter off."""
    word = word.lower()
    if sorted(word) == sorted(SHELL_FROM_OVMF):
        return True
    if abs(len(word) - len(SHELL_FROM_OVMF)) > 1:
        return False
    short, long_ = sorted((word, SHELL_FROM_OVMF), key=len)
    return any(long_[:i] + long_[i + 1:] == short for i in range(len(long_))) or (
        len(word) == len(SHELL_FROM_OVMF) and
        sum(a != b for a, b in zip(word, SHELL_FROM_OVMF)) == 1)


def child(folder, name):
    """The entry of `folder` that FAT takes for `name` (case ignored), or
    the path it would have."""
    for entry in os.listdir(folder) if os.path.isdir(folder) else ():
        if entry.upper() == name.upper():
            return os.path.join(folder, entry)
    return os.path.join(folder, name)


def boot_path(drive, arch=DEFAULT_ARCH):
    path = drive
    for name in BOOT_FOLDERS + (ARCHES[arch].boot_name,):
        path = child(path, name)
    return path


def place_shell(drive, shell, arch=DEFAULT_ARCH):
    """Puts `shell` at \\EFI\\BOOT\\BOOTX64.EFI (BOOTAA64.EFI for AArch64),
    into the kit's own EFI and BOOT folders when it has them (in whatever
    case): on FAT two folders that differ in case only are one."""
    target = boot_path(drive, arch)
    folder = os.path.dirname(target)
    while folder != drive:
        if os.path.exists(folder) and not os.path.isdir(folder):
            raise KitError("the kit's %s is a file, where --shell needs the folder %s"
                           % (dos_path(drive, folder), "\\".join(("",) + BOOT_FOLDERS)))
        folder = os.path.dirname(folder)
    replaced = os.path.exists(target)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    with open(target, "wb") as f:
        f.write(shell)
    return replaced


def kit_efi_files(drive, skip):
    """The kit's .efi files on the drive, less those in `skip`."""
    found = []
    for root, _, files in os.walk(drive):
        for name in files:
            path = os.path.join(root, name)
            if name.lower().endswith(".efi") and path not in skip:
                found.append(path)
    return sorted(found)


def dos_path(drive, path):
    return "\\" + os.path.relpath(path, drive).replace(os.sep, "\\")


def check_out(out, kit_dir, args):
    inputs = [("--shell", path) for path in args.shell or () if path != SHELL_FROM_OVMF]
    inputs += [("--efi", path) for path in args.efi or ()]
    inputs += [("--sign", args.sign), ("--cert", args.cert),
               ("--passphrase-file", args.passphrase_file)]
    safe_files.check_output(out, inputs, "make-kit-image writes an image file; put it on the "
                            "stick with dd if=IMAGE of=%s bs=4M conv=fsync" % out)
    if os.path.isdir(out):
        raise KitError("%s is a folder; give the medium's file name" % out)
    folder = os.path.dirname(out)
    if not os.path.isdir(folder):
        raise KitError("%s: the folder %s does not exist" % (out, folder))
    # The medium is built beside OUT: inside the kit it would change the
    # kit and land in its own copy.
    real_kit = os.path.realpath(kit_dir)
    if os.path.commonpath([os.path.realpath(folder), real_kit]) == real_kit:
        raise KitError("%s lies inside the kit folder %s; write the medium elsewhere"
                           % (out, kit_dir))


def sources(args):
    """(kit folder or library folder, kits of the library or None, OUT)
    from the command line: KIT_DIR OUT, or --kits DIR OUT."""
    if args.kits is not None:
        if args.out is not None or args.kit_dir is None:
            raise KitError("--kits DIR takes the place of KIT_DIR: give --kits DIR OUT")
        return args.kits, layout.library_kits(args.kits), args.kit_dir
    if args.out is None:
        raise KitError("give KIT_DIR and OUT (or --kits DIR OUT for a library of kits)")
    layout.check_kit_dir(args.kit_dir)
    return args.kit_dir, None, args.out


def cmd_image(args):
    kit_dir, kits, out = sources(args)
    app_args = layout.check_app_args(args.app_args)
    library_option = image_rules.option("kits")
    if kits is None and library_option in (app_args or "").lower().split():
        raise KitError("--app-args %s is for a library of kits: give --kits DIR OUT"
                       % library_option)
    app_args = layout.with_verify(app_args, not args.no_verify)
    arches = parse_arches(args.arch)
    if bool(args.sign) != bool(args.cert):
        raise KitError("--sign KEY and --cert CERT go together")
    out = os.path.abspath(out)
    check_out(out, kit_dir, args)
    is_iso = out.lower().endswith(".iso")
    if args.log:
        app_args = layout.with_record(app_args)
        if is_iso:
            note("--log: a CD is read-only; records are written only where the ISO is "
                 "written to a stick")
    shells = load_shells(args.shell, arches)
    efi = files_by_arch(args.efi or [], "--efi", arches)
    if kits is None:
        try:
            kit_medium.kit_tree(kit_dir, skip=tuple(name.lower() for name in TOOL_NAMES),
                                avoid=os.path.dirname(out))
        except kit_medium.MediumError as error:
            raise KitError(str(error))
    try:
        passphrase = kit_sign.read_passphrase(args.passphrase_file) if args.sign else None
    except kit_sign.SignError as error:
        raise KitError(str(error))
    try:
        # A short name of our own: OUT's may be as long as a name can be.
        work = tempfile.mkdtemp(prefix=".make-kit-image-", suffix=".partial",
                                dir=os.path.dirname(out))
    except OSError as error:
        raise KitError("%s: cannot write in the folder %s: %s"
                           % (out, os.path.dirname(out), error.strerror))
    progress = Progress("make-kit-image", args.quiet)
    try:
        signer = kit_sign.Signer(args.sign, args.cert, passphrase) if args.sign else None
        with signer or contextlib.nullcontext():
            images = {}
            for arch in arches:
                if arch not in efi:
                    progress.begin("building %s (build/%s)" % (IMAGE_NAME, ARCHES[arch].preset))
                images[arch] = efi[arch][0] if arch in efi else layout.resolve_image(
                    None, work, arch)
                progress.end()
                # A build that went wrong must not reach a medium either.
                files_by_arch([images[arch]], "the application image", (arch,))
                # The application names both scripts to the shell in UTF-16;
                # a shell does not.
                marks = [name.encode("utf-16-le") for name in image_rules.scripts()]
                if arch in shells and all(mark in shells[arch][0] for mark in marks):
                    raise KitError("--shell %s is %s itself, not a UEFI Shell: the machine would "
                                   "start the application where it needs the shell"
                                   % (shells[arch][1], IMAGE_NAME))
                extra = layout.arch_options(arch, app_args)
                if extra:
                    note("the %s image's line gets %s: %s firmware publishes SMBIOS through "
                         "the 3.x entry point only" % (ARCHES[arch].title, extra,
                                                       ARCHES[arch].title))
            progress.begin("copying the kit")
            drive = os.path.join(work, "drive")
            os.makedirs(drive)
            # Each kit's source folder, its copy on the drive, and the root
            # names the drive gets from this tool instead.
            if kits is not None:
                kits_folder = os.path.join(drive, image_rules.library_folder())
                pairs = [(os.path.join(kit_dir, kit), os.path.join(kits_folder, kit), ())
                         for kit in kits]
            else:
                pairs = [(kit_dir, drive, tuple(name.lower() for name in TOOL_NAMES))]
            # A SHA256SUMS the kit brings must match it, and goes on the
            # medium as it is; the others are written once the drive holds
            # what the machines will read.
            owned = [layout.check_own_sums(source) if not args.no_verify else None
                     for source, _, _ in pairs]
            # The same drive as a VM run gets, but with the kit's own scripts.
            if kits is not None:
                layout.fill_library_folder(kit_dir, kits, images, drive, "own", app_args,
                                           shown=out)
            else:
                _, replaced = layout.kit_entries(kit_dir)
                for name in replaced:
                    note("the kit's own %s is replaced" % name)
                layout.fill_kit_folder(kit_dir, images, drive, "own", app_args, shown=out)
            for arch in arches:
                if arch in shells:
                    if place_shell(drive, shells[arch][0], arch):
                        note("the kit's own %s is replaced by the shell" % boot_file_path(arch))
                elif os.path.isfile(boot_path(drive, arch)):
                    ok, kind = pe_image.describe(
                        read_application(boot_path(drive, arch), "the kit's"),
                        ARCHES[arch].pe_machine)
                    if ok:
                        note("no --shell%s: the kit's own %s boots the medium"
                             % (for_arch(arch, arches), boot_file_path(arch)))
                    else:
                        note("no --shell%s: the kit's own %s is %s, which firmware will not "
                             "start: the medium boots only on a machine with a built-in UEFI "
                             "Shell" % (for_arch(arch, arches), boot_file_path(arch), kind))
                else:
                    note("no --shell%s: the medium boots only on a machine with a built-in "
                         "UEFI Shell" % for_arch(arch, arches))
            replaced = tuple("/".join(BOOT_FOLDERS + (ARCHES[arch].boot_name,)).lower()
                             for arch in shells)
            for (source, copy, skip), own in zip(pairs, owned):
                if not args.no_verify and own is None:
                    layout.write_sums(source, copy, skip, replaced if kits is None else ())
            if signer:
                progress.begin("signing the images and shells")
                sign_drive(signer, drive, arches, shells)
            medium = os.path.join(work, "medium")
            fat = medium if not is_iso else os.path.join(work, "kit.img")
            progress.begin("making the FAT file system")
            size = kit_medium.make_fat_image(drive, fat)
            if is_iso:
                progress.begin("making the ISO")
                kit_medium.make_iso(fat, work, medium)
                progress.end()
                if size > kit_medium.EL_TORITO_MAX_IMAGE:
                    note("the ISO's boot image is %d MiB, more than the 32 MiB its boot "
                         "catalog can state: firmware that takes the size from the catalog "
                         "alone will not boot it (ovmf takes it from the volume)"
                         % (size >> 20))
            os.chmod(medium, 0o666 & ~_umask())
            total = os.path.getsize(medium)
            os.replace(medium, out)
    except kit_medium.MediumError as error:
        raise KitError(str(error))
    except kit_sign.SignError as error:
        raise KitError(str(error))
    except shutil.Error as error:
        # copytree gathers (source, target, reason) for every file it failed.
        source, _, why = error.args[0][0]
        raise KitError("%s: %s" % (source, why))
    except OSError as error:
        # A full disk or a failing read while the medium is made; the
        # private work folder is no name the admin knows: OUT is.
        name = error.filename
        if not name or os.path.commonpath([os.path.abspath(name), work]) == work:
            name = out
        raise KitError("%s: %s" % (name, error.strerror or error))
    finally:
        progress.end()
        shutil.rmtree(work, ignore_errors=True)
    signed = " (signed)" if args.sign else ""
    parts = [image_name(arch, arches) + signed for arch in arches]
    if len(arches) > 1:
        parts.append(PROBE_NAME)
    parts.append("startup.nsh")
    for arch in arches:
        if arch in shells:
            parts.append("%s (%s%s)" % (boot_file_path(arch), shells[arch][1],
                                        ", signed" if args.sign else ""))
    kind = ("hybrid ISO, El Torito EFI boot image of %d MiB" % (size >> 20) if is_iso
            else "FAT disk image")
    what = ("the kit %s" % kit_dir if kits is None else "the library %s as \\%s\\ (%d kit%s)"
            % (kit_dir, image_rules.library_folder(), len(kits), "" if len(kits) == 1 else "s"))
    print("make-kit-image: %s (%.1f MiB, %s): %s and %s"
          % (out, total / float(1 << 20), kind, ", ".join(parts), what))
    return 0


def for_arch(arch, arches):
    return " for %s" % ARCHES[arch].title if len(arches) > 1 else ""


def sign_drive(signer, drive, arches, shells):
    skip = set()
    for arch in arches:
        app = os.path.join(drive, image_name(arch, arches))
        signer.sign(app)
        skip.add(app)
        if arch in shells:
            signer.sign(boot_path(drive, arch))
            skip.add(boot_path(drive, arch))
    refused = [dos_path(drive, p) for p in kit_efi_files(drive, skip) if not signer.verifies(p)]
    if refused:
        note("%s does not verify %s: Secure Boot firmware will refuse to start %s"
             % (signer.cert_path, ", ".join(refused), "them" if len(refused) > 1 else "it"))


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def add_arguments(parser):
    parser.add_argument("--app-args", metavar="TEXT",
                        help="options for BiosUpdateSelect.efi, put on its line in startup.nsh "
                             "(e.g. \"-segments -product\")")
    parser.add_argument("--log", action="store_true",
                        help="have every machine leave a record: startup.nsh passes -log "
                             "\\%s, one file at the medium's root (one for a whole library)"
                             % RECORD_NAME)
    parser.add_argument("--no-verify", action="store_true",
                        help="leave out the SHA256SUMS written into each kit's folder and the "
                             "-verify on the application's line that checks every kit file "
                             "against it before the update runs")
    parser.add_argument("--arch", default=DEFAULT_ARCH, metavar="LIST",
                        help="the machines the medium serves: x64 (default), aarch64 (64-bit "
                             "ARM), or x64,aarch64 (one medium with both images; startup.nsh "
                             "starts the one the machine's firmware loads)")
    parser.add_argument("--shell", metavar="FILE|ovmf", action="append",
                        help="a UEFI Shell, placed as \\EFI\\BOOT\\BOOTX64.EFI (x64) or "
                             "BOOTAA64.EFI (AArch64) so the medium boots without a built-in "
                             "shell; give a FILE once per machine (placed by its PE machine "
                             "type); \"ovmf\" takes each machine's from the installed firmware "
                             "packages (ovmf, qemu-efi-aarch64)")
    parser.add_argument("--sign", metavar="KEY",
                        help="sign every BiosUpdateSelect image and shell with this private key "
                             "(PEM); a passphrase comes from $%s or --passphrase-file"
                             % kit_sign.PASSPHRASE_ENV)
    parser.add_argument("--cert", metavar="CERT", help="the key's certificate (PEM or DER)")
    parser.add_argument("--passphrase-file", metavar="FILE",
                        help="the signing key's passphrase, on the file's first line")
    parser.add_argument("--kits", metavar="DIR",
                        help="a library of kits in place of KIT_DIR: every folder under DIR "
                             "that holds an UpdateConfig.ini; the medium holds DIR as \\kits\\ "
                             "and each machine runs the kit whose ProductName= serves it")
    parser.add_argument("kit_dir", metavar="KIT_DIR", nargs="?")
    parser.add_argument("out", metavar="OUT", nargs="?",
                        help="the medium: OUT.iso makes a hybrid ISO, any other name a FAT "
                             "disk image")
    parser.add_argument("--quiet", action="store_true",
                        help="no progress lines on the error stream (a step that takes more "
                             "than 2 s says what it does)")
    parser.add_argument("--efi", metavar="FILE", action="append",
                        help="application image to use, once per machine, placed by its PE "
                             "machine type (default: build it, build/efi/%s or "
                             "build/efi-aarch64/%s)" % (IMAGE_NAME, IMAGE_NAME))
