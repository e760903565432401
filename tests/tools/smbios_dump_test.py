"""Tests of the kit tools' SMBIOS dump reader (smbios_dump) and of what
kit-run makes of it for QEMU, on dumps laid out byte by byte here: which
structures the application would visit (repeated handles, handle 0xFFFF,
damaged lengths and string-sets, the declared count and length, a 3.x
table's End-of-Table), why the walk stopped, and the structures and
options the VM is given (End-of-Table left to QEMU, one processor per
Processor Information structure); and the query of the application's code
(bios-update-select-kits --dump) that the reader asks."""

import os
import shutil
import struct
import tempfile
import types
import unittest

import tool_fixtures  # noqa: F401  (puts tools/ on the path)
from kittools import image_rules, kit_run, smbios_dump
from kittools.common import KitError


def structure(kind, handle, strings=(), formatted=b""):
    """A structure: header, `formatted` bytes after it, the string-set."""
    head = struct.pack("<BBH", kind, 4 + len(formatted), handle) + formatted
    if not strings:
        return head + b"\0\0"
    return head + b"".join(s + b"\0" for s in strings) + b"\0"


def bios(handle, version=b"1.26"):
    # Vendor 1, BIOS Version field (offset 5) naming string 2, date 3.
    return structure(0, handle, [b"Acme", version, b"01/02/2024"],
                     formatted=bytes([1, 2, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0]))


def system(handle, product=b"Model7"):
    return structure(1, handle, [b"Acme", product], formatted=bytes([1, 2, 0, 0]))


def processor(handle):
    return structure(4, handle, [b"CPU0"], formatted=bytes([1, 3, 0]))


def end_of_table(handle):
    return structure(127, handle)


def dump_2x(structures, count=None, length=None, address=0x20):
    """A `dmidecode --dump-bin` file: the 2.x entry point, the table at
    `address`. `count` and `length` default to what the table holds."""
    table = b"".join(structures)
    entry = bytearray(0x1F)
    entry[0:4] = b"_SM_"
    entry[6:8] = bytes([2, 8])
    entry[0x10:0x15] = b"_DMI_"
    struct.pack_into("<HIH", entry, 0x16, len(table) if length is None else length, address,
                     len(structures) if count is None else count)
    return bytes(entry).ljust(address, b"\0") + table


def dump_3x(structures, maximum=None):
    table = b"".join(structures)
    entry = bytearray(0x18)
    entry[0:5] = b"_SM3_"
    entry[7:9] = bytes([3, 2])
    struct.pack_into("<IQ", entry, 12, len(table) if maximum is None else maximum, 0x20)
    return bytes(entry).ljust(0x20, b"\0") + table


def walk(dump):
    """(table offset, type, handle) of each structure the walk visited."""
    return [(s.offset, s.type, s.handle) for s in dump.structures]


# Offsets of the structures below, written out: a BIOS structure is 18
# bytes of formatted area and "Acme", "1.26", "01/02/2024" (22 bytes with
# their NULs and the set's end), a System structure 8 and "Acme", "Model7"
# (13), a Processor structure 7 and "CPU0" (6), End-of-Table 4 and 2.
BIOS_SIZE, SYSTEM_SIZE, PROCESSOR_SIZE, END_SIZE = 40, 21, 13, 6


