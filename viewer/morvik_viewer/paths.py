"""Paths from the command line: what OCCT can be handed, and why not, in one line."""

import os
from pathlib import Path


class PathError(Exception):
    """A path the viewer cannot use; the message names it and says why, on one line."""


def shown(path):
    """The path as the user can read it, whatever bytes its name holds."""
    return os.fsencode(path).decode("utf-8", "replace")


def one_line(error):
    """The first line of an error's message: bindings may explain over many."""
    lines = str(error).strip().splitlines()
    return lines[0] if lines else type(error).__name__


def occt_name(path):
    """The name to hand OCCT, which takes UTF-8 text only."""
    try:
        os.fsdecode(path).encode("utf-8")
    except UnicodeEncodeError:
        raise PathError(f"{shown(path)}: the name is not valid UTF-8, which OCCT cannot open") \
            from None
    return os.fsdecode(path)


def _reason(error):
    return error.strerror or one_line(error)


def check_input(path):
    """Raises PathError unless path names a regular file OCCT can open by name."""
    path = Path(path)
    occt_name(path)
    try:
        if not path.exists():
            raise PathError(f"{shown(path)}: no such file")
        if not path.is_file():
            raise PathError(f"{shown(path)}: not a file")
        with open(path, "rb"):
            pass
    except OSError as error:  # a name too long, a folder that may not be searched, ...
        raise PathError(f"{shown(path)}: {_reason(error)}") from None


def check_output(path):
    """Raises PathError unless an image can be written under path's name."""
    path = Path(path)
    occt_name(path)
    folder = path.parent
    try:
        if path.is_dir():
            raise PathError(f"{shown(path)}: is a folder")
        if not folder.is_dir():
            raise PathError(f"{shown(path)}: no such folder {shown(folder)}")
        if not os.access(folder, os.W_OK | os.X_OK):
            raise PathError(f"{shown(path)}: the folder may not be written")
        if len(os.fsencode(path.name)) > os.pathconf(folder, "PC_NAME_MAX"):
            raise PathError(f"{shown(path)}: File name too long")
    except OSError as error:
        raise PathError(f"{shown(path)}: {_reason(error)}") from None
