"""Hand-made inputs for the tests of the kit-media tools: PE headers, and
firmware volumes laid out byte by byte as the published layouts give
them, so each test states exactly what the reader or checker is shown."""

import lzma
import os
import struct
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "tools"))


def pe(machine=0x8664, magic=0x20B, subsystem=10, optional_size=0xF0):
    """A whole PE image: DOS stub pointing at 0x40, COFF header, optional
    header with `magic` and `subsystem`, one section of 0x200 bytes in the
    file (at 0x200, mapped at 0x1000) holding the entry point."""
    dos = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, optional_size, 0x22)
    optional = bytearray(max(optional_size, 72))
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<H", optional, 68, subsystem)
    if len(optional) >= 64:
        struct.pack_into("<I", optional, 16, 0x1000)             # entry point
        struct.pack_into("<II", optional, 56, 0x2000, 0x200)     # image, headers size
    table = b".text\0\0\0" + struct.pack("<IIII", 0x200, 0x1000, 0x200, 0x200) + b"\0" * 16
    headers = dos + coff + bytes(optional) + table
    return headers + b"\0" * (0x200 - len(headers)) + b"\xC3" * 0x200


def guid_bytes(text):
    return uuid.UUID(text).bytes_le


def section(kind, data):
    size = 4 + len(data)
    if size >= 0xFFFFFF:
        return struct.pack("<I", 0xFFFFFF)[:3] + bytes([kind]) + struct.pack("<I", size + 4) + data
    return struct.pack("<I", size)[:3] + bytes([kind]) + data


def sections(*parts):
    """Sections one after another, each 4-byte aligned."""
    out = b""
    for part in parts:
        out += part + b"\0" * (-len(part) % 4)
    return out


def ui_section(name):
    return section(0x15, (name + "\0").encode("utf-16-le"))


def lzma_section(inner):
    data = lzma.compress(inner, format=lzma.FORMAT_ALONE)
    header = guid_bytes("EE4E5898-3914-4259-9D6E-DC7BD79403CF") + struct.pack("<HH", 24, 1)
    return section(0x02, header + data)


def ffs_file(name, kind, body, large=False, erased=0xFF, state=0x07):
    """An FFS file; `state` as written with erase polarity 0 (the reader
    inverts it for polarity 1)."""
    if erased:
        state ^= 0xFF
    if large:
        header = guid_bytes(name) + b"\0\0" + bytes([kind, 0x01]) + b"\0\0\0" + bytes([state])
        return header + struct.pack("<Q", 32 + len(body)) + body
    size = 24 + len(body)
    return (guid_bytes(name) + b"\0\0" + bytes([kind, 0x00]) + struct.pack("<I", size)[:3]
            + bytes([state]) + body)


def volume(files, erased=0xFF, length=None):
    """A firmware volume: header (checksummed), one block map entry and
    its terminator, then `files` 8-byte aligned, then erased space."""
    body = b""
    for f in files:
        body += f + bytes([erased]) * (-len(f) % 8)
    header_length = 72
    total = length or header_length + len(body) + 64
    attributes = 0x800 if erased else 0
    header = bytearray(b"\0" * 16 + guid_bytes("8C8CE578-8A3D-4F1C-9935-896185C32DD3")
                       + struct.pack("<Q", total) + b"_FVH" + struct.pack("<I", attributes)
                       + struct.pack("<HHHBB", header_length, 0, 0, 0, 2)
                       + struct.pack("<II", total // 8, 8) + struct.pack("<II", 0, 0))
    checksum = -sum(struct.unpack("<%dH" % (len(header) // 2), bytes(header))) & 0xFFFF
    struct.pack_into("<H", header, 50, checksum)
    data = bytes(header) + body
    return data + bytes([erased]) * (total - len(data))


SHELL_GUID = "7C04A583-9E3E-4F1C-AD65-E05268D0B4D1"
OTHER_GUID = "462CAA21-7614-4503-836E-8AB6F4662331"
