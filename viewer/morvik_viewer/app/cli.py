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

The window shows before OCP loads (about a second), and its view follows:
OCP loads on a thread of its own meanwhile, so that the window answers (see
app.ocp_import); a file opened before the view is there opens once it is. With
a --view-state FILE that exists, OCP loads first, so that the service judges
the state before anything shows. While the window runs, what native
libraries print on the terminal (OCCT's notes, say) is dropped; the viewer's
own messages still show.
"""

import argparse
import logging
import re

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.app import display, print_tree
from morvik_viewer.app.base import EXIT_INTERRUPTED, FALLBACK_SCREENSHOT, PROG, _interrupts_held
from morvik_viewer.model.up_axis import AXES
from morvik_viewer.reader.client import Reader

MAX_SIZE = 8192


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
                             "(default: y for files whose header names a system that models "
                             "Y-up, such as SolidWorks; else the one chosen last in the "
                             "window's View menu, else z)")
    parser.add_argument("--palette", action="store_true",
                        help="show parts the files leave uncoloured in a palette of colours "
                             "(default: the window's View menu choice, else one light grey)")
    parser.add_argument("--no-cache", action="store_true",
                        help="read the files again, neither using nor keeping what an earlier "
                             "open of them read (kept by default, in the user's cache folder, unless the "
                             "settings' cache/enabled is false)")
    parser.add_argument("--reader-cores", type=_cores, metavar="N",
                        help="read and mesh the files on N of the machine's cores at most "
                             "(default: the settings' reader/cores, else all of them)")
    return parser


def _cores(text):
    try:
        count = int(text)
    except ValueError:
        count = 0
    if not 0 < count < 1 << 16:
        raise argparse.ArgumentTypeError(f"a number of cores, 1 or more: {text!r}")
    return count


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
        return print_tree.main(args.files, args.json, PROG)
    logging.basicConfig(level=logging.WARNING, format="%(name)s: %(levelname)s: %(message)s")

    # A window's reader starts before Qt loads here; it is asked once the settings say
    # whether it may keep what it reads.
    spawned = _spawned_reader(args)
    with _interrupts_held():
        # The one late import of the start: Qt's modules (QtCore first, for the settings)
        # load only once the arguments are known to be sound, and never for --tree; OCP
        # loads later still (see app.start).
        from morvik_viewer.app import start
    start.use_settings(args.no_cache, args.reader_cores)
    return start.run(args, _asked_reader(args, spawned))


def _spawned_reader(args):
    """A window's reader for the files named, started before this process loads Qt or OCP
    (measured on a busy machine: the window 2 s sooner, the scene no later); None when
    there are none, or for a screenshot (see _asked_reader)."""
    if not args.files or args.screenshot is not None or not display.has_display():
        return None
    return Reader()


def _asked_reader(args, spawned):
    """The reader of the files named, asked before this process loads OCP, so that it
    reads them while this process starts; None for the sample scene. Dropped unheard,
    it is killed.

    A screenshot's reader is this process forked once OCP is loaded (see
    reader.client.Reader): one import serves both."""
    if not args.files:
        return None
    if spawned is None:
        return Reader(args.files)
    spawned.ask(args.files)
    return spawned
