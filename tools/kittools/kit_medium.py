"""Kit media: the FAT file system that every kit medium boots from, the
hybrid ISO around it, and the checks a kit has to pass before either is
made.

A kit medium is one FAT file system holding the kit, the application, a
startup.nsh and, for machines without a shell of their own, a UEFI Shell
as \\EFI\\BOOT\\BOOTX64.EFI. The disk image is that file system alone (no
partition table, as firmware reads removable media). The ISO carries the
same file system as its El Torito EFI boot image, as a file inside the
ISO 9660 tree, so that a boot image above El Torito's 16-bit sector count
(32 MiB) still spans the whole file: firmware then takes the image's
extent from the volume. A GPT partition points at the same bytes, so the
ISO written to a USB stick boots as a disk too.

Needs mkfs.fat (dosfstools), mtools and xorriso; it never changes the kit
folder, and reads only what make-kit-image copies.
"""

import errno
import os
import shutil
import stat
import struct
import subprocess
import tempfile

from . import safe_files

MIB = 1 << 20
CLUSTER = 4096          # fixed, so the size estimate below holds at any size
MIN_IMAGE = 4 * MIB
FAT16_LIMIT = 256 * MIB     # 65524 clusters of CLUSTER bytes, less the tables
ISO_BOOT_IMAGE = "EFIBOOT.IMG"
ISO_VOLUME_ID = "UPDATEKIT"
FAT_LABEL = "UPDATEKIT"
ISO_SECTOR = 2048
# An El Torito entry counts its image in 512-byte sectors, in 16 bits.
EL_TORITO_MAX_IMAGE = 0xFFFF * 512
# What a FAT long name cannot hold: control characters and these.
FAT_FORBIDDEN = set('"*/:<>?\\|') | {chr(c) for c in range(0x20)}
FAT_NAME_MAX = 255      # UTF-16 code units of a long name
FAT_FILE_MAX = 0xFFFFFFFF  # a directory entry's 32-bit size


class MediumError(Exception):
    """The kit cannot go on a medium as it is; one line naming the file."""


# --- What FAT can hold -----------------------------------------------------

def fat_name_problem(name):
    """Why a FAT long name cannot be `name` (a str from the file system,
    undecodable bytes as surrogate escapes), or None when it can."""
    if any("\udc80" <= c <= "\udcff" for c in name):
        return "the name is not valid UTF-8"
    bad = sorted({c for c in name if c in FAT_FORBIDDEN})
    if bad:
        shown = ", ".join("'%s'" % c if c >= " " else "control character 0x%02X" % ord(c)
                          for c in bad)
        return "FAT names cannot hold %s" % shown
    if any(ord(c) > 0xFFFF for c in name):
        return "FAT names hold characters up to U+FFFF only"
    if name.endswith((".", " ")):
        # FAT drivers drop trailing dots and blanks: the name would change.
        return "FAT drops a name's trailing dots and blanks"
    if len(name) > FAT_NAME_MAX:
        return "FAT names are at most %d characters" % FAT_NAME_MAX
    return None


def fat_clashes(names):
    """Pairs of names that FAT, which ignores case, takes for one."""
    seen = {}
    clashes = []
    for name in sorted(names):
        key = name.upper()
        if key in seen:
            clashes.append((seen[key], name))
        else:
            seen[key] = name
    return clashes


