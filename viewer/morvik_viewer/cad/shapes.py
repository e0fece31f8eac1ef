"""Shapes as OCCT gives them: the sample solids, a BREP file's shape, compounds and the
solids inside them."""

import math

from OCP.BRep import BRep_Builder
from OCP.BRepBuilderAPI import BRepBuilderAPI_Transform
from OCP.BRepPrimAPI import (
    BRepPrimAPI_MakeBox,
    BRepPrimAPI_MakeCone,
    BRepPrimAPI_MakeCylinder,
    BRepPrimAPI_MakeSphere,
    BRepPrimAPI_MakeTorus,
)
from OCP.BRepTools import BRepTools
from OCP.gp import gp_Ax1, gp_Ax2, gp_Dir, gp_Pnt, gp_Trsf
from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_COMPSOLID, TopAbs_SOLID
from OCP.TopoDS import TopoDS_Compound, TopoDS_Iterator, TopoDS_Shape

from morvik_viewer.model import file_kinds
from morvik_viewer.model.colors import PALETTE
from morvik_viewer.model.parts import LoadError, Part
from morvik_viewer.model.paths import one_line, shown


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


def read_brep(path):
    """The shape of a BREP file; raises LoadError."""
    shape = TopoDS_Shape()
    try:
        ok = BRepTools.Read_s(shape, str(path), BRep_Builder())
    except Exception as error:
        raise LoadError(f"{shown(path)}: cannot read BREP data ({one_line(error)})") from error
    if not ok:
        raise LoadError(f"{shown(path)}: {file_kinds.unreadable(path, 'BREP')}")
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
