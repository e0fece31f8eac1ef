"""Rendering without a window on screen: a virtual OCCT window read back into a PNG, as a
screenshot or as a thumbnail (a small picture on a transparent background)."""

import io
from pathlib import Path

from OCP.Graphic3d import Graphic3d_BT_RGB, Graphic3d_BT_RGBA
from OCP.Image import Image_AlienPixMap
from OCP.TCollection import TCollection_AsciiString

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.cad.meshing import triangulated
from morvik_viewer.model.display_modes import split
from morvik_viewer.model.paths import shown
from morvik_viewer.model.up_axis import Z_UP
from morvik_viewer.model.view_state import StateRefused, noted, own_values, refusal, restore, write_state
from morvik_viewer.model.writing import WriteError, write_file
from morvik_viewer.scene.show import display_item
from morvik_viewer.view.explode import Explosion
from morvik_viewer.view.fit import FIT_MARGIN
from morvik_viewer.view.graphics import create_viewer3d, start_scene
from morvik_viewer.view.hidden_line import hide_lines
from morvik_viewer.view.look import style_shapes
from morvik_viewer.view.upright import name_trihedron, turn_shapes

# A thumbnail's background where a picture cannot keep its transparency (a JPEG), and
# what a viewer that ignores it shows: white.
THUMBNAIL_BACKGROUND = (1.0, 1.0, 1.0)
# The image types that keep a thumbnail's transparency.
ALPHA_SUFFIXES = (".png",)


class ScreenshotError(RuntimeError):
    """The image could not be rendered or written."""


def screenshot_scene(size=(1024, 768), mode=DisplayMode.SHADED,
                     projection=ProjectionType.ORTHOGRAPHIC):
    """A scene brought up for render_screenshot before the parts are in: its set-up (the
    graphic driver, the view's look, OpenGL's first programs) is a fifth of a small file's
    screenshot, and runs while a reader reads."""
    viewer3d = create_viewer3d(size=size)
    start_scene(viewer3d.service, Z_UP, projection, split(mode)[0])
    return viewer3d


def render_screenshot(path, parts, size=(1024, 768), mode=DisplayMode.SHADED,
                      direction=ViewDirection.ISO, projection=ProjectionType.ORTHOGRAPHIC,
                      view_state=None, state_out=None, up=Z_UP, palette=False, scene=None,
                      thumbnail=False, explode=0.0):
    """Renders parts into a PNG at path; needs an X server but no window manager.

    view_state, a state that service.get_view_state() gave, replaces the
    fitted view (camera, display mode, transparency, background) before the
    picture is taken; state_out, when given, receives the state of the view
    rendered (see view_state.write_state). StateRefused when the service would
    not take view_state: no picture is written then. up is the model axis that
    points up (see up_axis). palette: parts the file leaves uncoloured take the
    palette's colours rather than one grey (see model.colors.fallback_color). scene:
    one screenshot_scene gave for the same size, mode and projection. thumbnail: in
    the thumbnail's look (see thumbnail_look). mode may be the viewer's own hidden-line
    mode (display_modes.HIDDEN); explode, an exploded view's percentage (see
    model.explosion). A view_state's display mode and explosion win over them.
    """
    mode, hidden = split(mode)
    hidden, explode = own_values(view_state, hidden, explode)
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
    if thumbnail:
        thumbnail_look(viewer3d)  # after the naming, which shows the trihedron again
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
    if explode:
        explosion = Explosion(service)
        explosion.learn()
        explosion.place(explode, up)
    service.set_projection(direction)
    _fit(viewer3d.view)
    if view_state is not None:
        restore(service, view_state)  # in place of the fitted view, taken as before
    # For the camera the picture is taken with: hidden lines are computed for it.
    hide_lines(service, hidden, update=False)

    alpha = thumbnail and Path(path).suffix.lower() in ALPHA_SUFFIXES
    target = write_image(viewer3d.view, path, size, alpha)
    if state_out is not None:
        write_state(state_out, noted(service.get_view_state(), hidden, explode), up)
    return target


def thumbnail_look(viewer3d):
    """A thumbnail's look: no trihedron, and a plain background that OCCT clears to
    transparent (a picture read back with alpha keeps it: see write_image)."""
    options = viewer3d.driver.ChangeOptions()
    # An OCCT with the option clears opaque by default (for window systems that blend
    # windows by their alpha); an older one clears transparent.
    if hasattr(options, "buffersOpaqueAlpha"):
        options.buffersOpaqueAlpha = False
    viewer3d.service.set_background_color(THUMBNAIL_BACKGROUND)
    viewer3d.view.TriedronErase()


def write_image(view, path, size, alpha=False):
    """Renders what view shows at size (width, height) into an image file at path, its type
    from the name's ending (.png, .jpg...); returns the path. With alpha the picture keeps
    what the frame's alpha says (a background cleared transparent, see thumbnail_look).
    ScreenshotError when OCCT cannot render or encode it, or the file cannot be written
    (see writing). The view must have a window (a virtual one will do)."""
    width, height = size
    target = Path(path)
    pixmap = Image_AlienPixMap()
    buffer = Graphic3d_BT_RGBA if alpha else Graphic3d_BT_RGB
    if not view.ToPixMap(pixmap, width, height, buffer):
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
