"""Files the viewer writes (images, view states): whole or not at all, never onto a special file.

The bytes are made in memory first (OCCT encodes an image into a stream), then
written under a name of their own beside the file they replace (the target,
symbolic links followed), put on disk, and renamed over the target: a write
that fails leaves the target as it was and is reported, with nothing half
written under its name. A target that exists and is not a regular file (a
FIFO, a device, a folder, a socket) is refused before anything opens it: an
image written into a FIFO blocks for good once the pipe's 64 KB are full, and
OCCT's own file writer reports an image written to /dev/full as saved.
"""

import os
import secrets
import stat
from pathlib import Path

from morvik_viewer.model.paths import PathError, one_line, output_target, shown


class WriteError(Exception):
    """The file was not written; the message names it and says why, on one line."""


def write_file(path, data, what="the file"):
    """Replaces the file at path (symbolic links followed) with data, bytes, whole; returns
    path. WriteError, naming path and what ("the image", say), when the target is not a
    regular file or any step fails: the target is then as it was, and no temporary is left.
    """
    path = Path(path)
    try:
        target = output_target(path)
    except PathError as error:
        raise WriteError(str(error)) from None
    # Beside the target, so the rename stays on one file system; a short name of its
    # own, so a target whose name is near the length limit still has one; made here,
    # exclusively, so nothing else stands under it; and created as any new file is
    # (the umask decides who may read it).
    temporary = target.with_name(f".mv-{os.getpid()}-{secrets.token_hex(4)}.tmp")
    try:
        descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC,
                             0o666)
    except (OSError, ValueError) as error:
        raise WriteError(f"{shown(path)}: cannot write {what} ({_reason(error)})") from None
    try:
        try:
            _write_all(descriptor, data)
            # What the disk refuses late (ENOSPC, EIO) shows here, where close alone may
            # say nothing.
            os.fsync(descriptor)
        finally:
            os.close(descriptor)
        _keep_mode(target, temporary)
        os.replace(temporary, target)
    except BaseException as error:  # an interrupt too: no temporary is left behind
        try:
            temporary.unlink(missing_ok=True)
        except OSError:
            pass
        if isinstance(error, OSError):
            raise WriteError(f"{shown(path)}: cannot write {what} ({_reason(error)})") from None
        raise
    return path


def _write_all(descriptor, data):
    view = memoryview(data)
    while view:
        view = view[os.write(descriptor, view):]


def _keep_mode(target, temporary):
    # A file replaced keeps who may read it; a new one has the umask's say.
    try:
        os.chmod(temporary, stat.S_IMODE(os.stat(target).st_mode))
    except OSError:  # a new file; or one another user owns, which we may write still
        pass


def _reason(error):
    return (error.strerror if isinstance(error, OSError) else None) or one_line(error)
