#!/usr/bin/env python3
"""Runs BiosUpdateSelect.efi under QEMU with the ovmf firmware and its UEFI
Shell, and checks every case against the console and %lasterror%; checks
that the preview tool decides the same on the same inputs; and runs the kit
runner on the example kit, kit media (media.py) and the dump corpus.

    e2e.py --list                       names of the boots
    e2e.py --boot NAME --image EFI [--image-aarch64 EFI] --preview TOOL --work DIR
    e2e.py --corpus-preview --preview TOOL --work DIR

A shell boot lays out a FAT folder: the image at the root (with a decoy
UpdateConfig.ini that no case may read), one folder per case with its
UpdateConfig.ini and marker scripts that echo their name, and a
startup.nsh that enters each case folder, runs \\BiosUpdateSelect.efi,
echoes the case name and %lasterror%, and at the end powers off. A case
passes only when exactly its expected lines appear between its markers and
%lasterror% is exactly right. Exit status 77 means the machine has no QEMU
or no firmware for the boot's VM, and nothing was run. The aarch64-* boots
run the AArch64 image on the ARM VM (aarch64.py).
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools"))
sys.path.insert(0, HERE)
import cases as suite  # noqa: E402
from kittools import vmboot  # noqa: E402

SKIP = 77
BOOT_TIMEOUT = 300  # TCG on a busy 2-core machine; a good boot takes 10-30 s
KIT_RUN = os.path.join(REPO, "tools", "kit-run")
MAKE_KIT_IMAGE = os.path.join(REPO, "tools", "make-kit-image")
DUMP_DIR = os.path.join(REPO, "tests", "data", "dumps")
STAND_IN = "=== update script ran: %s (stand-in; the kit's own script was not run)"
FULL_STATUS = {"0x0": "0x0000000000000000", "0x15": "0x8000000000000015"}
NOT_RECOGNIZED = ("'%s' is not recognized as an internal or external command, operable "
                  "program, or script file.")


def load_expected():
    with open(os.path.join(DUMP_DIR, "expected.json")) as f:
        return json.load(f)


def all_boots():
    shell_boots = [b for b in suite.aarch64_boots() if isinstance(b, suite.Boot)]
    return suite.boots() + shell_boots + suite.kit_boots(load_expected())


def boot_arches(boot):
    return boot.arches if isinstance(boot, suite.KitBoot) else (boot.arch,)


def image_for(args, arch):
    return args.image_aarch64 if arch == "aarch64" else args.image


class Report:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print("PASS %s" % name)
        else:
            self.failed += 1
            print("FAIL %s%s" % (name, (": " + detail) if detail else ""))
        return ok


def shell_status(full):
    """%lasterror% as the shell shows a 64-bit status: without bit 63."""
    return "0x%X" % (int(full, 16) & ~(1 << 63))


# --- Shell boots ---------------------------------------------------------

def marker_line(script, case):
    return "E2E-RAN %s %s" % (script, case)


def serial_text(text):
    """A message as ovmf's serial terminal shows it: every character
    beyond ASCII as '?' (the application prints bytes from 0x80 on as the
    characters U+0080 to U+00FF; the preview tool shows those)."""
    return "".join(c if ord(c) < 0x80 else "?" for c in text)


def expected_console(case):
    lines = []
    for kind, value in case.events:
        if kind == "msg":
            lines.append(serial_text(value))
        elif kind == "kit-run":
            lines.append(marker_line(value[1], "%s %s" % (case.name, value[0])))
        elif case.scripts:
            lines.append(marker_line(value, case.name))
        else:
            lines.append(NOT_RECOGNIZED % value)
    return lines


def expected_preview(case):
    lines = []
    for kind, value in case.events:
        if kind == "kit-run":
            # The preview shows the folder a command ran in, a backslash as two.
            lines.append("execute: %s> %s" % (value[0].replace("/", "\\\\"), value[1]))
        else:
            # The preview escapes a backslash as two.
            lines.append("console: %s\\r\\n" % value.replace("\\", "\\\\") if kind == "msg"
                         else "execute: " + value)
    return lines + ["status: " + FULL_STATUS[case.status]]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def lay_out(boot, image, root):
    """The boot's drive, its SMBIOS options, and the dump the preview
    reads: the table under a 2.x entry point, or on the ARM VM under the
    3.x one, which is all its firmware publishes."""
    drive = os.path.join(root, "drive")
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(drive, "cases"))
    shutil.copyfile(image, os.path.join(drive, "BiosUpdateSelect.efi"))
    # A configuration the application must never read: it sits beside the
    # image, not in the shell's current directory.
    write(os.path.join(drive, "UpdateConfig.ini"), b"ProductName=Decoy\r\nVersion=99999\r\n")
    script = ["@echo -off", "fs0:"]
    for case in boot.cases:
        folder = os.path.join(drive, "cases", case.name)
        os.makedirs(folder)
        if case.config is not None:
            write(os.path.join(folder, "UpdateConfig.ini"), case.config)
        if case.scripts:
            for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
                write(os.path.join(folder, name),
                      vmboot.startup_script(['echo "%s"' % marker_line(name, case.name)]))
        for kit, config in case.kits.items():
            kit_folder = os.path.join(folder, "kits", *kit.split("/"))
            os.makedirs(kit_folder)
            write(os.path.join(kit_folder, "UpdateConfig.ini"), config)
            for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
                line = marker_line(name, "%s kits/%s" % (case.name, kit))
                write(os.path.join(kit_folder, name), vmboot.startup_script(['echo "%s"' % line]))
        script += ["cd \\cases\\%s" % case.name,
                   'echo "E2E-BEGIN %s"' % case.name,
                   " ".join(["\\BiosUpdateSelect.efi"] + case.args),
                   'echo "E2E-END %s %%lasterror%%"' % case.name]
    script += ['echo "E2E-ALL-DONE"', "reset -s"]
    write(os.path.join(drive, "startup.nsh"), vmboot.startup_script(script))
    # -smbios file= takes one structure per file.
    smbios = []
    for option in boot.smbios:
        if option.startswith("file=@"):
            index = int(option[6:])
            path = os.path.join(root, "structure-%d.bin" % index)
            write(path, boot.table[index])
            option = "file=" + path
        smbios.append(option)
    dump = os.path.join(root, "table.bin")
    write(dump, suite.dumps.dump_3x(boot.table) if boot.arch == "aarch64"
          else suite.dumps.dump_2x(boot.table))
    if boot.both_entry_points:
        write(os.path.join(root, "table-3x.bin"), suite.dumps.dump_3x(boot.table))
    return drive, smbios, dump


def preview_dump(boot, case, dump):
    """The dump the preview tool gets for a case. A dump holds one entry
    point, and the preview publishes that one alone; where the VM firmware
    publishes both, a case that asks for the 3.x one gets the 3.x dump and
    every other case the 2.x dump, which is what the application reads of
    the two under those options."""
    if boot.both_entry_points and any(a.strip('"').lower() == "-smbios3" for a in case.args):
        return os.path.join(os.path.dirname(dump), "table-3x.bin")
    return dump


def case_outputs(lines):
    """case name -> (lines between its markers, %lasterror% or None)."""
    found = {}
    current = None
    for line in vmboot.without_shell_chatter(lines):
        if line.startswith("E2E-BEGIN "):
            current = line[len("E2E-BEGIN "):].strip()
            found[current] = ([], None)
        elif line.startswith("E2E-END ") and current is not None:
            parts = line.split()
            if len(parts) == 3 and parts[1] == current:
                found[current] = (found[current][0], parts[2])
            current = None
        elif current is not None:
            found[current][0].append(line)
    return {name: ([l for l in got if l.strip()], status) for name, (got, status) in found.items()}


def run_preview(preview, dump, folder, args):
    command = [preview, "--smbios", dump, "--dir", folder, "--"] + [a.strip('"') for a in args]
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=60)
    except subprocess.TimeoutExpired:
        return None, "the preview tool did not finish within 60 s"
    except OSError as error:
        return None, "cannot run the preview tool: %s" % error.strerror
    return done.stdout.decode("utf-8", "replace").splitlines(), done.stderr.decode(errors="replace")


def run_shell_boot(boot, args, report):
    root = os.path.join(args.work, boot.name)
    drive, smbios, dump = lay_out(boot, image_for(args, boot.arch), root)
    log = os.path.join(root, "console.log")
    result = vmboot.boot(drive, smbios, log, timeout=args.timeout, machine_args=boot.machine,
                         arch=boot.arch)
    print("boot %s: %.1f s, %d cases%s" % (boot.name, result.elapsed, len(boot.cases),
                                          ", timed out" if result.timed_out else ""))
    outputs = case_outputs(result.lines)
    failed_before = report.failed
    for case in boot.cases:
        want = expected_console(case)
        got, status = outputs.get(case.name, (None, None))
        if got is None:
            report.check(case.name + " [qemu]", False, "the case never started (console log %s)" % log)
        elif status is None:
            report.check(case.name + " [qemu]", False,
                         "no %%lasterror%% line: the application hung or took the shell down; "
                         "got %r (console log %s)" % (got, log))
        else:
            report.check(case.name + " [qemu]", got == want and status == case.status,
                         "expected %r with %%lasterror%% %s, got %r with %s (console log %s)"
                         % (want, case.status, got, status, log))
        preview_lines, err = run_preview(args.preview, preview_dump(boot, case, dump),
                                         os.path.join(drive, "cases", case.name), case.args)
        want_preview = expected_preview(case)
        report.check(case.name + " [preview]", preview_lines == want_preview,
                     "expected %r, got %r %s" % (want_preview, preview_lines, err.strip()))
    if not result.timed_out and not any(l.strip() == "E2E-ALL-DONE" for l in result.lines):
        report.check(boot.name + " [boot]", False, "startup.nsh did not reach its end (console log %s)"
                     % log)
    if report.failed == failed_before:
        shutil.rmtree(drive, ignore_errors=True)
    else:
        print("console log kept: %s" % log)


# --- Kit runner boots ----------------------------------------------------

def run_tool(command, timeout):
    try:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, [], ["%s did not finish within %d s" % (command[0], timeout)]
    out = done.stdout.decode("utf-8", "replace").splitlines()
    err = done.stderr.decode("utf-8", "replace").splitlines()
    return done.returncode, out, err


def echo_lines(script_path):
    """What the example kit's script prints: the text of its echo lines."""
    lines = []
    with open(script_path, "rb") as f:
        for line in f.read().decode("ascii").splitlines():
            if line.startswith('echo "') and line.endswith('"'):
                lines.append(line[6:-1])
    return lines


