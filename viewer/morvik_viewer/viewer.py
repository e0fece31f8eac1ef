"""The OCCT side of the host: graphic driver, viewer, context, view and service."""

from dataclasses import dataclass

from OCP.AIS import AIS_InteractiveContext
from OCP.Aspect import Aspect_DisplayConnection
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.V3d import V3d_View, V3d_Viewer

from morvik.services.scenard import Scenard

# Background: light steel blue at the top fading to a darker slate at the bottom.
GRADIENT_TOP = (0.62, 0.70, 0.80)
GRADIENT_BOTTOM = (0.16, 0.19, 0.24)


class DisplayUnavailable(RuntimeError):
    """No X server answered, so OCCT cannot open its display connection."""


@dataclass
class Viewer3d:
    """One OCCT viewer with one view, its interactive context and the service over them."""

    connection: Aspect_DisplayConnection
    driver: OpenGl_GraphicDriver
    viewer: V3d_Viewer
    context: AIS_InteractiveContext
    view: V3d_View
    service: Scenard


def open_display():
    """The X connection OCCT renders through, or DisplayUnavailable."""
    try:
        return Aspect_DisplayConnection()
    except Exception as error:  # OCCT raises its own Aspect_DisplayConnectionDefinitionError
        raise DisplayUnavailable(f"cannot open the X display: {error}") from error


def create_viewer(connection=None):
    """Builds driver, viewer, context and view; the service is constructed but not set up.

    The view has no window yet: the caller gives it one (a widget's native window
    or a virtual offscreen window) and then calls start_view.
    """
    connection = connection or open_display()
    driver = OpenGl_GraphicDriver(connection)
    viewer = V3d_Viewer(driver)
    viewer.SetDefaultLights()
    viewer.SetLightOn()
    context = AIS_InteractiveContext(viewer)
    view = viewer.CreateView()
    service = Scenard(view, viewer, context)
    return Viewer3d(connection, driver, viewer, context, view, service)


def start_view(service):
    """Gives a windowed view its working look: gradient background, trihedron, orthographic camera."""
    # The gradient is stored first so that setup_initial_view paints it rather than plain white.
    service.set_background_gradient(GRADIENT_TOP, GRADIENT_BOTTOM)
    service.setup_initial_view()
