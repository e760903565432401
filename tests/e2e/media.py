"""QEMU checks of kit media: make-kit-image makes a disk image or an ISO
(with the UEFI Shell taken out of the installed ovmf firmware, at test
time), and kit-run boots it as a machine would, a USB stick or a CD-ROM.

A medium check passes only when make-kit-image succeeded, kit-run printed
exactly the expected lines (its summary naming the medium and whether
the medium's own shell or the firmware's ran the kit), the console log
shows the firmware starting that boot option, and the preview tool
decides the same on the same SMBIOS data. The Secure Boot check boots the
test firmware that trusts Debian's snakeoil test key, with a signed and
an unsigned medium at once. The library checks boot one medium holding
several kits as machines of several products.
"""

import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import time

import cases as suite
import e2e
from kittools import kit_medium, kit_run, vmboot

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



def stand_in_shell(image, folder):
    """A copy of the application to boot where the shell goes: the Secure
    Boot boots only need an image the firmware checks. make-kit-image
    refuses the application itself as a shell, which names both update
    scripts; the copy names them otherwise."""
    path = os.path.join(folder, "stand-in-shell-" + os.path.basename(os.path.dirname(image)) +
                        ".efi")
    with open(image, "rb") as f, open(path, "wb") as out:
        out.write(f.read().replace("UpdateHWOld.nsh".encode("utf-16-le"),
                                   "UpdateHWOld.nsX".encode("utf-16-le")))
    return path

def make_kit_image(args, options, out, env=None, verify=False):
    """make-kit-image; -verify and its SHA256SUMS only where the boot is
    about them (the verify boot), so the other boots keep their lines."""
    # --quiet: a step slowed down by a loaded machine says nothing, so the
    # lines checked are the tool's own.
    command = [e2e.MAKE_KIT_IMAGE, "--quiet", "--efi", args.image] + (
        [] if verify else ["--no-verify"]) + options + [out]
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
    e2e.check_vm_agrees(report, boot.name, result[1], want_preview)
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
    shell = stand_in_shell(args.image, root)
    code, _, err = make_kit_image(args, ["--shell", shell, "--sign", SNAKEOIL_KEY,
                                         "--cert", SNAKEOIL_CERT, kit], signed,
                                  env={"KIT_SIGN_PASSPHRASE": SNAKEOIL_PASSPHRASE})
    named = [line for line in err if "\\FlashTool.efi" in line and "refuse" in line]
    report.check(boot.name + " [make-kit-image --sign]",
                 code == 0 and os.path.isfile(signed) and len(named) == 1,
                 "exit %s, stderr %r" % (code, err))
    code, _, err = make_kit_image(args, ["--shell", shell, kit], unsigned)
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


# --- One medium for a fleet -----------------------------------------------

def lay_out_library(folder, kits):
    """A library of kits under `folder`: (relative folder, ProductName=,
    Version=) each, with scripts kit-run replaces by stand-ins."""
    for relative, product, version in kits:
        kit = os.path.join(folder, *relative.split("/"))
        os.makedirs(kit)
        e2e.write(os.path.join(kit, "UpdateConfig.ini"),
                  ("ProductName=%s\r\nVersion=%s\r\n" % (product, version)).encode("ascii"))
        for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
            e2e.write(os.path.join(kit, name), vmboot.startup_script(['echo "%s"' % name]))


def fleet_kits(args, options, dumps, kit_options):
    """input name -> the kit(s) the fleet report names and its warning
    keys, for `kit_options` (--kits DIR or --medium FILE)."""
    if kit_options[0] == "--medium":
        command = [sys.executable, "-m", "kittools", "fleet-medium", args.fleet]
    else:
        command = [args.fleet, "--app-args", options]
    command += kit_options + ["--format", "json", dumps]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
                          env=dict(os.environ, PYTHONPATH=os.path.join(e2e.REPO, "tools")))
    if done.returncode != 0:
        return {"error": done.stderr.decode(errors="replace")}
    return {os.path.basename(row["input"]): (row.get("kit"), row.get("warning_keys"))
            for row in json.loads(done.stdout)}


