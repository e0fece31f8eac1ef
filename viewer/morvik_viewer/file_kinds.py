"""The kinds of CAD file the viewer opens, told apart by name alone.

No OCP here: the command line checks its files, and the window lists what it
opens, before OCP has loaded.
"""

from pathlib import Path

from morvik_viewer.paths import PathError, check_input, shown

STEP_SUFFIXES = (".step", ".stp")
BREP_SUFFIXES = (".brep", ".brp")
OPENABLE = STEP_SUFFIXES + BREP_SUFFIXES


def check_file(path):
    """Raises PathError unless path names a file of a kind the viewer reads (without reading it)."""
    path = Path(path)
    check_input(path)
    if path.suffix.lower() not in OPENABLE:
        raise PathError(f"{shown(path)}: unknown file type (expected .step, .stp, .brep or .brp)")
