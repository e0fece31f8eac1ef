"""The kinds of CAD file the viewer opens, told apart by name alone, and what a file that
OCCT could not read is instead.

No OCP here: the command line checks its files, and the window lists what it
opens, before OCP has loaded.
"""

from pathlib import Path

from morvik_viewer.model.paths import PathError, check_input, shown

STEP_SUFFIXES = (".step", ".stp")
BREP_SUFFIXES = (".brep", ".brp")
OPENABLE = STEP_SUFFIXES + BREP_SUFFIXES
EXPECTED = "expected .step, .stp, .brep or .brp"
# The first line Git LFS writes in place of a file it has not fetched (a clone without
# git-lfs, or a download of the repository's archive): some 130 bytes of text.
LFS_POINTER = b"version https://git-lfs.github.com/spec/v1"


def check_file(path):
    """Raises PathError unless path names a file of a kind the viewer reads (without reading it)."""
    path = Path(path)
    check_input(path)
    if path.suffix.lower() not in OPENABLE:
        raise PathError(f"{shown(path)}: unknown file type ({EXPECTED})")


def openable(paths):
    """(the paths of a kind the viewer opens, the others), each in their order."""
    kept, others = [], []
    for path in paths:
        (kept if Path(path).suffix.lower() in OPENABLE else others).append(path)
    return kept, others


def unreadable(path, kind):
    """Why a file OCCT could not read as kind ("STEP", "BREP") is none, in words for the
    user (without its name): a Git LFS pointer left in its place says so."""
    try:
        with open(path, "rb") as file:
            start = file.read(len(LFS_POINTER))
    except (OSError, ValueError):
        start = b""
    if start == LFS_POINTER:
        return f"a Git LFS pointer, not the {kind} file itself (get it with git lfs pull)"
    return f"not a readable {kind} file"