class Walk(unittest.TestCase):
    def test_sizes_of_the_hand_made_structures(self):
        self.assertEqual([len(bios(0)), len(system(1)), len(processor(2)), len(end_of_table(3))],
                         [BIOS_SIZE, SYSTEM_SIZE, PROCESSOR_SIZE, END_SIZE])

    def test_table(self):
        B, S = BIOS_SIZE, SYSTEM_SIZE
        cases = [
            ("a whole table", dump_2x([bios(0), system(1), end_of_table(2)]),
             [(0, 0, 0), (B, 1, 1), (B + S, 127, 2)], None),
            ("a repeated handle ends the walk before it", dump_2x(
                [bios(0x10), system(0x11), bios(0x10, b"9.99"), end_of_table(0x12)]),
             [(0, 0, 0x10), (B, 1, 0x11)],
             "the structure at table offset %d repeats handle 0x0010" % (B + S)),
            ("a handle repeated at once", dump_2x([system(7), system(7), bios(8)]),
             [(0, 1, 7)], "the structure at table offset %d repeats handle 0x0007" % S),
            ("handle 0xFFFF", dump_2x([bios(0), system(0xFFFF), end_of_table(2)]),
             [(0, 0, 0)], "a structure at table offset %d has handle 0xFFFF" % B),
            ("a Length byte below 4", dump_2x(
                [bios(0), b"\x01\x02\x05\x00" + b"junk\0\0", end_of_table(6)]),
             [(0, 0, 0)], "the structure at table offset %d has a Length byte of 2" % B),
            ("a Length byte of 0", dump_2x([b"\x00\x00\x01\x00\0\0", bios(2)]),
             [], "the structure at table offset 0 has a Length byte of 0"),
            ("a formatted area past the table's end", dump_2x(
                [bios(0), b"\x01\xF0\x01\x00" + b"\0" * 10]),
             [(0, 0, 0)],
             "the formatted area of the structure at table offset %d runs past the end of the "
             "table" % B),
            ("strings without their end", dump_2x([bios(0), b"\x01\x04\x01\x00Acme\0Model"]),
             [(0, 0, 0)],
             "the strings of the structure at table offset %d run past the end of the table" % B),
            ("a string-set missing its final NUL", dump_2x([bios(0), b"\x01\x04\x01\x00Acme\0"]),
             [(0, 0, 0)],
             "the strings of the structure at table offset %d run past the end of the table" % B),
            ("the declared count ends the walk quietly", dump_2x(
                [bios(0), system(1), end_of_table(2)], count=2),
             [(0, 0, 0), (B, 1, 1)], None),
            ("a count of 0", dump_2x([bios(0)], count=0), [], None),
            ("a count beyond the table", dump_2x([bios(0), system(1)], count=9),
             [(0, 0, 0), (B, 1, 1)], None),
            ("the declared length cuts the last structure", dump_2x(
                [bios(0), system(1)], length=B + S - 1),
             [(0, 0, 0)],
             "the strings of the structure at table offset %d run past the end of the table" % B),
            ("a few bytes after the last structure", dump_2x([bios(0), b"\x01\x04"], count=5),
             [(0, 0, 0)], "the last 2 bytes are too short for a structure header"),
            # A file shorter than the declared length reads as zeros beyond
            # its end: a header of Length 0 (and handle 0, which the BIOS
            # structure bears too) after the BIOS structure.
            ("a file cut short", dump_2x([bios(0)], length=B + 8, count=5),
             [(0, 0, 0)], "the structure at table offset %d has a Length byte of 0" % B),
            # A 2.x table goes on past End-of-Table within its count, as the
            # application's walk does.
            ("End-of-Table inside a 2.x table", dump_2x([end_of_table(0), bios(1)]),
             [(0, 127, 0), (END_SIZE, 0, 1)], None),
            # A 3.x table has no count: its End-of-Table ends it.
            ("a 3.x table ends at End-of-Table", dump_3x(
                [bios(0), end_of_table(1), system(2)]),
             [(0, 0, 0), (B, 127, 1)], None),
            ("a 3.x table without End-of-Table ends at its maximum size", dump_3x(
                [bios(0), system(1)], maximum=B + S + 3),
             [(0, 0, 0), (B, 1, 1)], "the last 3 bytes are too short for a structure header"),
            ("a repeated handle in a 3.x table", dump_3x([bios(4), bios(4)]),
             [(0, 0, 4)], "the structure at table offset %d repeats handle 0x0004" % B),
        ]
        for what, data, structures, reason in cases:
            with self.subTest(what):
                dump = smbios_dump.parse_dump(data)
                self.assertEqual(walk(dump), structures)
                self.assertEqual(dump.stop_reason, reason)

    def test_entry_points(self):
        two = smbios_dump.parse_dump(dump_2x([bios(0)]))
        self.assertEqual((two.kind, two.version, two.declared_count, two.table_length),
                         ("2.x", (2, 8), 1, BIOS_SIZE))
        three = smbios_dump.parse_dump(dump_3x([bios(0)], maximum=0x100))
        self.assertEqual((three.kind, three.version, three.declared_count, three.table_length),
                         ("3.x", (3, 2), None, 0x100))

    def test_files_that_are_no_dump(self):
        cases = [
            ("no anchor", b"MZ" + b"\0" * 64, "no \"_SM_\" or \"_SM3_\" anchor"),
            ("empty", b"", "no \"_SM_\" or \"_SM3_\" anchor"),
            ("a cut 2.x entry point", dump_2x([bios(0)])[:30], "too short for a 2.x entry point"),
            ("a cut 3.x entry point", dump_3x([bios(0)])[:23], "too short for a 3.x entry point"),
        ]
        for what, data, words in cases:
            with self.subTest(what):
                with self.assertRaises(smbios_dump.DumpError) as caught:
                    smbios_dump.parse_dump(data)
                self.assertIn(words, str(caught.exception))
        entry = bytearray(dump_2x([bios(0)]))
        struct.pack_into("<I", entry, 0x18, 0x10000)
        with self.assertRaises(smbios_dump.DumpError) as caught:
            smbios_dump.parse_dump(bytes(entry))
        self.assertIn("table address 65536 lies beyond the end of the file", str(caught.exception))

    def test_structures_are_whole(self):
        """Each structure comes back byte for byte, its string-set and the
        set's end included, whatever the table holds after it."""
        found = smbios_dump.parse_dump(dump_2x([bios(0, b"A05"), end_of_table(1), b"\xAA" * 7],
                                               count=2))
        first, last = found.structures
        self.assertEqual((first.data, first.length), (bios(0, b"A05"), 18))
        self.assertEqual((last.data, last.length), (end_of_table(1), 4))
        self.assertEqual(found.bios_information(), [first])


