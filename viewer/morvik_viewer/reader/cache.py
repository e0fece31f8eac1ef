"""What a reader answered, kept for the next open of the same files: the commonest open of
all (a reload, the same model the next day) then costs no parse, transfer or meshing.

An entry is the answer's frames as they went to the window (each file's tree, the
count, the batches of parts with their triangles), under a key made of the files'
contents (and their paths, which the trees name), of this viewer's version and of
OCCT's. It is written under a name of its own while the answer goes out and takes its
key's name only once the answer is whole, so a reader killed half-way leaves no entry.
The folder is bounded in size: the entries used longest ago go first.

An entry is never trusted as it is: its head and its digest must match, and its
frames must decode (shapes and all) in a process of its own before any of it is
sent, so that an entry damaged, foreign or made to crash OCCT costs a read of the
file, never the reader. Nothing here imports OCP at module level.
"""

import hashlib
import os
import struct
import sys
import time
from pathlib import Path

from morvik_viewer.reader.protocol import Count, Done, FrameReader, Parts, Shared, decode, may_fork, unpack_parts
from morvik_viewer.reader.server import end_with_parent

MAGIC = b"morvik-viewer answer 1\n"
DIGEST = 32  # bytes of blake2b's digest, at the end of an entry
SUFFIX = ".answer"
_LENGTH = struct.Struct("<Q")  # the frames' size, ahead of the digest
CHUNK = 1 << 20


def _versions():
    """This viewer's version and OCP's (OCCT's, which made the shapes), as a key holds them."""
    from importlib import metadata

    import OCP

    try:
        viewer = metadata.version("morvik-viewer")
    except metadata.PackageNotFoundError:
        viewer = "unknown"
    return f"{viewer}|{getattr(OCP, '__version__', 'unknown')}|{sys.version_info[:2]}"


def key(paths):
    """The key of an answer to paths: their contents, their paths and the versions that
    made it. OSError when a file cannot be read."""
    digest = hashlib.blake2b(_versions().encode(), digest_size=20)
    for path in paths:
        digest.update(os.fsencode(os.path.abspath(path)) + b"\0")
        with open(path, "rb") as file:
            while chunk := file.read(CHUNK):
                digest.update(chunk)
        digest.update(b"\0")
    return digest.hexdigest()


class Cache:
    """The entries in folder, limit bytes in all at most."""

    def __init__(self, folder, limit):
        self.folder = Path(folder)
        self.limit = int(limit)

    def _path(self, name):
        return self.folder / f"{name}{SUFFIX}"

    def load(self, name):
        """The frames kept under name, checked, or None when there is no sound entry (a
        damaged or foreign one goes)."""
        path = self._path(name)
        try:
            data = path.read_bytes()
        except OSError:
            return None
        frames = _checked(data, name)
        if frames is None or not _decodes(frames):
            self._drop(path)
            return None
        try:
            os.utime(path)  # used now: the last to go
        except OSError:
            pass
        return data[len(MAGIC) + len(name) + 1:-(DIGEST + _LENGTH.size)]

    def writer(self, name):
        """An Entry to write the answer into, or None when the folder will not take one."""
        if self.limit <= 0:
            return None
        try:
            self.folder.mkdir(parents=True, exist_ok=True)
            return Entry(self, name)
        except OSError:
            return None

    def prune(self, keep=None):
        """Drops the entries used longest ago (and what killed writers left) till the rest
        fit the limit."""
        try:
            found = []
            for path in self.folder.iterdir():
                stat = path.stat()
                if path.suffix == SUFFIX:
                    found.append((stat.st_mtime, stat.st_size, path))
                elif ".part-" in path.name and time.time() - stat.st_mtime > 3600:
                    self._drop(path)  # a writer killed an hour ago or more
        except OSError:
            return
        total = sum(size for _, size, _ in found)
        for _, size, path in sorted(found, key=lambda entry: entry[0]):
            if total <= self.limit:
                break
            if path != keep or size > self.limit:
                self._drop(path)
                total -= size

    @staticmethod
    def _drop(path):
        try:
            path.unlink()
        except OSError:
            pass


class Entry:
    """One entry being written: frames go in as they go out, and it is kept by finish()."""

    def __init__(self, cache, name):
        self._cache, self._name = cache, name
        self._path = cache.folder / f"{name}.part-{os.getpid()}"
        self._file = open(self._path, "wb")  # noqa: SIM115 - open till finish() or drop()
        self._digest = hashlib.blake2b(digest_size=DIGEST)
        self._size = 0
        self._write(MAGIC + name.encode("ascii") + b"\n")

    def _write(self, data):
        self._file.write(data)
        self._digest.update(data)
        self._size += len(data)

    def add(self, frame):
        """Adds one frame; an entry that outgrows the cache's limit is given up."""
        if self._file is None:
            return
        try:
            self._write(frame)
            if self._size > self._cache.limit:
                self.drop()
        except OSError:
            self.drop()

    def finish(self):
        """Keeps the entry under its key's name, then fits the folder to the limit."""
        if self._file is None:
            return
        try:
            self._write(_LENGTH.pack(self._size - len(MAGIC) - len(self._name) - 1))
            self._file.write(self._digest.digest())
            self._file.close()
            self._file = None
            os.replace(self._path, self._cache._path(self._name))
        except OSError:
            self.drop()
            return
        self._cache.prune(keep=self._cache._path(self._name))

    def drop(self):
        if self._file is not None:
            try:
                self._file.close()
            except OSError:
                pass
            self._file = None
        Cache._drop(self._path)


def _checked(data, name):
    """The frames of an entry's bytes, when its head names name and its digest holds."""
    head = MAGIC + name.encode("ascii") + b"\n"
    if len(data) < len(head) + _LENGTH.size + DIGEST or not data.startswith(head):
        return None
    body, digest = data[:-DIGEST], data[-DIGEST:]
    if hashlib.blake2b(body, digest_size=DIGEST).digest() != digest:
        return None
    (length,) = _LENGTH.unpack_from(body, len(body) - _LENGTH.size)
    frames = body[len(head):-_LENGTH.size]
    if length != len(frames):
        return None
    try:
        reader = FrameReader()
        found = reader.feed(frames)
        if reader._buffer:
            return None  # a frame cut short
        return [decode(head, body) for head, body in found]
    except (ValueError, KeyError, TypeError, UnicodeDecodeError):
        return None


def _decodes(messages):
    """Whether the messages are a whole answer whose shapes OCCT reads back: checked in a
    process of its own where one can be forked, so that a crash costs that process."""
    if any(message is None for message in messages):
        return False
    counts = [m for m in messages if isinstance(m, Count)]
    batches = [m for m in messages if isinstance(m, Parts)]
    if len(counts) != 1 or counts[0].count != sum(len(b.ids) for b in batches if
                                                   isinstance(b.ids, list)):
        return False
    if any(isinstance(m, Done) for m in messages):
        return False  # an entry holds what comes before the end, never the end itself
    if not may_fork():
        return _unpacks(batches)
    parent = os.getpid()
    pid = os.fork()
    if pid == 0:
        status = 1
        try:
            end_with_parent(parent)  # killed with the reader it checks for
            status = 0 if _unpacks(batches) else 1
        finally:
            os._exit(status)
    _, status = os.waitpid(pid, 0)
    return status == 0


def _unpacks(batches):
    try:
        shared = Shared()
        for batch in batches:
            unpack_parts(batch, shared)
    except Exception:  # noqa: BLE001 - whatever the entry makes OCCT raise: not sound
        return False
    return True
