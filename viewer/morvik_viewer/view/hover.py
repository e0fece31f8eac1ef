"""Hover highlighting within a time budget.

A detection (the context's MoveTo) runs at most once a frame, for the last
position the pointer reached, and the view repaints only when the highlight
moves to another shape. The detection's cost grows with the scene (the
selection structures it walks); the repaint's is that of any frame, with a
floor of its own under software OpenGL (about 20 ms here, the same for 300
shapes as for 5000), so the budget holds the detection alone. When
detections cost more than DETECTION_BUDGET_S, hover highlighting switches
itself off: it would hold up every move of the mouse. A scene with fewer
shapes than the one that was too large brings it back, to be measured again.
"""

import logging
import statistics
import time

from PySide6.QtCore import QObject, QTimer, Signal

# At most one detection in this time, in milliseconds: one frame at 60 Hz.
FRAME_MS = 16
# A detection costing more than this (the median of the last SAMPLES), in
# seconds, turns hover highlighting off.
DETECTION_BUDGET_S = 0.020
SAMPLES = 3

# Under the name its records have always carried: a log's filters may hold it.
logger = logging.getLogger("morvik_viewer.hover")


class HoverHighlight(QObject):
    """Highlights what lies under the pointer, as often as a frame allows and the scene affords."""

    switched = Signal(bool)  # on (True) or off (False), each time it switches by itself

    def __init__(self, service, parent=None):
        QObject.__init__(self, parent)
        self._service = service
        self._context = service.get_context()
        self._view = service.get_view()
        self._viewer = service.get_viewer()
        self._owner = None  # what is highlighted, as the context's detected owner
        self.enabled = True
        self._costs = []
        self._off_count = None  # shapes in the scene that turned it off
        self._pending = None  # the latest position not detected yet
        self._failing = False  # the last detection raised
        self._last = float("-inf")  # when the last detection ran
        self._timer = QTimer(self)
        self._timer.setSingleShot(True)
        self._timer.timeout.connect(self._detect)

    def move(self, x, y):
        """The pointer is at device point (x, y), no button pressed."""
        if not self.enabled:
            return
        self._pending = (x, y)
        wait_ms = FRAME_MS - (time.perf_counter() - self._last) * 1000.0
        if wait_ms <= 0:
            self._timer.stop()
            self._detect()
        elif not self._timer.isActive():
            self._timer.start(int(wait_ms) + 1)

    def cancel(self):
        """Drops a detection still to come (a drag is starting)."""
        self._pending = None
        self._timer.stop()

    def scene_changed(self):
        """A new scene: its detections are measured afresh, and one smaller than
        the scene that was too large turns hover highlighting back on."""
        self._costs.clear()
        self._owner = None
        if not self.enabled and self._service.get_shape_count() < self._off_count:
            self.enabled = True
            self.switched.emit(True)

    def _detect(self):
        if self._pending is None or not self.enabled:
            return
        (x, y), self._pending = self._pending, None
        context = self._context
        began = time.perf_counter()
        try:
            context.MoveTo(x, y, self._view, False)
            # OCP hands back the same wrapper for the same owner while one is kept.
            owner = context.DetectedOwner() if context.HasDetected() else None
        except Exception as error:  # noqa: BLE001 - OCCT errors derive from Exception only
            # A camera OCCT cannot pick with (one set beyond what it draws, by
            # other means than the service) fails every detection until it
            # moves back: one line for the lot, and nothing highlighted.
            if not self._failing:
                logger.warning("Hover highlighting failed: %s", error)
            self._failing = True
            self._owner, self._last = None, time.perf_counter()
            return
        self._failing = False
        cost = time.perf_counter() - began
        if owner is not self._owner:
            self._owner = owner
            self._viewer.RedrawImmediate()  # the highlight moved
        self._last = time.perf_counter()
        self._costs = self._costs[-(SAMPLES - 1):] + [cost]
        if len(self._costs) == SAMPLES and statistics.median(self._costs) > DETECTION_BUDGET_S:
            self._switch_off()

    def _switch_off(self):
        self.enabled = False
        self.cancel()
        self._off_count = self._service.get_shape_count()
        self._owner = None
        self._context.ClearDetected(True)
        self.switched.emit(False)
