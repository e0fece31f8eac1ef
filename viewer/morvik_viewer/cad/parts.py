"""The parts of CAD files, read with OCCT in the reader process: every kind the viewer
opens (see cad.formats), each part under an identifier of its own."""

from pathlib import Path

from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_SOLID
from OCP.TopExp import TopExp_Explorer
from OCP.TopoDS import TopoDS_Iterator

from morvik_viewer.cad.formats import read_file
from morvik_viewer.cad.shapes import read_brep, top_level_solids
from morvik_viewer.cad.step_walk import StepError
from morvik_viewer.model.file_kinds import kind_of
from morvik_viewer.model.file_tree import FileTree
from morvik_viewer.model.parts import Found, LoadError, Names, check_file, identify
from morvik_viewer.model.paths import shown
from morvik_viewer.model.units import MILLIMETRES


def load_parts(path, nodes=None, header=None):
    """The parts of a CAD file, each under an identifier of its own.

    A part is called as the file names it (see step_reader.read_step, which every
    kind but BREP follows), with its colour and its sub-shapes' colours. A part the file gives no name
    opens into its top-level solids, as does a BREP file; these are called
    after the nearest named assembly that holds them, else after the file
    (its stem), numbered when that name has several. Names met again take
    "#2", "#3"...; parts without a colour keep None (see fallback_color).

    nodes and header, when given, are lists that take the file's tree and
    its header (see step_reader.read_step and formats.read_file).

    Raises LoadError with a message for the user when the file is missing,
    of an unknown kind, unreadable, or holds no shape.
    """
    path = Path(path)
    check_file(path)
    unit = []
    kind = kind_of(path)
    if kind == "BREP":
        found = [Found(None, solid) for solid in _solids(read_brep(path))]
    else:
        found = _read_file(path, kind, nodes, unit, header)
    parts = identify(path, found)
    for part in parts:
        part.unit = unit[0] if unit else MILLIMETRES
    return parts


def _solids(shape):
    """The top-level solids of a BREP file's shape; where it holds none (a mesh's faces,
    as an export writes them), the shapes its compound holds, each a part."""
    if shape is None or shape.IsNull():
        return []
    if shape.ShapeType() != TopAbs_COMPOUND or TopExp_Explorer(shape, TopAbs_SOLID).More():
        return top_level_solids(shape)
    inside, found = TopoDS_Iterator(shape), []
    while inside.More():
        found.append(inside.Value())
        inside.Next()
    return found


def _read_file(path, kind, nodes=None, unit=None, header=None):
    """The parts of a file of any kind but BREP: cad.step_walk.StepPart, which reads as
    Found."""
    try:
        parts = read_file(str(path), nodes, unit, header, kind)
    except StepError as error:
        raise LoadError(f"{shown(path)}: {error}") from error
    return parts


def load_all(paths, before_each=None, trees=None):
    """The parts of several files; an identifier met twice gets a numbered suffix.

    before_each, when given, is called with each path before it is read.
    trees, when given, is a list that takes each file's tree (model.file_tree.FileTree),
    its parts under the identifiers given here.
    """
    parts, names = [], Names()
    for path in paths:
        if before_each is not None:
            before_each(path)
        nodes, header = ([], []) if trees is not None else (None, None)
        read = load_parts(path, nodes, header)
        for part in read:
            part.shape_id = names.unique(part.shape_id)
        parts += read
        if trees is not None:
            _add_tree(trees, path, read, nodes, header[0] if header else None)
    return parts


def _add_tree(trees, path, parts, nodes, header=None):
    try:
        trees.append(FileTree.of(path, parts, nodes, header))
    except Exception:  # noqa: BLE001 - the window lists the parts flat without it
        pass
