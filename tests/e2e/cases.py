"""The QEMU cases, grouped into boots.

A boot is one start of the VM with one set of SMBIOS options; its cases run
one after another from startup.nsh, each in a folder of its own. A case
lists the events it expects in order: a console message of the application
("msg") or an update script the application has the shell run ("run"),
and the status the shell shows in %lasterror% afterwards. The same events
are what the preview tool must print for the same inputs.

Kit boots run tools/kit-run instead, on the example kit, a kit image or a
dump from tests/data/dumps.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tests", "data"))
import make_dumps as dumps  # noqa: E402

NOT_FOUND = "UpdateConfig.ini not found"
NO_VERSION_KEY = "ERROR: Version= not found in UpdateConfig.ini."
NO_BIOS_VERSION = "ERROR: BIOS version not found."
OLD = ("run", "UpdateHWOld.nsh")
NEW = ("run", "UpdateHWNew.nsh")


def msg(text):
    return ("msg", text)


with open(os.path.join(REPO, "examples", "kit", "UpdateConfig.ini"), "rb") as _f:
    EXAMPLE_CONFIG = _f.read()


def config(version_line, product=b"ProductName=Model7\r\n"):
    return product + version_line + b"\r\n"


class Case:
    def __init__(self, name, config_bytes, events, status, args=(), scripts=True, why=""):
        self.name = name
        self.config = config_bytes      # None: no UpdateConfig.ini in the folder
        self.events = list(events)
        self.status = status            # as %lasterror% shows it
        self.args = list(args)
        self.scripts = scripts          # False: the folder has no update scripts
        self.why = why


class Boot:
    def __init__(self, name, smbios, table, cases, why=""):
        self.name = name
        self.smbios = smbios            # QEMU options
        self.table = table              # the same structures, for the preview
        self.cases = cases
        self.why = why


class KitBoot:
    """A run of tools/kit-run; `check` names the check in e2e.py."""

    def __init__(self, name, check, **params):
        self.name = name
        self.check = check
        self.params = params


def type0_option(version, vendor="Acme", date="03/14/2024"):
    fields = ["type=0"]
    if vendor is not None:
        fields.append("vendor=" + vendor)
    fields.append("version=" + version.replace(",", ",,"))
    if date is not None:
        fields.append("date=" + date)
    return ["-smbios", ",".join(fields)]


def type0_table(version, vendor="Acme", date="03/14/2024"):
    """The BIOS Information structure QEMU builds from type0_option."""
    enc = lambda text: None if text is None else text.encode("latin-1")  # noqa: E731
    return [dumps.bios_information(0x0000, enc(vendor), enc(version), enc(date))]


def big_config():
    """1 MiB of comment lines, the keys at the very end."""
    line = b"; padding line of a large configuration file, no keys here\r\n"
    body = line * ((1 << 20) // len(line))
    return body + b"ProductName=Model7\r\nVersion=2\r\n"


def installed_1_26_cases():
    """Installed BIOS 1.26, which counts as 1."""
    return [
        Case("smoke", EXAMPLE_CONFIG, [OLD], "0x0",
             why="the example kit: configured 2 above installed 1"),
        Case("equal", config(b"Version=1"), [NEW], "0x0", why="equal numbers choose the new script"),
        Case("fraction", config(b"Version=1.99"), [NEW], "0x0",
             why="only the leading number counts: 1.99 is 1"),
        Case("letter-prefix", config(b"Version=V2"), [NEW], "0x0", why="V2 counts as 0"),
        Case("numeric", config(b"Version=10"), [OLD], "0x0", why="10 is above 1 as a number"),
        Case("negative", config(b"Version=-1"), [NEW], "0x0"),
        Case("nine-bytes", config(b"Version=0000000002"), [NEW], "0x0",
             why="only 9 bytes are read: 000000000 is 0"),
        Case("first-occurrence", b"; BIOSVersion=7 comes first\r\nProductName=Model7\r\nVersion=1\r\n",
             [OLD], "0x0", why="the bytes Version= inside BIOSVersion= are found first"),
        Case("lone-cr", b"ProductName=Model7\rVersion=2\rNotes=none", [OLD], "0x0"),
        Case("arguments", EXAMPLE_CONFIG, [OLD], "0x0",
             args=["UpdateHWNew.nsh", "Version=0", "-v", '"two words"'],
             why="arguments change nothing"),
        Case("arguments-2", config(b"Version=1"), [NEW], "0x0",
             args=["--old", "-f", "UpdateHWOld.nsh"]),
        Case("no-config", None, [msg(NOT_FOUND)], "0x15",
             why="the root's UpdateConfig.ini must not be used"),
        Case("no-version-key", b"ProductName=Model7\r\n", [msg(NO_VERSION_KEY)], "0x15"),
        Case("utf16-config", b"\xff\xfe" + EXAMPLE_CONFIG.decode("ascii").encode("utf-16-le"),
             [msg(NO_VERSION_KEY)], "0x15", why="no key in a UTF-16 file"),
        Case("empty-config", b"", [msg(NO_VERSION_KEY)], "0x15"),
        Case("big-config", big_config(), [OLD], "0x0"),
        Case("nul-bytes", b"\0" * 64 + b"ProductName=Mo\0del\r\nVersion=\x0077\r\n", [NEW], "0x0",
             why="a NUL ends the value: empty, so 0"),
        Case("no-scripts", EXAMPLE_CONFIG, [OLD], "0x0", scripts=False,
             why="the shell reports the missing script; the decision was made"),
    ]


def long_version():
    return b"3." + b"0" * 62


def boots():
    two = [dumps.bios_information(0x0000, b"Acme", b"1.10", b"01/02/2024"),
           dumps.bios_information(0x0001, b"Acme", b"3.00", b"01/02/2024")]
    odd = [dumps.bios_information(0x0000, None, None, None),
           dumps.bios_information(0x0001, b"Acme", long_version(), b"01/02/2024"),
           dumps.bios_information(0x0002, b"Acme\xe9", b"\xa03.10 \xe9", b"01/02/2024")]
    assert len(long_version()) == 64
    return [
        Boot("installed-1.26", type0_option("1.26"), type0_table("1.26"),
             installed_1_26_cases()),
        Boot("installed-10", type0_option("10"), type0_table("10"), [
            Case("numeric-new", config(b"Version=9"), [NEW], "0x0"),
            Case("numeric-old", config(b"Version=11"), [OLD], "0x0")]),
        Boot("installed-8AET46WW", type0_option("8AET46WW (1.26 )", vendor="Acme Mobile"),
             type0_table("8AET46WW (1.26 )", vendor="Acme Mobile"), [
            Case("leading-8-new", config(b"Version=8"), [NEW], "0x0"),
            Case("leading-8-old", config(b"Version=9"), [OLD], "0x0")]),
        Boot("installed-P68", type0_option("P68"), type0_table("P68"), [
            Case("p68-old", config(b"Version=1"), [OLD], "0x0"),
            Case("p68-new", config(b"Version=0"), [NEW], "0x0")]),
        Boot("version-is-string-1", type0_option("5.0", vendor=None, date=None),
             type0_table("5.0", vendor=None, date=None), [
            Case("no-string-2", EXAMPLE_CONFIG, [msg(NO_BIOS_VERSION)], "0x15")],
             why="without a vendor the version is the structure's only string"),
        Boot("two-bios-information", file_options(two), two, [
            Case("two-old-new", config(b"Version=2"), [OLD, NEW], "0x0"),
            Case("two-new-new", config(b"Version=1"), [NEW, NEW], "0x0"),
            Case("two-old-old", config(b"Version=4"), [OLD, OLD], "0x0")]),
        Boot("odd-bios-information", file_options(odd), odd, [
            Case("odd-strings", config(b"Version=2"),
                 [msg(NO_BIOS_VERSION), NEW, OLD], "0x15",
                 why="no strings: skipped; 64 characters: 3; a leading 0xA0 byte: 0")]),
    ]


def file_options(structures):
    """Placeholders: e2e.py writes each structure to a file and puts the
    path in place of the index."""
    options = []
    for index in range(len(structures)):
        options += ["-smbios", "file=@%d" % index]
    return options


def kit_boots(expected):
    """Kit runner checks; `expected` is tests/data/dumps/expected.json."""
    result = [KitBoot("kit-example", "example"),
              KitBoot("kit-own-scripts-newer-bios", "own_scripts"),
              KitBoot("kit-image", "image"),
              KitBoot("kit-refusals", "refusals",
                      dumps=[d["file"] for d in expected["dumps"] if not d["vm"]])]
    for entry in expected["dumps"]:
        if entry["vm"]:
            result.append(KitBoot("kit-dump-" + entry["file"][:-4], "dump", dump=entry["file"],
                                  preview=entry["preview"]))
    return result
