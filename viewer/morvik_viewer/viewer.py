"""The OCCT side of the host: graphic driver, viewer, context, view and service, and the
application's look (lights, highlights, wireframe, fit margin, pixel ratio)."""

import ctypes
import logging
import weakref
from dataclasses import dataclass

from OCP.AIS import AIS_InteractiveContext
from OCP.Aspect import Aspect_DisplayConnection, Aspect_Window
from OCP.Graphic3d import Graphic3d_RenderingParams
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.Prs3d import Prs3d_TypeOfHighlight_Dynamic, Prs3d_TypeOfHighlight_Selected
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.TCollection import TCollection_AsciiString
from OCP.V3d import (V3d_AmbientLight, V3d_DirectionalLight, V3d_TypeOfOrientation, V3d_View,
                     V3d_Viewer)
from OCP.gp import gp_Dir

from morvik.enums import DisplayMode, ProjectionType
from morvik.services.scenard import Scenard
from morvik_viewer.platform_window import virtual_window
from morvik_viewer.up_axis import Y_UP, Z_UP, name_trihedron

logger = logging.getLogger(__name__)

# Background: light steel blue at the top fading to a darker slate at the bottom.
GRADIENT_TOP = (0.62, 0.70, 0.80)
GRADIENT_BOTTOM = (0.16, 0.19, 0.24)

# Lights, as grey levels of white. The shapes' material is shiny: a headlight
# straight along the view axis mirrors into the camera from every face seen
# face-on and turns it white. Tilted up and to the right (in view space),
# face-on faces keep their colour and the faces of a box still read apart.
AMBIENT_LIGHT = 0.8
HEADLIGHT = 0.75
HEADLIGHT_DIRECTION = (-0.4, -0.5, -1.0)
# Specular level of the default material, for shapes shown without a colour.
DEFAULT_SPECULAR = 0.1

# Darkest a part is shown, as linear luminance. Files give black plastic as
# near-black (0.02 linear, say), which shading cannot lift off black: its faces
# all look alike. Lifted to this floor, a dark part shows its shape and still
# reads as black; brighter colours are shown as given.
LUMINANCE_FLOOR = 0.07
LUMINANCE_WEIGHTS = (0.2126, 0.7152, 0.0722)

# Highlights: colours far from the part palette and from greys, opaque even
# when the shapes are transparent.
SELECTED_COLOR = (0.0, 1.0, 0.0)
HOVER_COLOR = (0.05, 0.0, 1.0)
HIGHLIGHTS = ((Prs3d_TypeOfHighlight_Selected, SELECTED_COLOR),
              (Prs3d_TypeOfHighlight_Dynamic, HOVER_COLOR))

# Room left around the scene by a fit, as a share of the view.
FIT_MARGIN = 0.08

# OCCT's screen-space sizes (text, line widths) assume this many pixels per inch.
BASE_RESOLUTION = Graphic3d_RenderingParams().Resolution if hasattr(
    Graphic3d_RenderingParams, "Resolution") else 72


class DisplayUnavailable(RuntimeError):
    """No X server answered, so OCCT cannot open its display connection."""


@dataclass
class Graphics:
    """An X connection and one OpenGL driver on it; views of one driver share its GL context."""

    connection: Aspect_DisplayConnection
    driver: OpenGl_GraphicDriver


@dataclass
class Scene3d:
    """One OCCT viewer with one view and its interactive context, and the view's window if it has one."""

    connection: Aspect_DisplayConnection
    driver: OpenGl_GraphicDriver
    viewer: V3d_Viewer
    context: AIS_InteractiveContext
    view: V3d_View
    window: Aspect_Window | None


@dataclass
class Viewer3d(Scene3d):
    """A scene and the service over it."""

    service: Scenard


def open_display():
    """The X connection OCCT renders through, or DisplayUnavailable."""
    try:
        return Aspect_DisplayConnection()
    except Exception as error:  # OCCT raises its own Aspect_DisplayConnectionDefinitionError
        raise DisplayUnavailable(f"cannot open the X display: {error}") from error


