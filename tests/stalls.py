"""How long the Qt event loop goes unanswered: a timer that asks often and notes the longest gap."""

import time

from PySide6.QtCore import QObject, QTimer


class StallMeter(QObject):
    """Ticks every tick_ms while running; longest is the largest gap seen between ticks, in seconds.

    A gap is the time between two ticks, so it includes tick_ms itself: a loop
    that answers at once shows gaps of about tick_ms.
    """

    def __init__(self, tick_ms=5, parent=None):
        QObject.__init__(self, parent)
        self.longest = 0.0
        self.gaps_over = {0.05: 0, 0.1: 0}  # how many gaps passed 50 and 100 ms
        self._last = None
        self._timer = QTimer(self)
        self._timer.setInterval(tick_ms)
        self._timer.timeout.connect(self._tick)

    def start(self):
        self._last = time.perf_counter()
        self._timer.start()

    def stop(self):
        self._tick()
        self._timer.stop()

    def _tick(self):
        now = time.perf_counter()
        gap = now - self._last
        self._last = now
        self.longest = max(self.longest, gap)
        for limit in self.gaps_over:
            if gap > limit:
                self.gaps_over[limit] += 1
