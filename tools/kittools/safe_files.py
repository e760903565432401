"""Files as the kit tools take and make them. The tools run as root on
admins' machines, so an input is read only when it is a regular file,
opened without blocking (a FIFO never hangs a run) and up to a stated
bound (a link to /dev/zero never fills memory or a disk); an output is
never a link, a device or one of the run's own inputs; and each fault is
one line that names the file it is about, whatever characters that name
holds."""

import errno
import os
import stat
import tempfile

from .common import KitError

CHUNK = 1 << 20
# Far above any shell or application image, far below what would strain
# the host: a link to /dev/zero or a huge file is refused, not read.
APPLICATION_LIMIT = 64 << 20


def one_line(text):
    """`text` with control characters (C0, DEL, C1) and bytes that were not
    UTF-8 (surrogate escapes) as \\xHH, so a name cannot split the line or
    drive the terminal."""
    out = []
    for c in text:
        code = ord(c)
        if code < 0x20 or 0x7F <= code <= 0x9F:
            out.append("\\x%02X" % code)
        elif 0xDC80 <= code <= 0xDCFF:
            out.append("\\x%02X" % (code - 0xDC00))
        else:
            out.append(c)
    return "".join(out)


def why_not(error, path):
    """The reason an open or stat of `path` failed, in words."""
    if error.errno == errno.ELOOP:
        return "a link that loops"
    if error.errno == errno.ENOENT and os.path.islink(path):
        return "a link to nothing"
    return error.strerror or str(error)


def kind_of(mode):
    if stat.S_ISDIR(mode):
        return "a folder"
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISCHR(mode) or stat.S_ISBLK(mode):
        return "a device"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "no regular file"


def open_regular(path, what):
    """A descriptor of the regular file `path`, opened without blocking;
    KitError naming `what` and the path otherwise."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC | os.O_NOCTTY)
    except OSError as error:
        raise KitError("%s%s cannot be read: %s" % (what, path, why_not(error, path)))
    info = os.fstat(fd)
    if not stat.S_ISREG(info.st_mode):
        os.close(fd)
        raise KitError("%s%s: %s, not a regular file" % (what, path, kind_of(info.st_mode)))
    return fd


def read_regular(path, limit, what=""):
    """The bytes of the regular file `path`, at most `limit` of them."""
    fd = open_regular(path, what)
    try:
        chunks, total = [], 0
        while True:
            try:
                chunk = os.read(fd, CHUNK)
            except OSError as error:
                raise KitError("%s%s: read error: %s" % (what, path, error.strerror))
            if not chunk:
                return b"".join(chunks)
            total += len(chunk)
            if total > limit:
                raise KitError("%s%s: larger than %d bytes" % (what, path, limit))
            chunks.append(chunk)
    finally:
        os.close(fd)


def copy_regular(source, target, shown_target):
    """Copies the regular file `source` to the new file `target`; a read
    fault names `source`, a write fault (a full disk) `shown_target`, the
    name the admin knows (never a private work path)."""
    fd = open_regular(source, "")
    try:
        try:
            out = os.open(target, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW
                          | os.O_CLOEXEC, 0o644)
        except OSError as error:
            raise KitError("%s: cannot be written: %s" % (shown_target, error.strerror))
        try:
            while True:
                try:
                    chunk = os.read(fd, CHUNK)
                except OSError as error:
                    raise KitError("%s: read error: %s" % (source, error.strerror))
                if not chunk:
                    break
                try:
                    while chunk:
                        chunk = chunk[os.write(out, chunk):]
                except OSError as error:
                    raise KitError("%s: cannot be written: %s" % (shown_target, error.strerror))
        finally:
            os.close(out)
    finally:
        os.close(fd)


def copy_tree(source, target, shown_target, skip=()):
    """Copies what the folder `source` holds (links followed, as a medium
    gets what they point at) into the folder `target`: regular files and
    folders only, a link back up the tree or into `target` refused. `skip`
    are names (lower case) of `source` itself that are not copied."""
    top = os.stat(target)
    forbidden = {(top.st_dev, top.st_ino)}

    def walk(folder, into, ancestors):
        try:
            names = sorted(os.listdir(folder))
        except OSError as error:
            raise KitError("%s: cannot list the folder: %s" % (folder, error.strerror))
        if folder == source:
            names = [name for name in names if name.lower() not in skip]
        for name in names:
            path = os.path.join(folder, name)
            try:
                info = os.stat(path)
            except OSError as error:
                raise KitError("%s: %s" % (path, why_not(error, path)))
            if stat.S_ISDIR(info.st_mode):
                key = (info.st_dev, info.st_ino)
                if key in ancestors or key in forbidden:
                    raise KitError("%s: a link to a folder that holds it or the medium" % path)
                os.mkdir(os.path.join(into, name))
                walk(path, os.path.join(into, name), ancestors | {key})
            else:
                copy_regular(path, os.path.join(into, name), shown_target)

    walk(source, target, folder_chain(source))


def folder_chain(folder):
    """The identities of `folder` and of every folder above it: a link in
    a tree to any of them would make the tree hold itself."""
    ids = set()
    path = os.path.realpath(folder)
    while True:
        info = os.stat(path)
        ids.add((info.st_dev, info.st_ino))
        parent = os.path.dirname(path)
        if parent == path:
            return ids
        path = parent


class NewFile:
    """A file written as `path` safely: into a fresh private name beside
    it, created exclusively, then renamed over it when closed (also after
    a failure: a log says what went wrong); an existing `path` that is a
    link, a device or a folder is refused first."""

    def __init__(self, path, what="a log"):
        check_output(path, [], "%s goes to a regular file" % what)
        self.path = path
        fd, self.temporary = tempfile.mkstemp(prefix=".%s-" % os.path.basename(path)[:64],
                                              dir=os.path.dirname(os.path.abspath(path)))
        self.file = os.fdopen(fd, "wb")

    def __enter__(self):
        return self.file

    def __exit__(self, kind, value, traceback):
        self.file.close()
        os.replace(self.temporary, self.path)
        return False


def write_new(path, data, what="a log"):
    with NewFile(path, what) as f:
        f.write(data)


def check_output(out, inputs, device_hint):
    """Refuses an `out` that is a link, a device or other special file, or
    the same file as one of `inputs` ((what, path) pairs; path None for an
    option not given). `device_hint` says how such output does reach a
    device."""
    try:
        info = os.lstat(out)
    except FileNotFoundError:
        return
    except OSError as error:
        raise KitError("%s: %s" % (out, error.strerror))
    if stat.S_ISLNK(info.st_mode):
        raise KitError("%s is a symbolic link; name the file itself" % out)
    if stat.S_ISCHR(info.st_mode) or stat.S_ISBLK(info.st_mode):
        raise KitError("%s is a device, not a file: %s" % (out, device_hint))
    if stat.S_ISDIR(info.st_mode):
        raise KitError("%s is a folder; give the medium's file name" % out)
    if not stat.S_ISREG(info.st_mode):
        raise KitError("%s is %s, not a regular file" % (out, kind_of(info.st_mode)))
    for what, path in inputs:
        try:
            other = os.stat(path) if path else None
        except OSError:
            continue
        if other and (other.st_dev, other.st_ino) == (info.st_dev, info.st_ino):
            raise KitError("%s is %s %s: writing it would destroy an input" % (out, what, path))
