"""Making shapes displayed without their selection pickable, products' triangles shared.

OCCT picks a whole shape by one sensitive entity per face (and per free edge
or vertex), each with its own bounding box and picking tree. On an assembly of
small parts that is most of what the window holds: a board component with 85
pins has 516 faces, and computing them took 6 ms and 0.4 MB per placement
(2.7 GB and 50 s for a 20,200-placement cabinet), more than its presentation.
A product placed more than once is picked here by one entity per placement
over the product's triangles, computed once and shared by every placement: it
costs no more than a bounding box until a pick first reaches it, and picks the
same points with the same owner as OCCT's own. Shapes placed once, picked in a
sub-shape mode, or holding what the triangles do not cover (an edge or a vertex
outside any face, a face without triangles) get OCCT's own selection.
"""

from OCP.gp import gp_Pnt2d
from OCP.Select3D import Select3D_SensitivePrimitiveArray
from OCP.SelectMgr import SelectMgr_Selection, SelectMgr_TBU_Add, SelectMgr_TOU_None
from OCP.StdPrs import StdPrs_ShadedShape
from OCP.StdSelect import StdSelect_BRepOwner, StdSelect_BRepSelectionTool
from OCP.TopAbs import TopAbs_EDGE, TopAbs_FACE, TopAbs_SHAPE, TopAbs_VERTEX
from OCP.TopExp import TopExp_Explorer
from OCP.TopLoc import TopLoc_Location

from morvik_viewer.cad.meshing import faces_meshed

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import List_int as ListOfInteger
except ImportError:  # OCP 7 under OCCT's own name
    from OCP.TColStd import TColStd_ListOfInteger as ListOfInteger

_UV = (gp_Pnt2d(0.0, 0.0), gp_Pnt2d(1.0, 1.0), gp_Pnt2d(1.0, 1.0))


class SharedSelection:
    """Products' triangles for picking, each computed once, for the placements of one
    set of shapes (a load's)."""

    def __init__(self, shapes):
        """shapes: the placed shapes that will be made pickable; products placed more than
        once among them share their triangles."""
        self._placements = {}
        for shape in shapes:
            product = shape.TShape()  # the same object for every placement of a product
            self._placements[product] = self._placements.get(product, 0) + 1
        self._triangles = {}  # product: its triangle array, or None for OCCT's own selection

    def triangles(self, shape):
        """The triangles shape's placements are picked by, or None."""
        product = shape.TShape()
        if product not in self._triangles:
            self._triangles[product] = None
            if self._placements.get(product, 0) > 1:
                self._triangles[product] = _covering_triangles(shape.Located(TopLoc_Location()))
        return self._triangles[product]


def _covering_triangles(shape):
    """shape's triangles in one array when they cover all of it, else None."""
    for kind, outside in ((TopAbs_EDGE, TopAbs_FACE), (TopAbs_VERTEX, TopAbs_EDGE)):
        if TopExp_Explorer(shape, kind, outside).More():
            return None  # picked by what no triangle covers
    if not TopExp_Explorer(shape, TopAbs_FACE).More() or not faces_meshed(shape):
        return None
    return StdPrs_ShadedShape.FillTriangles_s(shape, False, *_UV)


def make_pickable(context, ais, shared=None):
    """Computes the selection of a shape displayed without it: in the modes the context
    holds for it (the service's selection mode, set as it was displayed), else in its
    default mode, there from shared (a SharedSelection) when it has the product's
    triangles. Nothing for a shape that has its selection."""
    manager = context.SelectionManager()
    if manager.Contains(ais):
        return
    modes = ListOfInteger()
    context.ActivatedModes(ais, modes)
    manager.Load(ais, -1)
    if not modes.Size():
        mode = ais.GlobalSelectionMode()
        if shared is not None and mode == 0:
            _share_triangles(ais, shared)
        context.Activate(ais, mode, False)
    while modes.Size():  # a mode the context took before the shape was loaded does nothing
        mode = modes.First()
        modes.RemoveFirst()
        context.Deactivate(ais, mode)
        context.Activate(ais, mode, False)


def _share_triangles(ais, shared):
    """Gives ais its whole-shape selection over its product's shared triangles, as
    OCCT's own would pick it (the same owner, the same priority)."""
    shape = ais.Shape()
    triangles = shared.triangles(shape)
    if triangles is None or ais.HasSelection(0):
        return
    owner = StdSelect_BRepOwner(shape, StdSelect_BRepSelectionTool.GetStandardPriority_s(
        shape, TopAbs_SHAPE), False)
    owner.SetSelectable(ais)
    sensitive = Select3D_SensitivePrimitiveArray(owner)
    if not sensitive.InitTriangulation(triangles.Attributes(), triangles.Indices(), shape.Location(),
                                       theToEvalMinMax=True, theNbGroups=1):
        return
    selection = SelectMgr_Selection(0)
    selection.Add(sensitive)
    ais.AddSelection(selection, 0)
    # As computed: activating it adds it to the picking trees and computes nothing.
    selection.UpdateStatus(SelectMgr_TOU_None)
    selection.UpdateBVHStatus(SelectMgr_TBU_Add)
