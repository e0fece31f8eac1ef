"""Replacing the scene without freezing the window: read, clear, show, a slice at a time.

Every file is read by a reader process (see reader.server), whatever its size:
OCCT holds Python's lock for the whole read and transfer, so no thread of
ours could run beside it (measured: the event loop stood still for over a
second on a 300-part file), OCP cannot subclass Message_ProgressIndicator in
Python to process events from inside the read, and a malformed file can crash
OCCT, which must not take the window with it. A reader leaves the event loop
free, is simply killed on Cancel, and gives its memory back when it exits.
Starting one costs about a second (OCP's import), so the window keeps one
started ahead of need (reader.pool.ReaderPool) and a small file opens as fast as it
would be read here; each load uses up its reader. The load hears it through a
QSocketNotifier on its answer's pipe (reader.client.Reader.watch). A reader that crashes or
stops early ends the load as "failed", naming the file; so does any error
raised on our side while the load runs, which never escapes into Qt.

The reader sends the parts in batches as it meshes them, and the load starts
clearing the old scene at the first batch: the window shows the first parts
while the reader still meshes the rest. The parts come with their triangles,
and the context's default drawer is told to keep them (cad.meshing.keep_triangles)
once the old scene is gone, so the window meshes nothing again.

Clearing and showing run in slices (see view.slices, scene.pace); the last slice draws the final
frame. The shapes are displayed without their selection (what OCCT picks them by, two
thirds of the time a placement takes to display), so that the whole model is on screen
that much sooner; slices after the final frame then make them pickable (scene.picking,
where the placements of a product share its triangles), and the load ends once they
are. A restored view is put in place once the old scene is gone, while the view is still
empty and restoring it costs nothing; otherwise each frame fits the view to what is
shown.
"""

import functools
import os
import time

from PySide6.QtCore import QObject, QSocketNotifier, Qt, QTimer, Signal
from PySide6.QtWidgets import QProgressDialog

from morvik_viewer.cad.meshing import keep_triangles
from morvik_viewer.model.view_state import restore
from morvik_viewer.reader.client import Reader
from morvik_viewer.reader.protocol import Count, Heard, Stage, named, unpack_parts, worded
from morvik_viewer.scene.outcome import LoadOutcome
from morvik_viewer.scene.pace import (
    FRAME_BUDGET_S,
    FRAME_EVERY_NEW,
    FRAME_LEAST_NEW,
    FRAMES_SHARE,
    NEW_SHAPE_S,
    STARVED_MS,
)
from morvik_viewer.scene.picking import SharedSelection, make_pickable
from morvik_viewer.scene.show import display_item
from morvik_viewer.view.slices import Pace, Slices

