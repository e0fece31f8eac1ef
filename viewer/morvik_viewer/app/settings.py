"""What the viewer keeps between runs, one row per setting: window geometry, the open dialog's
folder, recent files, the folder images were saved in, the axis models show up with, whether
the view cube and the model tree show, and whether uncoloured parts take the palette's colours.

Everything lands in one QSettings store named after the organisation and the
application, on Linux ~/.config/morvik/morvik-viewer.conf ($XDG_CONFIG_HOME
moves it).
"""

import os
from dataclasses import dataclass
from pathlib import Path

from PySide6.QtCore import QByteArray, QSettings, QStandardPaths

from morvik_viewer.model.up_axis import DEFAULT, checked

ORGANIZATION = "morvik"
APPLICATION = "morvik-viewer"
RECENT_LIMIT = 8

# The kinds of value the viewer keeps. BYTES: a QByteArray; STRINGS: a list of str; TEXT: a
# str; FLAG: a bool, kept as "true" or "false"; AXIS: an up_axis axis, kept as its letter;
# COUNT: a whole number, 0 or more.
BYTES, STRINGS, TEXT, FLAG, AXIS, COUNT = "bytes", "strings", "text", "flag", "axis", "count"


@dataclass(frozen=True)
class Setting:
    """One value kept: under key, of kind, default when none is kept (or not of the kind)."""

    key: str
    kind: str
    default: object = None


GEOMETRY = Setting("window/geometry", BYTES)
STATE = Setting("window/state", BYTES)
FOLDER = Setting("open/folder", TEXT, "")
IMAGE_FOLDER = Setting("image/folder", TEXT, "")
RECENT = Setting("open/recent", STRINGS, ())
UP = Setting("view/up", AXIS, DEFAULT)
VIEW_CUBE = Setting("view/cube", FLAG, False)
MODEL_TREE = Setting("view/model_tree", FLAG, True)
# Whether parts a file leaves uncoloured show in the palette's colours, rather than grey.
PALETTE = Setting("view/palette", FLAG, False)
# Whether what a reader answered is kept for the next open of the same files, and in how
# many megabytes at most (see reader.cache; --no-cache leaves it off for one run).
CACHE = Setting("cache/enabled", FLAG, True)
CACHE_MB = Setting("cache/megabytes", COUNT, 2048)
# The megabytes a reader may take for one read; 0: half the machine's memory (see reader.memory).
READER_MB = Setting("reader/memory_mb", COUNT, 0)
# The cores a reader may run on; 0: all of them (--reader-cores, for one run).
READER_CORES = Setting("reader/cores", COUNT, 0)
ROWS = (GEOMETRY, STATE, FOLDER, IMAGE_FOLDER, RECENT, UP, VIEW_CUBE, MODEL_TREE, PALETTE,
        CACHE, CACHE_MB, READER_MB)


def open_settings():
    """The viewer's settings store (the same one whatever the application object is called)."""
    return QSettings(ORGANIZATION, APPLICATION)


def load(settings, row):
    """The value kept under row's key as row's kind, or row's default when there is none or
    it is of another kind (None for BYTES: an empty QByteArray, which Qt's restore takes as
    nothing).

    The file is the user's to edit, and another program may have written it:
    whatever it holds under a key must not stop the viewer, so a value of the
    wrong kind counts as no value. A flag is on only when the file says the
    opposite of its default in so many words.
    """
    try:
        value = settings.value(row.key)
    except Exception:  # noqa: BLE001 - a value Qt stored but the binding cannot hand over
        value = None
    if row.kind == BYTES:
        if isinstance(value, (QByteArray, bytes, bytearray)):
            return QByteArray(bytes(value))
        return QByteArray() if row.default is None else row.default
    if row.kind == STRINGS:
        # An INI file gives a one-element list back as a plain string.
        if isinstance(value, str):
            return [value]
        if isinstance(value, list) and all(isinstance(item, str) for item in value):
            return value
        return list(row.default)
    if row.kind == FLAG:
        return value != "false" if row.default else value == "true"
    if row.kind == AXIS:
        return checked(value, row.default)
    if row.kind == COUNT:
        try:
            number = int(value) if isinstance(value, (str, int)) and not isinstance(value, bool) \
                else -1
        except ValueError:
            number = -1
        return number if 0 <= number < 1 << 53 else row.default
    return value if isinstance(value, str) else row.default


def store(settings, row, value):
    """Keeps value under row's key, as load reads it back."""
    settings.setValue(row.key, ("true" if value else "false") if row.kind == FLAG else value)


def answer_cache(settings, off=False):
    """What readers are told of the answers' cache (reader.protocol.Request.cache): the
    user's cache folder and the megabytes kept; None when it is off (or off is true)."""
    if off or not load(settings, CACHE):
        return None
    folder = QStandardPaths.writableLocation(QStandardPaths.GenericCacheLocation)
    if not folder:
        return None
    return {"folder": os.path.join(folder, APPLICATION, "answers"),
            "limit": load(settings, CACHE_MB) << 20}


class RecentFiles:
    """The files opened last, most recent first, at most RECENT_LIMIT of them."""

    def __init__(self, settings):
        self._settings = settings

    def paths(self):
        return [path for path in load(self._settings, RECENT) if path][:RECENT_LIMIT]

    def add(self, paths):
        """Puts paths (opened together, first one first) at the head of the list."""
        added = [os.path.abspath(os.fspath(path)) for path in paths]
        kept = added + [path for path in self.paths() if path not in added]
        store(self._settings, RECENT, kept[:RECENT_LIMIT])

    def clear(self):
        self._settings.remove(RECENT.key)


def last_folder(settings, row=FOLDER):
    """The folder the open dialog showed last (or the one kept under row, IMAGE_FOLDER say),
    when it still exists; else the empty string."""
    folder = load(settings, row)
    try:
        return folder if folder and Path(folder).is_dir() else ""
    except (OSError, ValueError):  # a name too long, or holding a NUL
        return ""


def remember_folder(settings, path, row=FOLDER):
    """Keeps the folder of path, a file just opened (or saved, under another row)."""
    store(settings, row, os.path.dirname(os.path.abspath(path)))
