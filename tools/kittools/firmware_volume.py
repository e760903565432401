"""Reads the files of a UEFI flash image's firmware volumes, and finds the
UEFI Shell application among them.

make-kit-image --shell ovmf takes the shell that Debian's ovmf firmware
carries and puts it on a kit medium, so that the medium boots on machines
without a shell of their own. The reader follows the published Platform
Initialization layout of firmware volumes, FFS files and sections; it
needs nothing but the Python standard library (lzma for the compressed
volumes). Every length it reads is checked against the bytes it has: a
damaged or foreign file ends in FirmwareError, never in a read past its
end or a loop.

    python3 tools/kittools/firmware_volume.py list FIRMWARE.fd
    python3 tools/kittools/firmware_volume.py shell FIRMWARE.fd OUT.efi
"""

import lzma
import struct
import sys
import uuid

FV_SIGNATURE = b"_FVH"
FV_SIGNATURE_OFFSET = 40
FV_HEADER_MIN = 56 + 8          # the fixed part and one block map terminator
FV_ATTRIB_ERASE_POLARITY = 0x00000800

FFS_HEADER = 24
FFS_HEADER2 = 32                # the large-file variant: a 64-bit size follows
FFS_ATTRIB_LARGE_FILE = 0x01
FFS_STATE_DATA_VALID = 0x04
FFS_STATE_DELETED = 0x10
FFS_ALIGNMENT = 8
SECTION_ALIGNMENT = 4

FILE_TYPES = {0x01: "raw", 0x02: "freeform", 0x03: "security core", 0x04: "PEI core",
              0x05: "DXE core", 0x06: "PEIM", 0x07: "driver", 0x08: "combined PEIM driver",
              0x09: "application", 0x0A: "MM", 0x0B: "firmware volume image",
              0x0C: "combined MM DXE", 0x0D: "MM core", 0xF0: "pad"}
FILE_TYPE_APPLICATION = 0x09

SECTION_COMPRESSION = 0x01
SECTION_GUID_DEFINED = 0x02
SECTION_PE32 = 0x10
SECTION_USER_INTERFACE = 0x15
SECTION_FV_IMAGE = 0x17

LZMA_GUID = uuid.UUID("EE4E5898-3914-4259-9D6E-DC7BD79403CF")
GUIDED_PROCESSING_REQUIRED = 0x0001
# The shell's user-interface name in the firmware volume.
SHELL_UI_NAME = "Shell"
# Volumes nest (a compressed main volume inside the flash volume): a bound
# on the depth keeps a crafted file from recursing without end.
MAX_NESTING = 8


class FirmwareError(Exception):
    """The file is no flash image this reader understands; one line."""


class FfsFile:
    """One FFS file: its name GUID, type and sections, plus what the
    sections say (user-interface name, PE32 image) when it has them."""

    def __init__(self, name, file_type, sections):
        self.name = name
        self.file_type = file_type
        self.sections = sections        # [(type, data)], compressed ones opened
        self.ui_name = None
        self.pe32 = None
        for kind, data in sections:
            if kind == SECTION_USER_INTERFACE and self.ui_name is None:
                self.ui_name = data.decode("utf-16-le", "replace").split("\0")[0]
            elif kind == SECTION_PE32 and self.pe32 is None:
                self.pe32 = data

    def type_name(self):
        return FILE_TYPES.get(self.file_type, "type 0x%02X" % self.file_type)


def _u24(data, offset):
    return data[offset] | data[offset + 1] << 8 | data[offset + 2] << 16


def _align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def _checksum16(data):
    total = 0
    for i in range(0, len(data) - 1, 2):
        total += data[i] | data[i + 1] << 8
    return total & 0xFFFF


def volume_at(data, offset):
    """The length and header length of the firmware volume starting at
    `offset`, or None when no valid volume header is there (wrong
    signature, a length beyond the data, or a header checksum that does
    not sum to zero)."""
    if offset + FV_HEADER_MIN > len(data):
        return None
    if data[offset + FV_SIGNATURE_OFFSET:offset + FV_SIGNATURE_OFFSET + 4] != FV_SIGNATURE:
        return None
    length, = struct.unpack_from("<Q", data, offset + 32)
    header_length, = struct.unpack_from("<H", data, offset + 48)
    if header_length < FV_HEADER_MIN or length < header_length or offset + length > len(data):
        return None
    if _checksum16(data[offset:offset + header_length]) != 0:
        return None
    return length, header_length


