"""The command line: open the viewer window, or render a screenshot and exit.

Exit status: 0 on success, 1 when no display or image could be had (or the
view state could not be saved), 2 for bad arguments, for files that are
missing or unreadable, and for a view state file that is not one (or that the
view refuses). (The window opens its files itself, behind a progress dialog:
a file that turns out unreadable only then is reported in the window.)

--view-state FILE keeps the view between runs. The state in FILE (camera,
display mode, transparency, background) is restored once the scene is shown,
taking the place of --view, --mode and --projection; a missing FILE is fine.
The window writes the state back at exit. A screenshot only writes FILE when
it did not exist, so a script renders the same view run after run. A state
notes the up axis it was saved under, and shows the same picture under the
other one.

The window shows before OCP loads (about a second), and its view follows;
with a --view-state FILE that exists, OCP loads first, so that the service
judges the state before anything shows. While the window runs, what native
libraries print on the terminal (OCCT's notes, say) is dropped; the viewer's
own messages still show.
"""

import argparse
import contextlib
import logging
import os
import re
import signal
import sys

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.up_axis import AXES

PROG = "morvik-viewer"
FALLBACK_SCREENSHOT = "morvik-viewer.png"
MAX_SIZE = 8192

EXIT_OK, EXIT_FAILURE, EXIT_BAD_INPUT = 0, 1, 2
EXIT_INTERRUPTED = 128 + signal.SIGINT  # as a shell reports a SIGINT death


def _size(text):
    match = re.fullmatch(r"\s*(\d+)\s*[xX]\s*(\d+)\s*", text)
    if not match:
        raise argparse.ArgumentTypeError(f"expected WIDTHxHEIGHT, e.g. 1024x768, not {text!r}")
    width, height = int(match[1]), int(match[2])
    if not (1 <= width <= MAX_SIZE and 1 <= height <= MAX_SIZE):
        raise argparse.ArgumentTypeError(f"width and height must lie between 1 and {MAX_SIZE}")
    return width, height


def _values(enum):
    return [member.value for member in enum]


def build_parser():
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Show CAD solids (or a sample scene) in an OCCT view with the morvik view toolbar.",
        epilog="Without a display the window cannot open; a screenshot is written instead "
               f"(to --screenshot, or {FALLBACK_SCREENSHOT}).",
    )
    parser.add_argument("files", nargs="*", metavar="FILE",
                        help="STEP (.step, .stp) or BREP (.brep, .brp) files; the sample scene when none")
    parser.add_argument("--screenshot", metavar="OUT.png",
                        help="render offscreen into this PNG file and exit")
    parser.add_argument("--size", type=_size, default=(1024, 768), metavar="WxH",
                        help="screenshot size in pixels (default 1024x768)")
    parser.add_argument("--mode", choices=_values(DisplayMode), default=DisplayMode.SHADED.value,
                        help="display mode (default: %(default)s)")
    parser.add_argument("--view", choices=_values(ViewDirection), default=ViewDirection.ISO.value,
                        help="standard view direction (default: %(default)s)")
    parser.add_argument("--projection", choices=_values(ProjectionType),
                        default=ProjectionType.ORTHOGRAPHIC.value,
                        help="camera projection (default: %(default)s)")
    parser.add_argument("--view-state", metavar="FILE.json",
                        help="restore the view saved in this file at start, and save it there "
                             "at exit (a screenshot saves it only when the file is new)")
    parser.add_argument("--tree", action="store_true",
                        help="print each FILE's model tree (names, colours, solids) and exit, "
                             "without a display")
    parser.add_argument("--json", action="store_true",
                        help="with --tree: print each tree as one line of JSON")
    parser.add_argument("--up", choices=AXES,
                        help="the model axis that points up: z (most CAD and EDA files) or y "
                             "(default: the one chosen last in the window's View menu, else z)")
    return parser


def main(argv=None):
    try:
        return _main(argv)
    except KeyboardInterrupt:  # Ctrl+C before the window's event loop, or with no window
        return EXIT_INTERRUPTED


