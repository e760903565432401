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
        [e2e.MAKE_KIT_IMAGE, "--arch", ",".join(arches)] + images + options + [path], 600)
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
    lines, status = e2e.as_preview_lines(result[1])
    report.check(boot.name + " [preview agrees with the VM]",
                 status == "0x0" and lines == want_preview[:-1],
                 "the VM showed %r, status %s" % (lines, status))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


CHECKS = {"arm_example": check_example, "arm_stick_dump": check_stick_dump,
          "both_iso": check_both_iso}