def check_kit_run(report, label, p, options, kit, want_scripts, want_status, result):
    """kit-run's outcome on a library medium: its exit, the scripts the VM
    ran and the summary line naming the medium and the kit chosen."""
    code, shown, err = result
    lines, _ = e2e.as_preview_lines(shown)
    scripts = [l[len("execute: "):] for l in lines if l.startswith("execute: ")]
    want_summary = e2e.summary(want_scripts, want_status, p["medium"], "medium", options,
                               kit=("kits\\" + kit.replace("/", "\\")) if kit else "")
    report.check(label + " [kit-run]",
                 code == (0 if kit else 1) and scripts == want_scripts and shown and
                 shown[-1] == want_summary,
                 "expected %r, got exit %s, %r; stderr %r" % (want_summary, code, shown, err))


def check_library(boot, args, report):
    """A library medium made by make-kit-image --kits, booted by kit-run as
    machines of several products: each runs its own kit's script from its
    kit's folder, or is refused with its line and no script; the preview
    tool decides the same on the same SMBIOS data, and the fleet report,
    over the library and over the medium itself, names the same kits."""
    p = boot.params
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    medium_folder = os.path.join(root, "medium")
    library = os.path.join(medium_folder, "kits")
    lay_out_library(library, suite.LIBRARY_KITS)
    out = os.path.join(root, p["out"])
    code, made, err = make_kit_image(args, ["--shell", "ovmf", "--app-args", p["app_args"],
                                            "--kits", library], out)
    if not report.check(boot.name + " [make-kit-image --kits]",
                        code == 0 and os.path.isfile(out) and len(made) == 1,
                        "exit %s, %r %r" % (code, made, err)):
        return
    options = "-kits " + p["app_args"]
    dumps = os.path.join(root, "dumps")
    os.makedirs(dumps)
    chosen = {}
    for product, bios, kit, outcome in p["machines"]:
        name = "%s [%s]" % (boot.name, product)
        dump = os.path.join(dumps, product.replace(" ", "_") + ".bin")
        e2e.write(dump, suite.dumps.dump_2x(suite.type0_table(bios) + suite.type1_table(product)))
        result = e2e.kit_run(args, os.path.join(root, product.replace(" ", "_")),
                             ["--kit", out, "--product", product, "--bios-version", bios])
        code, shown, err = result
        lines, status = e2e.as_preview_lines(shown)
        if kit:
            want_status, want_scripts = "0x0", [outcome]
        else:
            want_status, want_scripts = "0x15", []
            report.check(name + " [refused with its line]",
                         any(l.startswith("console: " + outcome) for l in lines),
                         "expected a line beginning %r, got %r" % (outcome, lines))
        check_kit_run(report, name, p, options, kit, want_scripts, want_status, result)
        chosen[os.path.basename(dump)] = kit
        preview, perr = e2e.run_preview(args.preview, dump, medium_folder, options.split())
        # The preview names the folder each script runs in ("execute:
        # kits\\a> UpdateHWOld.nsh", a backslash shown as two): the kit's.
        folders = [l[len("execute: "):].split("> ")[0] for l in preview or ()
                   if l.startswith("execute: ") and "> " in l]
        plain = [("execute: " + l.split("> ", 1)[1]) if l.startswith("execute: ") and "> " in l
                 else l for l in preview or ()]
        want_folders = ["kits\\\\" + kit.replace("/", "\\\\")] if kit else []
        report.check(name + " [preview agrees with the VM]",
                     preview is not None and plain[:-1] == lines and folders == want_folders and
                     plain[-1] == "status: " + e2e.FULL_STATUS[want_status],
                     "the preview printed %r %s, the VM %r" % (preview, perr, lines))
    # The fleet report's plan: the kit of each machine, no-kit for the
    # product no kit serves, several-kits for the overlapping one.
    overlap = [m[0] for m in p["machines"] if m[3].startswith("ERROR: several kits")]
    for kit_options, prefix in ((["--kits", library], library + "/"),
                                (["--medium", out], out + ":\\kits\\")):
        got = fleet_kits(args, p["app_args"], dumps, kit_options)
        want = {}
        for dump, kit in chosen.items():
            if kit:
                want[dump] = prefix + kit.replace("/", "/" if prefix.endswith("/") else "\\")
            elif dump[:-4].replace("_", " ") in overlap:
                want[dump] = "several-kits"
            else:
                want[dump] = "no-kit"
        # The report names a kit, or no kit and several (a list of them)
        # with the warning of that name.
        plain = {d: (k if isinstance(k, str) else
                     "several-kits" if isinstance(k, list) and len(k) == 2 and
                     "several-kits" in (w or []) else
                     "no-kit" if k is None and "no-kit" in (w or []) else (k, w))
                 for d, (k, w) in got.items()} if "error" not in got else got
        report.check("%s [fleet report %s]" % (boot.name, kit_options[0]), plain == want,
                     "expected %r, got %r" % (want, got))
    if p.get("edges"):
        check_library_edges(boot, args, report)
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


