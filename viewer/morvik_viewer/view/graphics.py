"""The OCCT side of the host: graphic driver, viewer, context, view and service, and the
application's look (lights, highlights, wireframe, fit margin, pixel ratio)."""

from dataclasses import dataclass

from OCP.AIS import AIS_InteractiveContext
from OCP.Aspect import Aspect_DisplayConnection, Aspect_Window
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.V3d import V3d_View, V3d_Viewer

from morvik.enums import DisplayMode, ProjectionType
from morvik.services.scenard import Scenard
from morvik_viewer.model.colors import GRADIENT_BOTTOM, GRADIENT_TOP
from morvik_viewer.view.look import _scale_trihedron, light_scene, style_context
from morvik_viewer.view.platform_window import DisplayUnavailable, virtual_window
from morvik_viewer.view.upright import name_trihedron


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
