"""QEMU checks on the ARM VM (qemu-efi-aarch64 on QEMU's generic board), and
of a medium made for both machines booted on each.

The ARM firmware publishes SMBIOS through the 3.x entry point only, so the
kit tools put -smbios3 on the AArch64 image's line, and the preview tool
is given the same structures under a 3.x entry point with the same
options. A check passes only when kit-run printed exactly the expected
lines, the preview tool decided the same, and (for a medium of its own)
the firmware started the medium's own shell for that machine.
"""

import os
import shutil

import cases as suite
import e2e
import media
from kittools import smbios_dump, vmboot

KIT = os.path.join(e2e.REPO, "examples", "kit")
SMBIOS3_NOTE = ("make-kit-image: the AArch64 image's line gets -smbios3: AArch64 firmware "
                "publishes SMBIOS through the 3.x entry point only")
# What the shell prints when it refuses an image; the medium for both
# machines tries the other machine's image out of sight.
REFUSED = "Script Error Status"


def make_medium(args, root, arches, options, out):
    """make-kit-image --arch ARCHES with the suite's images; (ok, the
    medium, stdout lines, stderr lines)."""
    path = os.path.join(root, out)
    images = []
    for arch in arches:
        images += ["--efi", e2e.image_for(args, arch)]
    code, made, err = e2e.run_tool(
        [e2e.MAKE_KIT_IMAGE, "--quiet", "--arch", ",".join(arches), "--no-verify"] + images + options +
        [path], 600)
    return code == 0 and os.path.isfile(path) and len(made) == 1, path, made, err


def preview_lines(args, report, name, dump, kit, app_args, want):
    """Checks the preview tool's verdict on `dump` against `want` (the VM's
    lines in the preview's terms, then the status line)."""
    preview, err = e2e.run_preview(args.preview, dump, kit, app_args)
    report.check(name + " [preview]", preview == want,
                 "expected %r, got %r %s" % (want, preview, err))


def events_as_preview(events, status="0x0"):
    return ["console: %s\\r\\n" % v if k == "msg" else "execute: " + v for k, v in events] + [
        "status: " + e2e.FULL_STATUS[status]]


def check_console(report, name, root):
    log = os.path.join(root, "qemu-console.log")
    lines = []
    if os.path.isfile(log):
        with open(log, "rb") as f:
            lines = vmboot.console_lines(f.read())
    refused = [line for line in lines if REFUSED in line]
    report.check(name + " [no refusal on the console]", bool(lines) and not refused,
                 "the console shows %r (console log %s)" % (refused, log))


def check_example(boot, args, report):
    """The example kit folder through the ARM firmware's built-in shell."""
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    result = e2e.kit_run(args, root, [], "aarch64")
    want = [e2e.STAND_IN % "UpdateHWOld.nsh",
            e2e.summary(["UpdateHWOld.nsh"], "0x0", options="-smbios3", arch="aarch64")]
    e2e.check_kit_output(report, boot.name, result, want, 0, root)
    # kit-run's default machine (BIOS 1.26) under the 3.x entry point alone.
    dump = os.path.join(root, "table.bin")
    e2e.write(dump, suite.dumps.dump_3x(suite.type0_table("1.26")))
    want_preview = events_as_preview([suite.OLD])
    preview_lines(args, report, boot.name, dump, KIT, ["-smbios3"], want_preview)
    e2e.check_vm_agrees(report, boot.name, result[1], want_preview)


