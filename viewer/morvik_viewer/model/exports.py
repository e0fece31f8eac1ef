"""What the viewer exports to: the kinds of file a target's name asks for, and the target
written whole or not at all, through a folder of its own beside it.

No OCP here: the command line checks its target, and the window lists the formats in
its dialog, before OCP has loaded. The writer (cad.export, in a reader process) writes
into the folder, under the target's own name, with whatever its format puts beside
it (a glTF file's buffer, an OBJ file's materials). Once it is done the files are
checked, put on disk and renamed into place, the target last. A write that fails, or
a reader that crashes mid-write, leaves only the folder, which is removed: nothing is
ever half written under the target's name. OCCT's writers report some failed writes
as done (a full disk among them), so a target that came out empty, or a disk left
without a free block, fails the write here whatever the writer said.
"""

import os
import shutil
import tempfile
from pathlib import Path

from morvik_viewer.model.paths import PathError, check_output, output_target, shown
from morvik_viewer.model.writing import WriteError, _keep_mode, _reason

# Each kind the viewer writes with the suffixes that ask for it, the first its usual one.
TARGETS = {
    "STEP": (".step", ".stp"),
    "IGES": (".iges", ".igs"),
    "BREP": (".brep", ".brp"),
    "glTF": (".gltf",),
    "GLB": (".glb",),
    "STL": (".stl",),
    "OBJ": (".obj",),
    "PLY": (".ply",),
    "VRML": (".wrl", ".vrml"),
}
# Kinds that hold triangles, not surfaces: the model is meshed as the window shows it.
MESH_TARGETS = frozenset({"glTF", "GLB", "STL", "OBJ", "PLY", "VRML"})
# Kinds OCP binds no writer of: the mesh library writes them (see cad.export).
MESH_LIBRARY_TARGETS = frozenset({"OBJ", "PLY"})
_BY_SUFFIX = {suffix: kind for kind, suffixes in TARGETS.items() for suffix in suffixes}
_ALL = [suffix for suffixes in TARGETS.values() for suffix in suffixes]
EXPECTED = "expected " + ", ".join(_ALL[:-1]) + " or " + _ALL[-1]
_PREFIX = ".mv-export-"


def target_kind(path):
    """The kind of file a target's name asks for ("STEP", "GLB"... see TARGETS), or None."""
    return _BY_SUFFIX.get(Path(path).suffix.lower())


def check_target(path):
    """The kind path asks for; PathError unless it is one the viewer writes and a file can
    be written under path's name (its folder there and writable, and it no folder, FIFO
    or device)."""
    kind = target_kind(path)
    if kind is None:
        raise PathError(f"{shown(path)}: unknown export format ({EXPECTED})")
    check_output(path)
    return kind


class Staging:
    """A folder of its own beside a target, where a writer writes the target's file
    (path) and any it puts beside it under their own names; put_in_place() moves them
    over the files they replace, drop() removes the folder and what is left in it."""

    def __init__(self, target):
        """PathError when the folder cannot be made (see check_target)."""
        self.target = Path(target)
        self._place = output_target(self.target)  # symbolic links followed
        try:
            self.folder = Path(tempfile.mkdtemp(prefix=_PREFIX, dir=self._place.parent))
        except (OSError, ValueError) as error:
            raise PathError(f"{shown(target)}: cannot write there ({_reason(error)})") from None
        self.path = self.folder / self._place.name

    def put_in_place(self):
        """Puts what the writer wrote in place, the target's file last, and drops the
        folder. WriteError, naming the target, when the file is not there whole: nothing
        is then moved (unless the disk failed between two renames)."""
        try:
            self._put_in_place()
        except OSError as error:
            raise WriteError(f"{shown(self.target)}: cannot write the file "
                             f"({_reason(error)})") from None
        finally:
            self.drop()

    def _put_in_place(self):
        if not self.path.is_file() or self.path.stat().st_size == 0:
            raise WriteError(f"{shown(self.target)}: cannot write the file (the writer "
                             "wrote nothing)")
        beside = sorted(p for p in self.folder.iterdir() if p != self.path)
        for written in (*beside, self.path):
            _put_on_disk(written)
        if disk_full(self.folder):
            raise WriteError(f"{shown(self.target)}: cannot write the file (no space left "
                             "on the disk)")
        places = [self._place.parent / written.name for written in beside]
        for place in places:  # a companion's name taken by a folder or a FIFO, say
            try:
                output_target(place)
            except PathError as error:
                raise WriteError(str(error)) from None
        for written, place in zip(beside, places):
            _keep_mode(place, written)
            os.replace(written, place)
        _keep_mode(self._place, self.path)
        os.replace(self.path, self._place)
        _put_on_disk(self._place.parent)

    def drop(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def _put_on_disk(path):
    # A file's or a folder's: what the disk refuses late (ENOSPC, EIO) shows here.
    descriptor = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def disk_full(folder):
    """Whether the disk holding folder has no block left for the files written there: the
    writers' own streams do not say when a write fell short for want of space."""
    try:
        disk = os.statvfs(folder)
    except OSError:
        return False
    free = disk.f_bfree if os.geteuid() == 0 else disk.f_bavail  # root may use the reserve
    return free == 0
