"""Reads a `dmidecode --dump-bin` file (or a copy of Linux's
/sys/firmware/dmi/tables folder) for the kit runner: the SMBIOS structures
the application would visit on that machine, so that it can publish
exactly those in a virtual machine (QEMU takes one raw structure per
`-smbios file=` option).

The reading and the walk are the application's own, asked of
bios-update-select-kits --dump through image_rules: the file is read as the
fleet report reads it (bounded, regular files only) and the table walked by
the image's walk, with its rules on the declared count and length, damaged
structures, handles and a 3.x table's End-of-Table. What stays here is
what only the kit runner does with the structures. A file that is not a
usable dump raises DumpError with the application's one-line reason.
"""

import os
import tempfile

from . import image_rules
from .common import KitError

# Paths asked of the program at a time: far below the system's limit on
# the length of a command line.
_BATCH = 512


class DumpError(Exception):
    """The file cannot be used as a dump; the message is one line."""


class Structure:
    def __init__(self, answer):
        self.offset = answer["offset"]  # from the start of the table
        self.type = answer["type"]
        self.handle = answer["handle"]
        self.data = bytes.fromhex(answer["bytes"])  # formatted area and string-set
        self.length = self.data[1]


class Dump:
    def __init__(self, answer, types, table_limit):
        self.kind = answer["entry_point"]                    # "2.x" or "3.x"
        self.version = tuple(answer["version"])              # (major, minor)
        self.declared_count = answer["declared_count"]       # 2.x only
        self.table_length = answer["table_length"]
        self.structures = [Structure(s) for s in answer["structures"]]  # in walk order
        stop = answer["stop"]
        self.stop_reason = stop["line"] if stop else None    # why the walk ended early
        self.types = types          # the structure types by name, as the application has them
        self.table_limit = table_limit  # the largest table taken

    def bios_information(self):
        return [s for s in self.structures if s.type == self.types["bios_information"]]


def read_dumps(paths):
    """A Dump, or the DumpError naming its path, for each of `paths` (a
    `dmidecode --dump-bin` file or a copied sysfs folder), in order."""
    found = []
    for start in range(0, len(paths), _BATCH):
        batch = paths[start:start + _BATCH]
        # A name beginning with '-' would be taken for an option.
        try:
            answer = image_rules.dumps([os.path.join(".", p) if p.startswith("-") else p
                                        for p in batch])
        except KitError as error:
            raise DumpError(str(error))
        for path, one in zip(batch, answer["dumps"]):
            if one["problem"] is not None:
                found.append(DumpError("%s: %s" % (path, one["problem"])))
            else:
                found.append(Dump(one, answer["types"], answer["table_limit"]))
    return found


def read_dump(path):
    """A Dump from a `dmidecode --dump-bin` file or a copied sysfs folder
    (holding smbios_entry_point and DMI); DumpError when it is none."""
    found = read_dumps([path])[0]
    if isinstance(found, DumpError):
        raise found
    return found


def parse_dump(data):
    """A Dump from the bytes of a `dmidecode --dump-bin` file, read through
    a private temporary file; DumpError (without a path) when it is none."""
    with tempfile.TemporaryDirectory(prefix="smbios-dump-") as folder:
        path = os.path.join(folder, "dump.bin")
        with open(path, "xb") as f:
            f.write(data)
        try:
            return read_dump(path)
        except DumpError as error:
            text = str(error)
            raise DumpError(text[len(path) + 2:] if text.startswith(path + ": ") else text)


def vm_structures(dump, arch="x64", smbios3=False):
    """The raw structures to publish in the VM, or DumpError when a VM run
    could not show what the application does on that machine. The AArch64
    VM publishes them through a 3.x entry point alone, which is all ARM
    firmware has; the kit's AArch64 line reads that one (-smbios3). The x64
    VM publishes a 3.x entry point beside its 2.x one on request, which an
    x64 line with -smbios3 reads as that machine's firmware has it."""
    if dump.kind != "2.x" and arch == "x64" and not smbios3:
        raise DumpError("the dump has only an SMBIOS 3.x entry point, which the application "
                        "does not read without %s; the VM's firmware always adds a 2.x "
                        "one, so a VM run cannot show that machine" % image_rules.option("smbios3"))
    if not dump.bios_information():
        raise DumpError("the application meets no BIOS Information (type %d) structure in this "
                        "table, so it runs no script on that machine; the VM's firmware would "
                        "add one of its own, so a VM run cannot show that machine"
                        % dump.types["bios_information"])
    # QEMU appends an End-of-Table structure of its own, and the firmware
    # drops everything after the first one it meets.
    return [s.data for s in dump.structures if s.type != dump.types["end_of_table"]]


def processors(dump, structures):
    """How many of `structures` are Processor Information structures."""
    return sum(1 for data in structures if data[0] == dump.types["processor_information"])
