"""Boots a host folder, a disk image or an ISO in a QEMU virtual machine
running Debian's UEFI firmware (with its built-in UEFI Shell): ovmf on an
x86-64 machine, qemu-efi-aarch64 on a 64-bit ARM one. Hands back what the
serial console showed.

The kit runner and the QEMU test suite both use it, so a kit tried by hand
and a test case boot exactly the same machine. The shell runs startup.nsh
from the folder; the caller writes that script and ends it with "reset -s",
which powers the machine off and ends QEMU. Every boot gets a fresh copy of
the firmware variable store (so one boot cannot leave boot options or
variables behind for the next) and a hard timeout.

A medium is attached the way a machine meets it: a folder as an internal
disk, an image as a USB mass-storage stick on an xHCI controller, an ISO
as a CD-ROM on the same USB bus (as a BMC's virtual media appear). On the
ARM machine the internal disk is a virtio block device and the CD-ROM
sits on a virtio SCSI controller, as on ARM servers' virtual media. The
boot log names the boot option the firmware started; boot_path() reads
whether that was the medium itself (its \\EFI\\BOOT\\BOOTX64.EFI or
BOOTAA64.EFI) or the firmware's built-in shell.
"""

import os
import re
import select
import shutil
import subprocess
import tempfile
import time

from . import safe_files

# Debian's ovmf package ships the 4 MiB flash layout; the 2 MiB one is the
# fallback of older releases. Code and variables must come from one layout.
FIRMWARE_PAIRS = [
    ("/usr/share/OVMF/OVMF_CODE_4M.fd", "/usr/share/OVMF/OVMF_VARS_4M.fd"),
    ("/usr/share/OVMF/OVMF_CODE.fd", "/usr/share/OVMF/OVMF_VARS.fd"),
]

# Secure Boot test firmware: its variables enrol Debian's "snakeoil" test
# key. Never a default for anything but the tests.
SECURE_BOOT_PAIR = ("/usr/share/OVMF/OVMF_CODE_4M.snakeoil.fd",
                    "/usr/share/OVMF/OVMF_VARS_4M.snakeoil.fd")

QEMU_NAME = "qemu-system-x86_64"

# The ARM machine: QEMU's generic board, whose firmware (64 MiB code and
# variables flash) publishes SMBIOS through the 3.x entry point only.
AARCH64_FIRMWARE_PAIRS = [
    ("/usr/share/AAVMF/AAVMF_CODE.fd", "/usr/share/AAVMF/AAVMF_VARS.fd"),
]
# Its Secure Boot test firmware enrols the same snakeoil test key.
AARCH64_SECURE_BOOT_PAIR = ("/usr/share/AAVMF/AAVMF_CODE.snakeoil.fd",
                            "/usr/share/AAVMF/AAVMF_VARS.snakeoil.fd")


class Machine:
    """What one firmware machine boots with."""

    def __init__(self, arch, qemu, qemu_package, firmware_pairs, firmware_package, board,
                 disk_device, cdrom_devices, secure_boot_pair, secure_boot_board):
        self.arch = arch
        self.qemu = qemu
        self.qemu_package = qemu_package
        self.firmware_pairs = firmware_pairs
        self.firmware_package = firmware_package
        self.board = board
        self.disk_device = disk_device
        self.cdrom_devices = cdrom_devices
        self.secure_boot_pair = secure_boot_pair
        self.secure_boot_board = secure_boot_board


MACHINES = {
    # ovmf keeps its variables safe from the OS only in SMM.
    "x64": Machine("x64", QEMU_NAME, "qemu-system-x86", FIRMWARE_PAIRS, "ovmf",
                   ["-machine", "q35"], None, None, SECURE_BOOT_PAIR,
                   ["-machine", "q35,smm=on",
                    "-global", "driver=cfi.pflash01,property=secure,value=on"]),
    "aarch64": Machine("aarch64", "qemu-system-aarch64", "qemu-system-arm",
                       AARCH64_FIRMWARE_PAIRS, "qemu-efi-aarch64",
                       ["-machine", "virt", "-cpu", "cortex-a57"], "virtio-blk-device",
                       ["-device", "virtio-scsi-pci,id=scsi",
                        "-device", "scsi-cd,bus=scsi.0,drive=kit"],
                       AARCH64_SECURE_BOOT_PAIR, ["-machine", "virt", "-cpu", "cortex-a57"]),
}
ATTACHMENTS = ("disk", "usb-stick", "cdrom")
BUILT_IN_SHELL = "EFI Internal Shell"
# "BdsDxe: starting Boot0002 "UEFI QEMU QEMU USB HARDDRIVE 1-0000:00:02.0-1" from ..."
_STARTING = re.compile(r'^BdsDxe: starting (Boot[0-9A-Fa-f]{4}) "(.*?)" from ')

# The shell counts down before it runs startup.nsh; any key but ESC ends the
# wait at once, which saves five seconds on every boot.
COUNTDOWN_PROMPT = b" seconds to skip "

