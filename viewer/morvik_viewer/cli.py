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
it did not exist, so a script renders the same view run after run.
"""

import argparse
import logging
import os
import re
import sys

from morvik.enums import DisplayMode, ProjectionType, ViewDirection

PROG = "morvik-viewer"
FALLBACK_SCREENSHOT = "morvik-viewer.png"
MAX_SIZE = 8192

EXIT_OK, EXIT_FAILURE, EXIT_BAD_INPUT = 0, 1, 2


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
    return parser


def main(argv=None):
    args = build_parser().parse_args(argv)
    if args.tree or args.json:  # the model tree, printed without a display, Qt or OCP
        if not (args.tree and args.files):
            build_parser().error("--tree needs at least one FILE, and --json goes with --tree")
        from morvik_viewer import tree

        return tree.main(args.files, args.json, PROG)
    logging.basicConfig(level=logging.WARNING, format="%(name)s: %(levelname)s: %(message)s")

    reader = _early_reader(args)

    # Late imports: OCP and Qt load only once the arguments are known to be sound.
    from morvik_viewer import display
    from morvik_viewer.paths import PathError, check_output
    from morvik_viewer.scene import LoadError, check_file, sample_parts
    from morvik_viewer.view_state import ViewStateError, read_state

    windowless = args.screenshot is not None or not display.has_display()
    try:
        if args.screenshot is not None:
            check_output(args.screenshot)  # before any file is read or any view rendered
        view_state = read_state(args.view_state) if args.view_state else None
        if args.view_state and (view_state is None or not windowless):
            check_output(args.view_state)  # to be written (a window always writes it back)
        for path in args.files:
            check_file(path)
    except (LoadError, PathError, ViewStateError) as error:
        return _fail(error, EXIT_BAD_INPUT)

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
                       reader)
    try:
        parts = reader.read(args.files) if args.files else sample_parts()
    except LoadError as error:
        return _fail(error, EXIT_BAD_INPUT)
    # A screenshot writes the state file only when there was none to read.
    state_out = args.view_state if args.view_state and view_state is None else None
    return _screenshot(screenshot, parts, args.size, mode, projection, direction, view_state,
                       state_out, args.view_state)


def _early_reader(args):
    """The reader of the files named, started and asked before this process loads OCP, so
    that it reads them while this process starts; None for the sample scene. Dropped
    unheard, it is killed."""
    from morvik_viewer.reading import Reader

    return Reader(args.files) if args.files else None


def _screenshot(path, parts, size, mode, projection, direction, view_state, state_out,
                state_path):
    from morvik_viewer.paths import shown
    from morvik_viewer.screenshot import ScreenshotError, render_screenshot
    from morvik_viewer.view_state import StateRefused, ViewStateError
    from morvik_viewer.viewer import DisplayUnavailable

    try:
        written = render_screenshot(path, parts, size, mode, direction, projection, view_state,
                                    state_out)
    except StateRefused as error:  # before the picture
        return _refused(state_path, error)
    except (DisplayUnavailable, ScreenshotError, ViewStateError) as error:
        return _fail(error, EXIT_FAILURE)
    print(f"{PROG}: wrote {shown(written)} ({size[0]}x{size[1]})")
    return EXIT_OK


def _window(files, mode, projection, direction, view_state, state_path, reader=None):
    # OCCT renders into the widget's X window, which only Qt's xcb platform provides.
    os.environ["QT_QPA_PLATFORM"] = "xcb"
    from PySide6.QtWidgets import QApplication

    from morvik_viewer.interrupt import quit_on_interrupt
    from morvik_viewer.scene import sample_parts
    from morvik_viewer.view_state import ViewStateError, refusal, write_state
    from morvik_viewer.viewer import DisplayUnavailable, create_viewer
    from morvik_viewer.window import ViewerWindow

    try:
        # Before Qt: a display that does not answer makes Qt abort, OCCT only raise.
        stack = create_viewer()
    except DisplayUnavailable as error:
        return _fail(error, EXIT_FAILURE)
    # The service judges the state before any window shows (the view has none
    # yet, so taking it draws nothing); the window puts it in place again later.
    reason = refusal(stack.service, view_state) if view_state is not None else None
    if reason is not None:
        return _refused(state_path, reason)
    app = QApplication.instance() or QApplication([PROG])
    quit_on_interrupt(app)  # Ctrl+C in the terminal closes the window and ends the run
    window = ViewerWindow(stack)
    if reader is not None:  # the first open's reader, booted beside this process
        from morvik_viewer.loading import PipedReader

        window.readers.adopt(PipedReader(reader.detach()))
    window.show()
    window.start(sample_parts() if not files else (), mode, projection, direction, files,
                 view_state)
    status = app.exec()
    if state_path:
        try:
            write_state(state_path, stack.service.get_view_state())
        except ViewStateError as error:
            return _fail(error, EXIT_FAILURE)
    return status


def _refused(state_path, reason):
    """The view would not take the state in state_path: the file is at fault, as when read."""
    from morvik_viewer.paths import shown

    return _fail(f"{shown(state_path)}: not a usable view state ({reason})", EXIT_BAD_INPUT)


def _fail(error, status):
    print(f"{PROG}: error: {error}", file=sys.stderr)
    return status
