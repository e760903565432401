#!/usr/bin/env python3
"""Builds the SMBIOS dump corpus byte by byte.

Each dump has the layout that `dmidecode --dump-bin` writes: the entry point
at offset 0 (its table-address field rewritten to 32) and the structure
table at file offset 32. The dumps resemble real machines: a desktop, a
server with a few hundred structures, a laptop whose firmware publishes only
the 64-bit (3.x) entry point, machines whose BIOS version is not a plain
number, firmware that names its version by another string, and a few
damaged tables. Two machines also come as copies of Linux's
/sys/firmware/dmi/tables (a folder with `smbios_entry_point` and `DMI`).

    make_dumps.py                 rewrites tests/data/dumps/*.bin and the
                                  expected preview output, expected.json
    make_dumps.py --check         exits 1 when a committed file differs

The byte builders (structure, bios_information, entry points, dump) are
also imported by the QEMU suite to make raw structures for `-smbios file=`.
Everything here is deterministic: same script, same bytes.
"""

import argparse
import json
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DUMP_DIR = os.path.join(HERE, "dumps")
DUMP_TABLE_OFFSET = 32  # where dmidecode --dump-bin puts the table


# --- Structures -----------------------------------------------------------

def structure(kind, handle, body=b"", strings=()):
    """One SMBIOS structure: header (type, length, handle), the rest of the
    formatted area, then the string-set. Strings are bytes without their
    NUL; an empty string-set is the two NUL bytes the format requires."""
    formatted = struct.pack("<BBH", kind, 4 + len(body), handle) + body
    if strings:
        string_set = b"".join(s + b"\0" for s in strings) + b"\0"
    else:
        string_set = b"\0\0"
    return formatted + string_set


def bios_information(handle, vendor, version, date, rom_size_64k=16,
                     bios_release=(1, 0), ec_release=(0xFF, 0xFF)):
    """Type 0 with the usual string order: Vendor 1, Version 2, Date 3."""
    strings, numbers = [], []
    for text in (vendor, version, date):
        if text is None:
            numbers.append(0)
        else:
            strings.append(text)
            numbers.append(len(strings))
    body = struct.pack("<BBHBB", numbers[0], numbers[1], 0xE800, numbers[2], rom_size_64k - 1)
    body += struct.pack("<Q", 0x0000_0001_0B5F_9A80)  # characteristics: PCI, boot from CD, ...
    body += bytes([0x03, 0x0D])                       # ACPI, USB legacy; UEFI, targeted content
    body += bytes(bios_release) + bytes(ec_release)
    return structure(0, handle, body, strings)


def bios_information_numbered(handle, strings, vendor, version, date, rom_size_64k=16):
    """Type 0 whose fields name strings by the given numbers, for firmware
    that does not keep the usual order."""
    body = struct.pack("<BBHBB", vendor, version, 0xE800, date, rom_size_64k - 1)
    body += struct.pack("<Q", 0x0000_0001_0B5F_9A80) + bytes([0x03, 0x0D, 1, 0, 0xFF, 0xFF])
    return structure(0, handle, body, strings)


def system_information(handle, maker, product, version, serial, sku, family):
    body = bytes([1, 2, 3, 4]) + bytes(range(0x10, 0x20)) + bytes([6, 5, 6])
    return structure(1, handle, body, [maker, product, version, serial, sku, family])


def baseboard(handle, maker, product, version, serial):
    body = bytes([1, 2, 3, 4, 0, 0x09, 0]) + struct.pack("<H", 3) + bytes([0x0A, 0])
    return structure(2, handle, body, [maker, product, version, serial])


def chassis(handle, maker, kind):
    body = bytes([1, kind, 0, 0, 0, 3, 3, 3, 2]) + bytes(4) + bytes([1, 1, 0, 0])
    return structure(3, handle, body, [maker])


def processor(handle, socket, maker, version, cache_handles):
    l1, l2, l3 = cache_handles
    body = bytes([1, 3, 0xC6, 2]) + bytes(range(8)) + bytes([3, 0x8C])
    body += struct.pack("<HHHB", 100, 4600, 3400, 0x41) + bytes([0x31])
    body += struct.pack("<HHH", l1, l2, l3) + bytes([0, 0, 0, 16, 16, 32])
    body += struct.pack("<HH", 0x00EC, 0xC6)
    return structure(4, handle, body, [socket, maker, version])


