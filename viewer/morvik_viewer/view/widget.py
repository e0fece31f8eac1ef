"""The OCCT view inside a Qt widget, with mouse navigation and picking.

OCCT draws straight into the widget's native window, so Qt must neither paint
the widget nor clear its background. Navigation and picking go through the
viewer service; positions reach OCCT in device pixels, as ints.

A drag's pointer moves are buffered and reach OCCT at most once a frame, the
last position only: the pointer reports far more often than a view can be
drawn, and each rotation or pan paints. A release sends what is buffered first.
Which button drags what is data: a gesture map for each mode of the widget.
"""

import math
import time

from OCP.gp import gp_Trsf, gp_Vec
from PySide6.QtCore import QEvent, QPoint, Qt, QTimer, Signal
from PySide6.QtWidgets import QWidget

from morvik_viewer.view.hover import FRAME_MS, HoverHighlight
from morvik_viewer.view.look import set_camera_moving, set_pixel_ratio
from morvik_viewer.view.platform_window import resize_window, widget_window

# A press and release closer than this (device pixels) is a click, not a drag.
CLICK_SLOP = 4
# One wheel notch (120 eighths of a degree) zooms by this factor.
ZOOM_STEP = 1.1
# How far the wheel may zoom: the height the view shows, against the size of
# the scene (the diagonal of what is displayed).
ZOOM_IN_LIMIT = 1e-3
ZOOM_OUT_LIMIT = 20.0
# A click with one of these adds the shape under the cursor to the selection,
# or takes it out.
TOGGLE_MODIFIERS = Qt.KeyboardModifier.ShiftModifier | Qt.KeyboardModifier.ControlModifier
# OCCT's class name of the view cube, which takes clicks of its own.
VIEW_CUBE = "AIS_ViewCube"
# Qt 6.6 and later say so when the window moves to a screen of another pixel ratio.
PIXEL_RATIO_CHANGE = getattr(QEvent, "DevicePixelRatioChange", None)
# The gesture each button's drag runs, in each mode of the widget (see gesture_mode).
GESTURE_MAPS = {
    "navigate": {Qt.MouseButton.LeftButton: "rotation", Qt.MouseButton.MiddleButton: "pan"},
}


class Gesture:
    """A mouse drag: begin at a point, then follow the pointer."""

    def __init__(self, begin, follow):
        self.begin = begin
        self.follow = follow


