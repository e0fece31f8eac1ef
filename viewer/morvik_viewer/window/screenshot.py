"""Rendering without a window on screen: a virtual OCCT window read back into a PNG."""

import io
from pathlib import Path

from OCP.Image import Image_AlienPixMap
from OCP.TCollection import TCollection_AsciiString

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.cad.meshing import triangulated
from morvik_viewer.model.paths import shown
from morvik_viewer.model.up_axis import Z_UP
from morvik_viewer.model.view_state import StateRefused, refusal, restore, write_state
from morvik_viewer.model.writing import WriteError, write_file
from morvik_viewer.scene.show import display_item
from morvik_viewer.view.fit import FIT_MARGIN
from morvik_viewer.view.graphics import create_viewer3d, start_scene
from morvik_viewer.view.look import style_shapes
from morvik_viewer.view.upright import name_trihedron, turn_shapes


class ScreenshotError(RuntimeError):
    """The image could not be rendered or written."""


def screenshot_scene(size=(1024, 768), mode=DisplayMode.SHADED,
                     projection=ProjectionType.ORTHOGRAPHIC):
    """A scene brought up for render_screenshot before the parts are in: its set-up (the
    graphic driver, the view's look, OpenGL's first programs) is a fifth of a small file's
    screenshot, and runs while a reader reads."""
    viewer3d = create_viewer3d(size=size)
    start_scene(viewer3d.service, Z_UP, projection, mode)
    return viewer3d


def render_screenshot(path, parts, size=(1024, 768), mode=DisplayMode.SHADED,
                      direction=ViewDirection.ISO, projection=ProjectionType.ORTHOGRAPHIC,
                      view_state=None, state_out=None, up=Z_UP, palette=False, scene=None):
    """Renders parts into a PNG at path; needs an X server but no window manager.

    view_state, a state that service.get_view_state() gave, replaces the
    fitted view (camera, display mode, transparency, background) before the
    picture is taken; state_out, when given, receives the state of the view
    rendered (see view_state.write_state). StateRefused when the service would
    not take view_state: no picture is written then. up is the model axis that
    points up (see up_axis). palette: parts the file leaves uncoloured take the
    palette's colours rather than one grey (see model.colors.fallback_color). scene:
    one screenshot_scene gave for the same size, mode and projection.
    """
    viewer3d = scene or create_viewer3d(size=size)
    service = viewer3d.service
    # Judged before anything is shown: the service is the one to say what it takes.
    reason = refusal(service, view_state) if view_state is not None else None
    if reason is not None:
        raise StateRefused(reason)
    if scene is None:
        start_scene(service, up, projection, mode)
    else:
        name_trihedron(service.get_view(), up)
    # The picture is the one frame drawn: moving the camera paints nothing.
    viewer3d.view.SetImmediateUpdate(False)
    if all(triangulated(part.shape) for part in parts):
        # Parts a reader meshed are drawn from their own triangles, however fine.
        viewer3d.context.DefaultDrawer().SetAutoTriangulation(False)
    # Nothing is picked in a picture: no shape's selection is computed (two thirds of
    # the time a placement takes to display).
    viewer3d.context.SetAutoActivateSelection(False)
    service.display_shapes([display_item(part, palette) for part in parts], False)
    style_shapes(service)
    turn_shapes(service, up)
    service.set_projection(direction)
    _fit(viewer3d.view)
    if view_state is not None:
        restore(service, view_state)  # in place of the fitted view, taken as before

    target = write_image(viewer3d.view, path, size)
    if state_out is not None:
        write_state(state_out, service.get_view_state(), up)
    return target


def write_image(view, path, size):
    """Renders what view shows at size (width, height) into an image file at path, its type
    from the name's ending (.png, .jpg...); returns the path. ScreenshotError when OCCT
    cannot render or encode it, or the file cannot be written (see writing). The view
    must have a window (a virtual one will do)."""
    width, height = size
    target = Path(path)
    pixmap = Image_AlienPixMap()
    if not view.ToPixMap(pixmap, width, height):
        raise ScreenshotError("OCCT could not render the view into an image")
    # Encoded in memory, the file written by the viewer: OCCT's own file writer
    # reports an image written to a full disk as saved.
    encoded = io.BytesIO()
    # OCP takes no plain str where OCCT wants a TCollection_AsciiString.
    if not pixmap.Save(encoded, TCollection_AsciiString(target.suffix)):
        raise ScreenshotError(f"{shown(target)}: cannot write the image (the name must end in "
                              "an image type OCCT writes, such as .png or .jpg)")
    try:
        return write_file(target, encoded.getbuffer(), "the image")
    except WriteError as error:
        raise ScreenshotError(str(error)) from None


def _fit(view):
    """The view fitted to what is shown as fit_view fits it, without its repaint."""
    try:
        view.FitAll(FIT_MARGIN, False)
        view.ZFitAll()
    except Exception:  # noqa: BLE001 - OCCT refuses an empty view: the picture shows it empty
        pass