# --- A library keyed by hardware IDs ---------------------------------------

REFERENCE = "/usr/bin/fwupdtool"
# The fields kit-run sets, as the IDs name them.
HWID_FIELDS = {"manufacturer": "Manufacturer", "product": "ProductName", "sku": "ProductSku",
               "family": "Family", "baseboard-manufacturer": "BaseboardManufacturer",
               "baseboard-product": "BaseboardProduct"}


def reference_ids(root, fields):
    """The fifteen IDs the reference computes for `fields` (name -> value,
    prepared): the ID's text or None for each."""
    path = os.path.join(root, "hwids.ini")
    e2e.write(path, ("[HwIds]\n" + "".join("%s=%s\n" % item for item in fields.items()))
              .encode("utf-8"))
    done = subprocess.run([REFERENCE, "hwids", path], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, timeout=60)
    text = done.stdout.decode("utf-8", "replace")
    lines = text.split("Hardware IDs\n------------\n", 1)[-1].splitlines()[:15]
    return [m.group(1) if m else None
            for m in (re.match(r"^\{([0-9a-f-]{36})\}", line) for line in lines)]


def machine_fields(machine):
    fields = {"Manufacturer": suite.HWID_MAKER}
    fields.update({HWID_FIELDS[k]: v for k, v in machine.items()})
    return fields