def cache(handle, designation, level, size_kb):
    body = bytes([1]) + struct.pack("<HHHHH", 0x0180 | (level - 1), size_kb, size_kb, 0x20, 0x20)
    body += bytes([0, 5, 5, 7])
    return structure(7, handle, body, [designation])


def port_connector(handle, internal, external):
    return structure(8, handle, bytes([1, 0, 2, 0x12, 0x10]), [internal, external])


def system_slot(handle, designation, slot_id):
    body = bytes([1, 0xB6, 0x0D, 3, 4]) + struct.pack("<H", slot_id)
    body += bytes([0x0C, 0x03]) + struct.pack("<H", 0) + bytes([0, slot_id & 0xFF])
    return structure(9, handle, body, [designation])


def oem_strings(handle, texts):
    return structure(11, handle, bytes([len(texts)]), texts)


def memory_array(handle, capacity_kb, devices):
    body = bytes([3, 3, 6]) + struct.pack("<IHH", capacity_kb, 0xFFFE, devices)
    return structure(16, handle, body)


def memory_device(handle, array, locator, bank, size_mb, serial):
    body = struct.pack("<HHHHH", array, 0xFFFE, 72, 64, size_mb)
    body += bytes([0x09, 0, 1, 2, 0x1A]) + struct.pack("<HH", 0x80, 3200)
    body += bytes([3, 4, 5, 6, 2])
    return structure(17, handle, body, [locator, bank, b"Acme Memory", serial, b"1234", b"AM-32G-R3200"])


def memory_mapped_address(handle, start_kb, end_kb, array):
    body = struct.pack("<IIHB", start_kb, end_kb, array, 8)
    return structure(19, handle, body)


def onboard_device(handle, designation, instance):
    body = bytes([1, 0x85, instance]) + struct.pack("<H", 0) + bytes([0, 0x1F])
    return structure(41, handle, body, [designation])


def boot_information(handle):
    return structure(32, handle, bytes(6) + bytes([0]))


def oem_specific(kind, handle, payload, strings=()):
    return structure(kind, handle, payload, strings)


def end_of_table(handle):
    return structure(127, handle)


# --- Entry points and dumps ----------------------------------------------

def _checksum_byte(data):
    return (-sum(data)) & 0xFF


def entry_point_2x(table_length, count, max_size, version=(2, 8), address=DUMP_TABLE_OFFSET):
    """The 31-byte SMBIOS 2.x entry point with both checksums right."""
    tail = b"_DMI_" + b"\0" + struct.pack("<HIHB", table_length, address, count,
                                          (version[0] << 4) | version[1])
    tail = tail[:5] + bytes([_checksum_byte(tail)]) + tail[6:]
    head = b"_SM_" + b"\0" + bytes([31, version[0], version[1]]) + struct.pack("<H", max_size)
    head += bytes([0]) + bytes(5)
    entry = head + tail
    entry = entry[:4] + bytes([_checksum_byte(entry)]) + entry[5:]
    assert len(entry) == 31 and sum(entry) & 0xFF == 0
    return entry


def entry_point_3x(table_max, version=(3, 2, 0), address=DUMP_TABLE_OFFSET):
    """The 24-byte SMBIOS 3.x (64-bit) entry point."""
    entry = b"_SM3_" + bytes([0, 24, version[0], version[1], version[2], 1, 0])
    entry += struct.pack("<IQ", table_max, address)
    entry = entry[:5] + bytes([_checksum_byte(entry)]) + entry[6:]
    assert len(entry) == 24 and sum(entry) & 0xFF == 0
    return entry


def table_facts(structures):
    table = b"".join(structures)
    return table, len(structures), max(len(s) for s in structures)


def dump_2x(structures, count=None, length=None):
    """A dump with a 2.x entry point. `count` and `length` override what the
    entry point declares, to make damaged dumps."""
    table, real_count, max_size = table_facts(structures)
    entry = entry_point_2x(len(table) if length is None else length,
                           real_count if count is None else count, max_size)
    return entry.ljust(DUMP_TABLE_OFFSET, b"\0") + table


