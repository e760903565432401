"""The QEMU cases, grouped into boots.

A boot is one start of the VM with one set of SMBIOS options; its cases run
one after another from startup.nsh, each in a folder of its own. A case
lists the events it expects in order: a console message of the application
("msg") or an update script the application has the shell run ("run"),
and the status the shell shows in %lasterror% afterwards. The same events
are what the preview tool must print for the same inputs.

A case's args are the application's options; the lines the options make
it print are built by the helpers below, in the application's own words.

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


ENTRY_2X = ("msg", "SMBIOS 2.x entry point.")
ENTRY_3X = ("msg", "SMBIOS 3.x entry point.")


def decision(installed, configured, outcome, script, not_run=False):
    """The line -v and -n print before a decision. `installed` and
    `configured` are (text, number) under the integer rule, plain texts
    under the segment rule."""
    if isinstance(installed, tuple):
        line = 'Installed "%s" (%d), configured "%s" (%d), integer rule: ' % (
            installed + configured)
    else:
        line = 'Installed "%s", configured "%s", segment rule: ' % (installed, configured)
    return msg(line + "%s -> %s%s" % (outcome, script[1], " (not run)" if not_run else ""))


def counts_as_zero(text):
    return msg('Note: "%s" counts as 0.' % text)


def leading_number_only(text):
    return msg('Note: only the leading number of "%s" counts.' % text)


def not_comparable(installed, configured):
    return msg('ERROR: installed "%s" and configured "%s" cannot be compared.'
               % (installed, configured))


def product_matches(name):
    return msg('Product "%s" matches ProductName=.' % name)


def not_an_option(argument):
    return msg('Note: "%s" is not an option; it is ignored.' % argument)


def kit_run(kit, script):
    """The script of the kit at `kit` ("kits/a/b") run from its folder."""
    return ("kit-run", (kit, script[1]))


def product_differs(machine, configured):
    return msg('ERROR: product "%s" is not ProductName= "%s".' % (machine, configured))


with open(os.path.join(REPO, "examples", "kit", "UpdateConfig.ini"), "rb") as _f:
    EXAMPLE_CONFIG = _f.read()


def config(version_line, product=b"ProductName=Model7\r\n"):
    return product + version_line + b"\r\n"


class Case:
    def __init__(self, name, config_bytes, events, status, args=(), scripts=True, why="",
                 kits=None):
        self.name = name
        self.config = config_bytes      # None: no UpdateConfig.ini in the folder
        self.events = list(events)
        self.status = status            # as %lasterror% shows it
        self.args = list(args)
        self.scripts = scripts          # False: the folder has no update scripts
        self.why = why
        # A library in the folder: kit path under kits ("a/b") -> its
        # UpdateConfig.ini; each kit has marker scripts that name it.
        self.kits = dict(kits or {})


class Boot:
    def __init__(self, name, smbios, table, cases, why="", machine=(), both_entry_points=False,
                 arch="x64"):
        self.name = name
        self.smbios = smbios            # QEMU options
        self.table = table              # the same structures, for the preview
        self.cases = cases
        self.why = why
        self.machine = list(machine)    # more QEMU options for the machine
        # The firmware publishes the table under a 3.x entry point as well
        # as the 2.x one.
        self.both_entry_points = both_entry_points
        # The VM's machine: "aarch64" boots the AArch64 image on the ARM VM,
        # whose firmware publishes the 3.x entry point alone.
        self.arch = arch


class KitBoot:
    """A run of tools/kit-run; `check` names the check in e2e.py. The
    machines it boots are in `arches`."""

    def __init__(self, name, check, arches=("x64",), **params):
        self.name = name
        self.check = check
        self.arches = arches
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


def type1_option(product):
    return ["-smbios", "type=1,product=" + product.replace(",", ",,")]


def type1_table(product):
    """A System Information structure with QEMU's product string; its
    other strings play no part in any decision."""
    return [dumps.system_information(0x0100, b"QEMU", product.encode("latin-1"), b"pc-q35",
                                     b"0", b"0", b"0")]


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
        Case("arguments", EXAMPLE_CONFIG, [not_an_option("-verbose"), OLD], "0x0",
             args=["UpdateHWNew.nsh", "Version=0", "-verbose", '"two words"'],
             why="arguments that are not options change nothing; one spelt like an option is said"),
        Case("arguments-2", config(b"Version=1"), [not_an_option("--old"), not_an_option("-f"), NEW],
             "0x0", args=["--old", "-f", "UpdateHWOld.nsh"]),
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
        Case("no-scripts-verbose", EXAMPLE_CONFIG,
             [ENTRY_2X, decision(("1.26", 1), ("2", 2), "older", OLD),
              leading_number_only("1.26"), OLD,
              msg("Note: the shell could not run UpdateHWOld.nsh: Not Found.")], "0x0",
             args=["-v"], scripts=False,
             why="the shell's answer to a missing script is a success; -v looks for the file"),
        Case("verbose-integer", EXAMPLE_CONFIG,
             [ENTRY_2X, decision(("1.26", 1), ("2", 2), "older", OLD),
              leading_number_only("1.26"), OLD], "0x0", args=["-v"]),
        Case("decide-only-integer", config(b"Version=1"),
             [ENTRY_2X, decision(("1.26", 1), ("1", 1), "same", NEW, not_run=True),
              leading_number_only("1.26")], "0x0", args=["-n"],
             why="-n says what it would run and runs nothing"),
        Case("segments-not-comparable-to-integer", EXAMPLE_CONFIG,
             [not_comparable("1.26", "2")], "0x15", args=["-segments"],
             why="the example kit's Version=2 is no segment version of 1.26"),
    ]


def installed_a05_cases():
    """Installed BIOS "A05" on a machine whose product name is Model7."""
    a07 = config(b"Version=A07")
    return [
        Case("segments-older", a07, [OLD], "0x0", args=["-segments"]),
        Case("segments-older-verbose", a07,
             [ENTRY_2X, decision("A05", "A07", "older", OLD), OLD], "0x0",
             args=["-segments", "-v"]),
        Case("segments-same", config(b"Version=A05"),
             [ENTRY_2X, decision("A05", "A05", "same", NEW), NEW], "0x0",
             args=["-v", "-Segments", "-segments", "-V"], why="any order, any case, twice"),
        Case("segments-newer", config(b"Version=a04"), [NEW], "0x0", args=["-SEGMENTS"],
             why="words compare without regard to case"),
        Case("segments-whole-value", config(b"Version=A000000000000000007"),
             [ENTRY_2X, decision("A05", "A000000000000000007", "older", OLD), OLD], "0x0",
             args=["-segments", "-v"], why="the value is read whole, not cut at 9 bytes"),
        Case("segments-not-comparable", config(b"Version=1.2.0"),
             [not_comparable("A05", "1.2.0")], "0x15", args=["-segments"],
             why="another numbering scheme: no script"),
        Case("integer-a05", a07,
             [ENTRY_2X, decision(("A05", 0), ("A07", 0), "same", NEW), counts_as_zero("A05"),
              counts_as_zero("A07"), NEW], "0x0", args=["-v"], why="the blind spot -segments removes"),
        Case("decide-only-segments", a07,
             [ENTRY_2X, decision("A05", "A07", "older", OLD, not_run=True)], "0x0",
             args=["-n", "-segments"]),
        Case("decide-only-not-comparable", config(b"Version=1.2.0"),
             [ENTRY_2X, not_comparable("A05", "1.2.0")], "0x15", args=["-segments", "-N"],
             why="the status is the one a real run would end with"),
        Case("product-matches", a07,
             [ENTRY_2X, product_matches("Model7"), decision("A05", "A07", "older", OLD), OLD],
             "0x0", args=["-segments", "-product", "-v"]),
        Case("product-yes-rule-trailing-blanks",
             b"CheckProductName=YES\r\nProductName=Model7   \r\nVersion=A07\r\n", [OLD], "0x0",
             args=["-product", "-segments"]),
        Case("product-differs", config(b"Version=A07", b"ProductName=Model8\r\n"),
             [product_differs("Model7", "Model8")], "0x15", args=["-product", "-segments"],
             why="another model: no script at all"),
        Case("product-differs-decide-only", config(b"Version=A07", b"ProductName=model7\r\n"),
             [ENTRY_2X, product_differs("Model7", "model7")], "0x15", args=["-product", "-n"],
             why="product names compare byte for byte"),
        Case("product-in-a-list", config(b"Version=A07", b"ProductName=Model6|Mod*|Model8\r\n"),
             [OLD], "0x0", args=["-product", "-segments"],
             why="a name of the list, here a prefix, serves the machine"),
        Case("product-not-in-the-list", config(b"Version=A07", b"ProductName=Model6|Model7X*|*\r\n"),
             [product_differs("Model7", "Model6|Model7X*|*")], "0x15", args=["-product", "-segments"],
             why="a longer prefix does not match, a lone '*' matches nothing"),
        Case("unknown-arguments", a07,
             [not_an_option(word) for word in
              ["-x", "--v", "-verbose", "-segment", "-smbios", "-n1", "-products"]] + [NEW], "0x0",
             args=["-x", "--v", "-verbose", "-segment", "-smbios", "/n", "n", "-n1", "-products",
                   "UpdateHWOld.nsh"],
             why="arguments that are not options leave the plain run: A05 and A07 both count as 0"),
        Case("kits-chosen", None,
             [ENTRY_2X, msg('Kit kits\\desktops\\model7: ProductName= "Model6|Model7" serves product '
                            '"Model7".'),
              product_matches("Model7"), decision("A05", "A07", "older", OLD),
              kit_run("kits/desktops/model7", OLD)], "0x0",
             args=["-kits", "-segments", "-v"], scripts=False, kits=LIBRARY_A05,
             why="the machine's own kit, found two levels down, runs its script from its folder"),
        Case("kits-none-serves", None, [msg('ERROR: no kit in kits serves product "Model7".')],
             "0x15", args=["-kits"], scripts=False,
             kits={"servers/bx": config(b"Version=A07", b"ProductName=BX-2*\r\n")}),
    ]


# A library for the Model7 machine: its kit by a list, two levels down,
# beside another model's.
LIBRARY_A05 = {
    "desktops/model7": config(b"Version=A07", b"ProductName=Model6|Model7\r\n"),
    "servers/bx": config(b"Version=A01", b"ProductName=BX-2*|BX-3*\r\n"),
}


def installed_282_cases():
    """Installed BIOS "2.8.2"; the firmware publishes both entry points."""
    newer = config(b"Version=2.10.0")
    return [
        Case("smbios3-verbose", newer,
             [ENTRY_3X, decision(("2.8.2", 2), ("2.10.0", 2), "same", NEW),
              leading_number_only("2.8.2"), leading_number_only("2.10.0"), NEW], "0x0",
             args=["-smbios3", "-v"]),
        Case("smbios3-segments-product", newer,
             [ENTRY_3X, product_matches("Model7"), decision("2.8.2", "2.10.0", "older", OLD), OLD],
             "0x0", args=["-v", "-product", "-segments", "-smbios3"]),
        Case("smbios3-decide-only", newer,
             [ENTRY_3X, decision("2.8.2", "2.10.0", "older", OLD, not_run=True)], "0x0",
             args=["-SMBIOS3", "-N", "-segments"]),
        Case("smbios3-product-differs", config(b"Version=2.10.0", b"ProductName=Model8\r\n"),
             [product_differs("Model7", "Model8")], "0x15", args=["-smbios3", "-product"]),
        Case("entry-2x-by-default", newer,
             [ENTRY_2X, decision(("2.8.2", 2), ("2.10.0", 2), "same", NEW),
              leading_number_only("2.8.2"), leading_number_only("2.10.0"), NEW], "0x0",
             args=["-v"],
             why="without -smbios3 the 2.x entry point is read, as before"),
        Case("plain-run-both-entry-points", newer, [NEW], "0x0"),
    ]


def long_version():
    return b"3." + b"0" * 62


def version_in_string_3(handle):
    """A BIOS Information structure as one real server has it: blanks in
    string 2, the version in string 3, and the BIOS Version field naming 3."""
    data = bytearray(dumps.bios_information(handle, b"Acme", b"       ", b"A05"))
    data[5] = 3  # BIOS Version
    data[8] = 0  # no release date
    return bytes(data)


def boots():
    two = [dumps.bios_information(0x0000, b"Acme", b"1.10", b"01/02/2024"),
           dumps.bios_information(0x0001, b"Acme", b"3.00", b"01/02/2024")]
    odd = [dumps.bios_information(0x0000, None, None, None),
           dumps.bios_information(0x0001, b"Acme", long_version(), b"01/02/2024"),
           dumps.bios_information(0x0002, b"Acme\xe9", b"\xa03.10 \xe9", b"01/02/2024")]
    string_3 = [version_in_string_3(0x0000)]
    assert len(long_version()) == 64
    return [
        Boot("installed-1.26", type0_option("1.26"), type0_table("1.26"),
             installed_1_26_cases()),
        Boot("installed-10", type0_option("10"), type0_table("10"), [
            Case("numeric-new", config(b"Version=9"), [NEW], "0x0"),
            Case("numeric-old", config(b"Version=11"), [OLD], "0x0")]),
        Boot("installed-A05", type0_option("A05") + type1_option("Model7"),
             type0_table("A05") + type1_table("Model7"), installed_a05_cases()),
        Boot("smbios3-entry-point", type0_option("2.8.2") + type1_option("Model7"),
             type0_table("2.8.2") + type1_table("Model7"), installed_282_cases(),
             machine=["-machine", "smbios-entry-point-type=64"], both_entry_points=True,
             why="ovmf publishes a 3.x entry point beside the 2.x one"),
        Boot("installed-8AET46WW", type0_option("8AET46WW (1.26 )", vendor="Acme Mobile"),
             type0_table("8AET46WW (1.26 )", vendor="Acme Mobile"), [
            Case("leading-8-new", config(b"Version=8"), [NEW], "0x0"),
            Case("leading-8-old", config(b"Version=9"), [OLD], "0x0")]),
        Boot("installed-P68", type0_option("P68"), type0_table("P68"), [
            Case("p68-old", config(b"Version=1"), [OLD], "0x0"),
            Case("p68-new", config(b"Version=0"), [NEW], "0x0")]),
        Boot("version-is-string-1", type0_option("5.0", vendor=None, date=None),
             type0_table("5.0", vendor=None, date=None), [
            Case("no-string-2", EXAMPLE_CONFIG, [msg(NO_BIOS_VERSION)], "0x15"),
            Case("no-string-2-verbose", EXAMPLE_CONFIG, [ENTRY_2X, msg(NO_BIOS_VERSION)], "0x15",
                 args=["-v"]),
            Case("segments-field-names-string-1", config(b"Version=5.1"),
                 [ENTRY_2X, decision("5.0", "5.1", "older", OLD), OLD], "0x0",
                 args=["-segments", "-v"], why="the segment rule reads the string the field names")],
             why="without a vendor the version is the structure's only string"),
        Boot("version-in-string-3", file_options(string_3), string_3, [
            Case("integer-reads-string-2", config(b"Version=A07"), [NEW], "0x0",
                 why="seven blanks count as 0, as A07 does: the plain run sees no update"),
            Case("integer-notes-string-3", config(b"Version=1"),
                 [ENTRY_2X, decision(("       ", 0), ("1", 1), "older", OLD),
                  msg("Note: the BIOS Version field names string 3, not string 2."), OLD], "0x0",
                 args=["-v"]),
            Case("segments-reads-string-3", config(b"Version=A07"),
                 [ENTRY_2X, decision("A05", "A07", "older", OLD), OLD], "0x0",
                 args=["-v", "-segments"]),
            Case("segments-string-3-same", config(b"Version=A05"), [NEW], "0x0",
                 args=["-segments"])]),
        Boot("two-bios-information", file_options(two), two, [
            Case("two-old-new", config(b"Version=2"), [OLD, NEW], "0x0"),
            Case("two-new-new", config(b"Version=1"), [NEW, NEW], "0x0"),
            Case("two-old-old", config(b"Version=4"), [OLD, OLD], "0x0")]),
        Boot("odd-bios-information", file_options(odd), odd, [
            Case("odd-strings", config(b"Version=2"),
                 [msg(NO_BIOS_VERSION), NEW, OLD], "0x15",
                 why="no strings: skipped; 64 characters: 3; a leading 0xA0 byte: 0"),
            Case("odd-strings-segments", config(b"Version=3.1"),
                 [ENTRY_2X, msg(NO_BIOS_VERSION),
                  decision(long_version().decode(), "3.1", "older", OLD), OLD,
                  decision("\xa03.10 \xe9", "3.1", "newer", NEW), NEW], "0x15",
                 args=["-segments", "-v"],
                 why="64 bytes are shown whole; bytes from 0x80 on only separate tokens")]),
    ]


def aarch64_boots():
    """The AArch64 image on the ARM VM: its firmware publishes SMBIOS
    through the 3.x entry point only, so the plain run finds no table and
    -smbios3 decides as the x64 image does."""
    example = EXAMPLE_CONFIG
    verbose_old = [ENTRY_3X, decision(("1.26", 1), ("2", 2), "older", OLD),
                   leading_number_only("1.26"), OLD]
    return [
        Boot("aarch64-installed-1.26", type0_option("1.26") + type1_option("Model7"),
             type0_table("1.26") + type1_table("Model7"), [
                 Case("arm-plain-run", example, [msg("ERROR: SMBIOS table not found.")], "0x15",
                      why="no 2.x entry point on ARM firmware"),
                 Case("arm-plain-run-verbose", example, [msg("ERROR: SMBIOS table not found.")],
                      "0x15", args=["-v"]),
                 Case("arm-smbios3-old", example, [OLD], "0x0", args=["-smbios3"]),
                 Case("arm-smbios3-new", config(b"Version=1"), [NEW], "0x0", args=["-smbios3"]),
                 Case("arm-smbios3-verbose", example, verbose_old, "0x0",
                      args=["-smbios3", "-v"]),
                 Case("arm-smbios3-segments-product", config(b"Version=1.30"),
                      [ENTRY_3X, product_matches("Model7"),
                       decision("1.26", "1.30", "older", OLD), OLD], "0x0",
                      args=["-v", "-product", "-segments", "-smbios3"]),
                 Case("arm-smbios3-product-differs",
                      config(b"Version=2", b"ProductName=Model8\r\n"),
                      [product_differs("Model7", "Model8")], "0x15",
                      args=["-smbios3", "-product"]),
                 Case("arm-no-config", None, [msg(NOT_FOUND)], "0x15", args=["-smbios3"])],
             arch="aarch64"),
        KitBoot("aarch64-kit-example", "arm_example", arches=("aarch64",)),
        KitBoot("aarch64-kit-usb-stick-dump", "arm_stick_dump", arches=("aarch64",),
                dump="server-3.2-only-2.8.2.bin", events=[NEW],
                why="installed 2.8.2 reads as 2, the corpus kit's Version=2: same"),
        KitBoot("aarch64-kit-both-iso", "both_iso", arches=("x64", "aarch64"), vm="aarch64"),
        KitBoot("kit-both-iso-x64", "both_iso", arches=("x64", "aarch64"), vm="x64"),
        KitBoot("aarch64-kit-secure-boot", "arm_secure_boot", arches=("aarch64",)),
        KitBoot("aarch64-kit-library-both", "library_both", arches=("x64", "aarch64"),
                product="Model7 Tower", kit="kits\\model7-tower"),
    ]


def file_options(structures):
    """Placeholders: e2e.py writes each structure to a file and puts the
    path in place of the index."""
    options = []
    for index in range(len(structures)):
        options += ["-smbios", "file=@%d" % index]
    return options


def media_boots():
    """Kit media as machines meet them: made by make-kit-image (the shell
    taken out of ovmf at test time), booted by kit-run. `medium` and
    `path` are what the boot must show: the medium kit-run attached, and
    whether the medium's own shell or the firmware's ran the kit."""
    old = [OLD]
    verbose = [ENTRY_2X, decision(("1.26", 1), ("2", 2), "older", OLD),
               leading_number_only("1.26"), OLD]
    return [
        KitBoot("kit-usb-stick-own-shell", "medium", out="kit.img", shell=True, events=old,
                bios="1.26", medium="USB stick", path="medium"),
        KitBoot("kit-iso-cdrom-own-shell", "medium", out="kit.iso", shell=True,
                app_args="-v", events=verbose, bios="1.26", medium="CD-ROM", path="medium"),
        KitBoot("kit-iso-cdrom-built-in-shell", "medium", out="kit.iso", shell=False,
                events=[NEW], bios="2.05", medium="CD-ROM", path="built-in"),
        KitBoot("kit-iso-as-usb-disk", "medium", out="kit.iso", shell=True, attach="usb-stick",
                events=old, bios="1.26", medium="USB stick", path="medium"),
        # 64 MiB of flash files, first on the medium, so the application,
        # the configuration and the scripts lie beyond El Torito's 32 MiB.
        KitBoot("kit-iso-64mib", "medium", out="kit.iso", shell=True, flash_mib=64,
                events=old, bios="1.26", medium="CD-ROM", path="medium"),
        KitBoot("kit-secure-boot", "secure_boot"),
        # Six boots of one library medium made with -verify, its kits
        # damaged each its own way after it was made.
        KitBoot("kit-verify", "verify", flash_mib=64),
        # Three boots: a stick with --log as two machines, then the ISO on a CD-ROM.
        KitBoot("kit-records", "records"),
    ]


# A library of kits: one listing two prefixes, one two folders down, and
# one whose product the prefix kit serves too.
LIBRARY_KITS = [
    ("ax-100", "AX-100", "1.30"),
    ("bx-servers", "BX-2*|BX-3*", "2.10.0"),
    ("vendor/cx-laptop", "CX Laptop", "A07"),
    ("bx-300-special", "BX-300 Special", "3.0.0"),
]


def library_boots():
    """One library medium of each kind, booted as machines of five
    products: (product, BIOS version, the kit it runs or None, the script
    it runs, or the start of the line that refuses it)."""
    return [
        KitBoot("kit-library-iso", "library", out="fleet.iso", app_args="-segments -v",
                medium="CD-ROM", machines=[
                    ("AX-100", "1.26", "ax-100", "UpdateHWOld.nsh"),
                    ("BX-210", "2.8.2", "bx-servers", "UpdateHWOld.nsh"),
                    ("CX Laptop", "A09", "vendor/cx-laptop", "UpdateHWNew.nsh"),
                    ("ZX-9", "1.0", None, 'ERROR: no kit in kits serves product "ZX-9".')]),
        # edges: one more boot, of a stick whose libraries the image refuses.
        KitBoot("kit-library-usb-stick", "library", out="fleet.img", app_args="-segments",
                medium="USB stick", edges=True, machines=[
                    ("BX-300 Special", "3.0.0", None,
                     'ERROR: several kits serve product "BX-300 Special": '),
                    ("BX-350", "2.10.0", "bx-servers", "UpdateHWNew.nsh")]),
    ]


# A library keyed by hardware IDs: two SKUs of one product name (HardwareID-7),
# two boards that both publish "System Product Name" (HardwareID-13, one with
# its ProductName= too) and a kit by name as before. Each kit's IDs are the
# ones the reference computes for its machine's fields; machines are
# (name, kit-run's field options, the kit it runs or None).
HWID_MAKER = "Acme"
HWID_MACHINES = [
    ("sku-a", {"product": "Model7", "sku": "SKU-A"}, "sku-a"),
    # Every field set: -hwids prints all fifteen IDs.
    ("sku-b", {"product": "Model7", "sku": "SKU-B", "family": "Line 7",
               "baseboard-manufacturer": "BoardCo", "baseboard-product": "B-7"}, "sku-b"),
    ("sku-c", {"product": "Model7", "sku": "SKU-C"}, None),
    ("board-1", {"product": "System Product Name", "baseboard-manufacturer": "BoardCo",
                 "baseboard-product": "B-1"}, "boards/board-1"),
    ("board-2", {"product": "System Product Name", "baseboard-manufacturer": "BoardCo",
                 "baseboard-product": "B-2"}, "boards/board-2"),
    ("model8", {"product": "Model8"}, "model8"),
]


def library_hwids_boots():
    """One library medium keyed by hardware IDs, booted as each machine
    above; the machine `hwids` runs -hwids instead of the choice."""
    return [KitBoot("kit-library-hardware-ids", "library_hwids", out="ids.img",
                    medium="USB stick", app_args="-v", machines=HWID_MACHINES, hwids="sku-b")]


def kit_boots(expected):
    """Kit runner checks; `expected` is tests/data/dumps/expected.json."""
    result = [KitBoot("kit-example", "example"),
              KitBoot("kit-own-scripts-newer-bios", "own_scripts"),
              KitBoot("kit-image", "image"),
              KitBoot("kit-app-args", "app_args"),
              KitBoot("kit-refusals", "refusals",
                      dumps=[d["file"] for d in expected["dumps"] if not d["vm"]])]
    result += media_boots()
    result += [boot for boot in aarch64_boots() if isinstance(boot, KitBoot)]
    result += library_boots()
    result += library_hwids_boots()
    for entry in expected["dumps"]:
        if entry["vm"]:
            result.append(KitBoot("kit-dump-" + entry["file"][:-4], "dump", dump=entry["file"],
                                  preview=entry["preview"]))
    return result