BOOTED_BY = {"medium": "the medium's own shell (\\EFI\\BOOT\\%s)",
             "built-in": "the firmware's built-in shell"}
BOOT_FILES = {"x64": "BOOTX64.EFI", "aarch64": "BOOTAA64.EFI"}


def started_from(medium, path, arch="x64"):
    return "; started from the %s by %s" % (medium,
                                            BOOTED_BY[path].replace("%s", BOOT_FILES[arch]))


def summary(scripts, status, medium="disk", path="built-in", options="", kit=None, arch="x64"):
    """kit-run's last line. A kit folder boots as a disk, by the
    firmware's shell; a kit image names the medium it was attached as;
    the application's options follow its name; a library run (`kit` given,
    "" for none chosen) names the kit first."""
    names = {"0x0": " (success)", "0x15": " (Aborted: no decision was made)"}
    ran = ("no update script ran" if not scripts else
           "%s ran" % scripts[0] if len(scripts) == 1 else
           "%s ran, in that order" % ", ".join(scripts))
    if kit is not None:
        ran = "kit %s: %s" % (kit, ran) if kit else "no kit chosen, " + ran
    return "kit-run: %s; %s ended with status %s%s%s" % (
        ran, " ".join(["BiosUpdateSelect.efi"] + options.split()), status,
        names.get(status, ""), started_from(medium, path, arch))


