"""A screenshot run: the parts read and rendered offscreen into an image file (a
thumbnail is a screenshot in a look of its own, see window.screenshot).

Loaded once a screenshot is sure (see app.start): OCP with it.
"""

from morvik_viewer.app.base import EXIT_BAD_INPUT, EXIT_FAILURE, EXIT_OK, PROG, _fail, _refused
from morvik_viewer.app.console import native_output_hidden
from morvik_viewer.cad.shapes import sample_parts
from morvik_viewer.model.parts import LoadError
from morvik_viewer.model.paths import shown
from morvik_viewer.model.up_axis import files_up
from morvik_viewer.model.view_state import StateRefused, ViewStateError, for_view
from morvik_viewer.view.platform_window import DisplayUnavailable
from morvik_viewer.window.screenshot import ScreenshotError, render_screenshot, screenshot_scene


def run(args, reader, screenshot, mode, projection, direction, view_state, saved_state, up,
        palette):
    """Renders the files read by reader (or the sample scene) into screenshot; the exit
    status."""
    # Brought up while the reader reads; a file that cannot be read is told first.
    scene = unavailable = None
    try:
        with native_output_hidden():
            scene = screenshot_scene(args.size, mode, projection)
    except DisplayUnavailable as error:
        unavailable = error
    try:
        parts = reader.read(args.files) if args.files else sample_parts()
    except LoadError as error:
        return _fail(error, EXIT_BAD_INPUT)
    if unavailable is not None:
        return _fail(unavailable, EXIT_FAILURE)
    said = files_up(reader.trees) if args.up is None and reader is not None else None
    if said is not None and said != up:
        up = said  # what the files' authoring system or format models in (see up_axis)
        view_state = for_view(saved_state, up)
    # A screenshot writes the state file only when there was none to read.
    state_out = args.view_state if args.view_state and view_state is None else None
    return _screenshot(screenshot, parts, args.size, mode, projection, direction, view_state,
                       state_out, args.view_state, up, palette, scene,
                       args.thumbnail is not None, args.explode)


def _screenshot(path, parts, size, mode, projection, direction, view_state, state_out,
                state_path, up, palette=False, scene=None, thumbnail=False, explode=0.0):
    try:
        with native_output_hidden():  # OCCT's notes, and Fontconfig's under its fonts
            written = render_screenshot(path, parts, size, mode, direction, projection,
                                        view_state, state_out, up, palette, scene, thumbnail,
                                        explode)
    except StateRefused as error:  # before the picture
        return _refused(state_path, error)
    except (DisplayUnavailable, ScreenshotError, ViewStateError) as error:
        return _fail(error, EXIT_FAILURE)
    print(f"{PROG}: wrote {shown(written)} ({size[0]}x{size[1]})")
    return EXIT_OK
