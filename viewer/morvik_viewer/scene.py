"""What the viewer shows: the sample solids, or the solids of CAD files."""

import math
from collections import Counter
from dataclasses import dataclass
from pathlib import Path

from OCP.BRep import BRep_Builder
from OCP.BRepPrimAPI import (
    BRepPrimAPI_MakeBox,
    BRepPrimAPI_MakeCone,
    BRepPrimAPI_MakeCylinder,
    BRepPrimAPI_MakeSphere,
    BRepPrimAPI_MakeTorus,
)
from OCP.BRepBuilderAPI import BRepBuilderAPI_Transform
from OCP.BRepTools import BRepTools
from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_COMPSOLID, TopAbs_SOLID
from OCP.TopoDS import TopoDS_Compound, TopoDS_Iterator, TopoDS_Shape
from OCP.gp import gp_Ax1, gp_Ax2, gp_Dir, gp_Pnt, gp_Trsf

from morvik_viewer import file_kinds
from morvik_viewer.file_kinds import STEP_SUFFIXES
from morvik_viewer.paths import PathError, one_line, shown
from morvik_viewer.reading import MILLIMETRES

# Colours handed out in turn to loaded parts; the sample scene uses them too.
PALETTE = (
    (0.85, 0.33, 0.10),  # orange
    (0.00, 0.45, 0.74),  # blue
    (0.47, 0.67, 0.19),  # green
    (0.93, 0.69, 0.13),  # yellow
    (0.49, 0.18, 0.56),  # purple
    (0.30, 0.75, 0.93),  # cyan
    (0.64, 0.08, 0.18),  # dark red
)



@dataclass
class Part:
    """One shape to show, under the identifier the service will book it by."""

    shape_id: str
    shape: TopoDS_Shape
    color: tuple
    # (sub-shape, colour) pairs: faces or solids of shape, as TopExp finds them in
    # shape, coloured apart from the rest; a finer sub-shape wins over a coarser one.
    sub_colors: tuple = ()
    # The file's length unit, (short name, millimetres in one): the shape itself is in
    # millimetres, as OCCT reads every file.
    unit: tuple = MILLIMETRES


class LoadError(Exception):
    """A file that cannot be shown; the message is meant for the user."""


def _up(x, y):
    # Authored Z-up, as most CAD files are: the sample solids stand on the XY plane along +Z.
    return gp_Ax2(gp_Pnt(x, y, 0.0), gp_Dir(0.0, 0.0, 1.0))


def _turned(shape, degrees, x, y):
    # Seen along the isometric diagonal, an axis-aligned box shows three faces
    # lit alike; turned about its vertical axis its faces read apart.
    turn = gp_Trsf()
    turn.SetRotation(gp_Ax1(gp_Pnt(x, y, 0.0), gp_Dir(0.0, 0.0, 1.0)), math.radians(degrees))
    return BRepBuilderAPI_Transform(shape, turn, True).Shape()


def sample_parts():
    """Five primitive solids in two rows, each under its own identifier and colour.

    Z-up: under the viewer's default up axis they stand upright, the cone and
    the torus in front.
    """
    box = BRepPrimAPI_MakeBox(gp_Pnt(-60.0, -15.0, 0.0), 30.0, 30.0, 30.0).Shape()
    shapes = [
        ("box", _turned(box, 25.0, -45.0, 0.0)),
        ("cylinder", BRepPrimAPI_MakeCylinder(_up(0.0, 0.0), 15.0, 40.0).Shape()),
        ("sphere", BRepPrimAPI_MakeSphere(gp_Pnt(45.0, 0.0, 18.0), 18.0).Shape()),
        ("cone", BRepPrimAPI_MakeCone(_up(-22.0, -50.0), 16.0, 0.0, 36.0).Shape()),
        ("torus", BRepPrimAPI_MakeTorus(_up(30.0, -50.0), 16.0, 6.0).Shape()),
    ]
    return [Part(name, shape, PALETTE[i]) for i, (name, shape) in enumerate(shapes)]


def load_parts(path, nodes=None):
    """The parts of a STEP or BREP file, each under an identifier of its own.

    A STEP part is called as the file names it (see step_reader.read_step),
    with its colour and its sub-shapes' colours. A part the file gives no name
    opens into its top-level solids, as does a BREP file; these are called
    after the nearest named assembly that holds them, else after the file
    (its stem), numbered when that name has several. Names met again take
    "#2", "#3"..., and parts without a colour take the palette's.

    nodes, when given, is a list that takes a STEP file's tree (see
    step_reader.read_step).

    Raises LoadError with a message for the user when the file is missing,
    of an unknown kind, unreadable, or holds no shape.
    """
    path = Path(path)
    check_file(path)
    unit = []
    if path.suffix.lower() in STEP_SUFFIXES:
        found = _read_step(path, nodes, unit)
    else:
        found = [Found(None, solid) for solid in _solids(read_brep(path))]
    parts = identify(path, found)
    for part in parts:
        part.unit = unit[0] if unit else MILLIMETRES
    return parts


