"""What every kit tool shares: the names the tools give files on a kit
drive, the machines a kit serves, the lines the kit drive's startup.nsh
prints around the application's run, and the one error type whose message
is the one line a tool ends with. The image's own rules, option words and
the names of its files (the configuration, the two scripts, a kit's
digest list and the folder of a library's kits) are asked of it where
they are used (image_rules), as are the kits it finds in a library."""

import collections
import os

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
IMAGE_NAME = "BiosUpdateSelect.efi"
# The run record a medium made with --log keeps: one file at the medium's
# root for every kit on it.
RECORD_NAME = "rollout.jsonl"
# The firmware machines a kit serves. A medium for one machine holds its
# image as BiosUpdateSelect.efi; a medium for both holds each under its
# image_name, and startup.nsh starts the one the firmware accepts, trying
# them in this order. A machine's options (by the image's names for them:
# image_rules.option) go on its image's line in any kit: AArch64 firmware
# publishes SMBIOS through the 3.x entry point only.
Arch = collections.namedtuple("Arch", "name title pe_machine boot_name image_name preset options")
ARCHES = collections.OrderedDict([
    ("x64", Arch("x64", "x64", 0x8664, "BOOTX64.EFI", "BiosUpdateSelectX64.efi", "efi", ())),
    ("aarch64", Arch("aarch64", "AArch64", 0xAA64, "BOOTAA64.EFI", "BiosUpdateSelectAA64.efi",
                     "efi-aarch64", ("smbios3",))),
])
DEFAULT_ARCH = "x64"
# On a medium for both machines: the script that tries one image quietly.
PROBE_NAME = "BiosUpdateSelectProbe.nsh"
# Every name a kit drive gets from the kit tools rather than from the kit.
TOOL_NAMES = ((IMAGE_NAME, "startup.nsh", PROBE_NAME)
              + tuple(arch.image_name for arch in ARCHES.values()))


def parse_arches(text):
    """The machines of an --arch LIST ("x64", "aarch64", "x64,aarch64"),
    each once, in ARCHES order."""
    names = [name.strip().lower() for name in (text or "").split(",")]
    unknown = [name for name in names if name not in ARCHES]
    if unknown or not names:
        raise KitError("--arch takes x64, aarch64 or x64,aarch64, not %r" % text)
    return tuple(name for name in ARCHES if name in names)


def image_name(arch, arches):
    """The name of `arch`'s image on a medium for `arches`."""
    return IMAGE_NAME if len(arches) == 1 else ARCHES[arch].image_name

START_MARK = "=== BiosUpdateSelect.efi: start ==="
STATUS_MARK = "=== BiosUpdateSelect.efi: status "
SCRIPT_MARK = "=== update script ran: "


class KitError(Exception):
    """The kit, dump or machine cannot be used; the message is one line."""
