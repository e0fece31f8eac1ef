"""Work too long for one turn of the event loop, run in slices with the window answering
between them: the scene's clearing and showing (scene.loading), a display mode's switch
(scene.mode_switch).

Each slice does about SLICE_S seconds of work, and the event loop runs in
between: the job either sizes its slices by how long the last ones took
(Pace), or watches the clock as it goes. While a job runs, the view shows
what it has done so far every FRAME_EVERY_S at least.
"""

import time

from PySide6.QtCore import QObject, QTimer

# The work of one slice, in seconds: well under the 100 ms after which a
# window feels stuck, with room left for the repaint that follows.
SLICE_S = 0.03
# While a job runs, the view draws what it has done so far at least this often.
FRAME_EVERY_S = 1.0


class Slices(QObject):
    """Calls step() a slice at a time from the event loop, from start() till stop().

    A step that finds the event loop was held since the last one for longer
    than a slice (a paint of the whole scene, most often) is skipped once:
    run now, it would join that into one stall, so the tick gives way to
    whatever waits behind it. A step never runs inside another (a progress
    dialog's setValue runs the event loop, and this timer with it).
    """

    def __init__(self, step, parent=None):
        QObject.__init__(self, parent)
        self._step = step
        self._stepping = False
        self._stepped = None  # when the last step ended
        self.last_frame = time.perf_counter()  # when the job last drew (see frame_due)
        self.timer = QTimer(self)
        # Not 0: a zero timer in a widget application can fire twice before
        # other timers get their turn, which joins two slices into one stall.
        self.timer.setInterval(1)
        self.timer.timeout.connect(self._tick)

    def start(self):
        """Runs steps from the next turn of the event loop on, one a turn."""
        self.timer.setInterval(1)
        self.timer.start()

    def wait(self, milliseconds):
        """Steps no more often than this, till start() again: a job that waits for input
        looks again now and then."""
        self.timer.setInterval(milliseconds)

    def stop(self):
        self.timer.stop()

    def run_now(self):
        """Runs one step at once, as a tick would."""
        self._run()

    def frame_due(self):
        """Whether the job should draw what it has done so far (and then call framed())."""
        return time.perf_counter() - self.last_frame >= FRAME_EVERY_S

    def framed(self):
        self.last_frame = time.perf_counter()

    def _tick(self):
        if self._stepping:
            return
        if self._stepped is not None and time.perf_counter() - self._stepped > SLICE_S:
            self._stepped = None
            return
        self._run()

    def _run(self):
        self._stepping = True
        try:
            self._step()
        finally:
            self._stepping = False
            self._stepped = time.perf_counter()


class Pace:
    """How many items fit in one slice, judged from how long the last ones took."""

    def __init__(self, first=4):
        self._per_item = None
        self._last = first

    def size(self):
        if self._per_item is None:
            return self._last
        # Grow at most twofold a slice: one quick run of small parts must not
        # send a large batch into a run of heavy ones.
        self._last = max(1, min(int(SLICE_S / self._per_item), 2 * self._last))
        return self._last

    def record(self, count, seconds):
        if count:
            per_item = seconds / count
            self._per_item = per_item if self._per_item is None else 0.5 * (self._per_item + per_item)
