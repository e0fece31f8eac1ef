"""Replacing the scene without freezing the window: read, clear, show, a slice at a time.

Every file is read by a reader process (see reading.py), whatever its size:
OCCT holds Python's lock for the whole read and transfer, so no thread of
ours could run beside it (measured: the event loop stood still for over a
second on a 300-part file), OCP cannot subclass Message_ProgressIndicator in
Python to process events from inside the read, and a malformed file can crash
OCCT, which must not take the window with it. A reader leaves the event loop
free, is simply killed on Cancel, and gives its memory back when it exits.
Starting one costs about a second (OCP's import), so the window keeps one
started ahead of need (ReaderPool) and a small file opens as fast as it
would be read here; each load uses up its reader. A reader that crashes or
stops early ends the load as "failed", naming the file; so does any error
raised on our side while the load runs, which never escapes into Qt.

The reader sends the parts in batches as it meshes them, and the load starts
clearing the old scene at the first batch: the window shows the first parts
while the reader still meshes the rest. The parts come with their triangles,
and the context's default drawer is told to keep them (meshing.keep_triangles)
once the old scene is gone, so the window meshes nothing again.

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

import functools
import os
import subprocess
import time
from dataclasses import dataclass, field

from PySide6.QtCore import QCoreApplication, QObject, QProcess, QSocketNotifier, Qt, QTimer, Signal
from PySide6.QtWidgets import QProgressDialog

from morvik_viewer.meshing import keep_triangles
from morvik_viewer.paths import one_line, shown
from morvik_viewer.reading import Heard, command, display_item, request, unpack_parts
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
# How often a load that has shown every part heard so far looks again, while the
# reader still meshes the next ones (new batches wake it at once).
STARVED_MS = 20
# A load that ends sooner shows no progress dialog.
DIALOG_AFTER_MS = 400
# How long a killed reader may take to be gone.
KILL_WAIT_MS = 2000


@dataclass
class LoadOutcome:
    """How a load ended.

    state: "done"; "stopped" (Cancel once the first parts had arrived, while
    clearing or showing: the reader is ended and the scene holds what was left
    of the old one and the shapes shown so far, all registered); "cancelled"
    (Cancel before any part arrived: the scene is as it was); "failed"
    (message says why, on one line; the scene is as it was when the reader
    failed before sending any part, else it holds what was left and what was
    shown, all registered, as after an error of ours while clearing or
    showing). units holds the length unit of each part the reader sent with one
    (see scene.Part.unit), by identifier.
    """

    paths: list
    state: str
    message: str = ""
    shown: list = field(default_factory=list)
    units: dict = field(default_factory=dict)
    # Each file's tree (tree.FileTree) the reader sent; a file without one is left out.
    trees: list = field(default_factory=list)


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


def start_reader(parent=None):
    """A reader process, started: it boots, then waits for its request (see reading.py)."""
    process = QProcess(parent)
    process.setProcessChannelMode(QProcess.ForwardedErrorChannel)
    program, *arguments = command()
    process.start(program, arguments)
    return process


class PipedReader(QObject):
    """A reader process the command line started before Qt ran (reading.Reader), driven
    over its pipes as start_reader's QProcess is: the same signals and calls."""

    readyReadStandardOutput = Signal()
    finished = Signal(int, object)  # exit code, or the signal's number for a crash; exit status
    errorOccurred = Signal(object)

    def __init__(self, process, parent=None):
        QObject.__init__(self, parent)
        self._process = process
        # The paths the reader was given when it started (see reading.Reader), or None.
        self.asked = getattr(process, "asked", None)
        self._output = bytearray()
        descriptor = process.stdout.fileno()
        os.set_blocking(descriptor, False)
        self._notifier = QSocketNotifier(descriptor, QSocketNotifier.Read, self)
        self._notifier.activated.connect(self._readable)

    def state(self):
        return QProcess.NotRunning if self._process.poll() is not None else QProcess.Running

    def write(self, data):
        try:
            self._process.stdin.write(data)
            self._process.stdin.flush()
        except (BrokenPipeError, ValueError, AttributeError):
            pass  # gone already (its end says how), or given its files as it started

    def closeWriteChannel(self):
        try:
            self._process.stdin.close()
        except (BrokenPipeError, AttributeError):
            pass

    def readAllStandardOutput(self):
        data = bytes(self._output)
        self._output.clear()
        return data

    def kill(self):
        if self._process.poll() is None:
            self._process.kill()

    def waitForFinished(self, milliseconds):
        try:
            self._process.wait(milliseconds / 1000.0)
        except subprocess.TimeoutExpired:
            return False
        return True

    def _readable(self, *_):
        try:
            chunk = os.read(self._process.stdout.fileno(), 1 << 16)
        except BlockingIOError:
            return
        if chunk:
            self._output += chunk
            self.readyReadStandardOutput.emit()
            return
        # The end of its output: a reader ends right after its last frame, or was killed.
        self._notifier.setEnabled(False)
        self._process.stdout.close()
        code = self._process.wait()
        if code < 0:
            self.finished.emit(-code, QProcess.CrashExit)
        else:
            self.finished.emit(code, QProcess.NormalExit)