def kit_tree(kit, skip=(), avoid=None):
    """(relative path, is folder) of everything under `kit`, in sorted
    order, checked for what a FAT medium can hold. Links are followed (the
    medium gets what they point at); a link that points nowhere, one that
    loops, or anything that is no file or folder stops the medium.
    `skip` are root names (lower case) that the medium gets from
    make-kit-image instead; `avoid` is a folder (where the medium is
    written) that no link in the kit may lead to: its copy would hold
    itself."""
    entries = []
    avoided = None
    if avoid is not None:
        info = os.stat(avoid)
        avoided = (info.st_dev, info.st_ino)

    def walk(folder, relative, ancestors):
        try:
            names = sorted(os.listdir(folder))
        except OSError as error:
            raise MediumError("%s: cannot list the folder: %s" % (folder, error.strerror))
        if not relative:
            names = [n for n in names if n.lower() not in skip]
        for first, second in fat_clashes(names):
            raise MediumError("%s and %s: FAT ignores case, so one folder cannot hold both"
                              % (os.path.join(folder, first), os.path.join(folder, second)))
        for name in names:
            path = os.path.join(folder, name)
            problem = fat_name_problem(name)
            if problem:
                raise MediumError("%s: %s" % (os.fsencode(path).decode("utf-8", "replace"),
                                              problem))
            try:
                info = os.stat(path)
            except OSError as error:
                if error.errno == errno.ELOOP:
                    raise MediumError("%s: a link that loops" % path)
                if os.path.islink(path):
                    raise MediumError("%s: a link to nothing" % path)
                raise MediumError("%s: %s" % (path, error.strerror))
            rel = os.path.join(relative, name) if relative else name
            if stat.S_ISDIR(info.st_mode):
                if (info.st_dev, info.st_ino) in ancestors:
                    raise MediumError("%s: a link to a folder that holds it" % path)
                if (info.st_dev, info.st_ino) == avoided:
                    raise MediumError("%s: a link to %s, where the medium is written"
                                      % (path, avoid))
                entries.append((rel, True))
                walk(path, rel, ancestors | {(info.st_dev, info.st_ino)})
            elif stat.S_ISREG(info.st_mode):
                if not os.access(path, os.R_OK):
                    raise MediumError("%s: cannot be read" % path)
                if info.st_size > FAT_FILE_MAX:
                    raise MediumError("%s: %d bytes, more than a FAT file holds (4 GiB less "
                                      "one byte)" % (path, info.st_size))
                entries.append((rel, False))
            else:
                raise MediumError("%s: neither a file nor a folder" % path)

    walk(kit, "", safe_files.folder_chain(kit))
    return entries


# --- The FAT file system ---------------------------------------------------

