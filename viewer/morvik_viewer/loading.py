"""Replacing the scene without freezing the window: read, clear, show, a slice at a time.

Reading a large STEP file is left to a process of its own (see reading.py):
OCCT holds Python's lock for the whole read and transfer, so no thread of
ours could run beside it (measured: the event loop stood still for over a
second on a 300-part file), and OCP cannot subclass Message_ProgressIndicator
in Python to process events from inside the read. A child process leaves the
event loop free and is simply killed on Cancel. Small files are read here at
once, which costs less than starting that process.

Clearing the old scene and showing the new one run in slices of about SLICE_S
seconds, timed as they go, with the event loop running in between: each
slice erases or displays as many shapes as the last ones suggest fit, with
no viewer update. Every FRAME_EVERY_NEW shapes (or FRAME_EVERY_S) one slice
draws a frame instead, so the new scene grows on screen and the final frame
has few shapes left to send to the graphics card. (Measured under Mesa's
software OpenGL: a frame of 5000 shapes draws in 60 to 80 ms on a quiet
machine; the first frame after new shapes adds some 20 ms, and 5 to 20 us
for each new shape. Each frame in between costs about what the final one
does, so there are few of them.) The last slice draws the final frame. A
restored view is put in place once the old scene is gone, while the view is
still empty and restoring it costs nothing; otherwise each frame fits the
view to what is shown.
"""

import os
import sys
import time
from dataclasses import dataclass, field

from PySide6.QtCore import QObject, QProcess, Qt, QTimer, Signal
from PySide6.QtWidgets import QProgressDialog

from morvik_viewer.paths import shown
from morvik_viewer.reading import FrameReader, unpack_parts
from morvik_viewer.scene import LoadError, load_all
from morvik_viewer.view_state import restore

# The work of one slice, in seconds: well under the 100 ms after which a
# window feels stuck, with room left for the repaint that follows.
SLICE_S = 0.03
# How often the growing scene is drawn while it is shown: after at most this
# many new shapes, or this many seconds.
FRAME_EVERY_NEW = 500
FRAME_EVERY_S = 1.0
# A frame draws the whole scene shown so far, and each shape new since the
# last frame adds about NEW_SHAPE_S (its buffers go to the graphics card). As
# the scene grows, frames come after fewer new shapes (never fewer than
# FRAME_LEAST_NEW), so that each stays near FRAME_BUDGET_S.
FRAME_BUDGET_S = 0.09
NEW_SHAPE_S = 80e-6
FRAME_LEAST_NEW = 150
# Files smaller than this in all are read in this process.
IN_PROCESS_BYTES = 256 * 1024
# A load that ends sooner shows no progress dialog.
DIALOG_AFTER_MS = 400
# How long a killed reader may take to be gone.
KILL_WAIT_MS = 2000


@dataclass
class LoadOutcome:
    """How a load ended.

    state: "done"; "stopped" (Cancel while clearing or showing: the scene holds
    the shapes shown so far, all registered); "cancelled" (Cancel while
    reading: the scene is as it was); "failed" (message says why; the scene is
    as it was).
    """

    paths: list
    state: str
    message: str = ""
    shown: list = field(default_factory=list)


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