class DumpQuery(unittest.TestCase):
    def test_the_answer_for_each_file(self):
        """Several files asked at once, each answered in its place: the
        entry point, the declared bounds, each structure the walk visits
        byte for byte, why the walk stopped, or the file's problem."""
        B = BIOS_SIZE
        damaged = b"\x01\x02\x05\x00" + b"junk\0\0"
        cases = [
            ("a good 2.x dump", dump_2x([bios(0), system(1), end_of_table(2)]),
             dict(problem=None, entry_point="2.x", version=[2, 8], declared_count=3,
                  table_length=B + SYSTEM_SIZE + END_SIZE, stop=None),
             [(0, bios(0)), (B, system(1)), (B + SYSTEM_SIZE, end_of_table(2))]),
            ("a 3.x dump", dump_3x([bios(5), end_of_table(6), system(7)], maximum=0x100),
             dict(problem=None, entry_point="3.x", version=[3, 2], declared_count=None,
                  table_length=0x100, stop=None),
             [(0, bios(5)), (B, end_of_table(6))]),
            ("a damaged one", dump_2x([bios(0), damaged]),
             dict(problem=None, entry_point="2.x", declared_count=2, stop=dict(
                 kind="damaged", offset=B,
                 line="the structure at table offset %d has a Length byte of 2" % B)),
             [(0, bios(0))]),
            ("a non-dump", b"MZ" + b"\0" * 64,
             dict(problem="not an SMBIOS dump: no \"_SM_\" or \"_SM3_\" anchor at offset 0"),
             None),
        ]
        with tempfile.TemporaryDirectory() as tmp:
            paths = []
            for index, (_, data, _, _) in enumerate(cases):
                paths.append(os.path.join(tmp, "%d.bin" % index))
                with open(paths[-1], "wb") as f:
                    f.write(data)
            answer = image_rules.dumps(paths)
        self.assertEqual(answer["types"], {"bios_information": bios(0)[0],
                                           "processor_information": processor(0)[0],
                                           "end_of_table": end_of_table(0)[0]})
        self.assertEqual(len(answer["dumps"]), len(cases))
        for path, (what, _, fields, structures), found in zip(paths, cases, answer["dumps"]):
            with self.subTest(what):
                self.assertEqual(found["path"], path)
                self.assertEqual({key: found.get(key) for key in fields}, fields)
                if structures is None:
                    self.assertEqual(sorted(found), ["path", "problem"])
                    continue
                self.assertEqual(
                    [(s["offset"], s["type"], s["handle"], bytes.fromhex(s["bytes"]))
                     for s in found["structures"]],
                    [(offset, data[0], struct.unpack_from("<H", data, 2)[0], data)
                     for offset, data in structures])