def check_library_hwids(boot, args, report):
    """A library medium whose kits are keyed by the reference's IDs, booted
    as machines of each kind: each runs its own kit's script from its kit's
    folder, a SKU no kit lists is refused with its line; -hwids on the VM
    prints the IDs the reference computes for the VM's fields; the preview
    tool decides the same on the same structures and the fleet report
    plans the same kits."""
    p = boot.params
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    if not report.check(boot.name + " [reference]", os.access(REFERENCE, os.X_OK),
                        "%s is missing (Debian package fwupd, tools/install-deps)" % REFERENCE):
        return
    ids = {name: reference_ids(root, machine_fields(m)) for name, m, _ in p["machines"]}
    medium_folder = os.path.join(root, "medium")
    library = os.path.join(medium_folder, "kits")
    kits = {"sku-a": "HardwareIds=%s" % ids["sku-a"][7],
            "sku-b": "HardwareIds=0123abcd-0000-5000-8000-000000000000, {%s}"
                     % ids["sku-b"][7].upper(),
            "boards/board-1": "ProductName=System Product Name\r\nHardwareIds=%s"
                              % ids["board-1"][13],
            "boards/board-2": "HardwareIds=%s" % ids["board-2"][13],
            "model8": "ProductName=Model8"}
    for kit, keys in kits.items():
        folder = os.path.join(library, *kit.split("/"))
        os.makedirs(folder)
        e2e.write(os.path.join(folder, "UpdateConfig.ini"), (keys + "\r\nVersion=2\r\n").encode())
        for name in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
            e2e.write(os.path.join(folder, name), vmboot.startup_script(['echo "%s"' % name]))
    out = os.path.join(root, p["out"])
    code, made, err = make_kit_image(args, ["--shell", "ovmf", "--app-args", p["app_args"],
                                            "--kits", library], out)
    if not report.check(boot.name + " [make-kit-image --kits]", code == 0 and os.path.isfile(out),
                        "exit %s, %r %r" % (code, made, err)):
        return
    options = "-kits " + p["app_args"]
    dumps = os.path.join(root, "dumps")
    os.makedirs(dumps)
    for name, machine, kit in p["machines"]:
        label = "%s [%s]" % (boot.name, name)
        fields = ["--manufacturer", suite.HWID_MAKER]
        for key, value in machine.items():
            fields += ["--" + key, value]
        hwids = name == p["hwids"]
        code, shown, err = e2e.kit_run(args, os.path.join(root, name), ["--kit", out] + fields +
                                       (["--app-args", "-hwids"] if hwids else []))
        lines, status = e2e.as_preview_lines(shown)
        if hwids:
            # The fields as the VM printed them, and each ID as the
            # reference computes it from those very fields.
            printed = [l[len("console: "):-len("\\r\\n")] for l in lines
                       if l.startswith("console: ")]
            vm_fields = {}
            for line in printed[:11]:
                m = re.match(r'^(\w+): "(.*)"$', line)
                if m:
                    vm_fields[m.group(1)] = m.group(2).replace("\\\\", "\\")
            want = reference_ids(root, vm_fields)
            got = [(re.match(r"^HardwareID-\d+: \{([0-9a-f-]{36})\}", l) or [None, None])[1]
                   for l in printed[11:26]]
            report.check(label + " [-hwids: the reference's IDs for the VM's fields]",
                         code == 0 and status == "0x0" and len(printed) == 26 and got == want
                         and None not in want and got[7] == ids[name][7],
                         "the VM printed %r; the reference %r for %r; stderr %r"
                         % (printed, want, vm_fields, err))
            continue
        if kit:
            want_status, want_scripts = "0x0", ["UpdateHWOld.nsh"]
        else:
            want_status, want_scripts = "0x15", []
            refusal = 'console: ERROR: no kit in kits serves product "%s" of manufacturer "%s".' % (
                machine["product"], suite.HWID_MAKER)
            report.check(label + " [refused with its line]", any(l.startswith(refusal) for l in lines),
                         "expected %r, got %r" % (refusal, lines))
        check_kit_run(report, label, p, options, kit, want_scripts, want_status,
                      (code, shown, err))
        # The same machine for the preview tool and the fleet report.
        enc = lambda key: machine.get(key, "").encode("latin-1")  # noqa: E731
        structures = suite.type0_table("1.26") + [suite.dumps.system_information(
            0x0100, suite.HWID_MAKER.encode(), enc("product"), b"pc-q35", b"0", enc("sku") or b"-",
            b"-")]
        if "baseboard-product" in machine:
            structures.append(suite.dumps.baseboard(0x0200, enc("baseboard-manufacturer"),
                                                    enc("baseboard-product"), b"-", b"-"))
        dump = os.path.join(dumps, name + ".bin")
        e2e.write(dump, suite.dumps.dump_2x(structures))
        preview, perr = e2e.run_preview(args.preview, dump, medium_folder, options.split())
        plain = [("execute: " + l.split("> ", 1)[1]) if l.startswith("execute: ") and "> " in l
                 else l for l in preview or ()]
        report.check(label + " [preview agrees with the VM]",
                     preview is not None and plain[:-1] == lines and
                     plain[-1] == "status: " + e2e.FULL_STATUS[want_status],
                     "the preview printed %r %s, the VM %r" % (preview, perr, lines))
    got = fleet_kits(args, p["app_args"], dumps, ["--kits", library])
    want = {name + ".bin": (library + "/" + kit) if kit else "no-kit"
            for name, _, kit in p["machines"] if name != p["hwids"]}
    plain = {d: (k if isinstance(k, str) else "no-kit" if k is None and "no-kit" in (w or [])
                 else (k, w)) for d, (k, w) in got.items()} if "error" not in got else got
    report.check(boot.name + " [fleet report --kits]", plain == want,
                 "expected %r, got %r" % (want, got))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


