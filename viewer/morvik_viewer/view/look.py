"""The application's look of a view: lights, default material, highlights, wireframe
without isolines, the pixel ratio OCCT's screen-space sizes follow, and the front
buffer while the camera moves."""

import ctypes
import logging

from OCP.gp import gp_Dir
from OCP.Graphic3d import Graphic3d_RenderingParams
from OCP.Prs3d import Prs3d_TypeOfHighlight_Dynamic, Prs3d_TypeOfHighlight_Selected
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.V3d import V3d_AmbientLight, V3d_DirectionalLight

from morvik_viewer.view.hidden_line import camera_moving, shapes_redisplayed
from morvik_viewer.view.view_cube import _trihedron_hidden

# Under the name its records have always carried: a log's filters may hold it.
logger = logging.getLogger("morvik_viewer.viewer")


# Lights, as grey levels of white. The shapes' material is shiny: a headlight
# straight along the view axis mirrors into the camera from every face seen
# face-on and turns it white. Tilted up and to the right (in view space),
# face-on faces keep their colour and the faces of a box still read apart.
AMBIENT_LIGHT = 0.8
HEADLIGHT = 0.75
HEADLIGHT_DIRECTION = (-0.4, -0.5, -1.0)
# Specular level of the default material, for shapes shown without a colour.
DEFAULT_SPECULAR = 0.1


# Highlights: colours far from the part palette and from greys, opaque even
# when the shapes are transparent.
SELECTED_COLOR = (0.0, 1.0, 0.0)
HOVER_COLOR = (0.05, 0.0, 1.0)
HIGHLIGHTS = ((Prs3d_TypeOfHighlight_Selected, SELECTED_COLOR),
              (Prs3d_TypeOfHighlight_Dynamic, HOVER_COLOR))


# OCCT's screen-space sizes (text, line widths) assume this many pixels per inch.
BASE_RESOLUTION = Graphic3d_RenderingParams().Resolution if hasattr(
    Graphic3d_RenderingParams, "Resolution") else 72


def _color(rgb):
    return Quantity_Color(*rgb, Quantity_TOC_RGB)


def light_scene(viewer):
    """Replaces the viewer's lights (in all its views): an ambient light and a tilted headlight."""
    for light in list(viewer.DefinedLights()):
        viewer.SetLightOff(light)
        viewer.DelLight(light)
    ambient = V3d_AmbientLight(_color((AMBIENT_LIGHT,) * 3))
    headlight = V3d_DirectionalLight(gp_Dir(*HEADLIGHT_DIRECTION), _color((HEADLIGHT,) * 3), True)
    for light in (ambient, headlight):
        light.SetIntensity(1.0)  # the colour carries the strength
        viewer.AddLight(light)
        viewer.SetLightOn(light)


def style_context(context):
    """Default material, wireframe without isolines, and highlight styles for the context.

    The default drawer reaches shapes displayed afterwards through their link
    to it. A shape the service gives a colour takes aspects of its own before
    it is displayed: it keeps the service's shiny material, which the tilted
    headlight keeps from glaring, and style_shapes takes its isolines away.
    """
    drawer = context.DefaultDrawer()
    material = drawer.ShadingAspect().Material()
    material.SetSpecularColor(_color((DEFAULT_SPECULAR,) * 3))
    drawer.ShadingAspect().SetMaterial(material)
    _without_isolines(drawer)
    for kind, rgb in HIGHLIGHTS:
        style = context.HighlightStyle(kind)
        style.SetColor(_color(rgb))
        style.SetTransparency(0.0)
    highlight_faces(context, True)


def highlight_faces(context, shaded):
    """Highlights whole faces (shaded) or edges only; follow the display mode with it.

    A shape's own highlight draws its edges, which on a shaded part shows as
    a thin outline: too little to see what is selected.
    """
    for kind, _ in HIGHLIGHTS:
        context.HighlightStyle(kind).SetDisplayMode(1 if shaded else 0)


def _without_isolines(drawer):
    # The wireframe mode draws the U and V isolines of curved faces as well as
    # the edges; none are wanted.
    drawer.UIsoAspect().SetNumber(0)
    drawer.VIsoAspect().SetNumber(0)


