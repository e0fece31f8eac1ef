"""Hidden-line removal (the viewer's own display mode, model.display_modes.HIDDEN): OCCT's
polygonal hidden-line algorithm over the view's wireframe.

In its computed mode a view draws each AIS_Shape (presentations that depend on the
projector) as the visible parts of its edges and outlines, computed from the
triangles the reader meshed (the polygonal algorithm, Prs3d_TOH_PolyAlgo) rather
than from the exact surfaces, for the camera of the moment. It draws the shapes'
lines whatever their display mode: the service's mode stays wireframe the while,
so that their highlights and the toolbar say so too.

OCCT computes every shape's lines again at each change of the camera, and that
is what it costs: about 2.5 ms a part here (some fifty seconds for a cabinet of
20,200 placements), where a wireframe frame of the same scene takes under two.
So while a drag moves the camera of a view whose lines would take longer than
LIVE_BUDGET_S to compute, it draws the plain wireframe, and the lines are
computed once, for the camera where the drag left it (camera_moving). What they
would take is judged per presentation shown, from what the last computation
took, and never less than PART_FLOOR_S a presentation: a scene that grew since
(hidden lines chosen before a file's parts came in) is judged at its size.
"""

import time
import weakref

from OCP import Aspect
from OCP.Aspect import Aspect_IS_SOLID, Aspect_POM_Fill
from OCP.Graphic3d import Graphic3d_AspectFillArea3d, Graphic3d_TypeOfShadingModel_Unlit
from OCP.Prs3d import Prs3d_TOH_PolyAlgo
from OCP.PrsMgr import PrsMgr_TOP_AllView, PrsMgr_TOP_ProjectorDependent
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.StdPrs import StdPrs_ShadedShape, StdPrs_ToolTriangulatedShape

from morvik_viewer.tools.measure.measures import surfaceless

# Hidden lines that would take longer than this (seconds) wait for a drag to end.
LIVE_BUDGET_S = 0.05
# The least a presentation's hidden lines are taken to cost: a fifth of a small board
# component's (some 2.5 ms here, see bench/results/hidden-line-*.json).
PART_FLOOR_S = 0.0005

# Views whose hidden lines wait for the camera to rest, and what each view's took a
# presentation the last time they were computed.
_waiting: weakref.WeakSet = weakref.WeakSet()
_cost: weakref.WeakKeyDictionary = weakref.WeakKeyDictionary()
# The default drawer's automatic meshing of each view's context, while its lines are hidden.
_auto_meshing: weakref.WeakKeyDictionary = weakref.WeakKeyDictionary()

_tessellate = (getattr(StdPrs_ToolTriangulatedShape, "Tessellate_s", None)
               or StdPrs_ToolTriangulatedShape.Tessellate)
_NO_GRADIENT = getattr(Aspect, "Aspect_GradientFillMethod_None", None) or Aspect.Aspect_GFM_NONE
_fill_triangles = (getattr(StdPrs_ShadedShape, "FillTriangles_s", None)
                   or StdPrs_ShadedShape.FillTriangles)


def lines_hidden(view):
    """Whether the view takes hidden lines away (or will, once its camera rests)."""
    return bool(view.ComputedMode()) or view in _waiting


def hide_lines(service, on, update=True):
    """Takes the lines hidden behind faces away (on) or shows them again, and draws the
    view once when update; returns whether anything changed."""
    view = service.get_view()
    if lines_hidden(view) == bool(on):
        return False
    _waiting.discard(view)
    drawer = service.get_context().DefaultDrawer()
    if on:
        # Shapes with aspects of their own take it through their link to the default drawer.
        drawer.SetTypeOfHLR(Prs3d_TOH_PolyAlgo)
        _mesh_missing(service)
        _auto_meshing[view] = drawer.IsAutoTriangulation()
        drawer.SetAutoTriangulation(False)
        fill_meshes(service)
        _compute(view)
    else:
        view.SetComputedMode(False)
        drawer.SetAutoTriangulation(_auto_meshing.pop(view, drawer.IsAutoTriangulation()))
        _unfill_meshes(service)
    if update:
        service.redraw()
    return True


def _mesh_missing(service):
    """Meshes the registered shapes that carry no triangles fit for their drawer, as the
    shaded mode would, each product once, so that the lines are computed from the
    triangles the shapes carry with the drawer's automatic meshing off. On, OCCT's
    hidden-line pass checks every shape's triangles again at each change of the camera,
    against a deflection relative to the shape's size (it makes the drawer's deflection
    relative for the pass), and meshes anew what falls short: the checks alone were 7%
    of the pass on 2,020 board parts whose triangles the reader meshed."""
    done = set()
    for info in service.get_all_shapes().values():
        ais = info.ais_shape
        shape = ais.Shape()
        product = shape.TShape()
        if product not in done:
            done.add(product)
            _tessellate(shape, ais.Attributes())


