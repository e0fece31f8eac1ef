"""Drives the real viewer window under X and prints what it observed as JSON.

Run as a script in its own process with QT_QPA_PLATFORM=xcb: the OCCT view
renders into the widget's native X window, which the offscreen platform that
the rest of the suite uses cannot give.
"""

import json
import sys

from PySide6.QtCore import QPoint, QPointF, Qt
from PySide6.QtGui import QWheelEvent
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QApplication, QComboBox, QPushButton, QSlider

from morvik_viewer.scene import sample_parts
from morvik_viewer.viewer import create_viewer
from morvik_viewer.window import ViewerWindow


def settle(app, ms=50):
    app.processEvents()
    QTest.qWait(ms)


def camera(view):
    cam = view.Camera()
    d, c = cam.Direction(), cam.Center()
    return {"direction": [d.X(), d.Y(), d.Z()], "center": [c.X(), c.Y(), c.Z()],
            "orthographic": cam.IsOrthographic(), "scale": view.Scale()}


def view_corners(app, widget):
    """Colours on screen just inside the four corners of the view widget."""
    top_left = widget.mapToGlobal(QPoint(0, 0))
    shot = app.primaryScreen().grabWindow(0, top_left.x(), top_left.y(), widget.width(), widget.height())
    image = shot.toImage()
    w, h = image.width(), image.height()
    return {name: list(image.pixelColor(x, y).getRgb()[:3])
            for name, (x, y) in {"top_left": (4, 4), "top_right": (w - 5, 4),
                                 "bottom_right": (w - 5, h - 5)}.items()}


def button(toolbar, caption):
    return next(b for b in toolbar.findChildren(QPushButton) if b.text() == caption)


def combo_with(toolbar, data):
    return next(c for c in toolbar.findChildren(QComboBox) if c.findData(data) >= 0)


def click_at_model_point(window, xyz):
    """Clicks the view where the model point xyz shows; returns the status text."""
    widget = window.view_widget
    px, py = window.stack.view.Convert(*xyz)
    ratio = widget.devicePixelRatioF()
    QTest.mouseClick(widget, Qt.LeftButton, Qt.NoModifier, QPoint(int(px / ratio), int(py / ratio)))
    return window.selection_label.text()


def drag(widget, button, start, end, steps=5):
    QTest.mousePress(widget, button, Qt.NoModifier, start)
    for i in range(1, steps + 1):
        QTest.mouseMove(widget, start + (end - start) * i / steps)
    QTest.mouseRelease(widget, button, Qt.NoModifier, end)


def wheel(widget, notches):
    centre = QPointF(widget.width() / 2, widget.height() / 2)
    event = QWheelEvent(centre, widget.mapToGlobal(centre), QPoint(0, 0), QPoint(0, 120 * notches),
                        Qt.NoButton, Qt.NoModifier, Qt.NoScrollPhase, False)
    QApplication.sendEvent(widget, event)


def main():
    app = QApplication.instance() or QApplication(["demo-window-session"])
    stack = create_viewer()
    window = ViewerWindow(stack)
    window.resize(900, 600)
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle(app, 200)

    view, context, service, toolbar = stack.view, stack.context, stack.service, window.toolbar
    emitted = {"display_mode_changed": []}
    toolbar.display_mode_changed.connect(emitted["display_mode_changed"].append)
    out = {"platform": app.platformName(), "start": camera(view),
           "corners_at_start": view_corners(app, window.view_widget),
           "start_display_mode": context.DisplayMode(), "start_toolbar": toolbar.get_display_mode()}

    QTest.mouseClick(button(toolbar, "Top"), Qt.LeftButton)
    settle(app)
    out["after_top"] = camera(view)

    display = combo_with(toolbar, "wireframe")
    QTest.keyClick(display, Qt.Key_Up)  # shaded -> wireframe, as a user would
    settle(app)
    out["after_wireframe_combo"] = {"context": context.DisplayMode(), "toolbar": toolbar.get_display_mode()}

    projection = combo_with(toolbar, "perspective")
    QTest.keyClick(projection, Qt.Key_Up)  # orthographic -> perspective
    settle(app)
    out["after_perspective"] = camera(view)

    slider = toolbar.findChild(QSlider)
    QTest.keyClick(slider, Qt.Key_PageUp)
    settle(app)
    box = service.get_shape_info("box").ais_shape
    out["after_slider"] = {"slider": slider.value(), "box_transparency": box.Transparency()}

    # Keys the host handles itself go through the toolbar, which drives the service.
    window.activateWindow()
    window.view_widget.setFocus()
    del emitted["display_mode_changed"][:]
    QTest.keyClick(window.view_widget, Qt.Key_B)
    settle(app)
    QTest.keyClick(window.view_widget, Qt.Key_B)  # already there: nothing more happens
    settle(app)
    out["after_key_b"] = {"context": context.DisplayMode(), "toolbar": toolbar.get_display_mode(),
                          "emitted": list(emitted["display_mode_changed"]),
                          "box_boundaries": box.Attributes().FaceBoundaryDraw()}

    QTest.keyClick(projection, Qt.Key_Down)  # back to orthographic for picking
    QTest.mouseClick(button(toolbar, "ISO"), Qt.LeftButton)
    QTest.mouseClick(button(toolbar, "Fit All"), Qt.LeftButton)
    settle(app, 100)
    out["after_iso"] = camera(view)

    out["pick_sphere"] = click_at_model_point(window, (45.0, 18.0, 0.0))
    window.view_widget.setFocus()
    QTest.keyClick(window.view_widget, Qt.Key_H)
    settle(app)
    out["after_hide"] = {"sphere_visible": service.is_shape_visible("sphere"),
                         "sphere_displayed": context.IsDisplayed(service.get_shape_info("sphere").ais_shape),
                         "selection": window.selection_label.text()}
    QTest.keyClick(window.view_widget, Qt.Key_H, Qt.ShiftModifier)
    settle(app)
    out["after_show_all"] = {"sphere_visible": service.is_shape_visible("sphere"),
                             "sphere_displayed": context.IsDisplayed(service.get_shape_info("sphere").ais_shape)}
    out["pick_torus"] = click_at_model_point(window, (30.0 + 16.0, 0.0, 50.0))
    corner = QPoint(3, window.view_widget.height() // 2)
    QTest.mouseClick(window.view_widget, Qt.LeftButton, Qt.NoModifier, corner)
    out["pick_background"] = window.selection_label.text()

    widget = window.view_widget
    middle = QPoint(widget.width() // 2, widget.height() // 2)
    before = camera(view)
    drag(widget, Qt.LeftButton, middle, middle + QPoint(80, 30))
    settle(app)
    out["rotation"] = {"before": before, "after": camera(view),
                       "selection": window.selection_label.text()}

    before = camera(view)
    drag(widget, Qt.MiddleButton, middle, middle + QPoint(60, 0))
    settle(app)
    out["pan"] = {"before": before, "after": camera(view)}

    before = view.Scale()
    wheel(widget, 1)
    settle(app)
    zoomed_in = view.Scale()
    wheel(widget, -2)
    settle(app)
    out["zoom"] = {"before": before, "in": zoomed_in, "out": view.Scale()}

    QTest.keyClick(widget, Qt.Key_F)
    settle(app)
    window.resize(700, 480)
    settle(app, 300)
    out["corners_after_resize"] = view_corners(app, window.view_widget)
    out["shape_count_label"] = window.count_label.text()
    window.close()
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