def dump_3x(structures):
    table, _, _ = table_facts(structures)
    return entry_point_3x(len(table)).ljust(DUMP_TABLE_OFFSET, b"\0") + table


def sysfs_2x(structures, address):
    """A copy of /sys/firmware/dmi/tables: the entry point as the firmware
    published it (naming the table's memory address) and the table."""
    table, count, max_size = table_facts(structures)
    return {"smbios_entry_point": entry_point_2x(len(table), count, max_size, address=address),
            "DMI": table}


def sysfs_3x(structures, address):
    table, _, _ = table_facts(structures)
    return {"smbios_entry_point": entry_point_3x(len(table), address=address), "DMI": table}


# --- Machines --------------------------------------------------------------

def desktop_structures(bios_version, vendor=b"Acme Corporation", date=b"03/14/2024",
                       product=b"Model7 Tower"):
    """About 40 structures, like a single-socket office desktop."""
    s = [bios_information(0x0000, vendor, bios_version, date),
         system_information(0x0001, b"Acme Corporation", product, b"1.0", b"ACM7T0042",
                            b"SKU-M7T", b"Model7"),
         baseboard(0x0002, b"Acme Corporation", b"M7-MB", b"A01", b"MB0042"),
         chassis(0x0003, b"Acme Corporation", 0x03)]
    s += [cache(0x0004, b"L1 Cache", 1, 384), cache(0x0005, b"L2 Cache", 2, 2048),
          cache(0x0006, b"L3 Cache", 3, 16384)]
    s.append(processor(0x0007, b"CPU0", b"Acme Semiconductor", b"Acme Core 7 9700",
                       (0x0004, 0x0005, 0x0006)))
    handle = 0x0008
    for i, (inside, outside) in enumerate([(b"J1A1", b"PS2Mouse"), (b"J1A2", b"USB1"),
                                           (b"J2A1", b"USB2"), (b"J3A1", b"HDMI"),
                                           (b"J4A1", b"Audio"), (b"J5A1", b"LAN")]):
        s.append(port_connector(handle, inside, outside))
        handle += 1
    for i in range(4):
        s.append(system_slot(handle, b"PCIEX16_%d" % (i + 1), i + 1))
        handle += 1
    s.append(oem_strings(handle, [b"Acme build 2024.03", b"Board rev A01"]))
    handle += 1
    array = handle
    s.append(memory_array(array, 64 * 1024 * 1024, 4))
    handle += 1
    for i in range(4):
        s.append(memory_device(handle, array, b"DIMM%d" % i, b"BANK %d" % i, 16384,
                               b"%08X" % (0x1000 + i)))
        handle += 1
    s.append(memory_mapped_address(handle, 0, 64 * 1024 * 1024 - 1, array))
    handle += 1
    for i, name in enumerate([b"Onboard LAN", b"Onboard Audio", b"Onboard SATA"]):
        s.append(onboard_device(handle, name, i + 1))
        handle += 1
    s.append(boot_information(handle))
    handle += 1
    while len(s) < 39:
        s.append(oem_specific(0xDD, handle, bytes([len(s), 0, 0, 0]), [b"OEM data %d" % len(s)]))
        handle += 1
    s.append(end_of_table(0xFEFF))
    return s