class ReaderPool(QObject):
    """One reader kept started ahead of need, so that an open pays no process start.

    prepare() starts one when there is none; take() hands it over (or a new
    one, when it is not there or has died) and leaves the pool empty: the
    owner prepares the next one once the machine is quiet again, rather than
    while the last one reads. retire() takes back a reader told to end, till it
    has: waiting for its exit would cost the window some 20 ms.
    """

    def __init__(self, parent=None):
        QObject.__init__(self, parent)
        self._held = _Held()
        # Every reader ends before Qt deletes it (a QProcess destroyed while running
        # warns on stderr): with the pool, or when the application quits.
        self.destroyed.connect(self._held.end_all)
        app = QCoreApplication.instance()
        if app is not None:
            app.aboutToQuit.connect(self._held.end_all)

    def prepare(self):
        if self._held.spare is None:
            self._held.spare = start_reader(self)

    def adopt(self, process):
        """Keeps process, a reader started elsewhere (a PipedReader), as the spare."""
        if self._held.spare is not None:
            self.retire(self._held.spare)
        process.setParent(self)
        self._held.spare = process

    def take(self, parent):
        """A started reader for parent to own, ask, and end."""
        process, self._held.spare = self._held.spare, None
        if process is None or process.state() == QProcess.NotRunning:
            if process is not None:
                process.deleteLater()
            return start_reader(parent)
        process.setParent(parent)
        return process

    def retire(self, process):
        """Kills process, and deletes it once it has ended."""
        process.setParent(self)
        self._held.ending.append(process)
        process.finished.connect(functools.partial(self._held.ended, process))
        process.kill()


class _Held:
    """A pool's processes, kept apart from the pool so that they can be ended while
    Qt destroys it."""

    def __init__(self):
        self.spare = None
        self.ending = []

    def ended(self, process, *_):
        if process in self.ending:
            self.ending.remove(process)
            process.deleteLater()

    def end_all(self, *_):
        processes = ([self.spare] if self.spare is not None else []) + self.ending
        self.spare, self.ending = None, []
        for process in processes:
            try:
                if process.state() != QProcess.NotRunning:
                    process.kill()
                    process.waitForFinished(KILL_WAIT_MS)  # a killed process ends at once
            except RuntimeError:
                pass  # deleted by Qt already


def _ends_load_on_error(slot):
    """A slot of SceneLoad that ends the load as failed on any error, rather than let
    it escape into Qt, where the load, and its modal dialog, would stay up for good."""

    @functools.wraps(slot)
    def guarded(self, *args):
        try:
            return slot(self, *args)
        except Exception as error:  # noqa: BLE001 - any fault ends this load, not the window
            self._fail(error)
            return None

    return guarded


