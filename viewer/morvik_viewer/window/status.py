"""The window's status bar: a passing message, what is selected, how many shapes there are,
and, in place of an empty view, the hint to open a file."""

from PySide6.QtCore import Qt
from PySide6.QtGui import QKeySequence
from PySide6.QtWidgets import QLabel

MESSAGE_MS = 4000


class Status:
    """The status bar of window, whose central widget (a QStackedWidget) shows the view or,
    for an empty scene, the hint."""

    def __init__(self, window, central):
        self._window, self._central, self.view = window, central, None
        self._bar = window.statusBar()
        self.selection_label = QLabel()
        self.count_label = QLabel()
        self._bar.addPermanentWidget(self.selection_label)
        self._bar.addPermanentWidget(self.count_label)
        open_keys = QKeySequence(QKeySequence.Open).toString(QKeySequence.NativeText)
        self.empty_hint = QLabel(f"Open a STEP or BREP file:\nFile ▸ Open ({open_keys}) "
                                 "or drop it here")
        self.empty_hint.setAlignment(Qt.AlignCenter)
        central.addWidget(self.empty_hint)

    def show_message(self, text):
        self._bar.showMessage(text, MESSAGE_MS)

    def selection(self, shape_id):
        """Says what is selected, the view's selection (its primary shape, shape_id)."""
        count = len(self.view.selected_shape_ids())
        if count > 1:
            self.selection_label.setText(f"{count} selected")
        else:
            self.selection_label.setText(f"Selected: {shape_id}" if shape_id else "")

    def hover_switched(self, on):
        self.show_message("Hover highlighting back on" if on
                          else "Hover highlighting off: the scene is too large")

    def count(self, service):
        """Shape count (and hidden ones); the hint in place of an empty view."""
        shapes = service.get_all_shapes()
        count, hidden = len(shapes), sum(not info.visible for info in shapes.values())
        text = f"{count} shape{'s' if count != 1 else ''}"
        self.count_label.setText(f"{text}, {hidden} hidden" if hidden else text)
        # Before the window is shown the view stays: Qt hides only a native
        # window it has shown, and OCCT maps the view's own at once.
        empty = count == 0 and self._window.isVisible()
        self._central.setCurrentWidget(self.empty_hint if empty else self.view)
