"""What every kit tool shares: the names on a kit drive, the lines the kit
drive's startup.nsh prints around the application's run, and the one
error type whose message is the one line a tool ends with."""

import os

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
IMAGE_NAME = "BiosUpdateSelect.efi"
CONFIG_NAME = "UpdateConfig.ini"
SCRIPTS = ("UpdateHWOld.nsh", "UpdateHWNew.nsh")
KIT_FILES = (CONFIG_NAME,) + SCRIPTS

START_MARK = "=== BiosUpdateSelect.efi: start ==="
STATUS_MARK = "=== BiosUpdateSelect.efi: status "
SCRIPT_MARK = "=== update script ran: "


class KitError(Exception):
    """The kit, dump or machine cannot be used; the message is one line."""
