"""Drives File ▸ Export Selection in the real viewer window under X and reports what it saw
(see sessions.py, test_export.py)."""

import sys

from PySide6.QtCore import QTimer
from PySide6.QtWidgets import QApplication, QFileDialog

from sessions import open_window, report, run_sessions, wait_until


def answer_file_dialog(out, target):
    """Once the export's file dialog is up: notes the file it proposes, and takes target."""
    dialog = QApplication.activeModalWidget()
    if not isinstance(dialog, QFileDialog):
        QTimer.singleShot(20, lambda: answer_file_dialog(out, target))
        return
    out["proposed"] = dialog.selectedFiles()[0]
    dialog.selectFile(target)
    dialog.accept()


def selection(source, target, *ids):
    """Opens source, selects the parts ids, exports them to target through the menu (the
    dialog's first format, STEP, gives the suffix) and counts the event loop's turns while
    the export runs; then asks again with nothing selected."""
    _, window = open_window(files=[source])
    out = {}
    window.service.select_shapes(list(ids))
    out["selected"] = window.view_widget.selected_shape_ids()
    action = next(a for a in window.actions() if a.text() == "Export &Selection…")
    QTimer.singleShot(0, lambda: answer_file_dialog(out, target))
    action.trigger()  # the dialog runs till it is answered; the export then starts
    assert window.commands.exporting is not None, window.statusBar().currentMessage()
    ticks = []
    timer = QTimer()
    timer.timeout.connect(lambda: ticks.append(1))
    timer.start(10)
    wait_until(lambda: window.commands.exporting is None)
    timer.stop()
    out["ticks"] = len(ticks)
    out["message"] = window.statusBar().currentMessage()
    window.view_widget.clear_selection()
    action.trigger()  # no dialog: nothing to export
    out["nothing_selected"] = window.statusBar().currentMessage()
    window.close()
    return report(out)


if __name__ == "__main__":
    run_sessions({"selection": selection}, lambda: selection(*sys.argv[1:]))
