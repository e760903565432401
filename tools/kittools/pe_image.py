"""Says what a file is as a PE/COFF image, and whether a machine's UEFI
firmware would start it as an application.

A kit medium boots through \\EFI\\BOOT\\BOOTX64.EFI (x86-64) or
\\EFI\\BOOT\\BOOTAA64.EFI (AArch64), which firmware starts only when it is
a PE32+ image for its own machine (0x8664, 0xAA64) with the EFI
application subsystem (10). A wrong file there (a shell for the other
machine, a 32-bit one, a driver, a Windows program, a zip) would leave a
machine at its boot menu in the middle of an update round, so
make-kit-image checks the file first and says what it is instead. Only the DOS stub's pointer,
the COFF header and the optional header's magic and subsystem are read,
each within the file's bytes.
"""

import struct

MACHINE_X64 = 0x8664
MACHINE_AARCH64 = 0xAA64
SUBSYSTEM_EFI_APPLICATION = 10
PE32_MAGIC = 0x10B
PE32_PLUS_MAGIC = 0x20B

MACHINES = {0x014C: "x86 (32-bit)", 0x8664: "x86-64", 0xAA64: "AArch64", 0x01C0: "ARM",
            0x01C2: "ARM Thumb", 0x01C4: "ARM Thumb-2", 0x0200: "Itanium",
            0x5032: "RISC-V (32-bit)", 0x5064: "RISC-V (64-bit)", 0x6264: "LoongArch (64-bit)",
            0x0EBC: "EFI byte code"}
SUBSYSTEMS = {1: "native Windows driver", 2: "Windows GUI program", 3: "Windows console program",
              10: "EFI application", 11: "EFI boot service driver", 12: "EFI runtime driver",
              13: "EFI ROM image"}


def _kind_of_non_pe(data):
    """A few everyday files someone might take for a shell by mistake."""
    if not data:
        return "an empty file"
    if data.startswith(b"\x7fELF"):
        return "an ELF file"
    if data.startswith(b"PK\x03\x04"):
        return "a zip archive (unpack it first)"
    if data[40:44] == b"_FVH":
        return "a UEFI firmware volume (--shell ovmf takes the shell out of ovmf's)"
    if all(32 <= b < 127 or b in b"\t\r\n" for b in data):
        return "a text file"
    return "no PE image (no \"MZ\" header)"


def describe(data, machine=MACHINE_X64):
    """(ok, text): ok when `data` is an EFI application for `machine`;
    text says what the file is, e.g. "a PE32+ EFI boot service driver for
    AArch64", or what is wrong with its layout."""
    found, text = read_header(data)
    if found is None:
        return False, text
    ok = found == (PE32_PLUS_MAGIC, machine, SUBSYSTEM_EFI_APPLICATION)
    if ok:
        fault = layout_fault(data)
        if fault:
            return False, "%s, %s" % (text, fault)
    return ok, text


def application_machine(data):
    """The machine of a whole PE32+ EFI application, or None for anything
    else (a file cut short or overwritten included)."""
    found, _ = read_header(data)
    if found is None or found[0] != PE32_PLUS_MAGIC or found[2] != SUBSYSTEM_EFI_APPLICATION:
        return None
    if layout_fault(data):
        return None
    return found[1]


def layout_fault(data):
    """Why firmware would refuse to load the PE32+ image `data` although
    its header says "EFI application", or None: the headers, the section
    table, every section's bytes and the entry point must lie inside the
    file. A shell cut short by a copy, or with its body overwritten, stops
    here rather than on a machine in the middle of an update round."""
    pe, = struct.unpack_from("<I", data, 0x3C)
    sections, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    # PE32+: AddressOfEntryPoint at 16, SizeOfImage at 56, SizeOfHeaders at 60.
    if optional_size < 64 or optional + 64 > len(data):
        return "cut short in its optional header"
    entry, = struct.unpack_from("<I", data, optional + 16)
    image_size, headers_size = struct.unpack_from("<II", data, optional + 56)
    if headers_size > len(data):
        return "cut short: its headers end at byte %d of %d" % (headers_size, len(data))
    table = optional + optional_size
    if sections == 0 or table + 40 * sections > min(len(data), headers_size or len(data)):
        return "its section table does not lie inside its headers"
    entry_found = False
    for index in range(sections):
        at = table + 40 * index
        virtual_size, address, raw_size, raw_at = struct.unpack_from("<IIII", data, at + 8)
        if raw_size and raw_at + raw_size > len(data):
            return "cut short: section %d ends at byte %d of %d" % (index + 1, raw_at + raw_size,
                                                                    len(data))
        if address + max(virtual_size, raw_size) > image_size:
            return "section %d lies beyond the image's size" % (index + 1)
        if address <= entry < address + min(raw_size, max(virtual_size, raw_size)):
            entry_found = True
    if not entry_found:
        return "its entry point 0x%X lies in no section's bytes" % entry
    return None


def read_header(data):
    """((magic, machine, subsystem), text) of a PE image, or (None, text)
    for anything else; text says what the file is."""
    if data[:2] != b"MZ":
        return None, _kind_of_non_pe(data[:64])
    if len(data) < 0x40:
        return None, "a file cut short in its DOS header"
    pe, = struct.unpack_from("<I", data, 0x3C)
    # The COFF header (20 bytes) and the optional header's first 70 bytes
    # (magic to subsystem) must lie inside the file.
    if pe + 24 + 70 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None, "a DOS program (no \"PE\" header)"
    machine, = struct.unpack_from("<H", data, pe + 4)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    magic, = struct.unpack_from("<H", data, pe + 24)
    # Subsystem sits at offset 68 of the optional header in PE32 and PE32+.
    subsystem, = struct.unpack_from("<H", data, pe + 24 + 68)
    if optional_size < 70 or magic not in (PE32_MAGIC, PE32_PLUS_MAGIC):
        return None, "a PE object without an image header"
    form = "PE32+" if magic == PE32_PLUS_MAGIC else "PE32"
    what = SUBSYSTEMS.get(subsystem, "image of subsystem %d" % subsystem)
    arch = MACHINES.get(machine, "machine 0x%04X" % machine)
    return (magic, machine, subsystem), "a %s %s for %s" % (form, what, arch)