class OcctViewWidget(QWidget):
    """A native widget showing one OCCT view that the given service drives."""

    # The selected shape's identifier (the one picked last when several are), or None.
    selection_changed = Signal(object)
    # OCCT has taken a new size of the widget.
    view_resized = Signal()

    def __init__(self, service, connection, parent=None):
        QWidget.__init__(self, parent)
        self._service = service
        self._view = service.get_view()
        self._context = service.get_context()
        for attribute in (Qt.WA_NativeWindow, Qt.WA_PaintOnScreen, Qt.WA_NoSystemBackground):
            self.setAttribute(attribute)
        self.setAutoFillBackground(False)
        self.setMouseTracking(True)  # hover highlighting
        self.hover = HoverHighlight(service, self)
        self.setFocusPolicy(Qt.StrongFocus)
        self.setMinimumSize(200, 150)

        # Gestures by name; GESTURE_MAPS[gesture_mode] says which button runs which.
        self._gestures = {
            "rotation": Gesture(self._begin_rotation, self._rotate),
            "pan": Gesture(self._begin_pan, self._pan),
        }
        self.gesture_mode = "navigate"
        self._press = None  # (button, device point) of the current press
        self._gesture = None  # the running gesture once the pointer left the click slop
        self._last = None  # last device point seen by a pan
        self._moved = None  # the drag's last device point, not sent to OCCT yet
        self._flushed = float("-inf")  # when buffered moves last went to OCCT
        self._flush_timer = QTimer(self)
        self._flush_timer.setSingleShot(True)
        self._flush_timer.timeout.connect(self.flush_moves)

        # winId() creates the native window that OCCT renders into. OCCT takes its
        # size from us, not from the window system, so it never reads a stale one.
        self._occt_size = self.device_size()  # the size OCCT draws at, in device pixels
        self._window = widget_window(int(self.winId()), self._occt_size)
        # The pixel ratio OCCT's screen-space sizes are set for.
        self._pixel_ratio = self._view.RenderingParams().ResolutionRatio()
        self._primary = None  # the identifier picked last, while it stays selected
        # A tool that takes left clicks in place of picking: called (x, y, toggle) in
        # device pixels, as pick would be.
        self.click_handler = None
        self.view_cube_shown = False  # whether clicks may land on OCCT's view cube
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

    def event(self, event):
        if PIXEL_RATIO_CHANGE is not None and event.type() == PIXEL_RATIO_CHANGE:
            self.update()  # the paint sets the new ratio and size
        return QWidget.event(self, event)

    def _follow_size(self):
        """Tells OCCT about a new widget size, or pixel ratio."""
        ratio = self.devicePixelRatioF()
        if ratio != self._pixel_ratio:
            self._pixel_ratio = ratio
            set_pixel_ratio(self._view, ratio)
        wanted = self.device_size()
        if wanted == self._occt_size:
            return
        self._occt_size = wanted
        resize_window(self._window, wanted)
        self._service.must_be_resized()
        self.view_resized.emit()

    def has_final_size(self):
        """Whether OCCT draws at the widget's present size (a fit now frames what the user sees)."""
        return self._occt_size == self.device_size()

    def device_size(self):
        """The widget's size in device pixels, as its native window has it: Qt rounds halves
        up (Python's round() takes them to even, a pixel short at ratio 1.5)."""
        ratio = self.devicePixelRatioF()
        return (int(self.width() * ratio + 0.5), int(self.height() * ratio + 0.5))

    # --- mouse --------------------------------------------------------------

    def device_point(self, position):
        """A widget position in device pixels, as OCCT's window sees it."""
        ratio = self.devicePixelRatioF()
        return QPoint(round(position.x() * ratio), round(position.y() * ratio))

    def mousePressEvent(self, event):
        self.hover.cancel()  # no highlight follows a drag
        if self._press is None:
            self._press = (event.button(), self.device_point(event.position()))
            self._gesture = None

    def mouseMoveEvent(self, event):
        point = self.device_point(event.position())
        if self._press is None:
            self.hover.move(point.x(), point.y())
            return
        button, start = self._press
        if self._gesture is None:
            gesture = self._gestures.get(GESTURE_MAPS[self.gesture_mode].get(button))
            if gesture is None or (point - start).manhattanLength() < CLICK_SLOP:
                return
            self._gesture = gesture
            set_camera_moving(self._view, True)
            gesture.begin(start)
        self._moved = point
        wait_ms = FRAME_MS - (time.perf_counter() - self._flushed) * 1000.0
        if wait_ms <= 0:
            self._flush_timer.stop()
            self.flush_moves()
        elif not self._flush_timer.isActive():
            self._flush_timer.start(math.ceil(wait_ms))

    def flush_moves(self):
        """Sends the drag's buffered pointer position to OCCT, if any."""
        if self._moved is None or self._gesture is None:
            return
        point, self._moved = self._moved, None
        self._flushed = time.perf_counter()
        self._gesture.follow(point)

    def mouseReleaseEvent(self, event):
        if self._press is None or event.button() != self._press[0]:
            return
        self.flush_moves()  # the drag ends where the pointer did
        self._flush_timer.stop()
        button, start = self._press
        clicked = self._gesture is None
        self._press = self._gesture = None
        if not clicked:
            set_camera_moving(self._view, False)
        if clicked and button == Qt.LeftButton and not self.click_view_cube(start.x(), start.y()):
            take = self.pick if self.click_handler is None else self.click_handler
            take(start.x(), start.y(), bool(event.modifiers() & TOGGLE_MODIFIERS))

    def wheelEvent(self, event):
        notches = event.angleDelta().y() / 120.0
        if notches:
            point = self.device_point(event.position())
            self.zoom_at(point.x(), point.y(), ZOOM_STEP ** notches)

    def keyPressEvent(self, event):
        if event.key() == Qt.Key_Escape:
            self.clear_selection()
        else:
            QWidget.keyPressEvent(self, event)

    # --- zoom -----------------------------------------------------------------

    def zoom_at(self, x, y, factor):
        """Zooms by factor (above 1 zooms in) about device point (x, y), which stays put.

        The point held is where the cursor's ray meets the plane through the
        camera's centre, square to the view. The zoom stops at limits set by
        the size of the scene, so the scene is never lost.
        """
        view = self._view
        factor = self._limited(factor)
        if factor is None:
            return
        before = self._focus_point(x, y)
        immediate = view.SetImmediateUpdate(False)  # one repaint, after the shift
        try:
            self._service.zoom(factor)
            after = self._focus_point(x, y)
            if before is not None and after is not None:
                shift = gp_Trsf()
                shift.SetTranslation(gp_Vec(*(b - a for b, a in zip(before, after))))
                view.Camera().Transform(shift)
        finally:
            view.SetImmediateUpdate(immediate)
        self._service.redraw()

    def _limited(self, factor):
        """factor, or less of it where it would pass a zoom limit; None when there is no room."""
        box = self._view.View().MinMaxValues(False)
        if box.IsVoid():
            return factor
        size = math.sqrt(box.SquareExtent())
        height = self._view.Camera().Scale()  # the height the view shows, in model units
        if not size > 0 or not height > 0:
            return factor
        # A view already past a limit (zoomed by other means) may come back, not go on.
        lowest = min(size * ZOOM_IN_LIMIT, height)
        highest = max(size * ZOOM_OUT_LIMIT, height)
        wanted = min(max(height / factor, lowest), highest)
        if math.isclose(wanted, height, rel_tol=1e-9):
            return None
        return height / wanted

    def _focus_point(self, x, y):
        """The model point under device point (x, y) on the plane through the camera's centre."""
        px, py, pz, dx, dy, dz = self._view.ConvertWithProj(x, y)
        camera = self._view.Camera()
        centre, axis = camera.Center(), camera.Direction()
        along = dx * axis.X() + dy * axis.Y() + dz * axis.Z()
        if abs(along) < 1e-12:
            return None
        t = ((centre.X() - px) * axis.X() + (centre.Y() - py) * axis.Y()
             + (centre.Z() - pz) * axis.Z()) / along
        return (px + t * dx, py + t * dy, pz + t * dz)

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

    def click_view_cube(self, x, y):
        """Hands a click at device point (x, y) to the view cube when it lies there, which
        turns the camera to the face, edge or corner clicked; whether it did. The cube is
        no registered shape: picking would pass it by."""
        if not self.view_cube_shown:  # no detection to pay for
            return False
        context = self._context
        context.MoveTo(x, y, self._view, False)
        if not context.HasDetected() or not context.DetectedInteractive().IsKind(VIEW_CUBE):
            return False
        context.SelectDetected()  # its owner takes the click and starts the turn
        return True

    def pick(self, x, y, toggle=False):
        """Selects the shape under device point (x, y).

        The shape replaces the selection, and an empty spot clears it; with
        toggle, the shape joins the selection or leaves it, and an empty spot
        changes nothing.
        """
        shape_id = self._service.pick(x, y)
        selected = self.selected_shape_ids() if toggle else []
        if shape_id in selected:
            selected.remove(shape_id)
        elif shape_id is not None:
            selected.append(shape_id)
        if shape_id is not None or not toggle:
            self._service.select_shapes(selected)
        if shape_id is not None:
            self._primary = shape_id
        self.selection_changed.emit(self.selected_shape_id())

    def selected_shape_ids(self):
        """The identifiers of the selected shapes, in the context's order."""
        context, ids = self._context, []
        context.InitSelected()
        while context.MoreSelected():
            shape_id = self._service.get_shape_id_for_ais_shape(context.SelectedInteractive())
            if shape_id is not None:
                ids.append(shape_id)
            context.NextSelected()
        return ids

    def selected_shape_id(self):
        """The selected shape's identifier (the one picked last when several are), or None."""
        ids = self.selected_shape_ids()
        if self._primary in ids:
            return self._primary
        return ids[-1] if ids else None

    def clear_selection(self):
        self._context.ClearSelected(True)
        self._primary = None
        self.selection_changed.emit(None)
