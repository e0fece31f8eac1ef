"""The kinds of CAD file the viewer opens, told apart by their content where it says, else by
their name, and what a file that could not be read is instead.

No OCP here: the command line checks its files, and the window lists what it
opens, before OCP has loaded. Telling a kind needs the first bytes of a file at
most (and, for a ZIP, the names it holds): each format's own signature, as its
reader would check it, and nothing of its contents besides.
"""

import os
import struct
import zipfile
from pathlib import Path

from morvik_viewer.model.paths import PathError, check_input, shown

# Each kind with the suffixes its files take, the first its usual one.
SUFFIXES = {
    "STEP": (".step", ".stp"),
    "IGES": (".iges", ".igs"),
    "BREP": (".brep", ".brp"),
    "glTF": (".glb", ".gltf"),
    "STL": (".stl",),
    "OBJ": (".obj",),
    "PLY": (".ply",),
    "VRML": (".wrl", ".vrml"),
    "3MF": (".3mf",),
    "OFF": (".off",),
}
# The kinds OCP binds no reader of: read through the mesh library (cad.formats).
MESH_LIBRARY_KINDS = frozenset({"OBJ", "PLY", "3MF", "OFF"})
# Kinds whose files hold triangles only, never a surface.
MESH_KINDS = MESH_LIBRARY_KINDS | {"glTF", "STL", "VRML"}
STEP_SUFFIXES = SUFFIXES["STEP"]
BREP_SUFFIXES = SUFFIXES["BREP"]
OPENABLE = tuple(suffix for suffixes in SUFFIXES.values() for suffix in suffixes)
_BY_SUFFIX = {suffix: kind for kind, suffixes in SUFFIXES.items() for suffix in suffixes}
EXPECTED = "expected " + ", ".join(OPENABLE[:-1]) + " or " + OPENABLE[-1]
# The first line Git LFS writes in place of a file it has not fetched (a clone without
# git-lfs, or a download of the repository's archive): some 130 bytes of text.
LFS_POINTER = b"version https://git-lfs.github.com/spec/v1"
# What is read of a file to tell its kind.
_HEAD = 4096
_STL_HEADER, _STL_TRIANGLE = 84, 50


def check_file(path):
    """Raises PathError unless path names a file of a kind the viewer reads (without
    reading more than its first bytes)."""
    path = Path(path)
    check_input(path)
    if kind_of(path) is None:
        raise PathError(f"{shown(path)}: unknown file type ({EXPECTED})")


def openable(paths):
    """(the paths of a kind the viewer opens, the others), each in their order."""
    kept, others = [], []
    for path in paths:
        (kept if kind_of(path) is not None else others).append(path)
    return kept, others


def kind_of(path):
    """The kind of the file at path ("STEP", "glTF"... see SUFFIXES), or None.

    The content decides where it carries a signature (a STEP file named .txt, a
    binary STL without its suffix); else the name's suffix; else the looser signs
    of the text formats. A file that cannot be read goes by its name."""
    path = Path(path)
    by_name = _BY_SUFFIX.get(path.suffix.lower())
    try:
        if not path.is_file():  # never opened: a FIFO would block the opener
            return by_name
        with open(path, "rb") as file:
            head = file.read(_HEAD)
        size = os.path.getsize(path)
    except (OSError, ValueError):
        return by_name
    said = _signed(path, head, size)
    if said is not None:
        return said
    if by_name is not None:
        return by_name
    return _looks_like(head, size)


def _signed(path, head, size):
    """The kind a file's own signature names, or None."""
    text = head.lstrip(b"\xef\xbb\xbf \t\r\n")
    upper = text[:64].upper()
    if upper.startswith(b"ISO-10303-21"):
        return "STEP"
    if head.startswith(b"glTF"):
        return "glTF"
    if text.startswith(b"#VRML"):
        return "VRML"
    if text.startswith((b"ply\n", b"ply\r")):
        return "PLY"
    if text.startswith((b"DBRep_DrawableShape", b"CASCADE Topology", b"Open CASCADE Topology")):
        return "BREP"
    if head.startswith(b"PK\x03\x04") and _holds_3d_model(path):
        return "3MF"
    first = text.split(b"\n", 1)[0].strip()
    if first in (b"OFF", b"COFF", b"NOFF", b"CNOFF", b"STOFF", b"4OFF", b"nOFF"):
        return "OFF"
    if _binary_stl(head, size):
        return "STL"
    return None


def _holds_3d_model(path):
    # A 3MF package is a ZIP whose model lies under 3D/ (its relationships name it).
    try:
        with zipfile.ZipFile(path) as package:
            return any(name.lower().endswith(".model") and name.lower().startswith("3d/")
                       for name in package.namelist())
    except (OSError, zipfile.BadZipFile, ValueError):
        return False


def _binary_stl(head, size):
    # An 80-byte header, a triangle count and 50 bytes a triangle: the size tells.
    if len(head) < _STL_HEADER:
        return False
    (count,) = struct.unpack_from("<I", head, 80)
    return count > 0 and size == _STL_HEADER + _STL_TRIANGLE * count


def _looks_like(head, size):
    """The kind of a text file without a suffix of its own, by the looser signs its
    format's text shows, or None."""
    text = head.lstrip(b" \t\r\n")
    lines = [line.strip() for line in text.splitlines()[:64]]
    if text.startswith(b"solid") and b"facet" in head:
        return "STL"
    if text.startswith(b"{") and b'"asset"' in head:
        return "glTF"
    first = head.split(b"\n", 1)[0].rstrip(b"\r")
    if len(first) >= 73 and first[72:73] == b"S":
        return "IGES"  # 80-column records, the first of the Start section
    if _obj_lines(lines):
        return "OBJ"
    return None


_OBJ_STATEMENTS = (b"v ", b"vn ", b"vt ", b"vp ", b"f ", b"l ", b"o ", b"g ", b"s ", b"#",
                   b"mtllib ", b"usemtl ")


def _obj_lines(lines):
    """Whether lines read as an OBJ file's: every one a statement of OBJ's, three vertices
    at least (a note may well start a line with "v ")."""
    said = [line for line in lines[:-1] if line]  # the last may be cut short
    vertices = [line for line in said if line.startswith(b"v ")]
    return len(vertices) >= 3 and all(line.startswith(_OBJ_STATEMENTS) for line in said) and \
        all(len(line.split()) >= 4 for line in vertices)


def unreadable(path, kind):
    """Why a file OCCT could not read as kind ("STEP", "BREP") is none, in words for the
    user (without its name): a Git LFS pointer left in its place says so."""
    try:
        with open(path, "rb") as file:
            start = file.read(len(LFS_POINTER))
    except (OSError, ValueError):
        start = b""
    if start == LFS_POINTER:
        return f"a Git LFS pointer, not the {kind} file itself (get it with git lfs pull)"
    return f"not a readable {kind} file"
