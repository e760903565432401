"""QEMU checks of kit media: make-kit-image makes a disk image or an ISO
(with the UEFI Shell taken out of the installed ovmf firmware, at test
time), and kit-run boots it as a machine would, a USB stick or a CD-ROM.

A medium check passes only when make-kit-image succeeded, kit-run printed
exactly the expected lines (its summary naming the medium and whether
the medium's own shell or the firmware's ran the kit), the console log
shows the firmware starting that boot option, and the preview tool
decides the same on the same SMBIOS data. The Secure Boot check boots the
test firmware that trusts Debian's snakeoil test key, with a signed and
an unsigned medium at once.
"""

import os
import re
import shutil
import subprocess

import cases as suite
import e2e
from kittools import vmboot

KIT = os.path.join(e2e.REPO, "examples", "kit")
# Debian's ovmf test key: trusted by the Secure Boot test firmware only.
SNAKEOIL_KEY = "/usr/share/ovmf/PkKek-1-snakeoil.key"
SNAKEOIL_CERT = "/usr/share/ovmf/PkKek-1-snakeoil.pem"
SNAKEOIL_PASSPHRASE = "snakeoil"
BUILT_IN_NOTE = ("make-kit-image: no --shell: the medium boots only on a machine with a "
                 "built-in UEFI Shell")
# Boot option descriptions the firmware gives each medium.
USB_OPTION = '"UEFI QEMU QEMU USB HARDDRIVE'
# The first and second internal disk, as the firmware names them.
FIRST_DISK, SECOND_DISK = '"UEFI QEMU HARDDISK QM00001', '"UEFI QEMU HARDDISK QM00003'
SHELL_OPTION = '"EFI Internal Shell"'


def make_kit_image(args, options, out, env=None):
    command = [e2e.MAKE_KIT_IMAGE, "--efi", args.image] + options + [out]
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=600,
                              env=dict(os.environ, **(env or {})))
    except subprocess.TimeoutExpired:
        return None, [], ["make-kit-image did not finish within 600 s"]
    return (done.returncode, done.stdout.decode(errors="replace").splitlines(),
            done.stderr.decode(errors="replace").splitlines())


def started_options(log):
    """The BdsDxe lines of a console log: (verb, description, rest)."""
    with open(log, "rb") as f:
        lines = vmboot.console_lines(f.read())
    found = []
    for line in lines:
        m = re.match(r'^BdsDxe: (starting|failed to load|failed to start) Boot[0-9A-F]{4} '
                     r'("[^"]*")(.*)$', line.strip())
        if m:
            found.append(m.groups())
    return found


def kit_folder(root, flash_mib):
    """The example kit, with `flash_mib` MiB of flash file when asked for,
    named to sort first so that every other file lies behind it."""
    if not flash_mib:
        return KIT
    folder = os.path.join(root, "kit-%dmib" % flash_mib)
    shutil.copytree(KIT, folder)
    with open(os.path.join(folder, "A-FLASH.BIN"), "wb") as f:
        f.truncate(flash_mib << 20)
    return folder


def check_medium(boot, args, report):
    p = boot.params
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    kit = kit_folder(root, p.get("flash_mib"))
    out = os.path.join(root, p["out"])
    options = (["--shell", "ovmf"] if p["shell"] else []) + (
        ["--app-args", p["app_args"]] if p.get("app_args") else [])
    code, made, err = make_kit_image(args, options + [kit], out)
    notes_ok = (BUILT_IN_NOTE in err) != p["shell"]
    if not report.check(boot.name + " [make-kit-image]",
                        code == 0 and os.path.isfile(out) and len(made) == 1 and notes_ok,
                        "exit %s, %r %r" % (code, made, err)):
        return
    extra = ["--kit", out, "--bios-version", p["bios"]]
    if p.get("attach"):
        extra += ["--medium", p["attach"]]
    result = e2e.kit_run(args, root, extra)
    messages = [value for kind, value in p["events"] if kind == "msg"]
    scripts = [value for kind, value in p["events"] if kind == "run"]
    want = messages + [e2e.STAND_IN % s for s in scripts] + [
        e2e.summary(scripts, "0x0", p["medium"], p["path"], p.get("app_args") or "")]
    e2e.check_kit_output(report, boot.name + " [kit-run]", result, want, 0, root)
    log = os.path.join(root, "qemu-console.log")
    started = [d for verb, d, _ in started_options(log) if verb == "starting"] \
        if os.path.isfile(log) else []
    want_option = SHELL_OPTION if p["path"] == "built-in" else USB_OPTION
    report.check(boot.name + " [boot option]", bool(started) and
                 started[-1].startswith(want_option.rstrip('"')),
                 "expected the firmware to start %s last, it started %r (console log %s)"
                 % (want_option, started, log))
    # The same decision from the preview tool, on the structure the VM got.
    dump = os.path.join(root, "table.bin")
    e2e.write(dump, suite.dumps.dump_2x(suite.type0_table(p["bios"])))
    want_preview = ["console: %s\\r\\n" % m for m in messages] + [
        "execute: " + s for s in scripts] + ["status: " + e2e.FULL_STATUS["0x0"]]
    preview, perr = e2e.run_preview(args.preview, dump, kit, (p.get("app_args") or "").split())
    report.check(boot.name + " [preview]", preview == want_preview,
                 "expected %r, got %r %s" % (want_preview, preview, perr))
    lines, status = e2e.as_preview_lines(result[1])
    report.check(boot.name + " [preview agrees with the VM]",
                 status == "0x0" and lines == want_preview[:-1],
                 "the VM showed %r, status %s" % (lines, status))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


