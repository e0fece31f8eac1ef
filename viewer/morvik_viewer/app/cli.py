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
import math
import re

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.app import display, export, print_tree, thumbnailer
from morvik_viewer.app.base import EXIT_INTERRUPTED, FALLBACK_SCREENSHOT, PROG, _interrupts_held
from morvik_viewer.model import display_modes, explosion
from morvik_viewer.model.up_axis import AXES
from morvik_viewer.reader import client
from morvik_viewer.reader.client import Reader

MAX_SIZE = 8192
SCREENSHOT_SIZE, THUMBNAIL_SIZE = (1024, 768), (256, 256)
# How long a run without a window waits for each file: four times the longest read
# measured, a 105 MB STEP cabinet of 20,200 placements that took 150 s to screenshot on two
# busy cores (bench/results/open-time-2026-12-09-shared.json). A file that takes longer is
# more likely stuck (OCCT looping, a file whose opening waits on another program) than slow.
DEFAULT_TIMEOUT = 600.0
# A thumbnail's: a file manager waits for it, and a file that takes longer (some eight
# times a 3 MB, 300-part assembly's thumbnail here) is better shown by its icon.
THUMBNAIL_TIMEOUT = 20.0


def _size(text):
    """(width, height) from WIDTHxHEIGHT, or from one number for a square (a thumbnailer
    is given the longest side only)."""
    match = re.fullmatch(r"\s*(\d+)\s*(?:[xX]\s*(\d+)\s*)?", text)
    if not match:
        raise argparse.ArgumentTypeError(f"expected WIDTHxHEIGHT, e.g. 1024x768, or one "
                                         f"number for a square, not {text!r}")
    width = int(match[1])
    height = width if match[2] is None else int(match[2])
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
                        help="CAD files: STEP, IGES, BREP, glTF/GLB, STL, OBJ, PLY, VRML (.wrl), 3MF "
                             "or OFF, told by content where the name is wrong; the sample scene when none")
    parser.add_argument("--screenshot", metavar="OUT.png",
                        help="render offscreen into this PNG file and exit")
    parser.add_argument("--thumbnail", metavar="OUT.png",
                        help="render a small picture of the FILEs into this PNG file and exit: "
                             "the iso view, upright and framed, on a transparent background, "
                             "without trihedron, meshed coarser (see --install-thumbnailer)")
    parser.add_argument("--size", type=_size, metavar="WxH",
                        help="picture size in pixels, or one number for a square (default "
                             f"{SCREENSHOT_SIZE[0]}x{SCREENSHOT_SIZE[1]}; "
                             f"{THUMBNAIL_SIZE[0]}x{THUMBNAIL_SIZE[1]} for --thumbnail)")
    parser.add_argument("--timeout", type=_seconds, metavar="SECONDS",
                        help="without a window (a screenshot, a thumbnail, --tree), give up a "
                             "file that takes longer than this to read: exit status 2 "
                             f"(default {DEFAULT_TIMEOUT:g}; {THUMBNAIL_TIMEOUT:g} for "
                             "--thumbnail)")
    parser.add_argument("--mode", choices=display_modes.CHOICES, default=DisplayMode.SHADED.value,
                        help="display mode; hidden: wireframe without the lines faces hide "
                             "(default: %(default)s)")
    parser.add_argument("--explode", type=_explode, default=0.0, metavar="PERCENT",
                        help="an exploded view: each part moved away from the assembly's centre, "
                             "by PERCENT of its distance from it, 0 to 100 (default: 0)")
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
    parser.add_argument("--install-thumbnailer", action="store_true",
                        help="let file managers show CAD files by a --thumbnail: put this "
                             "command's thumbnailer and the CAD file types into "
                             "~/.local/share, and exit")
    parser.add_argument("--uninstall-thumbnailer", action="store_true",
                        help="take what --install-thumbnailer put there away, and exit")
    parser.add_argument("--export", metavar="OUT",
                        help="write what the FILEs hold into OUT, of the kind its name says "
                             "(.step, .iges, .brep, .gltf, .glb, .stl, .obj, .ply, .wrl), "
                             "with names, colours and assemblies where it holds them, meshed "
                             "as the window shows them; and exit, without a display")
    return parser


def _seconds(text):
    try:
        seconds = float(text)
    except ValueError:
        seconds = math.nan
    if not 0 < seconds < math.inf:  # NaN too: it compares false
        raise argparse.ArgumentTypeError(f"a number of seconds above 0: {text!r}")
    return seconds


def _explode(text):
    try:
        return explosion.percent(float(text))
    except ValueError:  # a float's refusal, or the range's (NaN too)
        raise argparse.ArgumentTypeError(f"a percentage from 0 to 100: {text!r}") from None


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
    if args.install_thumbnailer or args.uninstall_thumbnailer:
        if args.files or args.screenshot or args.thumbnail or args.tree:
            build_parser().error("--install-thumbnailer and --uninstall-thumbnailer go alone")
        return thumbnailer.main(args.uninstall_thumbnailer)
    if args.thumbnail is not None:
        if args.screenshot is not None or args.tree or not args.files:
            build_parser().error("--thumbnail needs a FILE, and goes without --screenshot "
                                 "and --tree")
        # A thumbnail is a screenshot in the thumbnail's look (see app.picture): one run.
        args.screenshot = args.thumbnail
    args.size = args.size or (THUMBNAIL_SIZE if args.thumbnail is not None else SCREENSHOT_SIZE)
    # Every blocking read of this run: a window's reads never block, and its user has Cancel.
    client.TIME_LIMIT = args.timeout or (THUMBNAIL_TIMEOUT if args.thumbnail is not None
                                         else DEFAULT_TIMEOUT)
    if args.export is not None:  # written into another file, without a display, Qt or OCP
        if not args.files or args.screenshot is not None or args.tree:
            build_parser().error("--export needs at least one FILE, and goes without "
                                 "--screenshot, --thumbnail and --tree")
        client.CORES = args.reader_cores
        return export.main(args.files, args.export)
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
    """A window's reader of the files named, asked before this process loads OCP, so that
    it reads them while this process starts; None for the sample scene, and for a run
    without a window, whose reader app.start asks once the files are checked. Dropped
    unheard, it is killed."""
    if not args.files or spawned is None:
        return None
    spawned.ask(args.files)
    return spawned