def kit_run(args, root, extra, arch="x64", verify=False):
    """kit-run; a kit folder without -verify unless `verify` (a kit image
    runs as it was made)."""
    os.makedirs(root, exist_ok=True)
    image = "--kit" in extra and os.path.isfile(extra[extra.index("--kit") + 1])
    # --quiet: the progress lines of a slow boot are not what is checked.
    command = [KIT_RUN, "--quiet", "--efi", image_for(args, arch), "--log-dir", root, "--timeout",
               str(args.timeout)] + (["--arch", arch] if arch != "x64" else []) + (
                   ["--no-verify"] if not verify and not image else []) + extra
    return run_tool(command, args.timeout + 120)


def check_kit_output(report, name, result, want_out, want_code, root):
    code, out, err = result
    report.check(name, code == want_code and out == want_out,
                 "expected exit %s and %r, got exit %s and %r; stderr %r (console log %s)"
                 % (want_code, want_out, code, out, err, os.path.join(root, "qemu-console.log")))


def check_example(kit, args, report):
    root = os.path.join(args.work, kit.name)
    result = kit_run(args, root, [])
    want = [STAND_IN % "UpdateHWOld.nsh", summary(["UpdateHWOld.nsh"], "0x0")]
    check_kit_output(report, kit.name, result, want, 0, root)