def image_size(folder):
    """A FAT image size that holds `folder`: each file and folder rounded
    up to whole clusters, a tenth more for the tables and long names, one
    MiB of room, whole MiB, at least MIN_IMAGE."""
    total = 0
    for root, dirs, files in os.walk(folder):
        total += CLUSTER * (1 + len(dirs))
        for name in files:
            total += -(-os.path.getsize(os.path.join(root, name)) // CLUSTER) * CLUSTER
    size = -(-(total * 11 // 10 + MIB) // MIB) * MIB
    return max(MIN_IMAGE, size)


def tool_environment():
    """mtools converts long names through the locale's character set: a
    UTF-8 one keeps every name FAT can hold as it is."""
    return dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8")


def run_tool(command, what, package):
    """Runs a tool with no terminal; MediumError with its last line."""
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=tool_environment())
    except OSError as error:
        if error.errno != errno.ENOENT:
            raise MediumError("cannot %s: %s: %s" % (what, command[0], error.strerror))
        raise MediumError("cannot %s: %s is missing (Debian package %s)"
                          % (what, command[0], package))
    if done.returncode != 0:
        lines = done.stderr.decode(errors="replace").strip().splitlines()
        raise MediumError("cannot %s: %s" % (what, lines[-1] if lines else
                                             "%s failed" % command[0]))
    return done.stdout.decode(errors="replace")


def medium_path(name):
    """`name` ("kits/a[1]/UpdateConfig.ini") as mtools takes it on the
    medium's side: as a name, not a pattern. mtools matches [ ] * ? as
    wildcards unless a backslash comes first, and FAT names hold no
    backslash of their own."""
    return "::/" + "".join("\\" + c if c in "[]*?" else c for c in name)


# Host files given to one mcopy or mmd: a folder of thousands of files
# would otherwise pass the system's bound on a command line.
BATCH = 256


def image_paths(image, offset=0):
    """Every path in a FAT image, as mtools lists them ("EFI/BOOT/")."""
    target = "%s@@%d" % (image, offset) if offset else image
    listing = run_tool(["mdir", "-/", "-b", "-i", target, "::/"], "list the kit image", "mtools")
    return {line[3:].rstrip("/") for line in listing.splitlines() if line.startswith("::/")}


def fat_volume_bytes(boot):
    """The size a FAT boot sector (`boot`, its first 512 bytes) declares
    for its file system, or None when the bytes are no FAT boot sector."""
    if len(boot) < 512 or boot[510:512] != b"\x55\xaa" or boot[0] not in (0xEB, 0xE9):
        return None
    sector, = struct.unpack_from("<H", boot, 11)
    per_cluster = boot[13]
    if sector not in (512, 1024, 2048, 4096) or not per_cluster or per_cluster & (per_cluster - 1):
        return None
    total = struct.unpack_from("<H", boot, 19)[0] or struct.unpack_from("<I", boot, 32)[0]
    return total * sector or None


def fat_target(path):
    """How mtools reaches a medium's FAT file system: the disk image
    itself, or an ISO's El Torito EFI boot image by its offset. A medium
    shorter than its file systems declare (a partial copy) is refused, and
    so is a file that is neither."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        declared = fat_volume_bytes(f.read(512))
    if declared is not None:
        # A disk image is its FAT file system, whatever a kit file in it holds.
        if size < declared:
            raise MediumError("%s holds %d bytes, but its FAT file system declares %d: is it a "
                              "partial copy?" % (path, size, declared))
        return path
    if not is_iso(path):
        raise MediumError("%s is neither a FAT disk image nor an ISO 9660 image (no FAT boot "
                          "sector at its start, no ISO volume at 32 KiB)" % path)
    with open(path, "rb") as f:
        f.seek(16 * ISO_SECTOR + 80)
        blocks, = struct.unpack("<I", f.read(4).ljust(4, b"\0"))
    if size < blocks * ISO_SECTOR:
        raise MediumError("%s holds %d bytes, but its ISO volume declares %d: is it a partial "
                          "copy?" % (path, size, blocks * ISO_SECTOR))
    offset = iso_fat_offset(path)
    with open(path, "rb") as f:
        f.seek(offset)
        fat = fat_volume_bytes(f.read(512))
    if fat is None:
        raise MediumError("%s: its EFI boot image holds no FAT file system" % path)
    if size < max(blocks * ISO_SECTOR, offset + fat):
        raise MediumError("%s holds %d bytes, but its ISO volume declares %d: is it a partial "
                          "copy?" % (path, size, max(blocks * ISO_SECTOR, offset + fat)))
    return "%s@@%d" % (path, offset)


def _mtools(command, what):
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=tool_environment())
    except OSError:
        raise MediumError("cannot %s: %s is missing (Debian package mtools)"
                          % (what, command[0]))


def read_file(target, name, limit=1 << 20):
    """The bytes of the file `name` ("kits/a/UpdateConfig.ini") in the FAT
    file system `target` (see fat_target), at most `limit` of them, or
    None when it holds no such file."""
    with tempfile.TemporaryDirectory(prefix="kit-read-") as tmp:
        copy = os.path.join(tmp, "file")
        done = _mtools(["mcopy", "-n", "-i", target, medium_path(name), copy],
                       "read the medium")
        if done.returncode != 0 or not os.path.isfile(copy):
            return None
        with open(copy, "rb") as f:
            return f.read(limit)


def write_file(target, name, data):
    """Writes `data` as the file `name` of the FAT file system `target`,
    over the file of that name (FAT ignores case)."""
    with tempfile.TemporaryDirectory(prefix="kit-write-") as tmp:
        source = os.path.join(tmp, "file")
        with open(source, "wb") as f:
            f.write(data)
        done = _mtools(["mcopy", "-o", "-i", target, source, medium_path(name)],
                       "write the medium")
        if done.returncode != 0:
            raise MediumError("cannot write %s into %s: %s"
                              % (name, target, done.stderr.decode(errors="replace").strip()))


def copy_out(target, name, folder):
    """Copies the folder `name` of the FAT file system `target`, with
    everything in it, into the host folder `folder`."""
    run_tool(["mcopy", "-s", "-n", "-i", target, medium_path(name), folder],
             "read the medium", "mtools")


def make_fat_image(folder, path):
    """Writes a FAT image of `folder` to `path` (which the caller renames
    into place), and checks that every file arrived under its own name."""
    size = image_size(folder)
    with open(path, "wb") as f:
        f.truncate(size)
    # mkfs.fat picks FAT12 or 16 by size, but picks FAT32 only from 512 MiB
    # on, where FAT16 with 4 KiB clusters ends at 256 MiB.
    fat32 = ["-F", "32"] if size > FAT16_LIMIT else []
    run_tool(["mkfs.fat", "-S", "512", "-s", str(CLUSTER // 512)] + fat32 +
             ["-n", FAT_LABEL, path], "format the kit image", "dosfstools")
    # Folder by folder, each in sorted order: FAT keeps entries in the order
    # they are written, and the firmware lists a folder in that order, so
    # the medium lists its kits the same on every host.
    folders, files = [], []
    for root, dirs, names in os.walk(folder):
        dirs.sort()
        rel = os.path.relpath(root, folder)
        prefix = "" if rel == "." else rel.replace(os.sep, "/") + "/"
        # mmd takes its names as they stand.
        folders += ["::/" + prefix + d for d in dirs]
        if names:
            files.append((medium_path(prefix), [os.path.join(root, n) for n in sorted(names)]))
    for first in range(0, len(folders), BATCH):
        run_tool(["mmd", "-i", path] + folders[first:first + BATCH],
                 "make the kit's folders in the image", "mtools")
    for target, sources in files:
        for first in range(0, len(sources), BATCH):
            run_tool(["mcopy", "-Q", "-i", path] + sources[first:first + BATCH] + [target],
                     "copy the kit into the image", "mtools")
    want = set()
    for root, dirs, files in os.walk(folder):
        rel = os.path.relpath(root, folder)
        for name in dirs + files:
            want.add(name if rel == "." else os.path.join(rel, name))
    got = image_paths(path)
    lost = sorted(want - got)
    if lost:
        shown = {name.upper(): name for name in got}.get(lost[0].upper())
        if shown:
            # mtools keeps a lower-case name that fits 8.3 as a short name
            # with a case flag, which covers ASCII letters only.
            raise MediumError("%s arrives in the image as %s: mtools keeps a lower-case name of "
                              "up to 8.3 characters as a short name, whose letters beyond ASCII "
                              "come out in capitals; give it a capital, or more than 8 "
                              "characters" % (lost[0], shown))
        raise MediumError("%s did not arrive in the image under its own name" % lost[0])
    return size


# --- The ISO -----------------------------------------------------------------

def make_iso(fat_image, work, path):
    """Writes the hybrid ISO with `fat_image` as its EFI boot image."""
    root = os.path.join(work, "iso-root")
    os.makedirs(root)
    try:
        os.link(fat_image, os.path.join(root, ISO_BOOT_IMAGE))
    except OSError:
        shutil.copyfile(fat_image, os.path.join(root, ISO_BOOT_IMAGE))
    run_tool(["xorriso", "-as", "mkisofs", "-quiet", "-o", path, "-V", ISO_VOLUME_ID,
              "-e", ISO_BOOT_IMAGE, "-no-emul-boot", "-efi-boot-part", "--efi-boot-image",
              root], "write the ISO", "xorriso")


def is_iso(path):
    """Whether a file holds an ISO 9660 volume (its descriptor at 32 KiB)
    and is no FAT disk image (whose files may hold any bytes there)."""
    try:
        with open(path, "rb") as f:
            if fat_volume_bytes(f.read(512)) is not None:
                return False
            f.seek(16 * ISO_SECTOR)
            return f.read(6)[1:6] == b"CD001"
    except OSError:
        return False


# The boot system identifier an El Torito boot record holds at byte 7: the
# format fixes these 23 bytes.
EL_TORITO_ID = b"EL TORITO SPECIFICATION"


def el_torito_efi_image(data_at):
    """Byte offset of the El Torito boot image for the EFI platform (0xEF)
    of an ISO; `data_at(offset, length)` reads the ISO. MediumError when
    the ISO has none. The catalog is one sector: a validation entry, the
    default entry, then section headers each followed by their entries."""
    record = data_at(17 * ISO_SECTOR, ISO_SECTOR)
    if len(record) < 0x4B or record[0] != 0 or record[1:6] != b"CD001" \
            or record[7:7 + len(EL_TORITO_ID)] != EL_TORITO_ID:
        raise MediumError("no El Torito boot record (is it an ISO made by make-kit-image?)")
    catalog_sector, = struct.unpack_from("<I", record, 0x47)
    catalog = data_at(catalog_sector * ISO_SECTOR, ISO_SECTOR)
    if len(catalog) < 64 or catalog[0] != 1 or catalog[30:32] != b"\x55\xaa":
        raise MediumError("the El Torito boot catalog is damaged")
    platform = catalog[1]
    entries = [(platform, catalog[32:64])]
    offset = 64
    while offset + 32 <= len(catalog) and catalog[offset] in (0x90, 0x91):
        platform, count = catalog[offset + 1], struct.unpack_from("<H", catalog, offset + 2)[0]
        last = catalog[offset] == 0x91
        offset += 32
        for _ in range(count):
            if offset + 32 > len(catalog):
                break
            entries.append((platform, catalog[offset:offset + 32]))
            offset += 32
        if last:
            break
    for platform, entry in entries:
        if platform == 0xEF and entry[0] == 0x88:
            return struct.unpack_from("<I", entry, 8)[0] * ISO_SECTOR
    raise MediumError("no bootable El Torito entry for EFI")


def iso_fat_offset(path):
    """Where an ISO made here keeps its FAT file system."""
    with open(path, "rb") as f:
        def data_at(offset, length):
            f.seek(offset)
            return f.read(length)
        return el_torito_efi_image(data_at)
