"""The window's scene: what it shows, and its life cycle: parts shown at once, files opened
behind a progress dialog (scene.loading), reloads; each new scene told to the window's
tools (tools.base.Scene) and status."""

import os
from pathlib import Path

from PySide6.QtCore import QObject
from PySide6.QtWidgets import QMessageBox

from morvik_viewer.model.units import MILLIMETRES, scene_unit
from morvik_viewer.model.view_state import restore
from morvik_viewer.scene.show import show_parts
from morvik_viewer.tools.base import Scene

OPEN_QUEUED_TEXT = "Opening {} once the 3D view is ready"
SAMPLE_TITLE = "Sample scene"
TITLE = "morvik viewer"
# The title names at most this many files, then says how many more there are.
TITLE_FILES = 3


class Scenes(QObject):
    """The scene of window (a ViewerWindow): paths, the files shown (none for parts given),
    trees, their trees, length_unit, what every length shown is in; load, the SceneLoad
    running, if any."""

    def __init__(self, window, side):
        QObject.__init__(self, window)
        self._window, self._side = window, side
        self.paths, self.trees = [], []
        self.length_unit = MILLIMETRES
        self.start_parts = []
        self.load = None
        self.queued = None  # (paths, view state) asked for before the view was there

    def show(self, parts, view_state=None):
        """Replaces the scene with parts at hand (a few: they are shown at once)."""
        w = self._window
        w.view_widget.clear_selection()
        w.service.erase_all()
        show_parts(w.service, parts, update=False, palette=w.palette)
        self._shown([part.shape_id for part in parts])
        # One viewer update: the restored view's, or the fit's.
        if view_state is None or not restore(w.service, view_state):
            w.frame_scene()
        self._scene_changed([], view_state, {part.shape_id: part.unit for part in parts})

    def open(self, paths, view_state=None):
        """Replaces the scene with the solids of STEP or BREP files, behind a progress dialog.

        Reading, then clearing and showing, keep the window answering; Cancel
        while reading keeps the scene as it was. Returns False when another
        load is still running.
        """
        w = self._window
        if w.service is None:  # the view is starting: its start() opens them
            self.queued = (list(paths), view_state)
            w.show_message(OPEN_QUEUED_TEXT.format(", ".join(Path(p).name for p in paths)))
            return True
        if self._still_loading():
            return False
        # The load frames the scene itself, and styles and turns the shapes as it shows them.
        self.load = self._side().SceneLoad(w.service, paths, view_state, fit=w.frame_scene,
                                           shown=self._shown, parent=w, readers=w.readers,
                                           palette=w.palette)
        for tool in w.tools:  # before the window hears the end
            tool.scene_loading(self.load)
        self.load.finished.connect(lambda outcome: self._on_load_finished(outcome, view_state))
        self.load.start(w)
        return True

    def _shown(self, shape_ids):
        """Gives shapes just displayed, not drawn yet, the application's look and the up axis,
        then tells the tools (an exploded view moves them)."""
        w = self._window
        self._side().style_shapes(w.service, shape_ids)
        self._side().turn_shapes(w.service, w.state.up_axis, shape_ids)
        for tool in w.tools:
            tool.shapes_shown(shape_ids)

    def reload(self):
        """Reads the open files again, or shows the parts given at start again; the camera stays."""
        if self._still_loading():
            return
        # With the viewer's own values (hidden lines, the explosion), which it keeps too.
        state = self._window.state.noted(self._window.service.get_view_state())
        if self.paths:
            self.open(self.paths, state)
        else:
            self.show(self.start_parts, state)

    def _still_loading(self):
        if self.load is not None:
            self._window.show_message("Still opening the last files")
        return self.load is not None

    def _on_load_finished(self, outcome, view_state):
        w = self._window
        load, self.load = self.load, None
        if load is not None:
            load.deleteLater()
        w.readers.prepare()  # that load used its reader up
        if outcome.shown:
            self.trees = outcome.trees
        if outcome.state in ("failed", "cancelled"):
            w.recount()  # the scene is as it was: empty at start, the hint shows
            if outcome.state == "failed":
                QMessageBox.warning(w, TITLE, outcome.message)
            else:
                w.show_message("Opening cancelled: the scene is as it was")
            return
        w.view_widget.clear_selection()
        if outcome.shown:  # else stopped while the old scene went: what is left is of the old files
            self.paths = outcome.paths
        self._scene_changed(self.paths, view_state, outcome.units)
        if outcome.state == "stopped":
            w.show_message(f"Opening stopped: {len(outcome.shown)} shapes shown")

    def _scene_changed(self, paths, view_state, units):
        w = self._window
        # The scene is styled and framed by now. One unit for every length the window shows
        # (units.scene_unit); units: the unit of each shape not in millimetres, by identifier.
        self.length_unit = scene_unit(units, w.service.get_all_shapes())
        if view_state is not None:  # the service took it: the state follows
            w.state.take_view(w.service.get_view_state(), view_state)
        w.recount()
        w.view_widget.hover.scene_changed()
        scene = Scene(list(paths), self.trees if paths else [], self.length_unit, view_state)
        for tool in w.tools:
            tool.scene_changed(scene)
        self.loaded(paths)
        w.up_from_files(paths)

    def loaded(self, paths):
        """Called once a new scene is on screen: paths are its files (none for given parts).

        The one place to follow what the window shows (status, title, recent files).
        """
        w = self._window
        if paths:
            w.show_message(f"Loaded {', '.join(os.fspath(p) for p in paths)}")
            w.recent.add(paths)
        names = [Path(path).name for path in paths]
        if len(names) > TITLE_FILES:
            names = names[:TITLE_FILES - 1] + [f"{len(names) - TITLE_FILES + 1} more"]
        w.setWindowTitle(f"{', '.join(names) if names else SAMPLE_TITLE} — {TITLE}")
