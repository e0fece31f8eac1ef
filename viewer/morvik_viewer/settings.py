"""What the viewer keeps between runs: window geometry, the open dialog's folder, recent files.

Everything lands in one QSettings store named after the organisation and the
application, on Linux ~/.config/morvik/morvik-viewer.conf ($XDG_CONFIG_HOME
moves it).
"""

import os
from pathlib import Path

from PySide6.QtCore import QSettings

ORGANIZATION = "morvik"
APPLICATION = "morvik-viewer"
RECENT_LIMIT = 8

GEOMETRY_KEY = "window/geometry"
STATE_KEY = "window/state"
FOLDER_KEY = "open/folder"
RECENT_KEY = "open/recent"


def open_settings():
    """The viewer's settings store (the same one whatever the application object is called)."""
    return QSettings(ORGANIZATION, APPLICATION)


def _as_list(value):
    # An INI file gives a one-element list back as a plain string, and nothing as None.
    if value is None:
        return []
    if isinstance(value, str):
        return [value]
    return [str(item) for item in value]


class RecentFiles:
    """The files opened last, most recent first, at most RECENT_LIMIT of them."""

    def __init__(self, settings):
        self._settings = settings

    def paths(self):
        return _as_list(self._settings.value(RECENT_KEY))

    def add(self, paths):
        """Puts paths (opened together, first one first) at the head of the list."""
        added = [os.path.abspath(os.fspath(path)) for path in paths]
        kept = added + [path for path in self.paths() if path not in added]
        self._settings.setValue(RECENT_KEY, kept[:RECENT_LIMIT])

    def clear(self):
        self._settings.remove(RECENT_KEY)


def last_folder(settings):
    """The folder the open dialog showed last, when it still exists; else the empty string."""
    folder = settings.value(FOLDER_KEY)
    return folder if isinstance(folder, str) and Path(folder).is_dir() else ""


def remember_folder(settings, path):
    settings.setValue(FOLDER_KEY, os.path.dirname(os.path.abspath(path)))
