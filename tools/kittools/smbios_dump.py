"""Reads a `dmidecode --dump-bin` file (or a copy of Linux's
/sys/firmware/dmi/tables folder) and lists the SMBIOS structures that
the application would visit on that machine, so the kit runner can publish
exactly those in a virtual machine (QEMU takes one raw structure per
`-smbios file=` option).

The walk here follows the application's own: table order from the table
start, at most the entry point's declared number of structures, never past
the declared table length, ending quietly at a damaged structure (Length
below 4, or a formatted area or string-set that runs into the end of the
table), at handle 0xFFFF, or where a handle repeats. A 3.x table declares
no count: it ends after its End-of-Table structure. Every byte read is
bounds-checked against the file; a file that is not a dump raises
DumpError with a one-line reason.
"""

import os
import stat
import struct

ANCHOR_2X = b"_SM_"
ANCHOR_3X = b"_SM3_"
END_OF_TABLE = 127
BIOS_INFORMATION = 0


class DumpError(Exception):
    """The file cannot be used as a dump; the message is one line."""


class Structure:
    def __init__(self, offset, data):
        self.offset = offset          # from the start of the table
        self.data = data              # formatted area and string-set
        self.type = data[0]
        self.length = data[1]
        self.handle = struct.unpack_from("<H", data, 2)[0]

    def string(self, number):
        """String `number` (1-based) of the string-set as bytes, or None;
        counted the way the application counts: string 1 is whatever
        begins the set, and the set ends at two NUL bytes in a row."""
        if number < 1:
            return None
        p = self.length
        for i in range(1, number + 1):
            nul = self.data.index(b"\0", p)
            if i == number:
                return self.data[p:nul]
            p = nul + 1
            if self.data[p] == 0:
                return None
        return None


class Dump:
    def __init__(self):
        self.kind = None             # "2.x" or "3.x"
        self.version = None          # (major, minor) from the entry point
        self.declared_count = None   # 2.x only
        self.table_length = 0
        self.structures = []         # what the application visits, in order
        self.stop_reason = None      # why the walk ended early, or None

    def bios_information(self):
        return [s for s in self.structures if s.type == BIOS_INFORMATION]


def _end_of_structure(table, start):
    """(end, None) for a whole structure at `start`, else (None, reason)."""
    if len(table) - start < 4:
        return None, "the last %d bytes are too short for a structure header" % (len(table) - start)
    length = table[start + 1]
    if length < 4:
        return None, "the structure at table offset %d has a Length byte of %d" % (start, length)
    if length >= len(table) - start:
        return None, ("the formatted area of the structure at table offset %d runs past the "
                      "end of the table" % start)
    p = start + length
    while True:
        nul = table.find(b"\0", p)
        if nul < 0 or nul + 1 >= len(table):
            return None, ("the strings of the structure at table offset %d run past the end "
                          "of the table" % start)
        if table[nul + 1] == 0:
            # An empty string-set is two NUL bytes; otherwise the last
            # string's NUL and one more.
            return nul + 2, None
        p = nul + 1


