"""A display-mode change of a large scene in time slices, the window answering between them.

The service's set_display_mode switches every shape in one call: on a scene of
thousands of parts that is a few hundred milliseconds of recomputed
presentations before the frame. Here each slice (see view.slices) switches the
shapes that fit in about SLICE_S, as set_display_mode would switch them (face
boundaries through the service's own _configure_shape_edges, presentations
recomputed), and the event loop runs between slices. The service takes the new
mode before the first slice, so shapes displayed meanwhile follow it; the last
slice gives the context its new mode and draws. Each shape a slice moves to
the other context mode (wireframe or shaded) carries that mode as its own
until then, and gives it back at the end: afterwards every shape follows the
context again, as after set_display_mode. A switch that replaces one still
running takes over the shapes the first gave a mode of their own.
"""

import logging
import time

from PySide6.QtCore import QObject, Qt, Signal
from PySide6.QtGui import QGuiApplication

from morvik.enums import DisplayMode
from morvik_viewer.view.slices import SLICE_S, Slices

# Under the name its records have always carried: a log's filters may hold it.
logger = logging.getLogger("morvik_viewer.mode_switch")


def context_mode(mode):
    """The interactive context's display mode for a DisplayMode: 0 wireframe, 1 shaded."""
    return 0 if mode == DisplayMode.WIREFRAME else 1


class ModeSwitch(QObject):
    """One change of display mode, in slices; progress(done, total) after each slice.

    start() runs the first slice at once, so a small scene has switched when it
    returns. finished(bool) comes once the scene shows the new mode: True when
    the slices switched it, False when the service's own call had to (a slice
    failed, and said why in the log). A cancelled switch never finishes.
    """

    finished = Signal(bool)

    def __init__(self, service, mode, progress=None, parent=None, inherited=()):
        QObject.__init__(self, parent)
        self._service = service
        self._context = service.get_context()
        self.mode = DisplayMode(mode)
        self._progress = progress or (lambda done, total: None)
        self._ids = []
        self._next = 0
        # Presentations carrying a context mode of their own until the end.
        self._own_mode = list(inherited)
        self._slices = Slices(self._slice, self)
        self._busy = False
        self.running = False

    def start(self):
        self.running = True
        self._slices.framed()
        try:
            # Shapes displayed from now on take the new mode's face boundaries.
            self._service.keep_display_mode(self.mode)
            self._ids = list(self._service.get_all_shapes())
        except Exception:
            logger.exception("cannot switch the display mode in slices")
            self._finish_at_once()
            return
        self._slices.run_now()
        if self.running:
            self._slices.start()
            QGuiApplication.setOverrideCursor(Qt.BusyCursor)
            self._busy = True

    def cancel(self):
        """Stops between slices and returns the presentations that carry a mode of their
        own, for the switch that takes over (inherited) to give back."""
        own, self._own_mode = self._own_mode, []
        self._stop()
        return own

    def _slice(self):
        if not self.running:
            return
        began = time.perf_counter()
        target = context_mode(self.mode)
        boundaries = self.mode == DisplayMode.BOTH
        default_differs = self._context.DisplayMode() != target
        try:
            while self._next < len(self._ids):
                info = self._service.get_shape_info(self._ids[self._next])
                self._next += 1
                if info is not None:  # erased since the switch began
                    self._switch(info.ais_shape, target, boundaries, default_differs)
                if time.perf_counter() - began > SLICE_S:
                    break
        except Exception:
            logger.exception("switching the display mode in slices failed")
            self._finish_at_once()
            return
        done, total = self._next, len(self._ids)
        self._progress(done, total)
        if done < total:
            if self._slices.frame_due():
                self._context.UpdateCurrentViewer()  # the shapes switched so far
                self._slices.framed()
            return
        try:
            # Shapes of their own mode are skipped, so this only switches those
            # displayed since the switch began and sets the context's mode.
            self._context.SetDisplayMode(target, False)
            self._give_back_own_modes()
            self._context.UpdateCurrentViewer()
        except Exception:
            logger.exception("finishing the display mode switch failed")
            self._finish_at_once()
            return
        self._end(True)

    def _switch(self, ais, target, boundaries, default_differs):
        self._service._configure_shape_edges(ais, boundaries)
        if default_differs or ais.HasDisplayMode():
            ais.SetToUpdate()  # the new mode's presentation is computed once, as it shows
            self._context.SetDisplayMode(ais, target, False)
            self._own_mode.append(ais)  # twice is harmless: giving back is idempotent
        else:
            self._context.RecomputePrsOnly(ais, False, False)

    def _give_back_own_modes(self):
        # The context has, or will have, the same mode: the presentation stays as it is.
        for ais in self._own_mode:
            ais.UnsetDisplayMode()
        self._own_mode = []

    def _finish_at_once(self):
        # Whatever went wrong, the service's own call leaves one consistent state.
        self._give_back_own_modes()
        self._service.set_display_mode(self.mode)
        self._end(False)

    def _stop(self):
        self.running = False
        self._slices.stop()
        if self._busy:
            QGuiApplication.restoreOverrideCursor()
            self._busy = False

    def _end(self, complete):
        self._stop()
        self.finished.emit(complete)