class VmStructures(unittest.TestCase):
    def test_what_the_vm_is_given(self):
        cases = [
            ("End-of-Table is QEMU's to add", [bios(0), system(1), end_of_table(2)],
             [bios(0), system(1)]),
            ("structures after a 2.x End-of-Table stay, it goes",
             [bios(0), end_of_table(1), system(2), end_of_table(3)], [bios(0), system(2)]),
            ("the walk's end is the VM's end", [bios(0), processor(1), bios(1), system(3)],
             [bios(0), processor(1)]),
        ]
        for what, structures, given in cases:
            with self.subTest(what):
                dump = smbios_dump.parse_dump(dump_2x(structures))
                self.assertEqual(smbios_dump.vm_structures(dump), given)

    def test_the_arm_vm_shows_a_3x_only_machine(self):
        # ARM firmware has the 3.x entry point only, so a 3.x dump is what
        # that machine shows; a 2.x dump is shown through a 3.x one too.
        cases = [
            ("3.x dump", dump_3x([bios(0), system(1), end_of_table(2)]), [bios(0), system(1)]),
            ("2.x dump", dump_2x([bios(0), system(1), end_of_table(2)]), [bios(0), system(1)]),
        ]
        for what, data, given in cases:
            with self.subTest(what):
                dump = smbios_dump.parse_dump(data)
                self.assertEqual(smbios_dump.vm_structures(dump, "aarch64"), given)
        with self.assertRaises(smbios_dump.DumpError):
            smbios_dump.vm_structures(smbios_dump.parse_dump(
                dump_3x([system(0), end_of_table(1)])), "aarch64")

    def test_machines_a_vm_cannot_show(self):
        cases = [
            ("only a 3.x entry point", dump_3x([bios(0), end_of_table(1)]),
             "only an SMBIOS 3.x entry point"),
            ("no BIOS Information", dump_2x([system(0), end_of_table(1)]),
             "no BIOS Information (type 0) structure"),
            ("BIOS Information only past a repeated handle",
             dump_2x([system(0), system(0), bios(1)]), "no BIOS Information (type 0) structure"),
            ("BIOS Information only past the declared count",
             dump_2x([system(0), bios(1)], count=1), "no BIOS Information (type 0) structure"),
        ]
        for what, data, words in cases:
            with self.subTest(what):
                with self.assertRaises(smbios_dump.DumpError) as caught:
                    smbios_dump.vm_structures(smbios_dump.parse_dump(data))
                self.assertIn(words, str(caught.exception))
        # A line that reads the 3.x entry point shows that machine; the x64
        # VM then publishes one beside its 2.x one.
        self.assertEqual(smbios_dump.vm_structures(smbios_dump.parse_dump(
            dump_3x([bios(0), end_of_table(1)])), "x64", smbios3=True), [bios(0)])
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "3x.bin")
            with open(path, "wb") as f:
                f.write(dump_3x([bios(0), end_of_table(1)]))
            args = types.SimpleNamespace(smbios_dump=path, bios_version=None, product=None,
                                         arch="x64")
            self.assertEqual(kit_run.smbios_options(args, tmp, smbios3=True)[1],
                             ["-machine", "smbios-entry-point-type=64"])


class KitRunOptions(unittest.TestCase):
    """What kit-run hands QEMU for --smbios-dump: one file per structure, in
    walk order, and as many processors as Processor Information structures."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="smbios-dump-test-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def options(self, name, data):
        path = os.path.join(self.tmp, name + ".bin")
        with open(path, "wb") as f:
            f.write(data)
        work = os.path.join(self.tmp, name)
        os.makedirs(work)
        args = types.SimpleNamespace(smbios_dump=path, bios_version=None, product=None,
                                     arch="x64")
        return kit_run.smbios_options(args, work)[0], os.path.join(work, "smbios")

    def test_structures_and_processors(self):
        cases = [
            ("one processor: the VM's own count", [bios(0), processor(1), end_of_table(2)],
             [bios(0), processor(1)], []),
            ("two processors", [bios(0), processor(1), processor(2), end_of_table(3)],
             [bios(0), processor(1), processor(2)], ["-smp", "2,sockets=2,cores=1,threads=1"]),
            ("a processor past a repeated handle does not count",
             [processor(1), bios(0), processor(2), processor(1)],
             [processor(1), bios(0), processor(2)], ["-smp", "2,sockets=2,cores=1,threads=1"]),
            ("no processor", [bios(0)], [bios(0)], []),
        ]
        for index, (what, structures, given, smp) in enumerate(cases):
            with self.subTest(what):
                options, folder = self.options("case-%d" % index, dump_2x(structures))
                files = sorted(os.listdir(folder))
                self.assertEqual(len(files), len(given))
                expected = []
                for name, data in zip(files, given):
                    with open(os.path.join(folder, name), "rb") as f:
                        self.assertEqual(f.read(), data)
                    expected += ["-smbios", "file=" + os.path.join(folder, name)]
                self.assertEqual(options, expected + smp)

    def test_a_machine_the_vm_cannot_show_is_refused(self):
        with self.assertRaises(KitError) as caught:
            self.options("no-bios", dump_2x([system(0), end_of_table(1)]))
        self.assertIn("no BIOS Information", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