def style_shapes(service, shape_ids=None):
    """Gives registered shapes (all, or those named) the application's wireframe: edges only.

    A shape whose wireframe is on screen is computed again; others compute
    theirs when the display mode turns to wireframe; while lines are hidden, their
    hidden lines are computed again (hidden_line.shapes_redisplayed).
    """
    context = service.get_context()
    wireframe_shown = context.DisplayMode() == 0
    for shape_id in service.get_all_shapes() if shape_ids is None else shape_ids:
        info = service.get_shape_info(shape_id)
        if info is None:
            continue
        ais = info.ais_shape
        _without_isolines(ais.Attributes())
        if wireframe_shown:
            context.Redisplay(ais, False)
        else:
            ais.SetToUpdate(0)
    if wireframe_shown:
        shapes_redisplayed(service, shape_ids)
        context.UpdateCurrentViewer()


def set_camera_moving(view, moving):
    """Draws each frame straight into the window while the camera moves (a drag), and
    keeps OCCT's cached frame while it rests; the caller repaints.

    OCCT draws the scene into an offscreen frame and copies it to the window twice
    a frame, so that a hover highlight costs a copy rather than a whole frame. While
    the camera moves no frame is drawn twice and the copies are waste: under
    software OpenGL they cost as much as the scene itself at 1024x768. The picture
    is the same either way. Hidden lines too costly to compute each frame wait for the
    camera to rest (see hidden_line.camera_moving), and are drawn then.
    """
    was_moving = not view.View().SetImmediateModeDrawToFront(not moving)
    if was_moving != moving:
        # The cached frame, if any, shows another camera: the next highlight draws afresh.
        view.Invalidate()
    if camera_moving(view, moving):
        view.Redraw()


def set_pixel_ratio(view, ratio):
    """Sizes OCCT's screen-space drawing (text, line widths, trihedron) for a pixel ratio:
    how many device pixels make one of Qt's pixels.

    Returns whether the view now draws at that ratio; the caller repaints.
    """
    params = view.ChangeRenderingParams()  # a reference to the view's own parameters
    before = params.ResolutionRatio()
    if not _set_resolution(params, max(1, int(round(BASE_RESOLUTION * ratio)))):  # noqa: RUF046 - a numpy ratio rounds to a numpy float
        return False
    _scale_trihedron(view, params.ResolutionRatio() / before)
    return True


def _scale_trihedron(view, factor):
    # The trihedron is sized in device pixels; its corner offset follows its scale.
    trihedron = view.Trihedron(False)
    if trihedron is None or abs(factor - 1.0) < 1e-6:
        return
    trihedron.SetScale(trihedron.Scale() * factor)
    trihedron.SetPosition(trihedron.TransformPersistence().Corner2d())
    if view not in _trihedron_hidden:
        trihedron.Display(view)


def _set_resolution(params, resolution):
    if hasattr(params, "Resolution"):
        params.Resolution = resolution
    else:
        cell = _resolution_cell(params)
        if cell is None:
            logger.warning("cannot set OCCT's rendering resolution: text and lines keep their size")
            return False
        cell.value = resolution
    return abs(params.ResolutionRatio() - resolution / BASE_RESOLUTION) < 1e-3


_resolution_offset: list[int | None] = []  # found once: [offset] or [None]


def _resolution_cell(params):
    """The Resolution field of params as a ctypes cell, for bindings that leave it out.

    OCP (7.8 to 8.0 at least) binds ResolutionRatio() but not the Resolution
    field it reads. The field's place is found on a fresh parameter set of our own: the
    32-bit cell holding the default whose change moves ResolutionRatio().
    """
    if not _resolution_offset:
        probe = Graphic3d_RenderingParams()
        base = _cpp_address(probe)
        found = None
        for offset in range(0, 1024, 4):  # the whole set, with room to spare
            cell = ctypes.c_uint32.from_address(base + offset)
            if cell.value != BASE_RESOLUTION:
                continue
            cell.value = 2 * BASE_RESOLUTION
            moved = probe.ResolutionRatio() == 2.0
            cell.value = BASE_RESOLUTION
            if moved:
                found = offset
                break
        _resolution_offset.append(found)
    offset = _resolution_offset[0]
    if offset is None:
        return None
    return ctypes.c_uint32.from_address(_cpp_address(params) + offset)


def _cpp_address(wrapper):
    # pybind11 keeps the C++ pointer of a simple wrapper right after the object header.
    return ctypes.c_void_p.from_address(id(wrapper) + object.__basicsize__).value