def server_structures(bios_version, sockets=2, dimms=48, slots=12, oem=None, bios=None):
    """A two-socket server: a few hundred structures, about 20 KB. `bios`
    replaces the usual BIOS Information structure."""
    s = [bios if bios is not None else
         bios_information(0x0000, b"Acme Servers Inc.", bios_version, b"11/02/2023", 256),
         system_information(0x0100, b"Acme Servers Inc.", b"AS-2200 R4", b"Rev 4",
                            b"SRV2200R40017", b"AS2200R4-BASE", b"AS-2200"),
         baseboard(0x0200, b"Acme Servers Inc.", b"AS-2200-MB", b"R4", b"MBS2200R40017"),
         chassis(0x0300, b"Acme Servers Inc.", 0x17)]
    handle = 0x0400
    for cpu in range(sockets):
        caches = (handle, handle + 1, handle + 2)
        s += [cache(handle, b"CPU%d L1" % cpu, 1, 2560), cache(handle + 1, b"CPU%d L2" % cpu, 2, 40960),
              cache(handle + 2, b"CPU%d L3" % cpu, 3, 61440)]
        s.append(processor(handle + 3, b"CPU%d" % cpu, b"Acme Semiconductor",
                           b"Acme Scalable 8380 @ 2.30GHz", caches))
        handle += 4
    handle = 0x0800
    for i in range(slots):
        s.append(system_slot(handle, b"PCIe Slot %d" % (i + 1), i + 1))
        handle += 1
    for i in range(24):
        s.append(port_connector(handle, b"J%d" % (100 + i), b"Rear port %d" % i))
        handle += 1
    array = 0x1000
    s.append(memory_array(array, 4 * 1024 * 1024 * 1024 - 1, dimms))
    handle = 0x1100
    for i in range(dimms):
        s.append(memory_device(handle, array, b"P%d_DIMM_%c%d" % (i // 24, 65 + (i % 24) // 2, i % 2),
                               b"P%d_Node%d_Channel%d" % (i // 24, i // 24, (i % 24) // 2),
                               32768, b"%08X" % (0xA0000 + i)))
        handle += 1
    s.append(memory_mapped_address(0x1300, 0, 1536 * 1024 * 1024, array))
    for i in range(8):
        s.append(onboard_device(0x2900 + i, b"Embedded NIC %d" % (i + 1), i + 1))
    s.append(boot_information(0x2000))
    s.append(oem_strings(0x0B00, [b"Acme firmware bundle 23.11", b"BMC 5.10", b"CPLD 1.4"]))
    # Vendor-specific records fill most of a real server's table.
    handle = 0xC000
    count = 0
    target = oem if oem is not None else 300
    while len(s) < target - 1:
        payload = bytes([count & 0xFF, count >> 8]) + bytes(range(count % 64))
        s.append(oem_specific(0xC0 + count % 32, handle, payload,
                              [b"OEM record %04d" % count, b"Acme platform data"]
                              if count % 3 else []))
        handle += 1
        count += 1
    s.append(end_of_table(0xFEFF))
    return s


# --- The corpus ------------------------------------------------------------

# The configuration the expected decisions below are made with: a kit for
# machines whose BIOS version number should be at least 2.
CORPUS_CONFIG = "; Example update kit configuration\r\nProductName=Model7\r\nVersion=2\r\n"

OLD = "execute: UpdateHWOld.nsh"
NEW = "execute: UpdateHWNew.nsh"
SUCCESS = "status: 0x0000000000000000"
ABORTED = "status: 0x8000000000000015"


def corpus():
    """name -> dict(data, about, preview, vm). `preview` is the exact
    output of the preview tool for the dump with CORPUS_CONFIG; `vm` tells
    whether the kit runner can reproduce the machine in a VM (when not,
    it refuses the dump with a one-line reason)."""
    dumps = {}

    def add(name, data, about, preview, vm=True):
        dumps[name] = {"data": data, "about": about, "preview": preview, "vm": vm}

    add("desktop-2.8.bin", dump_2x(desktop_structures(b"1.26")),
        "SMBIOS 2.8 office desktop, BIOS version 1.26: counts as 1, below 2",
        [OLD, SUCCESS])

    add("server-2.8-large.bin", dump_2x(server_structures(b"2.10.4")),
        "SMBIOS 2.8 two-socket server, 300 structures, BIOS 2.10.4: counts as 2, equal",
        [NEW, SUCCESS])

    add("laptop-3.2-only.bin",
        dump_3x(desktop_structures(b"N2HET71W (1.54 )", vendor=b"Acme Mobile",
                                   product=b"Notebook 14")),
        "laptop whose firmware publishes only the SMBIOS 3.x entry point",
        ["console: ERROR: SMBIOS table not found.\\r\\n", ABORTED], vm=False)

    add("laptop-8AET46WW.bin",
        dump_2x(desktop_structures(b"8AET46WW (1.26 )", vendor=b"Acme Mobile",
                                   product=b"Notebook 13")),
        "laptop BIOS version 8AET46WW (1.26 ): counts as 8, above 2",
        [NEW, SUCCESS])

    add("board-P68.bin",
        dump_2x(desktop_structures(b"P68", vendor=b"Acme Boards", product=b"Mini board")),
        "board BIOS version P68: counts as 0, below 2",
        [OLD, SUCCESS])

    two = desktop_structures(b"1.10")
    two.insert(5, bios_information(0x0050, b"Acme Corporation", b"3.00", b"01/01/2024"))
    add("two-bios-information.bin", dump_2x(two),
        "two BIOS Information structures, 1.10 then 3.00: one script each, in table order",
        [OLD, NEW, SUCCESS])

    # No decision can be made, so the run must not report success.
    no_bios = [s for s in desktop_structures(b"1.26") if s[0] != 0]
    add("no-bios-information.bin", dump_2x(no_bios),
        "no BIOS Information structure at all: no script, no success",
        [ABORTED], vm=False)

    stringless = desktop_structures(b"1.26")
    stringless[0] = bios_information(0x0000, None, None, None)
    add("bios-information-no-strings.bin", dump_2x(stringless),
        "BIOS Information structure without strings: no version, no script",
        ["console: ERROR: BIOS version not found.\\r\\n", ABORTED])

    # The declared length ends the table inside the BIOS Information
    # structure's strings, so no whole BIOS Information structure exists.
    cut = desktop_structures(b"1.26")
    add("damaged-cut-bios-information.bin", dump_2x(cut, length=len(cut[0]) - 3),
        "table length ends inside the BIOS Information strings: no script, no success",
        [ABORTED], vm=False)

    # A Length byte of 2 after the BIOS Information structure: the table
    # ends there; the decision is already made.
    bad_len = desktop_structures(b"1.26")
    bad_len[3] = bytes([3, 2, 0x03, 0x00]) + bad_len[3][4:]
    add("damaged-length-below-4.bin", dump_2x(bad_len),
        "a structure whose Length byte is 2 follows the BIOS Information structure",
        [OLD, SUCCESS])

    # Two structures share handle 0x0001 and a second BIOS Information
    # structure (9.99) follows the repeat: the walk ends at the repeat.
    repeat = desktop_structures(b"1.26")
    repeat[2] = struct.pack("<BBH", repeat[2][0], repeat[2][1], 0x0001) + repeat[2][4:]
    repeat.insert(4, bios_information(0x0060, b"Acme Corporation", b"9.99", b"01/01/2024"))
    add("damaged-repeated-handle.bin", dump_2x(repeat),
        "two structures share a handle; a BIOS Information structure behind the repeat is not read",
        [OLD, SUCCESS])

    # Shapes seen on real machines, each the reason for one of the fleet
    # report's warnings.
    add("laptop-G1ET45WW.bin",
        dump_2x(desktop_structures(b"G1ET45WW (1.20 )", vendor=b"Acme Mobile",
                                   product=b"Notebook 15")),
        "laptop BIOS version G1ET45WW (1.20 ): a letter first, counts as 0, below 2",
        [OLD, SUCCESS])

    add("laptop-7LET56WW.bin",
        dump_2x(desktop_structures(b"7LET56WW (1.26 )", vendor=b"Acme Mobile",
                                   product=b"Notebook 12")),
        "laptop BIOS version 7LET56WW (1.26 ): counts as 7, a model code, above 2",
        [NEW, SUCCESS])

    # Vendor-specific structures (types 0xDA and up) all bear handle 0xDA00,
    # a third of the way into the table: the walk stops at the second one.
    shared = server_structures(b"2.17.1")
    for i, kind in enumerate((0xDA, 0xDB, 0xDC, 0xDD)):
        shared.insert(40 + i, oem_specific(kind, 0xDA00, bytes([i, 0, 0, 0]), [b"Acme OEM %d" % i]))
    add("server-handle-DA00-repeated.bin", dump_2x(shared),
        "server whose vendor-specific structures (types 0xDA up) all bear handle 0xDA00: "
        "the walk stops at the second, BIOS 2.17.1 counts as 2, equal",
        [NEW, SUCCESS])

    # The BIOS Version field names string 3; string 2 holds seven blanks.
    blanks = bios_information_numbered(0x0000, [b"Acme Servers Inc.", b" " * 7, b"A05",
                                                b"09/03/2019"], 1, 3, 4, 256)
    add("server-version-in-string-3.bin", dump_2x(server_structures(None, bios=blanks)),
        "server whose BIOS Version field names string 3 (A05); string 2 is seven blanks, "
        "which count as 0, below 2",
        [OLD, SUCCESS])

    # An old emulator's firmware: the version field names string 1, the
    # vendor's, string 2 is the release date; no System Information.
    old_qemu = [bios_information_numbered(0x0000, [b"QEMU", b"01/01/2011"], 1, 1, 2, 1),
                chassis(0x0300, b"QEMU", 0x01),
                processor(0x0400, b"CPU 1", b"QEMU", b"pc-i440fx", (0xFFFF, 0xFFFF, 0xFFFF)),
                memory_array(0x1000, 1024 * 1024, 1),
                memory_device(0x1100, 0x1000, b"DIMM 0", b"BANK 0", 1024, b"0"),
                memory_mapped_address(0x1300, 0, 1024 * 1024 - 1, 0x1000),
                boot_information(0x2000), end_of_table(0x7F00)]
    add("qemu-old-bios.bin", dump_2x(old_qemu),
        "old emulator firmware: version field names string 1 (QEMU), string 2 is the date "
        "01/01/2011 and counts as 1, below 2; no System Information structure",
        [OLD, SUCCESS])

    add("desktop-product-trailing-blanks.bin",
        dump_2x(desktop_structures(b"-[A3E148AUS-1.07]-", product=b"Model7 Tower   ")),
        "desktop whose product name ends in three blanks; BIOS -[A3E148AUS-1.07]- counts as 0",
        [OLD, SUCCESS])

    add("server-3.2-only-2.8.2.bin",
        dump_3x(server_structures(b"2.8.2")),
        "server from 2020 that publishes only the SMBIOS 3.x entry point, BIOS 2.8.2",
        ["console: ERROR: SMBIOS table not found.\\r\\n", ABORTED], vm=False)
    return dumps


def folders():
    """name -> dict(files, about, preview): copies of /sys/firmware/dmi/tables
    as admins collect them (`cp -r /sys/firmware/dmi/tables NAME`)."""
    result = {}

    def add(name, files, about, preview):
        result[name] = {"files": files, "about": about, "preview": preview}

    add("sysfs-server-3.2-only",
        sysfs_3x(server_structures(b"2.8.2"), address=0x6F8F_2000),
        "the 3.x-only server as a sysfs copy: the entry point names memory at 0x6F8F2000",
        ["console: ERROR: SMBIOS table not found.\\r\\n", ABORTED])
    add("sysfs-desktop-A05",
        sysfs_2x(desktop_structures(b"A05", product=b"Model5 Tower"), address=0x000E_8A10),
        "SMBIOS 2.8 desktop as a sysfs copy, table at 0xE8A10, BIOS A05: counts as 0, below 2",
        [OLD, SUCCESS])
    return result


def expected_json(dumps, sysfs=None):
    entries = []
    for name in sorted(dumps):
        d = dumps[name]
        entries.append({"file": name, "about": d["about"], "preview": d["preview"], "vm": d["vm"]})
    result = {"config": CORPUS_CONFIG, "dumps": entries}
    if sysfs:
        result["folders"] = [{"folder": name, "about": sysfs[name]["about"],
                              "preview": sysfs[name]["preview"]} for name in sorted(sysfs)]
    return json.dumps(result, indent=2) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="compare with the committed dumps instead of writing")
    args = parser.parse_args()
    stale = []
    os.makedirs(DUMP_DIR, exist_ok=True)
    dumps = corpus()
    sysfs = folders()
    outputs = {name: d["data"] for name, d in dumps.items()}
    for name, d in sysfs.items():
        for file_name, data in d["files"].items():
            outputs[os.path.join(name, file_name)] = data
    outputs["expected.json"] = expected_json(dumps, sysfs).encode("ascii")
    for name, data in sorted(outputs.items()):
        path = os.path.join(DUMP_DIR, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if args.check:
            try:
                with open(path, "rb") as existing:
                    if existing.read() != data:
                        stale.append(name)
            except OSError:
                stale.append(name)
        else:
            with open(path, "wb") as out:
                out.write(data)
    if stale:
        print("dumps differ from make_dumps.py: " + ", ".join(stale))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