def check_stick_dump(boot, args, report):
    """An AArch64 stick with its own shell, on a real server's SMBIOS data
    (a 3.x-only dump, as ARM servers publish it)."""
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    kit = os.path.join(root, "kit")
    os.makedirs(kit)
    e2e.write(os.path.join(kit, "UpdateConfig.ini"),
              e2e.load_expected()["config"].encode("ascii"))
    for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
        e2e.write(os.path.join(kit, name), b'echo "not run in this test"\r\n')
    ok, stick, made, err = make_medium(args, root, ("aarch64",), ["--shell", "ovmf", kit],
                                       "kit.img")
    if not report.check(boot.name + " [make-kit-image]", ok and SMBIOS3_NOTE in err,
                        "%r %r" % (made, err)):
        return
    dump = os.path.join(e2e.DUMP_DIR, boot.params["dump"])
    code, out, err = e2e.kit_run(args, root, ["--kit", stick, "--smbios-dump", dump], "aarch64")
    lines, status = e2e.as_preview_lines(out)
    want = events_as_preview(boot.params["events"])
    want_tail = "-smbios3 ended with status 0x0 (success)" + e2e.started_from(
        "USB stick", "medium", "aarch64")
    report.check(boot.name + " [kit-run]",
                 code == 0 and lines == want[:-1] and status == "0x0" and bool(out)
                 and out[-1].endswith(want_tail),
                 "expected exit 0, %r and a summary ending %r, got exit %s, %r; stderr %r "
                 "(console log %s)" % (want[:-1], want_tail, code, out, err,
                                       os.path.join(root, "qemu-console.log")))
    # The preview on the structures the VM showed, under the 3.x entry point
    # it showed them through, with the options of the kit's line.
    structures = smbios_dump.vm_structures(smbios_dump.read_dump(dump), "aarch64")
    shown = os.path.join(root, "shown-3x.bin")
    e2e.write(shown, suite.dumps.dump_3x(structures))
    preview_lines(args, report, boot.name, shown, kit, ["-smbios3"], want)
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


def check_both_iso(boot, args, report):
    """One ISO with both images and both shells, booted as a CD-ROM on the
    VM of `vm`: the medium's own shell for that machine starts, and
    startup.nsh runs the image the firmware loads."""
    failed_before = report.failed
    vm = boot.params["vm"]
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    ok, iso, made, err = make_medium(args, root, ("x64", "aarch64"),
                                      ["--shell", "ovmf", "--app-args", "-v", KIT], "kit.iso")
    if not report.check(boot.name + " [make-kit-image]", ok and err == [SMBIOS3_NOTE],
                        "%r %r" % (made, err)):
        return
    result = e2e.kit_run(args, root, ["--kit", iso], vm)
    entry = suite.ENTRY_3X if vm == "aarch64" else suite.ENTRY_2X
    events = [entry, suite.decision(("1.26", 1), ("2", 2), "older", suite.OLD),
              suite.leading_number_only("1.26")]
    options = "-smbios3 -v" if vm == "aarch64" else "-v"
    want = [v for _, v in events] + [e2e.STAND_IN % "UpdateHWOld.nsh", e2e.summary(
        ["UpdateHWOld.nsh"], "0x0", "CD-ROM", "medium", options, arch=vm)]
    e2e.check_kit_output(report, boot.name + " [kit-run]", result, want, 0, root)
    check_console(report, boot.name, root)
    table = suite.type0_table("1.26")
    dump = os.path.join(root, "table.bin")
    e2e.write(dump, suite.dumps.dump_3x(table) if vm == "aarch64" else
              suite.dumps.dump_2x(table))
    want_preview = events_as_preview(events + [suite.OLD])
    preview_lines(args, report, boot.name, dump, KIT, options.split(), want_preview)
    e2e.check_vm_agrees(report, boot.name, result[1], want_preview)
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


def check_library_both(boot, args, report):
    """A library of kits on one ISO for both machines, booted on the ARM VM
    as a given product: the AArch64 image's line runs with -smbios3 and
    -kits, and chooses the kit and script the preview tool chooses on the
    same structures under the 3.x entry point."""
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    library = os.path.join(e2e.REPO, "examples", "kits")
    ok, iso, made, err = make_medium(args, root, ("x64", "aarch64"),
                                     ["--shell", "ovmf", "--app-args", "-v", "--kits", library],
                                     "library.iso")
    if not report.check(boot.name + " [make-kit-image]", ok and err == [SMBIOS3_NOTE],
                        "%r %r" % (made, err)):
        return
    product = boot.params["product"]
    code, out, err = e2e.kit_run(args, root, ["--kit", iso, "--product", product], "aarch64")
    want_summary = e2e.summary(["UpdateHWNew.nsh"], "0x0", "CD-ROM", "medium",
                               "-smbios3 -kits -v", kit=boot.params["kit"], arch="aarch64")
    report.check(boot.name + " [kit-run]", code == 0 and bool(out) and out[-1] == want_summary,
                 "expected exit 0 and %r last, got exit %s, %r; stderr %r (console log %s)"
                 % (want_summary, code, out, err, os.path.join(root, "qemu-console.log")))
    # The library as the medium holds it, beside the machine's structures.
    medium_root = os.path.join(root, "medium")
    shutil.copytree(library, os.path.join(medium_root, "kits"))
    dump = os.path.join(root, "table.bin")
    e2e.write(dump, suite.dumps.dump_3x(suite.type0_table("1.26") + suite.type1_table(product)))
    preview, perr = e2e.run_preview(args.preview, dump, medium_root, ["-smbios3", "-kits", "-v"])
    lines, status = e2e.as_preview_lines(out)
    # The preview names the folder a script ran in (the kit kit-run names),
    # and writes a backslash as two (the console lines are already so).
    kit = boot.params["kit"]
    lines = ["execute: %s> %s" % (kit.replace("\\", "\\\\"), line[len("execute: "):])
             if line.startswith("execute: ") else line for line in lines]
    report.check(boot.name + " [preview agrees with the VM]",
                 preview is not None and status == "0x0" and lines == preview[:-1]
                 and "execute: %s> UpdateHWNew.nsh" % kit.replace("\\", "\\\\") in lines,
                 "the VM showed %r, status %s; the preview %r %s" % (lines, status, preview, perr))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