def open_graphics(connection=None):
    """A graphic driver on the given X connection, or on a newly opened one."""
    connection = connection or open_display()
    return Graphics(connection, OpenGl_GraphicDriver(connection))


def create_scene(graphics=None, size=None, title="morvik-viewer"):
    """Viewer with default lights, context and view on `graphics` (a new driver when None).

    With a size (width, height) the view gets a virtual window of that size;
    without one it has no window yet, and the caller gives it one (a widget's
    native window, say) before anything is drawn.
    """
    graphics = graphics or open_graphics()
    viewer = V3d_Viewer(graphics.driver)
    viewer.SetDefaultLights()
    viewer.SetLightOn()
    context = AIS_InteractiveContext(viewer)
    view = viewer.CreateView()
    window = None if size is None else offscreen_window(graphics.connection, view, size, title)
    return Scene3d(graphics.connection, graphics.driver, viewer, context, view, window)


def offscreen_window(connection, view, size, title):
    """Gives the view a virtual window of size (width, height) and returns it.

    A virtual window is never mapped on screen but gives OpenGL its drawable:
    ToPixMap and Dump crash the process on a view without any window. The
    caller keeps the window as long as the view draws into it.
    """
    window = virtual_window(connection, title, size)
    view.SetWindow(window)
    view.MustBeResized()
    return window


def create_viewer3d(connection=None, size=None):
    """A scene (see create_scene) and a service over it, constructed but not set up.

    Once the view has its window, start_scene brings it up.
    """
    scene = create_scene(open_graphics(connection), size)
    service = Scenard(scene.view, scene.viewer, scene.context)
    return Viewer3d(**vars(scene), service=service)


def start_view(service):
    """Gives a windowed view its working look.

    Gradient background, trihedron and orthographic camera (the service's set-up),
    then the application's lights, default material, highlight styles and no
    isolines in wireframe. The trihedron follows the view's pixel ratio (see
    set_pixel_ratio) when that was set first.
    """
    # The gradient is stored first so that setup_initial_view paints it rather than plain white.
    service.set_background_gradient(GRADIENT_TOP, GRADIENT_BOTTOM)
    service.setup_initial_view()
    view = service.get_view()
    _scale_trihedron(view, view.RenderingParams().ResolutionRatio())
    light_scene(service.get_viewer())
    style_context(service.get_context())


def start_scene(service, up, projection=ProjectionType.ORTHOGRAPHIC, mode=DisplayMode.SHADED,
                transparency=0.0):
    """Brings a windowed view up as the viewer shows it, on screen and in screenshots alike:
    its working look (start_view), the trihedron named for the up axis (see up_axis), and
    the projection type, transparency and display mode given, as members or value strings
    (a fresh context draws wireframe till its mode is set)."""
    start_view(service)
    name_trihedron(service.get_view(), up)
    service.set_projection_type(ProjectionType(projection))
    service.set_global_transparency(transparency, False)
    service.set_display_mode(DisplayMode(mode))


def readable_color(rgb):
    """The colour to show a part in: rgb itself (the same object), or for a colour
    darker than LUMINANCE_FLOOR the colour lifted to it by adding grey, which keeps
    the differences between its channels. None (no colour) stays None.

    Anything that is not three numbers is given back as it came, for the service
    to judge.
    """
    try:
        red, green, blue = (float(v) for v in rgb)
    except (TypeError, ValueError):
        return rgb
    luminance = sum(w * v for w, v in zip(LUMINANCE_WEIGHTS, (red, green, blue)))
    if not luminance < LUMINANCE_FLOOR or min(red, green, blue) < 0.0:
        return rgb  # bright enough, or no colour (NaN, negative) the service would take
    lift = LUMINANCE_FLOOR - luminance
    return tuple(min(1.0, v + lift) for v in (red, green, blue))


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
    theirs when the display mode turns to wireframe.
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
        context.UpdateCurrentViewer()