def find_volumes(data):
    """(offset, length, header length) of every top-level firmware volume.
    Volumes begin on 8-byte boundaries; after a valid one the search goes
    on at its end, so a volume's contents are not searched again here."""
    volumes = []
    offset = 0
    while offset + FV_HEADER_MIN <= len(data):
        found = data.find(FV_SIGNATURE, offset + FV_SIGNATURE_OFFSET)
        if found < 0:
            break
        start = found - FV_SIGNATURE_OFFSET
        if start % FFS_ALIGNMENT == 0:
            volume = volume_at(data, start)
            if volume:
                volumes.append((start,) + volume)
                offset = start + volume[0]
                continue
        offset = start + 1
    return volumes


def _files_start(volume, header_length):
    """Where the first FFS file begins: after the extended header when
    the volume has one, else after the header."""
    ext_offset, = struct.unpack_from("<H", volume, 52)
    if ext_offset:
        if ext_offset + 20 > len(volume):
            raise FirmwareError("a firmware volume's extended header lies beyond its end")
        ext_size, = struct.unpack_from("<I", volume, ext_offset + 16)
        return _align(ext_offset + ext_size, FFS_ALIGNMENT)
    return _align(header_length, FFS_ALIGNMENT)


def read_volume(volume, header_length, depth=0):
    """The FFS files of one firmware volume (bytes from its header on)."""
    if depth > MAX_NESTING:
        raise FirmwareError("firmware volumes nested more than %d deep" % MAX_NESTING)
    attributes, = struct.unpack_from("<I", volume, 44)
    erased = 0xFF if attributes & FV_ATTRIB_ERASE_POLARITY else 0x00
    files = []
    offset = _files_start(volume, header_length)
    while offset + FFS_HEADER <= len(volume):
        header = volume[offset:offset + FFS_HEADER]
        if header == bytes([erased]) * FFS_HEADER:
            break   # free space: no file follows
        name = uuid.UUID(bytes_le=bytes(header[:16]))
        file_type, attributes_byte, state = header[18], header[19], header[23]
        size = _u24(header, 20)
        header_size = FFS_HEADER
        if attributes_byte & FFS_ATTRIB_LARGE_FILE:
            if offset + FFS_HEADER2 > len(volume):
                raise FirmwareError("an FFS file header runs past its volume's end")
            size, = struct.unpack_from("<Q", volume, offset + 24)
            header_size = FFS_HEADER2
        if size < header_size or offset + size > len(volume):
            raise FirmwareError("FFS file %s claims %d bytes, beyond its volume's end"
                                % (name, size))
        if erased:
            state ^= 0xFF   # with erase polarity 1 the state bits read inverted
        valid = state & FFS_STATE_DATA_VALID and not state & FFS_STATE_DELETED
        if valid and file_type != 0xF0:
            body = volume[offset + header_size:offset + size]
            files.append(FfsFile(name, file_type, read_sections(body, depth)))
        offset = _align(offset + size, FFS_ALIGNMENT)
    return files


def read_sections(body, depth):
    """The sections of a file body as (type, data); LZMA and checksummed
    GUID-defined sections and uncompressed compression sections are
    opened and their sections listed in their place. A nested firmware volume's files are read too
    and appear as a (SECTION_FV_IMAGE, [FfsFile]) entry."""
    sections = []
    offset = 0
    while offset + 4 <= len(body):
        size = _u24(body, offset)
        kind = body[offset + 3]
        header = 4
        if size == 0xFFFFFF:
            if offset + 8 > len(body):
                raise FirmwareError("a section header runs past its file's end")
            size, = struct.unpack_from("<I", body, offset + 4)
            header = 8
        if size < header or offset + size > len(body):
            raise FirmwareError("a section claims %d bytes, beyond its file's end" % size)
        data = body[offset + header:offset + size]
        if kind == SECTION_GUID_DEFINED:
            sections += _guid_defined(data, body[offset:offset + size], depth)
        elif kind == SECTION_COMPRESSION:
            if len(data) < 5:
                raise FirmwareError("a compression section is too short")
            if data[4] != 0:
                # The PI "standard" compression; ovmf's volumes use LZMA.
                sections.append((kind, data))
            else:
                sections += read_sections(data[5:], depth)
        elif kind == SECTION_FV_IMAGE:
            volume = volume_at(data, 0)
            if volume is None:
                raise FirmwareError("a firmware-volume section holds no valid volume")
            sections.append((kind, read_volume(data[:volume[0]], volume[1], depth + 1)))
        else:
            sections.append((kind, data))
        offset = _align(offset + size, SECTION_ALIGNMENT)
    return sections