class SceneLoad(QObject):
    """One replacement of the service's scene by the parts of files.

    Start it with start(); finished(LoadOutcome) follows once: from the event
    loop, or before start() returns when the load cannot even start.
    """

    finished = Signal(object)
    # The old scene starts going (once, at the reader's first parts): whatever lists it
    # is out of date from now on.
    clearing = Signal()

    def __init__(self, service, paths, view_state=None, fit=None, shown=None, parent=None,
                 readers=None):
        """view_state is restored before the first part shows; without it (or when the
        service refuses it) each frame calls fit, which moves the camera and paints
        once (service.fit_all by default). shown(ids) follows each batch of shapes
        displayed, before any of them is drawn. readers, a ReaderPool, gives the
        reader; without one the load starts its own."""
        QObject.__init__(self, parent)
        self._service = service
        self._paths = [os.fspath(p) for p in paths]
        self._view_state = view_state
        self._fit = fit or service.fit_all
        self._fitting = view_state is None
        self._on_shown = shown or (lambda ids: None)
        self._readers = readers
        self._last_frame = None
        self._drawn = False  # a frame of the new scene was drawn
        self._starved = False  # every part heard is shown, and the reader meshes on
        self._new = 0  # shapes displayed since the last frame
        self._frame_every = FRAME_EVERY_NEW  # new shapes that make the next frame due
        self._parts = None  # decoded, not shown yet
        self._heard = Heard(self._paths)  # what the reader said; batches decode a slice at a time
        self._process = None
        self._read = False  # the reader has sent every part
        self._kept = None  # the deflection the drawer keeps triangles at
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

    @_ends_load_on_error
    def start(self, dialog_parent=None):
        """Starts the load; with dialog_parent a progress dialog with Cancel shows when it runs long."""
        if dialog_parent is not None:
            self._dialog = self._make_dialog(dialog_parent)
            QTimer.singleShot(DIALOG_AFTER_MS, self._show_dialog)
        self._start_reader()

    @_ends_load_on_error
    def cancel(self):
        """What Cancel does: reading stops at once, clearing and showing at the next slice."""
        if self._ended:
            return
        self._cancelled = True
        if self._phase == "reading":
            self._end("cancelled")
        else:
            self._wake()  # a load waiting for the reader stops at its next slice

    # --- reading -------------------------------------------------------------

    def _start_reader(self):
        process = self._readers.take(self) if self._readers is not None else start_reader(self)
        if getattr(process, "asked", None) not in (None, self._paths):
            self._readers.retire(process)  # it reads other files: of no use to this load
            process = start_reader(self)
        self._process = process
        process.readyReadStandardOutput.connect(self._on_output)
        process.finished.connect(self._on_reader_finished)
        process.errorOccurred.connect(self._on_reader_error)
        if process.state() == QProcess.NotRunning:  # it could not start, and said so already
            self._on_reader_error(QProcess.FailedToStart)
            return
        if getattr(process, "asked", None) is None:
            process.write(request(self._paths))  # a reader still starting gets it once it runs
            process.closeWriteChannel()

    def _stop_reader(self):
        process, self._process = self._process, None
        if process is None:
            return
        for signal in (process.readyReadStandardOutput, process.finished, process.errorOccurred):
            try:
                signal.disconnect()
            except (RuntimeError, TypeError):
                pass  # not connected yet: the load failed while it started the reader
        if process.state() == QProcess.NotRunning:
            process.deleteLater()
        elif self._readers is not None:
            self._readers.retire(process)
        else:
            process.kill()
            process.waitForFinished(KILL_WAIT_MS)  # a killed process ends at once
            process.deleteLater()

    @_ends_load_on_error
    def _on_output(self):
        if self._process is None:
            return
        for kind in self._heard.feed(bytes(self._process.readAllStandardOutput())):
            if kind == "stage":
                self._label(f"Reading {self._heard.file}…")
            elif kind == "count":
                self._label(f"Receiving {self._heard.count} parts…")
        if self._heard.done or self._heard.error is not None:
            # Its last word: the load goes on without waiting for the process to end.
            self._reading_over(0)
        elif self._heard.batches:
            if self._phase == "reading":
                self._start_showing()  # while the reader meshes the rest
            else:
                self._wake()

    @_ends_load_on_error
    def _on_reader_finished(self, code, status):
        self._on_output()
        if self._process is None:
            return  # over already
        # For a crash Qt gives the signal's number.
        self._reading_over(-code if status == QProcess.CrashExit else code)

    def _reading_over(self, status):
        self._stop_reader()
        failure = self._heard.failure(status)
        if failure is not None:
            self._end_failed(failure)
            return
        self._read = True
        if self._phase == "reading":
            self._start_showing()
        else:
            self._wake()

    @_ends_load_on_error
    def _on_reader_error(self, error):
        if error == QProcess.FailedToStart and self._process is not None:
            self._stop_reader()
            self._end("failed", self._heard.failure("it could not start"))

    def _fail(self, error):
        """Ends the load as failed after an error of ours, saying which in one line."""
        names = ", ".join(shown(p) for p in self._paths)
        self._end_failed(f"{names}: could not be opened ({type(error).__name__}: {one_line(error)})")

    def _end_failed(self, message):
        self._end("failed", message)
        if self._phase != "reading":
            try:
                self._service.redraw()  # what the scene holds now, rather than a stale frame
            except Exception:  # noqa: BLE001 - the load has failed and says why already
                pass

    # --- clearing and showing ------------------------------------------------

    def _start_showing(self):
        if self._cancelled:
            self._end("cancelled")
            return
        self._old_ids = list(self._service.get_all_shapes())
        self._phase = "clearing"
        self.clearing.emit()
        if self._dialog is not None:
            self._dialog.setRange(0, len(self._old_ids) + (self._heard.count or 0))
            self._label("Clearing the scene…" if self._old_ids else "Showing parts…")
        self._timer.start()

    @_ends_load_on_error
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
                if self._new and (self._new >= self._frame_every
                                  or time.perf_counter() - self._last_frame >= FRAME_EVERY_S
                                  # the first parts, on screen while the reader meshes on
                                  or self._starved and not self._drawn):
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
            self._keep_triangles()
            if self._view_state is not None and not restore(self._service, self._view_state):
                self._fitting = True  # refused, and said so in the service's log
            self._last_frame = time.perf_counter()
        self._progress()

    def _show_slice(self):
        began = time.perf_counter()
        items = self._take(self._show_pace.size())
        if items:
            self._keep_triangles()  # a later batch may reach a little further
            ids = self._service.display_shapes([display_item(p) for p in items],
                                               update=False)
            self._on_shown(ids)
            self._shown += ids
            self._new += len(ids)
        self._show_pace.record(len(items), time.perf_counter() - began)
        if not self._parts and not self._heard.batches:
            if self._read:
                self._phase = "finishing"
            else:
                # Everything heard is shown: wait for the reader's next batch, and
                # meanwhile let the slower ticks draw what is shown when due.
                self._starved = True
                self._timer.setInterval(STARVED_MS)
        self._progress()

    def _wake(self):
        if not self._ended and self._phase != "reading":
            self._starved = False
            self._timer.setInterval(1)
            self._timer.start()

    def _keep_triangles(self):
        deflection = self._heard.deflection
        if deflection is not None and deflection != self._kept:
            keep_triangles(self._service.get_context(), deflection)
            self._kept = deflection

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
        self._last_frame, self._new, self._drawn = now, 0, True

    def _take(self, count):
        """The next count parts, decoding the reader's batches as they are needed."""
        while len(self._parts or ()) < count and self._heard.batches:
            head, body = self._heard.batches.pop(0)
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

    @_ends_load_on_error
    def _show_dialog(self):
        if self._dialog is not None:
            self._dialog.show()

    def _label(self, text):
        if self._dialog is not None:
            self._dialog.setLabelText(text)

    def _progress(self):
        if self._dialog is not None:
            done = self._dialog.maximum() - len(self._old_ids) - len(self._parts or ()) \
                - sum(len(head["ids"]) for head, _ in self._heard.batches)
            self._dialog.setValue(max(0, done))

    # --- the end -----------------------------------------------------------------

    def _end(self, state, message=""):
        if self._ended:
            return
        self._ended = True
        try:
            self._timer.stop()
            self._stop_reader()
            if self._dialog is not None:
                dialog, self._dialog = self._dialog, None
                dialog.canceled.disconnect(self.cancel)
                dialog.close()
                dialog.deleteLater()
        finally:
            # Whatever went wrong above, the caller hears the end exactly once.
            self._parts, self._heard.batches = None, []
            self.finished.emit(LoadOutcome(self._paths, state, message, self._shown,
                                           self._heard.units, trees=self._heard.trees))
