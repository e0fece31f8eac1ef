"""The OCCT view inside a Qt widget, with mouse navigation and picking.

OCCT draws straight into the widget's native X window, so Qt must neither paint
the widget nor clear its background. Navigation and picking go through the
viewer service; positions reach OCCT in device pixels, as ints.
"""

from OCP.Xw import Xw_Window
from PySide6.QtCore import QPoint, Qt, QTimer, Signal
from PySide6.QtWidgets import QWidget

# A press and release closer than this (device pixels) is a click, not a drag.
CLICK_SLOP = 4
# How soon to look again when the X server has not caught up with a resize.
RESIZE_RETRY_MS = 15
RESIZE_RETRIES = 20
# One wheel notch (120 eighths of a degree) zooms by this factor.
ZOOM_STEP = 1.1


class Gesture:
    """A mouse drag: begin at a point, then follow the pointer."""

    def __init__(self, begin, follow):
        self.begin = begin
        self.follow = follow


class OcctViewWidget(QWidget):
    """A native widget showing one OCCT view that the given service drives."""

    selection_changed = Signal(object)  # the picked shape's identifier, or None

    def __init__(self, service, connection, parent=None):
        QWidget.__init__(self, parent)
        self._service = service
        self._view = service.get_view()
        self._context = service.get_context()
        for attribute in (Qt.WA_NativeWindow, Qt.WA_PaintOnScreen, Qt.WA_NoSystemBackground):
            self.setAttribute(attribute)
        self.setAutoFillBackground(False)
        self.setMouseTracking(True)  # hover highlighting
        self.setFocusPolicy(Qt.StrongFocus)
        self.setMinimumSize(200, 150)

        # Gestures are data: which button drags what.
        self._gestures = {
            Qt.LeftButton: Gesture(self._begin_rotation, self._rotate),
            Qt.MiddleButton: Gesture(self._begin_pan, self._pan),
        }
        self._press = None  # (button, device point) of the current press
        self._gesture = None  # the running gesture once the pointer left the click slop
        self._last = None  # last device point seen by a pan

        # winId() creates the native window that OCCT renders into.
        self._window = Xw_Window(connection, int(self.winId()))
        self._occt_size = None  # the widget size OCCT last resized to, in device pixels
        self._resize_retries = 0
        self._view.SetWindow(self._window)
        if not self._window.IsMapped():
            self._window.Map()

    # --- painting ---------------------------------------------------------

    def paintEngine(self):
        return None  # OCCT paints; Qt must not

    def paintEvent(self, event):
        self._follow_size()
        self._service.redraw()

    def resizeEvent(self, event):
        self._follow_size()

    def _follow_size(self):
        """Tells OCCT about a new widget size once the X server has it too.

        OCCT reads the size from the X server over its own connection, while Qt
        may not have sent its resize request yet: resizing then would keep the
        old size, and the view would fill only part of the widget.
        """
        wanted = self.device_size()
        if wanted == self._occt_size:
            return
        if tuple(self._window.Size()) != wanted and self._resize_retries < RESIZE_RETRIES:
            self._resize_retries += 1
            QTimer.singleShot(RESIZE_RETRY_MS, self.update)  # ask again on a later paint
            return
        # Sizes agree, or the server keeps a size of its own (rounding of a
        # fractional scale): either way OCCT now reads the final one.
        self._resize_retries = 0
        self._occt_size = wanted
        self._service.must_be_resized()

    def device_size(self):
        ratio = self.devicePixelRatioF()
        return (int(round(self.width() * ratio)), int(round(self.height() * ratio)))

    # --- mouse --------------------------------------------------------------

    def device_point(self, position):
        """A widget position in device pixels, as OCCT's window sees it."""
        ratio = self.devicePixelRatioF()
        return QPoint(int(round(position.x() * ratio)), int(round(position.y() * ratio)))

    def mousePressEvent(self, event):
        if self._press is None:
            self._press = (event.button(), self.device_point(event.position()))
            self._gesture = None

    def mouseMoveEvent(self, event):
        point = self.device_point(event.position())
        if self._press is None:
            self._context.MoveTo(point.x(), point.y(), self._view, True)
            return
        button, start = self._press
        if self._gesture is None:
            gesture = self._gestures.get(button)
            if gesture is None or (point - start).manhattanLength() < CLICK_SLOP:
                return
            self._gesture = gesture
            gesture.begin(start)
        self._gesture.follow(point)

    def mouseReleaseEvent(self, event):
        if self._press is None or event.button() != self._press[0]:
            return
        button, start = self._press
        clicked = self._gesture is None
        self._press = self._gesture = None
        if clicked and button == Qt.LeftButton:
            self.pick(start.x(), start.y())

    def wheelEvent(self, event):
        notches = event.angleDelta().y() / 120.0
        if notches:
            # SetZoom scales the current view by its factor: above 1 zooms in.
            self._service.zoom(ZOOM_STEP ** notches)

    def _begin_rotation(self, point):
        self._service.start_rotation(point.x(), point.y())

    def _rotate(self, point):
        self._service.rotate(point.x(), point.y())

    def _begin_pan(self, point):
        self._last = point

    def _pan(self, point):
        delta = point - self._last
        self._last = point
        self._service.pan(delta.x(), delta.y())

    # --- picking ------------------------------------------------------------

    def pick(self, x, y):
        """Selects the shape under device point (x, y), or clears the selection."""
        context = self._context
        context.MoveTo(x, y, self._view, False)
        context.SelectDetected()  # replaces the selection; an empty spot clears it
        context.UpdateCurrentViewer()
        self.selection_changed.emit(self.selected_shape_id())

    def selected_shape_id(self):
        context = self._context
        context.InitSelected()
        if not context.MoreSelected():
            return None
        return self._service.get_shape_id_for_ais_shape(context.SelectedInteractive())

    def clear_selection(self):
        self._context.ClearSelected(True)
        self.selection_changed.emit(None)