# Colour, cursor and mode sequences of the shell's console output.
_ANSI = re.compile(rb"\x1b\[[0-9;=?]*[A-Za-z]|\x1b[()][A-Za-z0-9]|\x1b[=>]")


class VmError(Exception):
    """A machine cannot be started here; the message is one line."""


def find_qemu(arch="x64"):
    return shutil.which(MACHINES[arch].qemu)


def find_firmware(arch="x64"):
    for code, variables in MACHINES[arch].firmware_pairs:
        if os.path.isfile(code) and os.path.isfile(variables):
            return code, variables
    return None


def missing_parts(arch="x64"):
    """Names of what this machine lacks to boot a VM (empty when ready)."""
    machine = MACHINES[arch]
    missing = []
    if not find_qemu(arch):
        missing.append("%s (Debian package %s)" % (machine.qemu, machine.qemu_package))
    if not find_firmware(arch):
        missing.append("UEFI firmware %s (Debian package %s)"
                       % (machine.firmware_pairs[0][0], machine.firmware_package))
    return missing


def qemu_value(text):
    """`text` as a QEMU option value: a comma ends the value unless doubled,
    so a path holding one (a log folder, TMPDIR, the repository) would
    otherwise name another file and an unrelated option."""
    return text.replace(",", ",,")


def drive_options(drive, attach, arch="x64", index=0, keep_writes=False):
    """QEMU options that attach `drive` as `attach` (one of ATTACHMENTS).
    Guest writes go to a throw-away overlay (snapshot=on) or nowhere (a
    CD-ROM): the folder or image is never changed, unless `keep_writes`
    lets the guest write into an image file (a copy the caller made to
    read back). A folder becomes a FAT disk through vvfat. `index` tells
    several internal disks apart."""
    machine = MACHINES[arch]
    path = qemu_value(os.path.abspath(drive))
    if os.path.isdir(drive) or attach == "disk":
        source = ("fat:" if os.path.isdir(drive) else "") + path
        if machine.disk_device is None:
            return ["-drive", "format=raw,snapshot=on,file=" + source]
        name = "disk%d" % index
        return ["-drive", "if=none,id=%s,format=raw,snapshot=on,file=%s" % (name, source),
                "-device", "%s,drive=%s" % (machine.disk_device, name)]
    media = (",media=cdrom,readonly=on" if attach == "cdrom" else
             "" if keep_writes else ",snapshot=on")
    kit = ["-drive", "if=none,id=kit,format=raw%s,file=%s" % (media, path)]
    if attach == "cdrom" and machine.cdrom_devices:
        return kit + machine.cdrom_devices
    return ["-device", "qemu-xhci,id=xhci"] + kit + [
        "-device", "usb-storage,bus=xhci.0,drive=kit"]


def boot_options_started(lines):
    """(boot option, description) of every boot option the firmware
    started, in order."""
    found = []
    for line in lines:
        m = _STARTING.match(line.strip())
        if m:
            found.append((m.group(1), m.group(2)))
    return found


def boot_path(lines, before=None):
    """"built-in" when the last boot option started before the console
    line `before` (or at all) was the firmware's built-in shell, "medium"
    when it was a drive's own boot file, None when none was started."""
    if before is not None:
        cut = [i for i, line in enumerate(lines) if line.strip() == before]
        lines = lines[:cut[0]] if cut else lines
    started = boot_options_started(lines)
    if not started:
        return None
    return "built-in" if started[-1][1] == BUILT_IN_SHELL else "medium"


def console_lines(raw):
    """The console text as lines: escape sequences removed, CR LF folded."""
    text = _ANSI.sub(b"", raw).replace(b"\r\n", b"\n").replace(b"\r", b"\n")
    return [line.decode("utf-8", "replace") for line in text.split(b"\n")]


# A shell prompt with the command line it echoes, as in "FS0:\cases\> ls".
_PROMPT = re.compile(r"^[A-Za-z][A-Za-z0-9]*:\\[^>]*> ")


def without_shell_chatter(lines):
    """The console lines less what the shell adds around them: echoed
    command lines, and the banner and mapping table that a nested shell
    prints when an application has the shell run a command (the shell runs
    every such command line in a fresh instance of itself)."""
    out = []
    skip_after_banner = 0
    in_mapping = False
    for line in lines:
        if line.startswith("UEFI Interactive Shell v"):
            skip_after_banner = 2  # firmware vendor and UEFI revision lines
            continue
        if skip_after_banner:
            skip_after_banner -= 1
            continue
        if line == "Mapping table":
            in_mapping = True
            continue
        if in_mapping and line.startswith(" "):
            continue
        in_mapping = False
        if _PROMPT.match(line):
            continue
        out.append(line)
    return out


class BootResult:
    def __init__(self, raw, elapsed, timed_out, exit_code, log_path):
        self.raw = raw
        self.elapsed = elapsed
        self.timed_out = timed_out
        self.exit_code = exit_code
        self.log_path = log_path
        self.lines = console_lines(raw)