# Libraries the image refuses, each a good kit beside one it cannot take:
# a path one unit beyond its bound (the firmware's own lies a little
# further from the root), and a folder name with a leading blank.
LIBRARY_EDGES = [
    ("long-path", "x" * 234, "makes a path longer than 255 characters"),
    ("leading-blank", " spare", "begins or ends with a blank"),
]


def check_library_edges(boot, args, report):
    """One stick, one boot: the application run over each library above
    (its folder the current one) as an AX-100 machine refuses it with its
    line and runs no script; the preview tool over the same folder prints
    the same, and make-kit-image and fleet-report --kits refuse it with
    that line."""
    name = boot.name + " [edges]"
    root = os.path.join(args.work, boot.name + "-edges")
    shutil.rmtree(root, ignore_errors=True)
    drive = os.path.join(root, "drive")
    os.makedirs(drive)
    shutil.copyfile(args.image, os.path.join(drive, "BiosUpdateSelect.efi"))
    script = ["@echo -off"]
    for case, folder, _ in LIBRARY_EDGES:
        lay_out_library(os.path.join(drive, case, "kits"),
                        [("ax-100", "AX-100", "1.30"), (folder, "ZX-1", "1.0")])
        script += ["fs0:", "cd \\" + case, 'echo "E2E-BEGIN %s"' % case,
                   "\\BiosUpdateSelect.efi -kits -product", 'echo "E2E-END %s %%lasterror%%"' % case]
    script += ["reset -s"]
    e2e.write(os.path.join(drive, "startup.nsh"), vmboot.startup_script(script))
    stick = os.path.join(root, "edges.img")
    kit_medium.make_fat_image(drive, stick)
    fields = {attr: None for _, attr, _ in kit_run.MACHINE_FIELDS}
    machine = type("Machine", (), dict(fields, smbios_dump=None, bios_version="1.26",
                                       product="AX-100", arch="x64"))()
    result = vmboot.boot(stick, kit_run.smbios_options(machine, root)[0],
                         os.path.join(root, "console.log"), timeout=args.timeout,
                         attach="usb-stick")
    outputs = e2e.case_outputs(result.lines)
    dumps = os.path.join(root, "dumps")
    os.makedirs(dumps)
    dump = os.path.join(dumps, "AX-100.bin")
    e2e.write(dump, suite.dumps.dump_2x(suite.type0_table("1.26") + suite.type1_table("AX-100")))
    for case, folder, problem in LIBRARY_EDGES:
        library = os.path.join(drive, case, "kits")
        got, status = outputs.get(case, (None, None))
        lines, _ = e2e.as_preview_lines(got or [])
        want = "console: ERROR: kits\\\\" + folder + " " + problem
        report.check("%s [%s: the machine refuses]" % (name, case),
                     status == "0x15" and len(lines) == 1 and lines[0].startswith(want) and
                     lines[0].endswith("\\r\\n"),
                     "expected one line beginning %r and 0x15, got %r %s (console log in %s)"
                     % (want, got, status, root))
        preview, perr = e2e.run_preview(args.preview, dump, os.path.join(drive, case),
                                        ["-kits", "-product"])
        report.check("%s [%s: preview agrees with the VM]" % (name, case),
                     preview is not None and preview[:-1] == lines and
                     preview[-1] == "status: " + e2e.FULL_STATUS["0x15"],
                     "the preview printed %r %s, the VM %r" % (preview, perr, lines))
        shown = lines[0][len("console: ERROR: "):-len("\\r\\n")].replace("\\\\", "\\") \
            if lines else problem
        code, made, err = make_kit_image(args, ["--kits", library],
                                         os.path.join(root, case + ".img"))
        report.check("%s [%s: make-kit-image refuses]" % (name, case),
                     code == 2 and len(err) == 1 and shown in err[0],
                     "expected exit 2 and %r, got exit %s, %r" % (shown, code, err))
        got = fleet_kits(args, "-product", dumps, ["--kits", library])
        report.check("%s [%s: the fleet report refuses]" % (name, case),
                     shown in got.get("error", ""), "expected %r, got %r" % (shown, got))


