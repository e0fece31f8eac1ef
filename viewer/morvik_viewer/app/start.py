"""A run the command line's arguments ask for, once they are known sound: the files and
the state file checked, then a window, or a screenshot without one.

Qt's core is loaded here (the settings are Qt's), under Ctrl+C held (see app.cli),
but neither Qt's widgets nor OCP: a window's OCP loads once the window shows
(see app.ocp_import), a screenshot's once it is known there is to be one.
"""

import ctypes
import os
import sys

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.app import display
from morvik_viewer.app.base import EXIT_BAD_INPUT, EXIT_FAILURE, FALLBACK_SCREENSHOT, PROG, _fail, _interrupts_held
from morvik_viewer.app.console import native_output_hidden
from morvik_viewer.app.ocp_import import OcpImport
from morvik_viewer.app.settings import PALETTE, READER_CORES, READER_MB, UP, answer_cache, load, open_settings
from morvik_viewer.model.display_modes import HIDDEN
from morvik_viewer.model.file_kinds import check_file
from morvik_viewer.model.paths import PathError, check_output
from morvik_viewer.model.view_state import ViewStateError, for_view, read_state
from morvik_viewer.reader import client
from morvik_viewer.view.platform_window import X11, qt_platform


def use_settings(no_cache=False, cores=None):
    """Has this process's readers keep what they read as the settings say (never with
    no_cache, the command line's --no-cache), and take the memory and the cores they
    allow (cores, the command line's --reader-cores, over the settings')."""
    settings = open_settings()
    client.CACHE = answer_cache(settings, no_cache)
    client.MEMORY = (load(settings, READER_MB) << 20) or client.MEMORY
    client.CORES = cores or load(settings, READER_CORES) or None


def run(args, reader):
    """The run args ask for (not --tree), with reader (app.cli's early one for a window, or
    None: a run without a window asks its own here); the exit status."""
    windowless = args.screenshot is not None or not display.has_display()
    settings = open_settings()
    up = args.up or load(settings, UP)
    palette = args.palette or load(settings, PALETTE)
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
    if windowless and reader is None and args.files:
        # Asked once the files are sound: one that is not is told before OCP loads (the
        # forked reader's import), and no reader opens a file this process has not.
        reader = client.Reader(args.files, draft=args.thumbnail is not None)
    saved_state, view_state = view_state, for_view(view_state, up)  # in the models' frame

    screenshot = args.screenshot
    if screenshot is None and not display.has_display():
        screenshot = FALLBACK_SCREENSHOT
        print(f"{PROG}: no display (DISPLAY is not set), so no window; "
              f"writing a screenshot to {screenshot} instead", file=sys.stderr)
    # A thumbnail needs an X server, not the user's: where DISPLAY names one that does not
    # answer (a file manager runs its thumbnailer in a sandbox), a virtual one. A screenshot
    # says so instead: its user named that display.
    thumbnail = args.thumbnail is not None
    if not display.has_display() or (thumbnail and _display_problem() is not None):
        try:
            display.start_virtual_display()
        except display.NoDisplay as error:
            return _fail(error, EXIT_FAILURE)

    # The viewer's own hidden-line mode goes on as its value string (see display_modes).
    mode = args.mode if args.mode == HIDDEN else DisplayMode(args.mode)
    direction = ViewDirection(args.view)
    projection = ProjectionType(args.projection)
    if screenshot is None:
        return _window(args.files, mode, projection, direction, view_state, args.view_state,
                       reader, up, args.up is not None, palette, args.explode)
    # OCP-bound: loaded only now that a screenshot is sure, and the files sound.
    from morvik_viewer.app import picture

    return picture.run(args, reader, screenshot, mode, projection, direction, view_state,
                       saved_state, up, palette)


def _window(files, mode, projection, direction, view_state, state_path, reader, up,
            up_given=False, palette=False, explode=0.0):
    # OCCT renders into the widget's native window: on X11 an X window, which only
    # Qt's xcb platform provides; elsewhere Qt's own choice serves.
    platform = qt_platform(os.environ.get("QT_QPA_PLATFORM"))
    if platform is not None:
        os.environ["QT_QPA_PLATFORM"] = platform
    problem = _display_problem()
    if problem is not None:
        return _fail(problem, EXIT_FAILURE)
    ocp = None
    try:
        with _interrupts_held():  # which the import's thread keeps: Ctrl+C is the GUI thread's
            from PySide6.QtWidgets import QApplication

            if view_state is None:  # OCP's libraries load while Qt's modules do
                ocp = OcpImport()
            # Qt's widgets, the toolbar's and the window's modules: none loads OCP.
            from morvik_viewer.app import windowed

        app = QApplication.instance() or QApplication([PROG])
        with native_output_hidden():  # after Qt's start, whose fatal errors the user must see
            return windowed.run(app, files, mode, projection, direction, view_state,
                                state_path, reader, up, ocp, up_given, palette, explode)
    finally:
        if ocp is not None and ocp.running():  # quit while OCP loads: the window is gone
            with _interrupts_held():
                ocp.wait()


def _display_problem():
    """Why no X server answers on DISPLAY, or None. Qt aborts the process on a display
    that does not answer, where OCCT only raises; this asks through libxcb, which Qt's
    xcb platform loads anyway, without loading either. Without X11 there is nothing to ask."""
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
