"""What the viewer keeps between runs: window geometry, the open dialog's folder, recent
files, the axis models show up with, and whether the view cube and the model tree
show.

Everything lands in one QSettings store named after the organisation and the
application, on Linux ~/.config/morvik/morvik-viewer.conf ($XDG_CONFIG_HOME
moves it).
"""

from functools import partial
import os
from pathlib import Path

from PySide6.QtCore import QByteArray, QSettings

from morvik_viewer.up_axis import DEFAULT, checked

ORGANIZATION = "morvik"
APPLICATION = "morvik-viewer"
RECENT_LIMIT = 8

GEOMETRY_KEY = "window/geometry"
STATE_KEY = "window/state"
FOLDER_KEY = "open/folder"
RECENT_KEY = "open/recent"
UP_KEY = "view/up"
VIEW_CUBE_KEY = "view/cube"
MODEL_TREE_KEY = "view/model_tree"


def open_settings():
    """The viewer's settings store (the same one whatever the application object is called)."""
    return QSettings(ORGANIZATION, APPLICATION)


# The kinds of value the viewer keeps; read() gives each back as that kind, or the default.
BYTES, STRINGS, TEXT = "bytes", "strings", "text"


def read(settings, key, kind, default):
    """The value under key as kind (BYTES: a QByteArray; STRINGS: a list of str; TEXT: a str),
    or default when there is none or it is of another kind.

    The file is the user's to edit, and another program may have written it:
    whatever it holds under a key must not stop the viewer, so a value of the
    wrong kind counts as no value.
    """
    try:
        value = settings.value(key)
    except Exception:  # a value Qt stored but the binding cannot hand over
        return default
    if kind == BYTES and isinstance(value, (QByteArray, bytes, bytearray)):
        return QByteArray(bytes(value))
    if kind == STRINGS:
        # An INI file gives a one-element list back as a plain string.
        if isinstance(value, str):
            return [value]
        if isinstance(value, list) and all(isinstance(item, str) for item in value):
            return value
    if kind == TEXT and isinstance(value, str):
        return value
    return default


class RecentFiles:
    """The files opened last, most recent first, at most RECENT_LIMIT of them."""

    def __init__(self, settings):
        self._settings = settings

    def paths(self):
        paths = read(self._settings, RECENT_KEY, STRINGS, [])
        return [path for path in paths if path][:RECENT_LIMIT]

    def add(self, paths):
        """Puts paths (opened together, first one first) at the head of the list."""
        added = [os.path.abspath(os.fspath(path)) for path in paths]
        kept = added + [path for path in self.paths() if path not in added]
        self._settings.setValue(RECENT_KEY, kept[:RECENT_LIMIT])

    def clear(self):
        self._settings.remove(RECENT_KEY)


def last_folder(settings):
    """The folder the open dialog showed last, when it still exists; else the empty string."""
    folder = read(settings, FOLDER_KEY, TEXT, "")
    try:
        return folder if folder and Path(folder).is_dir() else ""
    except (OSError, ValueError):  # a name too long, or holding a NUL
        return ""


def remember_folder(settings, path):
    settings.setValue(FOLDER_KEY, os.path.dirname(os.path.abspath(path)))


def remembered_up(settings):
    """The up axis chosen last (see up_axis), or the default."""
    return checked(read(settings, UP_KEY, TEXT, DEFAULT))


def remember_up(settings, up):
    settings.setValue(UP_KEY, up)


def remembered_flag(settings, key, default):
    """A setting kept as "true" or "false"; any other value gives default."""
    value = read(settings, key, TEXT, "true" if default else "false")
    return value != "false" if default else value == "true"


def remember_flag(settings, on, key):
    settings.setValue(key, "true" if on else "false")


# Whether the view cube replaced the trihedron, and whether the model tree showed, last time.
remembered_view_cube = partial(remembered_flag, key=VIEW_CUBE_KEY, default=False)
remember_view_cube = partial(remember_flag, key=VIEW_CUBE_KEY)
remembered_model_tree = partial(remembered_flag, key=MODEL_TREE_KEY, default=True)
remember_model_tree = partial(remember_flag, key=MODEL_TREE_KEY)