RECORD_NOTE = "Note: no record written to \\rollout.jsonl: Write Protected (open)."


def check_records(boot, args, report):
    """A stick made with --log, booted by kit-run --keep-records as two
    machines one after the other, holds one record line for each, with its
    own serial number, UUID, BIOS version and script, which the fleet
    report reads; the same medium as an ISO on a CD-ROM
    says it wrote no record and runs the script all the same."""
    from kittools import kit_medium
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    failed_before = report.failed
    stick = os.path.join(root, "kit.img")
    code, made, err = make_kit_image(args, ["--shell", "ovmf", "--log", KIT], stick)
    if not report.check(boot.name + " [make-kit-image --log]", code == 0 and err == [],
                        "exit %s, %r %r" % (code, made, err)):
        return
    # Two rehearsal boots of the stick, each keeping its record on it.
    machines = [("SN-1", "00112233-4455-6677-8899-aabbccddeeff", "1.26", "UpdateHWOld.nsh"),
                ("SN-2", "10112233-4455-6677-8899-aabbccddeeff", "2.05", "UpdateHWNew.nsh")]
    for n, (serial, uuid, bios, _) in enumerate(machines, 1):
        code, out, err = e2e.kit_run(args, root, ["--kit", stick, "--keep-records", "--quiet",
                                                  "--bios-version", bios, "--serial", serial,
                                                  "--uuid", uuid])
        kept = "kit-run: kept on %s: \\rollout.jsonl now holds %d lines" % (stick, n)
        report.check(boot.name + " [kit-run --keep-records %s]" % serial, code == 0 and kept in out,
                     "exit %s, %r %r (console log in %s)" % (code, out, err, root))
    drive = stick
    data = kit_medium.read_file(kit_medium.fat_target(drive), "rollout.jsonl") or b""
    lines = [line for line in data.decode("utf-8", "replace").split("\n") if line]
    records = []
    for line in lines:
        try:
            records.append(json.loads(line))
        except ValueError:
            records.append(None)
    got = [(r.get("serial"), r.get("uuid"), r.get("bios_version"), r.get("script"), r.get("ran"),
            r.get("status")) if isinstance(r, dict) else None for r in records]
    want = [(serial, uuid, bios, script, True, "0x0") for serial, uuid, bios, script in machines]
    report.check(boot.name + " [two records]", got == want and data.endswith(b"\n"),
                 "expected %r, the stick holds %r" % (want, data))
    # The report reads the stick's file: these two machines are not in its inventory.
    kept = os.path.join(root, "rollout.jsonl")
    with open(kept, "wb") as f:
        f.write(data)
    done = subprocess.run([args.fleet, "--kit", KIT, "--records", kept, "--format", "json",
                           os.path.join(e2e.REPO, "tests", "data", "dumps", "desktop-2.8.bin")],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    report.check(boot.name + " [fleet-report --records]",
                 done.returncode == 0 and b"2 records match no machine" in done.stderr,
                 "exit %s, %r" % (done.returncode, done.stderr))

    iso = os.path.join(root, "kit.iso")
    code, made, err = make_kit_image(args, ["--shell", "ovmf", "--log", KIT], iso)
    note = ("make-kit-image: --log: a CD is read-only; records are written only where the ISO "
            "is written to a stick")
    if report.check(boot.name + " [make-kit-image --log .iso]", code == 0 and err == [note],
                    "exit %s, %r %r" % (code, made, err)):
        result = e2e.kit_run(args, root, ["--kit", iso, "--bios-version", "1.26"])
        want_out = [RECORD_NOTE, e2e.STAND_IN % "UpdateHWOld.nsh",
                    e2e.summary(["UpdateHWOld.nsh"], "0x0", "CD-ROM", "medium",
                                "-log \\rollout.jsonl")]
        e2e.check_kit_output(report, boot.name + " [CD-ROM]", result, want_out, 0, root)
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


# The verify boot's library: (kit folder, product, what is done to the
# medium after it was made). The intact kit carries the big flash file.
VERIFY_KITS = [
    ("a-intact", "VX-1", None),
    ("b-flipped", "VX-2", "a byte of its BIOS file flipped"),
    ("c-truncated", "VX-3", "its BIOS file cut short"),
    ("d-deleted", "VX-4", "its BIOS file deleted"),
    ("e-script", "VX-5", "its script edited"),
]
VERIFY_ROM = "bios/BIOS.ROM"


def damage(kit_files, how):
    """The kit's files (relative path -> bytes, None for deleted) after `how`."""
    files = dict(kit_files)
    rom = files[VERIFY_ROM]
    if how == "a byte of its BIOS file flipped":
        files[VERIFY_ROM] = rom[:1000] + bytes([rom[1000] ^ 0x01]) + rom[1001:]
    elif how == "its BIOS file cut short":
        files[VERIFY_ROM] = rom[:len(rom) // 2]
    elif how == "its BIOS file deleted":
        files[VERIFY_ROM] = None
    elif how == "its script edited":
        files["UpdateHWOld.nsh"] += b"echo one line more\r\n"
    return files


def check_verify(boot, args, report):
    """A library medium made with -verify (make-kit-image's default), then
    altered with mtools kit by kit, booted as one machine per kit: the
    intact kit (64 MiB of flash file) runs its script and its record holds
    its kit_sha256; each damaged kit is refused with the line naming its
    file and no script; then one bad line in another kit's SHA256SUMS
    stops the choice for every machine. The preview tool decides the same
    on the same folder. The 64 MiB kit's verification time under TCG is
    printed (the intact boot against a small kit's)."""
    from kittools import kit_medium, layout
    p = boot.params
    failed_before = report.failed
    root = os.path.join(args.work, boot.name)
    shutil.rmtree(root, ignore_errors=True)
    medium_folder = os.path.join(root, "medium")
    library = os.path.join(root, "library")
    kits = {}
    for folder, product, _ in VERIFY_KITS:
        size = (p["flash_mib"] << 20) if folder == "a-intact" else 100000
        kits[folder] = {
            "UpdateConfig.ini": ("ProductName=%s\r\nVersion=2\r\n" % product).encode(),
            "UpdateHWOld.nsh": vmboot.startup_script(['echo "UpdateHWOld.nsh"']),
            "UpdateHWNew.nsh": vmboot.startup_script(['echo "UpdateHWNew.nsh"']),
            VERIFY_ROM: os.urandom(size)}
        for name, data in kits[folder].items():
            os.makedirs(os.path.dirname(os.path.join(library, folder, name)), exist_ok=True)
            e2e.write(os.path.join(library, folder, name), data)
    out = os.path.join(root, "verify.img")
    code, made, err = make_kit_image(args, ["--shell", "ovmf", "--log", "--kits", library], out,
                                     verify=True)
    target = kit_medium.fat_target(out) if code == 0 else None
    startup = kit_medium.read_file(target, "startup.nsh") if target else None
    if not report.check(boot.name + " [make-kit-image -verify]",
                        code == 0 and err == [] and startup is not None and
                        layout.app_words(startup) == ["-kits", "-verify", "-log",
                                                      "\\rollout.jsonl"],
                        "exit %s, %r %r, startup.nsh %r" % (code, made, err, startup)):
        return
    # The medium altered as a stick in the field might be, and its folder
    # for the preview tool altered the same way.
    sums = {}
    for folder, _, how in VERIFY_KITS:
        sums[folder] = kit_medium.read_file(target, "kits/%s/SHA256SUMS" % folder)
        files = damage(kits[folder], how)
        for name, data in list(files.items()) + [("SHA256SUMS", sums[folder])]:
            path = "kits/%s/%s" % (folder, name)
            host = os.path.join(medium_folder, "kits", folder, *name.split("/"))
            if data is None:
                subprocess.run(["mdel", "-i", target, "::/" + path], check=True,
                               env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
                continue
            os.makedirs(os.path.dirname(host), exist_ok=True)
            e2e.write(host, data)
            if data != kits[folder].get(name, data):
                kit_medium.write_file(target, path, data)
    dumps = os.path.join(root, "dumps")
    os.makedirs(dumps)
    seconds = {}
    for folder, product, how in VERIFY_KITS + [("f-sums", "VX-1", "bad SHA256SUMS line")]:
        name = "%s [%s, %s]" % (boot.name, folder, how or "intact")
        if how == "bad SHA256SUMS line":
            # One line no sha256sum wrote, in the last kit: every kit's
            # UpdateConfig.ini is checked while choosing, so no machine
            # gets a kit.
            bad = sums["e-script"] + b"not a line of sha256sum\n"
            kit_medium.write_file(target, "kits/e-script/SHA256SUMS", bad)
            e2e.write(os.path.join(medium_folder, "kits", "e-script", "SHA256SUMS"), bad)
            line = "ERROR: kits\\e-script\\SHA256SUMS line 5 cannot be read."
        elif how:
            named = VERIFY_ROM.replace("/", "\\") if "script" not in how else "UpdateHWOld.nsh"
            line = "ERROR: kits\\%s\\%s %s." % (
                folder, named, "is listed in SHA256SUMS but cannot be read" if "deleted" in how
                else "does not match SHA256SUMS")
        else:
            line = None
        dump = os.path.join(dumps, folder + ".bin")
        e2e.write(dump, suite.dumps.dump_2x(suite.type0_table("1.26") + suite.type1_table(product)))
        started = time.monotonic()
        code, shown, err = e2e.kit_run(args, os.path.join(root, folder),
                                       ["--kit", out, "--product", product])
        seconds[folder] = time.monotonic() - started
        records = [json.loads(l[len("kit-run: record: "):]) for l in shown
                   if l.startswith("kit-run: record: ")]
        lines, status = e2e.as_preview_lines([l for l in shown
                                              if not l.startswith("kit-run: record: ")])
        if line is None:
            # kit-run's copy has stand-in scripts, and SHA256SUMS to match.
            copy_sums = sums[folder]
            for script in ("UpdateHWOld.nsh", "UpdateHWNew.nsh"):
                copy_sums = layout.restamp_sums(copy_sums, script, kits[folder][script],
                                                layout.stand_in_script(script))
            want_record = hashlib.sha256(copy_sums).hexdigest()
            report.check(name + " [runs its script]",
                         code == 0 and status == "0x0" and lines == ["execute: UpdateHWOld.nsh"]
                         and len(records) == 1 and records[0].get("kit_sha256") == want_record,
                         "expected the script and kit_sha256 %s, got exit %s, %r; stderr %r"
                         % (want_record, code, shown, err))
        else:
            report.check(name + " [refused with its line, no script]",
                         code == 1 and status == "0x15" and
                         lines == ["console: %s\\r\\n" % line.replace("\\", "\\\\")] and
                         len(records) == 1 and records[0].get("message") == line and
                         records[0].get("kit_sha256") is None,
                         "expected %r alone, got exit %s, %r; stderr %r" % (line, code, shown, err))
        preview, perr = e2e.run_preview(args.preview, dump, medium_folder, ["-kits", "-verify"])
        plain = [("execute: " + l.split("> ", 1)[1]) if l.startswith("execute: ") and "> " in l
                 else l for l in preview or ()]
        report.check(name + " [preview agrees with the VM]",
                     preview is not None and plain[:-1] == lines and
                     plain[-1] == "status: " + e2e.FULL_STATUS[status or "0x0"],
                     "the preview printed %r %s, the VM %r" % (preview, perr, lines))
    print("%s: the %d MiB kit's boot took %.1f s, a 100 kB kit's %.1f s: verifying %d MiB "
          "under TCG takes about %.1f s" % (boot.name, p["flash_mib"], seconds["a-intact"],
                                            seconds["b-flipped"], p["flash_mib"],
                                            seconds["a-intact"] - seconds["b-flipped"]))
    if report.failed == failed_before:
        shutil.rmtree(root, ignore_errors=True)


CHECKS = {"medium": check_medium, "verify": check_verify, "secure_boot": check_secure_boot,
          "library": check_library, "library_hwids": check_library_hwids,
          "records": check_records}
