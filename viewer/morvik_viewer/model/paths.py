"""Paths from the command line: what OCCT can be handed, and why not, in one line."""

import os
import stat
from pathlib import Path

_KINDS = ((stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISCHR, "a device"),
          (stat.S_ISBLK, "a device"), (stat.S_ISSOCK, "a socket"))


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


def output_target(path):
    """The file a write to path replaces: path with its symbolic links followed. PathError
    when that exists and is not a regular file (it is looked at, never opened: a FIFO
    would block the opener), or when the links cannot be followed."""
    path = Path(path)
    try:
        target = Path(os.path.realpath(path))
        mode = os.stat(target).st_mode
    except FileNotFoundError:
        return target  # a new file (or the one a dangling link names)
    except (OSError, ValueError) as error:  # a link loop, a name too long, a NUL
        raise PathError(f"{shown(path)}: {_reason(error)}") from None
    if not stat.S_ISREG(mode):
        kind = next((name for test, name in _KINDS if test(mode)), "a special file")
        raise PathError(f"{shown(path)}: is {kind}, not a regular file")
    return target


def check_output(path):
    """Raises PathError unless a file can be written under path's name (see writing)."""
    path = Path(path)
    occt_name(path)
    folder = output_target(path).parent  # where the file is written, beside its target
    try:
        if not folder.is_dir():
            raise PathError(f"{shown(path)}: no such folder {shown(folder)}")
        if not os.access(folder, os.W_OK | os.X_OK):
            raise PathError(f"{shown(path)}: the folder may not be written")
        if len(os.fsencode(path.name)) > os.pathconf(folder, "PC_NAME_MAX"):
            raise PathError(f"{shown(path)}: File name too long")
    except OSError as error:
        raise PathError(f"{shown(path)}: {_reason(error)}") from None