def _guid_defined(data, section, depth):
    """The sections inside a GUID-defined section (`data` after its common
    header, `section` with it: the data offset counts from the latter)."""
    if len(data) < 20:
        raise FirmwareError("a GUID-defined section is too short")
    guid = uuid.UUID(bytes_le=bytes(data[:16]))
    data_offset, attributes = struct.unpack_from("<HH", data, 16)
    if data_offset > len(section):
        raise FirmwareError("a GUID-defined section's data offset lies beyond its end")
    payload = section[data_offset:]
    if guid != LZMA_GUID:
        if not attributes & GUIDED_PROCESSING_REQUIRED:
            # Sections that only carry a checksum or signature beside them.
            return read_sections(payload, depth)
        # An encoding this reader does not know: kept, not searched.
        return [(SECTION_GUID_DEFINED, bytes(payload))]
    decompressor = lzma.LZMADecompressor(format=lzma.FORMAT_ALONE)
    try:
        opened = decompressor.decompress(bytes(payload))
    except lzma.LZMAError as error:
        raise FirmwareError("an LZMA section does not decompress: %s" % error)
    if not decompressor.eof:
        # A stream cut short decompresses to what it holds, without error.
        raise FirmwareError("an LZMA section does not decompress: its data ends early")
    return read_sections(opened, depth)


def all_files(files):
    """Every file, those in nested volumes included, depth first."""
    for f in files:
        yield f
        for kind, data in f.sections:
            if kind == SECTION_FV_IMAGE:
                yield from all_files(data)


def read_firmware(data):
    """Every FFS file of every volume in a flash image."""
    volumes = find_volumes(data)
    if not volumes:
        raise FirmwareError("no firmware volume (no valid \"_FVH\" header)")
    files = []
    for offset, length, header_length in volumes:
        files += read_volume(data[offset:offset + length], header_length)
    return list(all_files(files))


def find_shell(data):
    """The UEFI Shell's PE32 image in a flash image: the application file
    whose user-interface name is "Shell". FirmwareError when there is
    none, or more than one that differ."""
    candidates = [f for f in read_firmware(bytes(data))
                  if f.file_type == FILE_TYPE_APPLICATION and f.ui_name == SHELL_UI_NAME
                  and f.pe32 is not None]
    images = {bytes(f.pe32) for f in candidates}
    if not images:
        raise FirmwareError("no UEFI Shell application (user-interface name \"%s\") in its "
                            "firmware volumes" % SHELL_UI_NAME)
    if len(images) > 1:
        raise FirmwareError("%d different UEFI Shell applications in its firmware volumes"
                            % len(images))
    return images.pop()


def main(argv):
    if len(argv) < 2 or argv[0] not in ("list", "shell") or (argv[0] == "shell") != (len(argv) == 3):
        print(__doc__.split("\n\n")[-1], file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as f:
            data = f.read()
        if argv[0] == "list":
            for f in read_firmware(data):
                print("%s  %-22s %-24s %s" % (f.name, f.type_name(), f.ui_name or "-",
                                             "PE32 %d bytes" % len(f.pe32) if f.pe32 else ""))
            return 0
        shell = find_shell(data)
    except OSError as error:
        print("firmware_volume: %s: %s" % (argv[1], error.strerror), file=sys.stderr)
        return 2
    except FirmwareError as error:
        print("firmware_volume: %s: %s" % (argv[1], error), file=sys.stderr)
        return 2
    with open(argv[2], "wb") as f:
        f.write(shell)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