def image_file(image, name, target):
    done = subprocess.run(["mcopy", "-n", "-i", image, "::/" + name, target],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    return done.returncode == 0


def verifies(path):
    return subprocess.run(["sbverify", "--cert", SNAKEOIL_CERT, path], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).returncode == 0


def check_secure_boot(boot, args, report):
    """A signed medium on a USB stick and an unsigned one on an internal
    disk, both booting the application itself as \\EFI\\BOOT\\BOOTX64.EFI:
    Debian's shell will not start under Secure Boot, so the firmware's
    verdict on each image is what can be shown. A started application
    finds no shell and returns at once with status -1 (FFFFFFFF in the
    firmware's line); a refused one is never started. A third medium, on
    the second disk, carries ovmf's shell signed by make-kit-image: the
    firmware starts it, and the shell itself refuses to run."""
    if not all(map(os.path.isfile, vmboot.SECURE_BOOT_PAIR + (SNAKEOIL_KEY, SNAKEOIL_CERT))):
        report.check(boot.name, False, "the ovmf Secure Boot test firmware or key is missing")
        return
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    kit = os.path.join(root, "kit")
    shutil.copytree(KIT, kit)
    # A flash tool the kit's certificate does not sign: make-kit-image names it.
    shutil.copyfile(args.image, os.path.join(kit, "FlashTool.efi"))
    signed, unsigned = os.path.join(root, "signed.img"), os.path.join(root, "unsigned.img")
    signed_shell = os.path.join(root, "signed-shell.img")
    code, _, err = make_kit_image(args, ["--shell", args.image, "--sign", SNAKEOIL_KEY,
                                         "--cert", SNAKEOIL_CERT, kit], signed,
                                  env={"KIT_SIGN_PASSPHRASE": SNAKEOIL_PASSPHRASE})
    named = [line for line in err if "\\FlashTool.efi" in line and "refuse" in line]
    report.check(boot.name + " [make-kit-image --sign]",
                 code == 0 and os.path.isfile(signed) and len(named) == 1,
                 "exit %s, stderr %r" % (code, err))
    code, _, err = make_kit_image(args, ["--shell", args.image, kit], unsigned)
    report.check(boot.name + " [make-kit-image unsigned]", code == 0, "exit %s, %r" % (code, err))
    code, _, err = make_kit_image(args, ["--shell", "ovmf", "--sign", SNAKEOIL_KEY, "--cert",
                                         SNAKEOIL_CERT, KIT], signed_shell,
                                  env={"KIT_SIGN_PASSPHRASE": SNAKEOIL_PASSPHRASE})
    report.check(boot.name + " [make-kit-image --shell ovmf --sign]", code == 0,
                 "exit %s, %r" % (code, err))
    if report.failed != failed_before:
        return
    for name in ("BiosUpdateSelect.efi", "EFI/BOOT/BOOTX64.EFI", "FlashTool.efi"):
        for image, want in ((signed, name != "FlashTool.efi"), (unsigned, False)):
            target = os.path.join(root, "check.efi")
            report.check("%s [%s in %s %s]" % (boot.name, name, os.path.basename(image),
                                               "verifies" if want else "does not verify"),
                         image_file(image, name, target) and verifies(target) == want)
    log = os.path.join(root, "console.log")
    result = vmboot.boot(signed, [], log, timeout=args.timeout, attach="usb-stick",
                         more_drives=[unsigned, signed_shell], secure_boot=True,
                         stop_at=b"No bootable option or device was found")
    print("boot %s: %.1f s%s" % (boot.name, result.elapsed, ", timed out" if result.timed_out
                                  else ""))
    events = started_options(log)
    usb = [(verb, rest) for verb, d, rest in events if d.startswith(USB_OPTION)]
    sata = [(verb, rest) for verb, d, rest in events if d.startswith(FIRST_DISK)]
    shell = [(verb, rest) for verb, d, rest in events if d.startswith(SECOND_DISK)]
    report.check(boot.name + " [signed image started]",
                 len(usb) == 2 and usb[0][0] == "starting" and usb[1][0] == "failed to start"
                 and usb[1][1].endswith(": FFFFFFFF"),
                 "the USB stick's boot option: %r (console log %s)" % (usb, log))
    report.check(boot.name + " [unsigned image refused]",
                 len(sata) == 1 and sata[0][0] == "failed to load" and
                 sata[0][1].endswith((": Access Denied", ": Security Violation")),
                 "the disk's boot option: %r (console log %s)" % (sata, log))
    report.check(boot.name + " [signed shell started, refuses to run]",
                 len(shell) == 2 and shell[0][0] == "starting" and shell[1][0] ==
                 "failed to start" and shell[1][1].endswith(": Security Violation"),
                 "the second disk's boot option: %r (console log %s)" % (shell, log))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


CHECKS = {"medium": check_medium, "secure_boot": check_secure_boot}
