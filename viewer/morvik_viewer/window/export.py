"""File ▸ Export… and Export Selection…: the open files, or the selected parts, written into
a file of another kind by a reader process (reader.exporting), the window answering
meanwhile: the reader's pipe is watched as a load's is, and the end is told in the status
bar, or in a message box when the file could not be written."""

import os
from pathlib import Path

from PySide6.QtCore import QObject, QSocketNotifier, QTimer, Signal
from PySide6.QtWidgets import QDialog, QFileDialog

from morvik_viewer.model.exports import TARGETS, target_kind
from morvik_viewer.reader.exporting import Export, Outcome

# One filter a kind, in TARGETS' order (STEP first: what a CAD program opens).
FILTERS = [f"{kind} (*{' *'.join(suffixes)})" for kind, suffixes in TARGETS.items()]


def proposed_path(files, selection=False):
    """Where an export is proposed: beside the first of files, named after it
    (gearbox-export.step, gearbox-selection.step for the selected parts)."""
    first = Path(os.path.abspath(files[0]))
    return str(first.with_name(f"{first.stem}-{'selection' if selection else 'export'}"
                               f"{TARGETS['STEP'][0]}"))


def ask_target(parent, title, proposed):
    """The file the user chose to export to, or None; a name given without a suffix the
    viewer writes takes the chosen format's."""
    dialog = QFileDialog(parent, title, os.path.dirname(proposed), ";;".join(FILTERS))
    dialog.setAcceptMode(QFileDialog.AcceptSave)
    dialog.selectFile(os.path.basename(proposed))
    if dialog.exec() != QDialog.Accepted or not dialog.selectedFiles():
        return None
    path = dialog.selectedFiles()[0]
    if target_kind(path) is None:
        chosen = dialog.selectedNameFilter()
        kind = list(TARGETS)[FILTERS.index(chosen)] if chosen in FILTERS else "STEP"
        path += TARGETS[kind][0]
    return path


class ExportRun(QObject):
    """One export, heard through the event loop; finished(Outcome) follows once. Raises
    model.paths.PathError as it is made when target names no file the viewer can
    write (nothing is started then)."""

    finished = Signal(object)

    def __init__(self, paths, target, ids=None, parent=None):
        QObject.__init__(self, parent)
        self.target, self.ids = target, ids
        self.export = Export(paths, target, ids)
        self._notifier = QSocketNotifier(self.export.watch(), QSocketNotifier.Read, self)
        self._notifier.activated.connect(self._on_output)
        if self.export.over:  # the reader could not start: told once the caller listens
            QTimer.singleShot(0, self._on_output)

    def _on_output(self, *_):
        try:
            self.export.receive()
            if self.export.over:
                self._end(self.export.finish())
        except Exception as error:  # noqa: BLE001 - any fault ends this export, not the window
            self.export.cancel()
            self._end(Outcome(f"{self.target}: cannot export ({type(error).__name__}: "
                              f"{error})", 1))

    def cancel(self):
        self.export.cancel()
        self._end(self.export.finish())

    def _end(self, outcome):
        if self._notifier is None:
            return
        notifier, self._notifier = self._notifier, None
        notifier.setEnabled(False)  # before its descriptor goes
        notifier.deleteLater()
        self.finished.emit(outcome)