def _main(argv):
    args = build_parser().parse_args(argv)
    if args.tree or args.json:  # the model tree, printed without a display, Qt or OCP
        if not (args.tree and args.files):
            build_parser().error("--tree needs at least one FILE, and --json goes with --tree")
        from morvik_viewer import tree

        return tree.main(args.files, args.json, PROG)
    logging.basicConfig(level=logging.WARNING, format="%(name)s: %(levelname)s: %(message)s")

    reader = _early_reader(args)

    # Late imports: OCP and Qt load only once the arguments are known to be sound, and
    # a window's OCP only once the window shows.
    from morvik_viewer import display
    from morvik_viewer.file_kinds import check_file
    from morvik_viewer.paths import PathError, check_output

    with _interrupts_held():
        from morvik_viewer.settings import open_settings, remembered_up
    from morvik_viewer.view_state import ViewStateError, for_view, read_state

    windowless = args.screenshot is not None or not display.has_display()
    up = args.up or remembered_up(open_settings())
    try:
        if args.screenshot is not None:
            check_output(args.screenshot)  # before any file is read or any view rendered
        view_state = read_state(args.view_state) if args.view_state else None
        if args.view_state and (view_state is None or not windowless):
            check_output(args.view_state)  # to be written (a window always writes it back)
        for path in args.files:
            check_file(path)
    except (PathError, ViewStateError) as error:
        return _fail(error, EXIT_BAD_INPUT)
    view_state = for_view(view_state, up)  # in the frame the models will show in

    screenshot = args.screenshot
    if screenshot is None and not display.has_display():
        screenshot = FALLBACK_SCREENSHOT
        print(f"{PROG}: no display (DISPLAY is not set), so no window; "
              f"writing a screenshot to {screenshot} instead", file=sys.stderr)
    if not display.has_display():
        try:
            display.start_virtual_display()
        except display.NoDisplay as error:
            return _fail(error, EXIT_FAILURE)

    mode, direction = DisplayMode(args.mode), ViewDirection(args.view)
    projection = ProjectionType(args.projection)
    if screenshot is None:
        return _window(args.files, mode, projection, direction, view_state, args.view_state,
                       reader, up)
    from morvik_viewer.scene import LoadError, sample_parts

    try:
        parts = reader.read(args.files) if args.files else sample_parts()
    except LoadError as error:
        return _fail(error, EXIT_BAD_INPUT)
    # A screenshot writes the state file only when there was none to read.
    state_out = args.view_state if args.view_state and view_state is None else None
    return _screenshot(screenshot, parts, args.size, mode, projection, direction, view_state,
                       state_out, args.view_state, up)


def _early_reader(args):
    """The reader of the files named, started and asked before this process loads OCP, so
    that it reads them while this process starts; None for the sample scene. Dropped
    unheard, it is killed.

    A screenshot's reader is this process forked once OCP is loaded (see
    reading.Reader): one import serves both. A window's is a process of its own,
    so that nothing loads OCP here before the window shows (measured on a busy
    machine: the window 2 s sooner, the scene no later)."""
    from morvik_viewer import display
    from morvik_viewer.reading import Reader

    if not args.files:
        return None
    if args.screenshot is not None or not display.has_display():
        return Reader(args.files)
    reader = Reader()
    reader.ask(args.files)
    return reader


def _screenshot(path, parts, size, mode, projection, direction, view_state, state_out,
                state_path, up):
    from morvik_viewer.paths import shown
    from morvik_viewer.screenshot import ScreenshotError, render_screenshot
    from morvik_viewer.view_state import StateRefused, ViewStateError
    from morvik_viewer.viewer import DisplayUnavailable

    from morvik_viewer.console import native_output_hidden

    try:
        with native_output_hidden():  # OCCT's notes, and Fontconfig's under its fonts
            written = render_screenshot(path, parts, size, mode, direction, projection,
                                        view_state, state_out, up)
    except StateRefused as error:  # before the picture
        return _refused(state_path, error)
    except (DisplayUnavailable, ScreenshotError, ViewStateError) as error:
        return _fail(error, EXIT_FAILURE)
    print(f"{PROG}: wrote {shown(written)} ({size[0]}x{size[1]})")
    return EXIT_OK


def _window(files, mode, projection, direction, view_state, state_path, reader, up):
    from morvik_viewer.platform_window import qt_platform

    # OCCT renders into the widget's native window: on X11 an X window, which only
    # Qt's xcb platform provides; elsewhere Qt's own choice serves.
    platform = qt_platform(os.environ.get("QT_QPA_PLATFORM"))
    if platform is not None:
        os.environ["QT_QPA_PLATFORM"] = platform
    problem = _display_problem()
    if problem is not None:
        return _fail(problem, EXIT_FAILURE)
    with _interrupts_held():
        from PySide6.QtWidgets import QApplication

        from morvik_viewer import window  # noqa: F401 - Qt's modules, and the toolbar's
        from morvik_viewer.console import native_output_hidden

    app = QApplication.instance() or QApplication([PROG])
    with native_output_hidden():  # after Qt's start, whose fatal errors the user must see
        return _run_window(app, files, mode, projection, direction, view_state, state_path,
                           reader, up)


