"""What every kit tool shares: the names on a kit drive, the image's
options, the lines the kit drive's startup.nsh prints around the
application's run, and the one error type whose message is the one line
a tool ends with."""

import os

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
IMAGE_NAME = "BiosUpdateSelect.efi"
CONFIG_NAME = "UpdateConfig.ini"
SCRIPTS = ("UpdateHWOld.nsh", "UpdateHWNew.nsh")
KIT_FILES = (CONFIG_NAME,) + SCRIPTS

# The image's options, as it matches them (ASCII case ignored). A word on
# the application's line that is none of these is ignored by the image, so
# a misspelt one would silently switch its check off: the tools refuse it.
IMAGE_OPTIONS = ("-v", "-n", "-segments", "-product", "-smbios3", "-kits")
# A library medium: the kits under this root folder, each one a folder
# holding UpdateConfig.ini, at most this many levels down (as the image
# searches them).
LIBRARY_FOLDER = "kits"
LIBRARY_OPTION = "-kits"
LIBRARY_DEPTH = 4

START_MARK = "=== BiosUpdateSelect.efi: start ==="
STATUS_MARK = "=== BiosUpdateSelect.efi: status "
SCRIPT_MARK = "=== update script ran: "


class KitError(Exception):
    """The kit, dump or machine cannot be used; the message is one line."""