def parse_dump(data, table=None):
    """A Dump from the bytes of a `dmidecode --dump-bin` file, or from an
    entry point and its `table` read apart (a copy of Linux's
    /sys/firmware/dmi/tables, whose DMI file is the table whatever
    address the entry point names)."""
    dump = Dump()
    if data.startswith(ANCHOR_3X):
        if len(data) < 24:
            raise DumpError("too short for an SMBIOS 3.x entry point (%d bytes)" % len(data))
        dump.kind = "3.x"
        dump.version = (data[7], data[8])
        table_length, address = struct.unpack_from("<IQ", data, 12)
    elif data.startswith(ANCHOR_2X):
        if len(data) < 31:
            raise DumpError("too short for an SMBIOS 2.x entry point (%d bytes)" % len(data))
        dump.kind = "2.x"
        dump.version = (data[6], data[7])
        table_length, address, dump.declared_count = struct.unpack_from("<HIH", data, 0x16)
    else:
        raise DumpError("not an SMBIOS dump: no \"_SM_\" or \"_SM3_\" anchor at offset 0")
    if table_length > TABLE_LIMIT:
        # The missing bytes read as zeros below: a 32-byte file that declares
        # 4 GiB would take 4 GiB of memory before any check.
        raise DumpError("the entry point declares a table of %d bytes, more than the %d that "
                        "the preview tool and the fleet report take either"
                        % (table_length, TABLE_LIMIT))
    if table is None:
        if address > len(data):
            raise DumpError("the table address %d lies beyond the end of the file (%d bytes); "
                            "was the file written with dmidecode --dump-bin?"
                            % (address, len(data)))
        table = data[address:address + table_length]
    # Bytes the file lacks up to the declared length read as zeros, as the
    # preview tool places them.
    table = table[:table_length].ljust(table_length, b"\0")
    dump.table_length = table_length
    seen = set()
    cursor = 0
    while cursor < len(table):
        if dump.declared_count is not None and len(dump.structures) >= dump.declared_count:
            break
        if len(table) - cursor >= 4:
            handle = struct.unpack_from("<H", table, cursor + 2)[0]
            if handle == 0xFFFF:
                dump.stop_reason = "a structure at table offset %d has handle 0xFFFF" % cursor
                break
            if handle in seen:
                dump.stop_reason = ("the structure at table offset %d repeats handle 0x%04X"
                                    % (cursor, handle))
                break
            seen.add(handle)
        end, reason = _end_of_structure(table, cursor)
        if end is None:
            dump.stop_reason = reason
            break
        found = Structure(cursor, table[cursor:end])
        dump.structures.append(found)
        cursor = end
        if dump.kind == "3.x" and found.type == END_OF_TABLE:
            break
    return dump


SYSFS_ENTRY_POINT = "smbios_entry_point"
SYSFS_TABLE = "DMI"
READ_LIMIT = 1 << 22    # far above the largest table a 3.x entry point can give
TABLE_LIMIT = 64 << 20  # the declared length the C++ tools' simulated firmware takes at most


def _read(path):
    """At most READ_LIMIT bytes of the regular file `path`, opened without
    blocking: a FIFO or a device named as a dump is refused, never waited
    on or read without end."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | os.O_NOCTTY)
    except OSError as error:
        raise DumpError("cannot read %s: %s" % (path, error.strerror))
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise DumpError("%s is no regular file (a FIFO, a device or a socket)" % path)
        chunks, total = [], 0
        while total < READ_LIMIT:
            try:
                chunk = os.read(fd, READ_LIMIT - total)
            except OSError as error:
                raise DumpError("cannot read %s: %s" % (path, error.strerror))
            if not chunk:
                break
            chunks.append(chunk)
            total += len(chunk)
        return b"".join(chunks)
    finally:
        os.close(fd)


def read_dump(path):
    """A Dump from a `dmidecode --dump-bin` file or a copied sysfs folder
    (holding smbios_entry_point and DMI)."""
    if os.path.isdir(path):
        entry = _read(os.path.join(path, SYSFS_ENTRY_POINT))
        table = _read(os.path.join(path, SYSFS_TABLE))
    else:
        entry, table = _read(path), None
    try:
        return parse_dump(entry, table)
    except DumpError as error:
        raise DumpError("%s: %s" % (path, error))


def vm_structures(dump, arch="x64", smbios3=False):
    """The raw structures to publish in the VM, or DumpError when a VM run
    could not show what the application does on that machine. The AArch64
    VM publishes them through a 3.x entry point alone, which is all ARM
    firmware has; the kit's AArch64 line reads that one (-smbios3). The x64
    VM publishes a 3.x entry point beside its 2.x one on request, which an
    x64 line with -smbios3 reads as that machine's firmware has it."""
    if dump.kind != "2.x" and arch == "x64" and not smbios3:
        raise DumpError("the dump has only an SMBIOS 3.x entry point, which the application "
                        "does not read without -smbios3; the VM's firmware always adds a 2.x "
                        "one, so a VM run cannot show that machine")
    if not dump.bios_information():
        raise DumpError("the application meets no BIOS Information (type 0) structure in this "
                        "table, so it runs no script on that machine; the VM's firmware would "
                        "add one of its own, so a VM run cannot show that machine")
    # QEMU appends an End-of-Table structure of its own, and the firmware
    # drops everything after the first one it meets.
    return [s.data for s in dump.structures if s.type != END_OF_TABLE]