class SceneLoad(QObject):
    """One replacement of the service's scene by the parts of files.

    Start it with start(); finished(LoadOutcome) follows once: from the event
    loop, or before start() returns when a small file cannot be read.
    """

    finished = Signal(object)

    def __init__(self, service, paths, view_state=None, fit=None, shown=None, parent=None):
        """view_state is restored before the first part shows; without it (or when the
        service refuses it) each frame calls fit, which moves the camera and paints
        once (service.fit_all by default). shown(ids) follows each batch of shapes
        displayed, before any of them is drawn."""
        QObject.__init__(self, parent)
        self._service = service
        self._paths = [os.fspath(p) for p in paths]
        self._view_state = view_state
        self._fit = fit or service.fit_all
        self._fitting = view_state is None
        self._on_shown = shown or (lambda ids: None)
        self._last_frame = None
        self._new = 0  # shapes displayed since the last frame
        self._frame_every = FRAME_EVERY_NEW  # new shapes that make the next frame due
        self._parts = None  # read, not shown yet
        self._frames = FrameReader()
        self._batches = []  # frames of parts not decoded yet
        self._count = None  # parts announced by the reader
        self._done_reading = False
        self._error = None
        self._process = None
        self._old_ids = []
        self._shown = []
        self._phase = "reading"
        self._stepping = False
        self._stepped = None  # when the last slice ended
        self._cancelled = False
        self._ended = False
        self._erase_pace, self._show_pace = Pace(first=50), Pace()
        self._timer = QTimer(self)
        # Not 0: a zero timer in a widget application can fire twice before
        # other timers get their turn, which joins two slices into one stall.
        self._timer.setInterval(1)
        self._timer.timeout.connect(self._step)
        self._dialog = None

    # --- the caller's side -------------------------------------------------

    def start(self, dialog_parent=None):
        """Starts the load; with dialog_parent a progress dialog with Cancel shows when it runs long."""
        if dialog_parent is not None:
            self._dialog = self._make_dialog(dialog_parent)
            QTimer.singleShot(DIALOG_AFTER_MS, self._show_dialog)
        if not self._read_here():
            self._start_reader()
            return
        try:
            self._parts = load_all(self._paths)
        except LoadError as error:
            self._end("failed", str(error))
            return
        self._count = len(self._parts)
        self._done_reading = True
        self._start_showing()

    def cancel(self):
        """What Cancel does: reading stops at once, clearing and showing at the next slice."""
        if self._ended:
            return
        self._cancelled = True
        if self._phase == "reading":
            self._stop_reader()
            self._end("cancelled")

    # --- reading -------------------------------------------------------------

    def _read_here(self):
        try:
            size = sum(os.path.getsize(p) for p in self._paths)
        except OSError:
            return True  # load_all says what is wrong with the path
        return size <= IN_PROCESS_BYTES

    def _start_reader(self):
        process = QProcess(self)
        process.setProcessChannelMode(QProcess.ForwardedErrorChannel)
        process.readyReadStandardOutput.connect(self._on_output)
        process.finished.connect(self._on_reader_finished)
        process.errorOccurred.connect(self._on_reader_error)
        self._process = process
        process.start(sys.executable, ["-m", "morvik_viewer.reading", *self._paths])

    def _stop_reader(self):
        process, self._process = self._process, None
        if process is None:
            return
        for signal in (process.readyReadStandardOutput, process.finished, process.errorOccurred):
            signal.disconnect()
        if process.state() != QProcess.NotRunning:
            process.kill()
            process.waitForFinished(KILL_WAIT_MS)  # a killed process ends at once
        process.deleteLater()

    def _on_output(self):
        if self._process is None:
            return
        for head, body in self._frames.feed(bytes(self._process.readAllStandardOutput())):
            kind = head.get("kind")
            if kind == "stage":
                self._label(f"Reading {head['file']}…")
            elif kind == "count":
                self._count = head["count"]
                self._label(f"Receiving {self._count} parts…")
            elif kind == "parts":
                self._batches.append((head, body))  # decoded a slice at a time
            elif kind == "error":
                self._error = head["message"]
            elif kind == "done":
                self._done_reading = True

    def _on_reader_finished(self, code, status):
        self._on_output()
        self._stop_reader()
        if self._error is not None:
            self._end("failed", self._error)
        elif not self._done_reading:
            self._end("failed", self._reader_died(f"exit status {code}"))
        else:
            self._start_showing()

    def _on_reader_error(self, error):
        if error == QProcess.FailedToStart:
            self._stop_reader()
            self._end("failed", self._reader_died("it could not start"))

    def _reader_died(self, why):
        names = ", ".join(shown(p) for p in self._paths)
        return f"{names}: the reader stopped before it was done ({why})"

    # --- clearing and showing ------------------------------------------------

    def _start_showing(self):
        if self._cancelled:
            self._end("cancelled")
            return
        self._old_ids = list(self._service.get_all_shapes())
        self._phase = "clearing"
        if self._dialog is not None:
            self._dialog.setRange(0, len(self._old_ids) + (self._count or 0))
            self._label("Clearing the scene…" if self._old_ids else "Showing parts…")
        self._timer.start()

    def _step(self):
        if self._stepping or self._ended:
            return  # the dialog's setValue runs the event loop, and this timer with it
        now = time.perf_counter()
        if self._stepped is not None and now - self._stepped > SLICE_S:
            # Something else held the event loop since the last slice (a paint
            # of the whole scene, most often): a slice now would join it into
            # one stall, so this tick gives way to whatever waits behind it.
            self._stepped = None
            return
        self._stepping = True
        try:
            if self._phase == "clearing" and not self._cancelled:
                self._clear_slice()
            elif self._phase == "showing" and not self._cancelled:
                if (self._new >= self._frame_every
                        or self._new and time.perf_counter() - self._last_frame >= FRAME_EVERY_S):
                    self._frame()
                else:
                    self._show_slice()
            else:  # the last slice: the final frame
                self._frame()
                self._end("stopped" if self._cancelled else "done")
        finally:
            self._stepping = False
            self._stepped = time.perf_counter()

    def _clear_slice(self):
        count = min(self._erase_pace.size(), len(self._old_ids))
        began = time.perf_counter()
        for shape_id in self._old_ids[:count]:
            self._service.erase_shape(shape_id, False)
        del self._old_ids[:count]
        self._erase_pace.record(count, time.perf_counter() - began)
        if not self._old_ids:
            self._phase = "showing"
            self._label("Showing parts…")
            if self._view_state is not None and not restore(self._service, self._view_state):
                self._fitting = True  # refused, and said so in the service's log
            self._last_frame = time.perf_counter()
        self._progress()

    def _show_slice(self):
        began = time.perf_counter()
        items = self._take(self._show_pace.size())
        if items:
            ids = self._service.display_shapes(
                [(p.shape, p.shape_id, p.color) for p in items], update=False)
            self._on_shown(ids)
            self._shown += ids
            self._new += len(ids)
        self._show_pace.record(len(items), time.perf_counter() - began)
        if not self._parts and not self._batches:
            self._phase = "finishing"
        self._progress()

    def _frame(self):
        began = time.perf_counter()
        if not self._fitting:
            self._service.redraw()
        else:
            # A view paints at each move of its camera (SetProj, SetUp, FitAll...);
            # held back, the fit's own paint is the only one.
            view = self._service.get_view()
            immediate = view.SetImmediateUpdate(False)
            try:
                self._fit()
            finally:
                view.SetImmediateUpdate(immediate)
        now = time.perf_counter()
        scene_alone = (now - began) - self._new * NEW_SHAPE_S
        room = (FRAME_BUDGET_S - scene_alone) / NEW_SHAPE_S
        self._frame_every = int(min(FRAME_EVERY_NEW, max(FRAME_LEAST_NEW, room)))
        self._last_frame, self._new = now, 0

    def _take(self, count):
        """The next count parts, decoding the reader's batches as they are needed."""
        while len(self._parts or ()) < count and self._batches:
            head, body = self._batches.pop(0)
            self._parts = (self._parts or []) + unpack_parts(head, body)
        parts = self._parts or []
        taken, self._parts = parts[:count], parts[count:]
        return taken

    # --- the dialog ------------------------------------------------------------

    def _make_dialog(self, parent):
        dialog = QProgressDialog("Reading…", "Cancel", 0, 0, parent)
        dialog.setWindowTitle("Opening")
        dialog.setWindowModality(Qt.WindowModal)
        dialog.setAutoClose(False)
        dialog.setAutoReset(False)
        # Shown by _show_dialog: Qt's own timer does not run for a busy dialog (range 0 to 0).
        dialog.setMinimumDuration(DIALOG_AFTER_MS)
        dialog.canceled.connect(self.cancel)
        return dialog

    def _show_dialog(self):
        if self._dialog is not None:
            self._dialog.show()

    def _label(self, text):
        if self._dialog is not None:
            self._dialog.setLabelText(text)

    def _progress(self):
        if self._dialog is not None:
            done = self._dialog.maximum() - len(self._old_ids) - len(self._parts or ()) \
                - sum(len(head["ids"]) for head, _ in self._batches)
            self._dialog.setValue(max(0, done))

    # --- the end -----------------------------------------------------------------

    def _end(self, state, message=""):
        if self._ended:
            return
        self._ended = True
        self._timer.stop()
        if self._dialog is not None:
            self._dialog.canceled.disconnect(self.cancel)
            self._dialog.close()
            self._dialog.deleteLater()
            self._dialog = None
        self._parts, self._batches = None, []
        self.finished.emit(LoadOutcome(self._paths, state, message, self._shown))