def boot(drive, smbios_args, log_path, timeout=120.0, machine_args=(), typing=(),
         attach="disk", more_drives=(), secure_boot=False, stop_at=None, arch="x64",
         keep_writes=False):
    """Boots `drive` (a host folder, shown to the guest as a FAT disk, or a
    raw image file attached as `attach`) and returns a BootResult once the
    machine has powered off, the console has shown `stop_at` (bytes; the
    machine is then switched off), or `timeout` seconds have passed (it is
    then killed). `more_drives` are further image files, attached as
    internal disks. `secure_boot` starts the Secure Boot test firmware.

    `smbios_args` are QEMU -smbios options, already split into words.
    `typing` is a sequence of (pattern, keys): when the console output
    shows `pattern` (bytes, after the previous pattern), `keys` are typed
    on the serial console; keys None only waits for the pattern, and a
    callable is called when it appears (a progress line's next step). The raw
    console output is written to `log_path` in any case. `arch` picks the
    machine (MACHINES). `keep_writes`: see drive_options."""
    machine = MACHINES[arch]
    qemu = find_qemu(arch)
    firmware = find_firmware(arch)
    if secure_boot:
        pair = machine.secure_boot_pair
        firmware = pair if all(map(os.path.isfile, pair)) else None
    if not qemu or not firmware:
        raise VmError("cannot start a VM: missing " + ", ".join(
            missing_parts(arch) or ["Secure Boot test firmware " + machine.secure_boot_pair[0]]))
    code, variables = firmware
    # A fresh variable store per boot; it lives beside the log.
    vars_fd, vars_copy = tempfile.mkstemp(prefix="ovmf-vars-", suffix=".fd",
                                          dir=os.path.dirname(os.path.abspath(log_path)))
    os.close(vars_fd)
    shutil.copyfile(variables, vars_copy)
    board = machine.secure_boot_board if secure_boot else machine.board
    command = [qemu] + board + ["-m", "256", "-nographic", "-net", "none", "-no-reboot"]
    command += ["-drive", "if=pflash,format=raw,readonly=on,file=" + qemu_value(code),
                "-drive", "if=pflash,format=raw,file=" + qemu_value(vars_copy)]
    command += drive_options(drive, attach, arch, keep_writes=keep_writes)
    for index, extra in enumerate(more_drives, 1):
        command += drive_options(extra, "disk", arch, index)
    command += list(machine_args)
    command += list(smbios_args)
    pending = [(COUNTDOWN_PROMPT, b"\r")] + list(typing)
    searched = 0
    started = time.monotonic()
    raw = bytearray()
    timed_out = False
    try:
        proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
    except OSError as error:
        os.unlink(vars_copy)
        raise VmError("cannot start %s: %s" % (qemu, error.strerror))
    try:
        fd = proc.stdout.fileno()
        while True:
            left = started + timeout - time.monotonic()
            if left <= 0:
                timed_out = True
                break
            ready, _, _ = select.select([fd], [], [], min(left, 1.0))
            if not ready:
                continue
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            raw += chunk
            if stop_at and raw.find(stop_at, max(0, len(raw) - len(chunk) - len(stop_at))) >= 0:
                break
            while pending:
                pattern, keys = pending[0]
                found = raw.find(pattern, searched)
                if found < 0:
                    # Keep the tail: a pattern may arrive split in two reads.
                    searched = max(searched, len(raw) - len(pattern))
                    break
                searched = found + len(pattern)
                pending.pop(0)
                if callable(keys):
                    keys()
                elif keys:
                    try:
                        proc.stdin.write(keys)
                        proc.stdin.flush()
                    except OSError:
                        pass
    finally:
        if proc.poll() is None:
            proc.kill()
        exit_code = proc.wait()
        proc.stdout.close()
        try:
            proc.stdin.close()
        except OSError:
            pass
        os.unlink(vars_copy)
    elapsed = time.monotonic() - started
    # The log folder may be anyone's: written as a new file, never through a link.
    with safe_files.NewFile(log_path, "the console log") as log:
        log.write(bytes(raw))
        if timed_out:
            log.write(b"\n[killed after %.0f s: the machine did not power off]\n" % timeout)
    return BootResult(bytes(raw), elapsed, timed_out, exit_code, log_path)


_TERMINATED = re.compile(r"terminating on signal (\d+)")


def ended_by_signal(result):
    """The number of the signal that ended QEMU before the machine did
    (Ctrl-C at the terminal reaches QEMU too), or None. A VM killed here
    for taking too long is not counted."""
    if result.timed_out:
        return None
    for line in result.lines:
        m = _TERMINATED.search(line)
        if m:
            return int(m.group(1))
    return -result.exit_code if result.exit_code is not None and result.exit_code < 0 else None


def startup_script(lines):
    """startup.nsh text: the shell wants CR LF line ends."""
    return "".join(line + "\r\n" for line in lines).encode("ascii")
