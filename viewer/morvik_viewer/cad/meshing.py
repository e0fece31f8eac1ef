"""One triangulation for a whole model, made in the reader and kept by the view.

OCCT meshes each displayed shape relative to its own size, so the small
parts of an assembly get as many triangles as the large ones and the window
spends most of an open meshing. The reader instead meshes every part once,
in parallel, with one deflection taken from the whole model's box (as OCCT
would for the model shown as one shape), and the parts travel with their
triangles. The view is then told to take them as they are: its default
drawer gets that deflection as an absolute one, which OCCT finds already met
(StdPrs_ToolTriangulatedShape::IsTessellated), so no face is meshed again,
in any display mode, and a shape that comes without triangles is still
meshed to the same fineness.
"""

import math
import os

from OCP.Aspect import Aspect_TOD_ABSOLUTE
from OCP.Bnd import Bnd_Box
from OCP.BRep import BRep_Builder, BRep_Tool
from OCP.BRepBndLib import BRepBndLib
from OCP.BRepMesh import BRepMesh_IncrementalMesh
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
from OCP.BRepTools import BRepTools
from OCP.gp import gp_Pnt
from OCP.Precision import Precision
from OCP.Prs3d import Prs3d
from OCP.TopAbs import TopAbs_FACE
from OCP.TopExp import TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS, TopoDS_Compound

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import Map_TopoDS_Shape_TopTools_ShapeMapHasher as ShapeSet
except ImportError:  # OCP 7 under OCCT's own name
    from OCP.TopTools import TopTools_MapOfShape as ShapeSet

# Prs3d_Drawer's defaults: the share of the model's size a chord may stray
# from the surface, and the angle between neighbouring facets.
DEVIATION_COEFFICIENT = 0.001
DEVIATION_ANGLE = math.radians(20.0)
# Prs3d_Drawer's absolute default, for a model without extent.
FALLBACK_DEFLECTION = 0.0001

_face = getattr(TopoDS, "Face_s", None) or TopoDS.Face  # OCP 8 dropped the suffix


def model_deflection(shapes):
    """The chordal deflection OCCT would mesh these shapes with, shown as one."""
    box = Bnd_Box()
    for shape in shapes:
        BRepBndLib.Add_s(shape, box, False)
    return Prs3d.GetDeflection_s(box, DEVIATION_COEFFICIENT, FALLBACK_DEFLECTION)


def start_threads():
    """Starts every thread of OCCT's parallel meshing, by meshing a few boxes in parallel.

    A reader does so before its memory is bounded (see reader.memory): a meshing thread
    that cannot start under the bound leaves the mesh waiting for it for ever, where one
    that runs out of memory fails the read."""
    builder, boxes = BRep_Builder(), TopoDS_Compound()
    builder.MakeCompound(boxes)
    for i in range(max(8, len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity")
                       else os.cpu_count() or 1)):  # six faces each: work for every thread
        builder.Add(boxes, BRepPrimAPI_MakeBox(gp_Pnt(2.0 * i, 0.0, 0.0), 1.0, 1.0, 1.0).Shape())
    BRepMesh_IncrementalMesh(boxes, 0.1, False, 0.5, True)


class Mesher:
    """Meshes shapes to one deflection, each product once however often it is placed."""

    def __init__(self, deflection, angle=DEVIATION_ANGLE):
        self.deflection = deflection
        self.angle = angle
        # What the triangles reached: a face's estimated deflection may pass the
        # asked one a little, and the view must take it as met.
        self.reached = deflection
        self._meshed = ShapeSet()

    def mesh(self, shapes):
        """Meshes the shapes not meshed yet (all their faces at once, in parallel)."""
        builder, fresh, count = BRep_Builder(), TopoDS_Compound(), 0
        builder.MakeCompound(fresh)
        for shape in shapes:
            # Placed copies of one product share its faces, and so their triangles.
            bare = shape.Located(TopLoc_Location())
            if self._meshed.Add(bare):
                builder.Add(fresh, bare)
                count += 1
        if not count:
            return
        BRepMesh_IncrementalMesh(fresh, self.deflection, False, self.angle, True)
        if not BRepTools.Triangulation_s(fresh, self.reached, True):
            self.reached = max(self.reached, largest_deflection(fresh))


def _triangulations(shape):
    """The triangles of each face of shape that carries any, as TopExp meets the faces."""
    location = TopLoc_Location()
    faces = TopExp_Explorer(shape, TopAbs_FACE)
    while faces.More():
        triangles = BRep_Tool.Triangulation_s(_face(faces.Current()), location)
        if triangles is not None:
            yield triangles
        faces.Next()


def largest_deflection(shape):
    """The largest deflection a face of shape's triangles reaches (0 when none has any)."""
    return max((triangles.Deflection() for triangles in _triangulations(shape)), default=0.0)


def keep_triangles(context, deflection, angle=DEVIATION_ANGLE):
    """Makes the context's shapes shown from now on use the triangles they carry when
    those are as fine as deflection, and mesh to deflection when they carry none."""
    drawer = context.DefaultDrawer()
    drawer.SetTypeOfDeflection(Aspect_TOD_ABSOLUTE)
    drawer.SetMaximalChordialDeviation(deflection)
    drawer.SetDeviationAngle(angle)


def triangulated(shape):
    """Whether every face of shape carries triangles, and every edge its polygon."""
    return BRepTools.Triangulation_s(shape, Precision.Infinite_s(), True)


def faces_meshed(shape):
    """Whether every face of shape carries triangles."""
    return BRepTools.Triangulation_s(shape, Precision.Infinite_s(), False)


def triangle_count(shape):
    """Triangles over the faces of shape, each placed face counted (for checks and benchmarks)."""
    return sum(triangles.NbTriangles() for triangles in _triangulations(shape))