def _run_window(app, files, mode, projection, direction, view_state, state_path, reader, up):
    from morvik_viewer.interrupt import quit_on_interrupt
    from morvik_viewer.view_state import ViewStateError, write_state
    from morvik_viewer.window import ViewerWindow

    viewer3d = None
    if view_state is not None:
        # The service judges the state before any window shows (the view has none
        # yet, so taking it draws nothing); the window puts it in place again later.
        from morvik_viewer.view_state import refusal
        from morvik_viewer.viewer import DisplayUnavailable, create_viewer3d

        try:
            viewer3d = create_viewer3d()
        except DisplayUnavailable as error:
            return _fail(error, EXIT_FAILURE)
        reason = refusal(viewer3d.service, view_state)
        if reason is not None:
            return _refused(state_path, reason)
    window = ViewerWindow(viewer3d, up=up)
    failed = []

    def bring_up():
        if window.viewer3d is None:
            from morvik_viewer.viewer import DisplayUnavailable, create_viewer3d

            try:
                window.attach(create_viewer3d())
            except DisplayUnavailable as error:
                failed.append(error)
                app.exit(EXIT_FAILURE)
                return
        if reader is not None:  # the first open's reader, booted beside this process
            from morvik_viewer.loading import PipedReader

            window.readers.adopt(PipedReader(reader.detach()))
        from morvik_viewer.scene import sample_parts

        window.start(sample_parts() if not files else (), mode, projection, direction, files,
                     view_state)

    if viewer3d is None:
        window.painted.connect(bring_up)  # OCP loads once the window is on screen
    window.show()
    if viewer3d is not None:
        bring_up()
    # Ctrl+C in the terminal closes the window and ends the run: from here on, since
    # app.exit() before the loop runs is lost (Python's own KeyboardInterrupt till then).
    quit_on_interrupt(app)
    status = app.exec()
    window.close()
    if failed:
        return _fail(failed[0], EXIT_FAILURE)
    if state_path and window.service is not None:
        try:
            write_state(state_path, window.service.get_view_state(), window.up_axis)
        except ViewStateError as error:
            return _fail(error, EXIT_FAILURE)
    return status


@contextlib.contextmanager
def _interrupts_held():
    """Holds Ctrl+C back for the block, which imports Qt's modules: a KeyboardInterrupt
    landing while shiboken sets one up aborts the process or leaves the module half made.
    The signal comes once the block is over."""
    held = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def _display_problem():
    """Why no X server answers on DISPLAY, or None. Qt aborts the process on a display
    that does not answer, where OCCT only raises; this asks through libxcb, which Qt's
    xcb platform loads anyway, without loading either. Without X11 there is nothing to ask."""
    import ctypes

    from morvik_viewer.platform_window import X11

    if not X11:
        return None
    try:
        xcb = ctypes.CDLL("libxcb.so.1")
    except OSError:
        return None  # Qt says what it lacks itself
    xcb.xcb_connect.restype = ctypes.c_void_p
    xcb.xcb_connect.argtypes = (ctypes.c_char_p, ctypes.c_void_p)
    xcb.xcb_connection_has_error.argtypes = (ctypes.c_void_p,)
    xcb.xcb_disconnect.argtypes = (ctypes.c_void_p,)
    connection = xcb.xcb_connect(None, None)
    try:
        failed = xcb.xcb_connection_has_error(connection)
    finally:
        xcb.xcb_disconnect(connection)  # an error connection too: libxcb knows its own
    if not failed:
        return None
    return f"cannot open the X display {os.environ.get('DISPLAY', '')!r} (no X server answers there)"


def _refused(state_path, reason):
    """The view would not take the state in state_path: the file is at fault, as when read."""
    from morvik_viewer.paths import shown

    return _fail(f"{shown(state_path)}: not a usable view state ({reason})", EXIT_BAD_INPUT)


def _fail(error, status):
    print(f"{PROG}: error: {error}", file=sys.stderr)
    return status