def check_secure_boot(boot, args, report):
    """The ARM Secure Boot test firmware (it trusts the snakeoil test key)
    with an AArch64 medium signed by make-kit-image on a USB stick and an
    unsigned one on an internal disk, each booting the application itself
    as \\EFI\\BOOT\\BOOTAA64.EFI (the Debian shell does not run under Secure
    Boot): the firmware starts the signed one, which finds no shell and
    returns -1 (FFFFFFFF), and refuses the unsigned one."""
    machine = vmboot.MACHINES["aarch64"]
    if not all(map(os.path.isfile, machine.secure_boot_pair + (media.SNAKEOIL_KEY,
                                                                media.SNAKEOIL_CERT))):
        report.check(boot.name, False, "the AArch64 Secure Boot test firmware or key is missing")
        return
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    passphrase = os.path.join(root, "passphrase")
    e2e.write(passphrase, (media.SNAKEOIL_PASSPHRASE + "\n").encode())
    shell = media.stand_in_shell(args.image_aarch64, root)
    signed_ok, signed, made, err = make_medium(
        args, root, ("aarch64",), ["--shell", shell, "--sign", media.SNAKEOIL_KEY,
                                   "--cert", media.SNAKEOIL_CERT, "--passphrase-file", passphrase,
                                   KIT], "signed.img")
    report.check(boot.name + " [make-kit-image --sign]", signed_ok, "%r %r" % (made, err))
    unsigned_ok, unsigned, made, err = make_medium(
        args, root, ("aarch64",), ["--shell", shell, KIT], "unsigned.img")
    report.check(boot.name + " [make-kit-image unsigned]", unsigned_ok, "%r %r" % (made, err))
    if report.failed != failed_before:
        return
    log = os.path.join(root, "console.log")
    result = vmboot.boot(signed, [], log, timeout=args.timeout, attach="usb-stick",
                         more_drives=[unsigned], secure_boot=True, arch="aarch64",
                         stop_at=b"No bootable option or device was found")
    print("boot %s: %.1f s%s" % (boot.name, result.elapsed, ", timed out" if result.timed_out
                                  else ""))
    events = media.started_options(log)
    usb = [(verb, rest) for verb, d, rest in events if d.startswith(media.USB_OPTION)]
    others = [(verb, rest) for verb, d, rest in events
              if not d.startswith(media.USB_OPTION) and d != media.SHELL_OPTION]
    report.check(boot.name + " [signed image started]",
                 len(usb) == 2 and usb[0][0] == "starting" and usb[1][0] == "failed to start"
                 and usb[1][1].endswith(": FFFFFFFF"),
                 "the USB stick's boot option: %r (console log %s)" % (usb, log))
    report.check(boot.name + " [unsigned image refused]",
                 len(others) == 1 and others[0][0] == "failed to load" and
                 others[0][1].endswith((": Access Denied", ": Security Violation")),
                 "the disk's boot option: %r (console log %s)" % (others, log))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


CHECKS = {"arm_example": check_example, "arm_stick_dump": check_stick_dump,
          "both_iso": check_both_iso, "arm_secure_boot": check_secure_boot,
          "library_both": check_library_both}