# A load that ends sooner shows no progress dialog.
DIALOG_AFTER_MS = 400


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
                 readers=None, palette=False):
        """view_state is restored before the first part shows; without it (or when the
        service refuses it) each frame calls fit, which moves the camera and paints
        once (service.fit_all by default). shown(ids) follows each batch of shapes
        displayed, before any of them is drawn. readers, a ReaderPool, gives the
        reader; without one the load starts its own. palette: parts the files leave
        uncoloured take the palette's colours (see model.colors.fallback_color)."""
        QObject.__init__(self, parent)
        self._service = service
        self._paths = [os.fspath(p) for p in paths]
        self._view_state = view_state
        self._fit = fit or service.fit_all
        self._fitting = view_state is None
        self._on_shown = shown or (lambda ids: None)
        self._readers = readers
        self._palette = palette
        self._drawn = False  # a frame of the new scene was drawn
        self._framed_at, self._frame_s = 0.0, 0.0  # when the last frame ended, what it took
        self._starved = False  # every part heard is shown, and the reader meshes on
        self._new = 0  # shapes displayed since the last frame
        self._frame_every = FRAME_EVERY_NEW  # new shapes that make the next frame due
        self._parts = None  # decoded, not shown yet
        self._heard = Heard(self._paths)  # what the reader said; batches decode a slice at a time
        self._reader = None
        self._notifier = None  # watches the reader's answer
        self._read = False  # the reader has sent every part
        self._kept = None  # the deflection the drawer keeps triangles at
        self._old_ids = []
        self._shown = []
        self._unpicked = []  # shown, their selection not computed yet
        self._shared = None  # products' triangles their placements are picked by
        self._auto_select = None  # the context's own choice, while the load displays without
        self._drawn_at = None
        self._phase = "reading"
        self._cancelled = False
        self._ended = False
        self._erase_pace, self._show_pace, self._pick_pace = Pace(first=50), Pace(), Pace(first=50)
        self._slices = Slices(self._step, self)
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
        if self._ended or self._phase == "picking":
            return  # every part is on screen: what is left makes them pickable
        self._cancelled = True
        if self._phase == "reading":
            self._end("cancelled")
        else:
            self._wake()  # a load waiting for the reader stops at its next slice

    # --- reading -------------------------------------------------------------

    def _start_reader(self):
        # A reader of the command line's, for other files, is ended by the pool.
        reader = (self._readers.take(self._paths) if self._readers is not None
                  else Reader(self._paths, fork=False))
        self._reader, self._heard = reader, reader.heard
        if reader.over:  # it could not start
            self._reading_over()
            return
        self._notifier = QSocketNotifier(reader.watch(), QSocketNotifier.Read, self)
        self._notifier.activated.connect(self._on_output)

    def _stop_reader(self):
        reader, self._reader = self._reader, None
        if self._notifier is not None:
            notifier, self._notifier = self._notifier, None
            notifier.setEnabled(False)  # before its descriptor goes
            notifier.deleteLater()
        if reader is not None:
            reader.end(wait=self._readers is None)  # a window's load (with a pool) never waits

    @_ends_load_on_error
    def _on_output(self, *_):
        if self._reader is None:
            return
        for message in self._reader.receive():
            if isinstance(message, Stage):
                self._label(f"Reading {self._heard.file}…")
            elif isinstance(message, Count):
                self._label(f"Receiving {self._heard.count} parts…")
        if self._heard.done or self._heard.error is not None or self._reader.over:
            # Its last word, or its end: the load goes on without waiting for the process
            # to be gone.
            self._reading_over()
        elif self._heard.batches:
            if self._phase == "reading":
                self._start_showing()  # while the reader meshes the rest
            else:
                self._wake()

    def _reading_over(self):
        failure = self._reader.failure()
        self._stop_reader()
        if failure is not None:
            self._end_failed(failure)
            return
        self._read = True
        if self._phase == "reading":
            self._start_showing()
        else:
            self._wake()

    def _fail(self, error):
        """Ends the load as failed after an error of ours, saying which in one line."""
        self._end_failed(worded(error, "could not be opened", named(self._paths)))

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
        self._slices.start()

    @_ends_load_on_error
    def _step(self):
        if self._ended:
            return
        if self._phase == "clearing" and not self._cancelled:
            self._clear_slice()
        elif self._phase == "showing" and not self._cancelled:
            if self._new and self._frame_allowed() and (
                    self._new >= self._frame_every or self._slices.frame_due()
                    # the first parts, on screen while the reader meshes on
                    or (self._starved and not self._drawn)):
                self._frame()
            else:
                self._show_slice()
        elif self._phase == "picking":
            self._pick_slice()
        else:  # the last slice of showing: the final frame
            self._frame()
            self._drawn_at = time.time()
            self._start_picking()

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
            context = self._service.get_context()
            self._auto_select = context.GetAutoActivateSelection()
            context.SetAutoActivateSelection(False)
            if self._view_state is not None and not restore(self._service, self._view_state):
                self._fitting = True  # refused, and said so in the service's log
            self._slices.framed()
        self._progress()

    def _show_slice(self):
        began = time.perf_counter()
        items = self._take(self._show_pace.size())
        if items:
            self._keep_triangles()  # a later batch may reach a little further
            ids = self._service.display_shapes(
                [display_item(p, self._palette) for p in items], update=False)
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
                self._slices.wait(STARVED_MS)
        self._progress()

    def _start_picking(self):
        """After the final frame: shapes shown from now on get their selection as they are
        displayed, and the ones this load showed get it a slice at a time."""
        self._select_on_display()
        self._close_dialog()
        self._phase = "picking"
        self._unpicked = list(self._shown)
        self._shared = SharedSelection(info.ais_shape.Shape() for info in map(
            self._service.get_shape_info, self._unpicked) if info is not None)

    def _pick_slice(self):
        count = min(self._pick_pace.size(), len(self._unpicked))
        began = time.perf_counter()
        context = self._service.get_context()
        for shape_id in self._unpicked[:count]:
            info = self._service.get_shape_info(shape_id)
            if info is not None and info.visible:  # one hidden meanwhile gets it when shown
                make_pickable(context, info.ais_shape, self._shared)
        del self._unpicked[:count]
        self._pick_pace.record(count, time.perf_counter() - began)
        if not self._unpicked:
            self._end("stopped" if self._cancelled else "done")

    def _select_on_display(self):
        auto, self._auto_select = self._auto_select, None
        if auto is not None:
            self._service.get_context().SetAutoActivateSelection(auto)

    def _wake(self):
        if not self._ended and self._phase != "reading":
            self._starved = False
            self._slices.start()

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
        self._slices.framed()
        self._new, self._drawn = 0, True
        self._framed_at, self._frame_s = now, now - began

    def _frame_allowed(self):
        """Whether a frame in between may come: the first at once, the others once the
        showing since the last has taken enough longer than it (see FRAMES_SHARE)."""
        since = time.perf_counter() - self._framed_at
        return not self._drawn or since * FRAMES_SHARE >= self._frame_s * (1.0 - FRAMES_SHARE)

    def _take(self, count):
        """The next count parts, decoding the reader's batches as they are needed."""
        while len(self._parts or ()) < count and self._heard.batches:
            self._parts = (self._parts or []) + unpack_parts(self._heard.batches.pop(0),
                                                             self._heard.shared)
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
                - sum(len(batch.ids) for batch in self._heard.batches)
            self._dialog.setValue(max(0, done))

    def _close_dialog(self):
        if self._dialog is not None:
            dialog, self._dialog = self._dialog, None
            dialog.canceled.disconnect(self.cancel)
            dialog.close()
            dialog.deleteLater()

    # --- the end -----------------------------------------------------------------

    def _end(self, state, message=""):
        if self._ended:
            return
        self._ended = True
        try:
            self._slices.stop()
            self._stop_reader()
            self._select_on_display()
            self._close_dialog()
        finally:
            # Whatever went wrong above, the caller hears the end exactly once.
            self._parts, self._heard.batches = None, []
            self.finished.emit(LoadOutcome(self._paths, state, message, self._shown,
                                           self._heard.units, trees=self._heard.trees,
                                           drawn_at=self._drawn_at))