def check_own_scripts(kit, args, report):
    root = os.path.join(args.work, kit.name)
    result = kit_run(args, root, ["--run-scripts", "--bios-version", "2.05"])
    own = echo_lines(os.path.join(REPO, "examples", "kit", "UpdateHWNew.nsh"))
    want = ["=== update script ran: UpdateHWNew.nsh"] + own + [summary(["UpdateHWNew.nsh"], "0x0")]
    check_kit_output(report, kit.name, result, want, 0, root)


def check_image(kit, args, report):
    root = os.path.join(args.work, kit.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    image = os.path.join(root, "kit.img")
    code, out, err = run_tool([MAKE_KIT_IMAGE, "--quiet", "--efi", args.image, "--no-verify",
                               os.path.join(REPO, "examples", "kit"), image], 300)
    if not report.check(kit.name + " [make-kit-image]", code == 0 and os.path.isfile(image),
                        "exit %s, %r %r" % (code, out, err)):
        return
    result = kit_run(args, root, ["--kit", image])
    want = [STAND_IN % "UpdateHWOld.nsh",
            summary(["UpdateHWOld.nsh"], "0x0", "USB stick", "built-in")]
    check_kit_output(report, kit.name + " [kit-run]", result, want, 0, root)


def check_app_args(kit, args, report):
    """Options on the application's line: made into a kit image, then
    replaced on a run of that image by -n, which decides and runs nothing."""
    root = os.path.join(args.work, kit.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    # A line break would end the application's line early: refused before any VM.
    code, out, err = kit_run(args, root, ["--app-args", "-v\nreset -s"])
    report.check(kit.name + " [--app-args on two lines]",
                 code == 2 and out == [] and len(err) == 1 and "--app-args" in err[0],
                 "expected exit 2 and one line naming --app-args, got exit %s, %r, %r"
                 % (code, out, err))
    image = os.path.join(root, "kit.img")
    code, out, err = run_tool([MAKE_KIT_IMAGE, "--quiet", "--efi", args.image, "--no-verify",
                               "--app-args", "-v", os.path.join(REPO, "examples", "kit"), image],
                              300)
    if not report.check(kit.name + " [make-kit-image --app-args]",
                        code == 0 and os.path.isfile(image), "exit %s, %r %r" % (code, out, err)):
        return
    result = kit_run(args, root, ["--kit", image, "--bios-version", "2.05"])
    want = [suite.ENTRY_2X[1], suite.decision(("2.05", 2), ("2", 2), "same", suite.NEW)[1],
            suite.leading_number_only("2.05")[1], STAND_IN % "UpdateHWNew.nsh",
            summary(["UpdateHWNew.nsh"], "0x0", "USB stick", "built-in", "-v")]
    check_kit_output(report, kit.name + " [image made with -v]", result, want, 0, root)
    result = kit_run(args, root, ["--kit", image, "--app-args", "-n"])
    want = [suite.ENTRY_2X[1],
            suite.decision(("1.26", 1), ("2", 2), "older", suite.OLD, not_run=True)[1],
            suite.leading_number_only("1.26")[1],
            "kit-run: no update script ran (-n: decide only); BiosUpdateSelect.efi -n ended "
            "with status 0x0 (success)" + started_from("USB stick", "built-in")]
    check_kit_output(report, kit.name + " [--app-args -n]", result, want, 0, root)


def check_refusals(kit, args, report):
    """Inputs the kit runner must turn away with one line, before any VM."""
    root = os.path.join(args.work, kit.name)
    os.makedirs(root, exist_ok=True)
    half_kit = os.path.join(root, "half-kit")
    os.makedirs(half_kit, exist_ok=True)
    write(os.path.join(half_kit, "UpdateConfig.ini"), b"Version=2\r\n")
    not_a_dump = os.path.join(root, "not-a-dump.bin")
    write(not_a_dump, b"this is not SMBIOS data")
    attempts = [(["--smbios-dump", os.path.join(DUMP_DIR, name)], name) for name in kit.params["dumps"]]
    not_an_iso = os.path.join(root, "disk.img")
    write(not_an_iso, b"\0" * 65536)
    attempts += [(["--kit", half_kit], "UpdateHWOld.nsh"),
                 (["--kit", not_an_iso, "--medium", "cdrom"], "no ISO"),
                 (["--kit", os.path.join(REPO, "examples", "kit"), "--medium", "usb-stick"],
                  "--medium"),
                 (["--smbios-dump", os.path.join(root, "missing.bin")], "missing.bin"),
                 (["--smbios-dump", not_a_dump], "not an SMBIOS dump")]
    for extra, mention in attempts:
        code, out, err = kit_run(args, root, extra)
        report.check("%s %s" % (kit.name, " ".join(os.path.basename(e) for e in extra)),
                     code == 2 and out == [] and len(err) == 1 and err[0].startswith("kit-run: ")
                     and mention in err[0],
                     "expected exit 2 and one line naming %r, got exit %s, %r, %r"
                     % (mention, code, out, err))


def as_preview_lines(out):
    """kit-run's report in the preview tool's terms."""
    lines = []
    status = None
    for line in out:
        if line.startswith("=== update script ran: "):
            lines.append("execute: " + line.split()[4])
        elif line.startswith("kit-run: ") and " ended with status " in line:
            status = line.split(" ended with status ")[1].split()[0]
        else:
            # The preview tool shows a backslash as two, as its other escapes.
            lines.append("console: %s\\r\\n" % line.replace("\\", "\\\\"))
    return lines, status


def check_vm_agrees(report, name, out, want_preview):
    """kit-run's report `out` of a successful run against the preview
    tool's lines for the same machine (less the preview's status line)."""
    lines, status = as_preview_lines(out)
    report.check(name + " [preview agrees with the VM]",
                 status == "0x0" and lines == want_preview[:-1],
                 "the VM showed %r, status %s" % (lines, status))


def check_dump(kit, args, report):
    root = os.path.join(args.work, kit.name)
    shutil.rmtree(root, ignore_errors=True)
    kit_dir = os.path.join(root, "kit")
    os.makedirs(kit_dir)
    write(os.path.join(kit_dir, "UpdateConfig.ini"), load_expected()["config"].encode("ascii"))
    for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
        write(os.path.join(kit_dir, name), b'echo "not run in this test"\r\n')
    dump = os.path.join(DUMP_DIR, kit.params["dump"])
    want = kit.params["preview"]
    preview, err = run_preview(args.preview, dump, kit_dir, [])
    report.check(kit.name + " [preview]", preview == want,
                 "expected %r, got %r %s" % (want, preview, err))
    code, out, err = kit_run(args, root, ["--kit", kit_dir, "--smbios-dump", dump])
    lines, status = as_preview_lines(out)
    want_status = want[-1].split()[1]
    ok = (status is not None and lines == want[:-1] and status == shell_status(want_status)
          and code == (0 if status == "0x0" else 1))
    report.check(kit.name + " [kit-run]", ok,
                 "expected %r and status %s, got exit %s, %r; stderr %r (console log %s)"
                 % (want[:-1], shell_status(want_status), code, out, err,
                    os.path.join(root, "qemu-console.log")))


KIT_CHECKS = {"example": check_example, "own_scripts": check_own_scripts, "image": check_image,
              "app_args": check_app_args, "refusals": check_refusals, "dump": check_dump}

# The media checks build on this module's helpers; run as a script, this
# module is __main__, and media must get it rather than a second copy.
sys.modules.setdefault("e2e", sys.modules[__name__])
import media  # noqa: E402
import aarch64  # noqa: E402
KIT_CHECKS.update(media.CHECKS)
KIT_CHECKS.update(aarch64.CHECKS)


# --- The corpus without QEMU --------------------------------------------

def check_corpus_preview(args, report):
    expected = load_expected()
    root = os.path.join(args.work, "corpus-preview")
    os.makedirs(root, exist_ok=True)
    write(os.path.join(root, "UpdateConfig.ini"), expected["config"].encode("ascii"))
    listed = set()
    for entry in expected["dumps"]:
        listed.add(entry["file"])
        got, err = run_preview(args.preview, os.path.join(DUMP_DIR, entry["file"]), root, [])
        report.check("corpus " + entry["file"], got == entry["preview"],
                     "expected %r, got %r %s" % (entry["preview"], got, err))
    on_disk = {n for n in os.listdir(DUMP_DIR) if n.endswith(".bin")}
    report.check("corpus lists every dump", on_disk == listed,
                 "not in expected.json: %s" % sorted(on_disk - listed))
    # The copies of /sys/firmware/dmi/tables: the preview reads a folder as
    # the machine's table, whatever address its entry point names.
    listed = set()
    for entry in expected["folders"]:
        listed.add(entry["folder"])
        got, err = run_preview(args.preview, os.path.join(DUMP_DIR, entry["folder"]), root, [])
        report.check("corpus " + entry["folder"], got == entry["preview"],
                     "expected %r, got %r %s" % (entry["preview"], got, err))
    on_disk = {n for n in os.listdir(DUMP_DIR)
               if os.path.isfile(os.path.join(DUMP_DIR, n, "smbios_entry_point"))}
    report.check("corpus lists every folder", on_disk == listed,
                 "not in expected.json: %s" % sorted(on_disk - listed))


# --- Command line --------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--boot", action="append", default=[], metavar="NAME")
    parser.add_argument("--all", action="store_true")
    parser.add_argument("--corpus-preview", action="store_true")
    parser.add_argument("--image", metavar="EFI")
    parser.add_argument("--image-aarch64", metavar="EFI",
                        default=os.path.join(REPO, "build", "efi-aarch64", "BiosUpdateSelect.efi"))
    parser.add_argument("--preview", metavar="TOOL")
    parser.add_argument("--fleet", metavar="REPORT",
                        default=os.path.join(REPO, "build", "host", "bios-update-select-fleet"))
    parser.add_argument("--work", metavar="DIR", default=os.path.join(REPO, "build", "e2e"))
    parser.add_argument("--timeout", type=int, default=BOOT_TIMEOUT)
    args = parser.parse_args()

    boots = {b.name: b for b in all_boots()}
    if args.list:
        print("\n".join(boots))
        return 0
    report = Report()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    if not args.preview or not os.path.isfile(args.preview):
        print("FAIL: no preview tool at %s" % args.preview)
        return 1
    if args.corpus_preview:
        check_corpus_preview(args, report)
    selected = list(boots) if args.all else args.boot
    unknown = [name for name in selected if name not in boots]
    if unknown:
        print("FAIL: no such boot: %s" % ", ".join(unknown))
        return 1
    arches = sorted({arch for name in selected for arch in boot_arches(boots[name])})
    for arch in arches:
        missing = vmboot.missing_parts(arch)
        if missing:
            print("SKIP: this machine lacks %s; tools/install-deps installs them"
                  % ", ".join(missing))
            return SKIP
        image = image_for(args, arch)
        if not image or not os.path.isfile(image):
            preset = "efi-aarch64" if arch == "aarch64" else "efi"
            print("FAIL: no application image at %s; build it with "
                  "`cmake --preset %s && cmake --build --preset %s`" % (image, preset, preset))
            return 1
    started = time.monotonic()
    for name in selected:
        boot = boots[name]
        if isinstance(boot, suite.KitBoot):
            KIT_CHECKS[boot.check](boot, args, report)
        else:
            run_shell_boot(boot, args, report)
    print("%d passed, %d failed (%.0f s)" % (report.passed, report.failed,
                                             time.monotonic() - started))
    return 1 if report.failed or report.passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