def identify(path, found):
    """The Parts of what a file gives (Found, in the file's order), named as
    load_parts says; raises LoadError when there are none."""
    path = Path(path)
    if not found:
        raise LoadError(f"{shown(path)}: the file holds no shape")
    # Unnamed parts are numbered among those that fall back on the same name.
    unnamed = Counter(f.group or path.stem for f in found if f.name is None)
    numbered = Counter()
    parts, taken = [], set()
    for i, f in enumerate(found):
        name = f.name
        if name is None:
            name = f.group or path.stem
            if unnamed[name] > 1:
                numbered[name] += 1
                name = f"{name}-{numbered[name]}"
        parts.append(Part(unique(name, taken), f.shape, f.color or PALETTE[i % len(PALETTE)],
                          f.sub_colors))
    return parts


@dataclass
class Found:
    """A part as a file gives it, before it has an identifier."""

    name: str | None
    shape: TopoDS_Shape
    color: tuple | None = None
    sub_colors: tuple = ()
    group: str | None = None  # what to call it after when name is None


def check_file(path):
    """Raises LoadError unless path names a file of a kind load_parts reads (without reading it)."""
    try:
        file_kinds.check_file(path)
    except PathError as error:
        raise LoadError(str(error)) from None


def unique(shape_id, taken):
    """shape_id, or shape_id#2, #3... when taken holds it; the result joins taken."""
    candidate, n = shape_id, 1
    while candidate in taken:
        n += 1
        candidate = f"{shape_id}#{n}"
    taken.add(candidate)
    return candidate


def _solids(shape):
    return top_level_solids(shape) if shape is not None and not shape.IsNull() else []


def _read_step(path, nodes=None, unit=None):
    """The parts of a STEP file: step_reader.StepPart, which reads as Found."""
    # Loaded here, not with this module: the window shows parts but reads no files.
    from morvik_viewer.step_reader import StepError, read_step

    try:
        parts = read_step(str(path), nodes, unit)
    except StepError as error:
        raise LoadError(f"{shown(path)}: {error}") from error
    return parts


def read_brep(path):
    """The shape of a BREP file; raises LoadError."""
    shape = TopoDS_Shape()
    try:
        ok = BRepTools.Read_s(shape, str(path), BRep_Builder())
    except Exception as error:
        raise LoadError(f"{shown(path)}: cannot read BREP data ({one_line(error)})") from error
    if not ok:
        raise LoadError(f"{shown(path)}: not a readable BREP file")
    return shape


def compound(shapes):
    """One compound holding shapes, in their order."""
    builder, result = BRep_Builder(), TopoDS_Compound()
    builder.MakeCompound(result)
    for shape in shapes:
        builder.Add(result, shape)
    return result


def top_level_solids(shape):
    """Solids found by opening compounds; whatever else lies loose is kept as one compound.

    Depth first, in the compounds' order, with a stack of our own: a file may
    nest compounds far deeper than Python's recursion limit.
    """
    solids, loose = [], []
    pending = [shape]
    while pending:
        s = pending.pop()
        if s.ShapeType() in (TopAbs_COMPOUND, TopAbs_COMPSOLID):
            children, inside = TopoDS_Iterator(s), []
            while children.More():
                inside.append(children.Value())
                children.Next()
            pending.extend(reversed(inside))  # the first child comes off the stack first
        elif s.ShapeType() == TopAbs_SOLID:
            solids.append(s)
        else:
            loose.append(s)
    if loose:
        solids.append(compound(loose))
    return solids


def show_parts(service, parts, update=True):
    """Books every part with the service; one viewer update for the lot, or none."""
    from morvik_viewer.reading import display_item

    service.display_shapes([display_item(p) for p in parts], update)


def load_all(paths, before_each=None, trees=None):
    """The parts of several files; an identifier met twice gets a numbered suffix.

    before_each, when given, is called with each path before it is read.
    trees, when given, is a list that takes each file's tree (tree.FileTree),
    its parts under the identifiers given here.
    """
    parts, taken = [], set()
    for path in paths:
        if before_each is not None:
            before_each(path)
        nodes = [] if trees is not None else None
        read = load_parts(path, nodes)
        for part in read:
            part.shape_id = unique(part.shape_id, taken)
        parts += read
        if trees is not None:
            _add_tree(trees, path, read, nodes)
    return parts


def _add_tree(trees, path, parts, nodes):
    from morvik_viewer.tree import FileTree

    try:
        trees.append(FileTree.of(path, parts, nodes))
    except Exception:  # noqa: BLE001 - the window lists the parts flat without it
        pass