def fit_view(service, margin=FIT_MARGIN):
    """Fits the view to what is shown, leaving a margin around it, and repaints once."""
    view = service.get_view()
    try:
        view.FitAll(margin, False)
        view.ZFitAll()
    except Exception:  # OCCT refuses a view without a window or an empty one with its own errors
        logger.debug("cannot fit the view", exc_info=True)
        return
    service.redraw()


def set_camera_moving(view, moving):
    """Draws each frame straight into the window while the camera moves (a drag), and
    keeps OCCT's cached frame while it rests; the caller repaints.

    OCCT draws the scene into an offscreen frame and copies it to the window twice
    a frame, so that a hover highlight costs a copy rather than a whole frame. While
    the camera moves no frame is drawn twice and the copies are waste: under
    software OpenGL they cost as much as the scene itself at 1024x768. The picture
    is the same either way.
    """
    was_moving = not view.View().SetImmediateModeDrawToFront(not moving)
    if was_moving != moving:
        # The cached frame, if any, shows another camera: the next highlight draws afresh.
        view.Invalidate()


def set_pixel_ratio(view, ratio):
    """Sizes OCCT's screen-space drawing (text, line widths, trihedron) for a pixel ratio:
    how many device pixels make one of Qt's pixels.

    Returns whether the view now draws at that ratio; the caller repaints.
    """
    params = view.ChangeRenderingParams()  # a reference to the view's own parameters
    before = params.ResolutionRatio()
    if not _set_resolution(params, max(1, int(round(BASE_RESOLUTION * ratio)))):
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


# Views whose trihedron the view cube replaces. OCCT's trihedron cannot say whether it
# is shown, and Display() is what applies a new scale or new names.
_trihedron_hidden = weakref.WeakSet()


# The view cube's sides named after the standard views that look at them (the view's
# frame is the service's, Y-up, whatever the models' up axis), and its axes after the
# model axes they show (as the trihedron's are, see up_axis.name_trihedron).
CUBE_SIDES = (("V3d_Xpos", "Right"), ("V3d_Xneg", "Left"), ("V3d_Ypos", "Top"),
              ("V3d_Yneg", "Bottom"), ("V3d_Zpos", "Front"), ("V3d_Zneg", "Back"))
CUBE_AXES = {Z_UP: ("X", "Z", "-Y"), Y_UP: ("X", "Y", "Z")}


def show_view_cube(service, on, up=Z_UP):
    """Shows OCCT's view cube in a corner of the view in place of the trihedron (on), or the
    trihedron alone, the cube's sides and axes named for the up axis; one repaint. Calls
    that name or scale the trihedron anew (up_axis, set_pixel_ratio) show it again: call
    this after them."""
    view = service.get_view()
    service.set_view_cube(bool(on))
    trihedron = view.Trihedron(False)
    if on:
        _trihedron_hidden.add(view)
        if trihedron is not None:
            trihedron.Erase()
        cube = find_view_cube(service.get_context())
        if cube is not None:
            _name_view_cube(cube, up)
            service.get_context().Redisplay(cube, False)
    else:
        _trihedron_hidden.discard(view)
        if trihedron is not None:
            trihedron.Display(view)
    service.redraw()


def find_view_cube(context):
    """The view cube the context shows (the service's), or None."""
    try:
        from OCP.collections import List_AIS_InteractiveObject as ObjectList
    except ImportError:  # OCP before 8 binds the list under OCCT's own name
        from OCP.AIS import AIS_ListOfInteractive as ObjectList
    shown = ObjectList()
    context.DisplayedObjects(shown)
    return next((item for item in shown if item.IsKind("AIS_ViewCube")), None)


def _name_view_cube(cube, up):
    # Y-up: the cube turns the camera to its sides with +Y up, as the standard views do.
    cube.SetYup(True, False)
    for side, name in CUBE_SIDES:
        cube.SetBoxSideLabel(getattr(V3d_TypeOfOrientation, side),
                             TCollection_AsciiString(name.upper()))
    cube.SetAxesLabels(*(TCollection_AsciiString(name) for name in CUBE_AXES.get(up, "XYZ")))


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


_resolution_offset = []  # found once: [offset] or [None]


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