def shapes_redisplayed(service, shape_ids=None):
    """Brings the hidden lines of shapes (all, or those named) computed again by their
    context (a Redisplay) up to date: OCCT recomputes a shape's presentation but leaves
    the view's hidden-line copy of it as it was, so that the view went on showing the
    lines of before, hidden ones included; meshes take their fill again."""
    view = service.get_view()
    if lines_hidden(view):
        # While a drag waits for the lines, they are all computed once it ends.
        fill_meshes(service, shape_ids, view.View() if view.ComputedMode() else None)


def fill_meshes(service, shape_ids=None, recompute=None):
    """Gives the registered shapes (all, or those named) whose faces have no surface (a
    mesh file's) their hidden lines: OCCT's hidden-line algorithms draw nothing of such
    a face, so these shapes leave the computed mode and show their wireframe (the
    triangles' creases and free boundaries) over their own triangles filled in the
    background's colour, which hide what lies behind them. recompute: a view whose
    hidden-line copies of the other shapes are computed again (see shapes_redisplayed)."""
    context = service.get_context()
    manager = context.MainPrsMgr()
    aspect = None
    for shape_id in service.get_all_shapes() if shape_ids is None else shape_ids:
        info = service.get_shape_info(shape_id)
        if info is None:
            continue
        ais = info.ais_shape
        mode = ais.DisplayMode() if ais.HasDisplayMode() else context.DisplayMode()
        if not manager.HasPresentation(ais, mode):
            continue
        presentation = manager.Presentation(ais, mode)
        if not surfaceless(ais.Shape()):
            if recompute is not None:
                recompute.ReCompute(presentation)
            continue
        triangles = _fill_triangles(ais.Shape())
        if triangles is None:
            continue
        ais.SetTypeOfPresentation(PrsMgr_TOP_AllView)
        aspect = aspect or _fill_aspect(service.get_view())
        group = presentation.NewGroup()
        group.SetGroupPrimitivesAspect(aspect)
        # OCP hands the group back as OpenGl_Group, whose binding takes the array's parts.
        group.AddPrimitiveArray(triangles.Type(), triangles.Indices(), triangles.Attributes(),
                                triangles.Bounds(), True)


def _fill_aspect(view):
    """The faces' fill under a mesh's lines: the background's colour (a gradient's middle),
    unlit, pushed behind the lines drawn on it."""
    gradient = view.GradientBackground()
    if gradient.BgGradientFillMethod() != _NO_GRADIENT:
        first, second = Quantity_Color(), Quantity_Color()
        gradient.Colors(first, second)
        colour = Quantity_Color(*((a + b) / 2 for a, b in zip(_rgb(first), _rgb(second))),
                                Quantity_TOC_RGB)
    else:
        colour = view.BackgroundColor()
    aspect = Graphic3d_AspectFillArea3d()
    aspect.SetInteriorStyle(Aspect_IS_SOLID)
    aspect.SetShadingModel(Graphic3d_TypeOfShadingModel_Unlit)
    aspect.SetInteriorColor(colour)
    aspect.SetDrawEdges(False)
    aspect.SetPolygonOffsets(Aspect_POM_Fill, 1.0, 1.0)
    return aspect


def _rgb(colour):
    return colour.Red(), colour.Green(), colour.Blue()


def _unfill_meshes(service):
    """Takes fill_meshes's fills away: the shapes go back to the computed mode, their
    presentations computed anew."""
    context = service.get_context()
    for info in service.get_all_shapes().values():
        ais = info.ais_shape
        if ais.TypeOfPresentation3d() == PrsMgr_TOP_AllView:
            ais.SetTypeOfPresentation(PrsMgr_TOP_ProjectorDependent)
            context.Redisplay(ais, False)


def _compute(view):
    """Computes every shape's hidden-line presentation for the camera as it is."""
    began = time.perf_counter()
    view.SetComputedMode(True)
    _cost[view] = (time.perf_counter() - began) / max(1, _shown(view))


def _shown(view):
    return view.View().NumberOfDisplayedStructures()


def costly(view):
    """Whether computing the view's hidden lines anew would take longer than LIVE_BUDGET_S."""
    return max(_cost.get(view, 0.0), PART_FLOOR_S) * _shown(view) > LIVE_BUDGET_S


def camera_moving(view, moving):
    """While a drag moves the camera (moving), a view whose hidden lines cost more than
    LIVE_BUDGET_S draws its plain wireframe; once it rests they are computed for the
    camera there. Returns whether the caller must draw the view (they were)."""
    if moving:
        if view.ComputedMode() and costly(view):
            view.SetComputedMode(False)
            _waiting.add(view)
        return False
    if view not in _waiting:
        return False
    _waiting.discard(view)
    _compute(view)
    return True
