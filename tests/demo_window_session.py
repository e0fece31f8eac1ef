"""Drives the real viewer window under X and prints what it observed as JSON.

Run as a script in its own process with QT_QPA_PLATFORM=xcb: the OCCT view
renders into the widget's native X window, which the offscreen platform that
the rest of the suite uses cannot give.
"""

import json
import os
import signal
import sys

from PySide6.QtCore import QPoint, QPointF, Qt, QTimer
from PySide6.QtGui import QImage, QWheelEvent
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QApplication, QComboBox, QDockWidget, QPushButton, QSlider

from morvik_viewer.interrupt import quit_on_interrupt
from morvik_viewer.scene import sample_parts
from morvik_viewer.settings import BYTES, GEOMETRY_KEY, last_folder, open_settings, read
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


def on_screen(app, widget):
    """What the screen shows of the widget, in device pixels."""
    top_left = widget.mapToGlobal(QPoint(0, 0))
    shot = app.primaryScreen().grabWindow(0, top_left.x(), top_left.y(), widget.width(), widget.height())
    return shot.toImage()


def colours_at(app, window, points):
    """Colours on screen where the model points show, by name."""
    image = on_screen(app, window.view_widget)
    return {name: list(image.pixelColor(*window.stack.view.Convert(*xyz)).getRgb()[:3])
            for name, xyz in points.items()}


def view_corners(app, widget):
    """Colours on screen just inside the four corners of the view widget."""
    image = on_screen(app, widget)
    w, h = image.width(), image.height()
    return {name: list(image.pixelColor(x, y).getRgb()[:3])
            for name, (x, y) in {"top_left": (4, 4), "top_right": (w - 5, 4),
                                 "bottom_right": (w - 5, h - 5)}.items()}


def button(toolbar, caption):
    return next(b for b in toolbar.findChildren(QPushButton) if b.text() == caption)


def combo_with(toolbar, data):
    return next(c for c in toolbar.findChildren(QComboBox) if c.findData(data) >= 0)


def click_at_model_point(window, xyz, modifiers=Qt.NoModifier):
    """Clicks the view where the model point xyz shows; returns the status text."""
    widget = window.view_widget
    px, py = window.stack.view.Convert(*xyz)
    ratio = widget.devicePixelRatioF()
    QTest.mouseClick(widget, Qt.LeftButton, modifiers, QPoint(int(px / ratio), int(py / ratio)))
    return window.selection_label.text()


def drag(widget, button, start, end, steps=5):
    QTest.mousePress(widget, button, Qt.NoModifier, start)
    for i in range(1, steps + 1):
        QTest.mouseMove(widget, start + (end - start) * i / steps)
    QTest.mouseRelease(widget, button, Qt.NoModifier, end)


def wheel(widget, notches, at=None):
    at = QPointF(widget.width() / 2, widget.height() / 2) if at is None else QPointF(*at)
    event = QWheelEvent(at, widget.mapToGlobal(at), QPoint(0, 0), QPoint(0, 120 * notches),
                        Qt.NoButton, Qt.NoModifier, Qt.NoScrollPhase, False)
    QApplication.sendEvent(widget, event)


def on_view(view, xyz):
    """Where model point xyz shows, in device pixels."""
    return list(view.Convert(*xyz))


def scene_on_view(view, widget):
    """The scene's bounding box on screen: its width and height in device pixels, and
    whether it lies inside the view."""
    box = view.View().MinMaxValues(False)
    low, high = box.CornerMin(), box.CornerMax()
    points = [view.Convert(x, y, z) for x in (low.X(), high.X()) for y in (low.Y(), high.Y())
              for z in (low.Z(), high.Z())]
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    ratio = widget.devicePixelRatioF()
    inside = (min(xs) >= 0 and min(ys) >= 0 and max(xs) < widget.width() * ratio
              and max(ys) < widget.height() * ratio)
    return {"size": [max(xs) - min(xs), max(ys) - min(ys)], "inside": inside}


def zoom_about(app, widget, view, xyz):
    """Wheels with the cursor over model point xyz and follows where the model point first
    under the cursor shows; then 160 notches out and in."""
    ratio = widget.devicePixelRatioF()
    start = on_view(view, xyz)
    cursor = (start[0] / ratio, start[1] / ratio)
    xyz = view.ConvertWithProj(*start)[:3]  # on the cursor's ray: it shows at the cursor
    start = on_view(view, xyz)
    seen = []
    for notches in (3, -5, 2):
        wheel(widget, notches, cursor)
        settle(app, 20)
        seen.append(on_view(view, xyz))
    for _ in range(20):
        wheel(widget, -8, cursor)
    settle(app)
    far = scene_on_view(view, widget)
    for _ in range(20):
        wheel(widget, 8, cursor)
    settle(app)
    return {"start": start, "seen": seen, "far": far, "back": on_view(view, xyz)}


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
           "start_display_mode": context.DisplayMode(), "start_toolbar": toolbar.get_display_mode(),
           "title": window.windowTitle()}
    window.fit()
    out["fitted_again"] = camera(view)

    QTest.mouseClick(button(toolbar, "Top"), Qt.LeftButton)
    settle(app)
    out["after_top"] = camera(view)
    out["top_faces"] = colours_at(app, window, {"box": (-45.0, 30.0, 0.0),
                                                "cylinder": (0.0, 40.0, 0.0)})

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
                         "selection": window.selection_label.text(),
                         "count": window.count_label.text()}
    QTest.keyClick(window.view_widget, Qt.Key_H, Qt.ShiftModifier)
    settle(app)
    out["after_show_all"] = {"sphere_visible": service.is_shape_visible("sphere"),
                             "sphere_displayed": context.IsDisplayed(service.get_shape_info("sphere").ais_shape),
                             "count": window.count_label.text()}
    torus, sphere = (30.0 + 16.0, 0.0, 50.0), (45.0, 18.0, 0.0)
    out["pick_torus"] = click_at_model_point(window, torus)
    out["pick_shift_sphere"] = click_at_model_point(window, sphere, Qt.ShiftModifier)
    out["pick_ctrl_torus"] = click_at_model_point(window, torus, Qt.ControlModifier)
    QTest.keyClick(window.view_widget, Qt.Key_Escape)
    settle(app)
    out["after_escape"] = window.selection_label.text()
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
    out["zoom_about_sphere"] = zoom_about(app, widget, view, (45.0, 18.0, 0.0))

    QTest.keyClick(widget, Qt.Key_F)
    settle(app)
    window.resize(700, 480)
    settle(app, 300)
    out["corners_after_resize"] = view_corners(app, window.view_widget)
    out["shape_count_label"] = window.count_label.text()

    # Ctrl+C while the event loop runs closes the window, which keeps its geometry.
    quit_on_interrupt(app)
    QTimer.singleShot(50, lambda: os.kill(os.getpid(), signal.SIGINT))
    QTimer.singleShot(5000, lambda: app.exit(1))  # the signal went unnoticed
    status = app.exec()
    out["interrupted"] = {"status": status, "window_open": window.isVisible(),
                          "geometry_kept": open_settings().contains(GEOMETRY_KEY)}
    print(json.dumps(out))
    return 0


def trihedron_extent():
    """Shows the window with every shape hidden; prints the size of what remains drawn
    (the trihedron with its labels) in device pixels."""
    app = QApplication.instance() or QApplication(["demo-window-session"])
    stack = create_viewer()
    window = ViewerWindow(stack)
    window.findChild(QDockWidget).hide()  # a small window fits the screen at twice the scale
    window.resize(420, 320)
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    for shape_id in stack.service.get_all_shapes():
        stack.service.set_shape_visibility(shape_id, False)
    settle(app, 300)
    image = on_screen(app, window.view_widget).convertToFormat(QImage.Format_RGB888)
    w, h = image.width(), image.height()
    pixels, stride = bytes(image.constBits()), image.bytesPerLine()
    xs, ys = [], []
    for y in range(h // 2, h):  # the trihedron's corner: lower left
        row = pixels[y * stride:y * stride + 3 * w]
        background = row[-9:-6]  # the gradient is even across
        for x in range(w // 2):
            if max(abs(a - b) for a, b in zip(row[3 * x:3 * x + 3], background)) > 24:
                xs.append(x)
                ys.append(y)
    extent = [max(xs) - min(xs) + 1, max(ys) - min(ys) + 1] if xs else [0, 0]
    print(json.dumps({"ratio": window.view_widget.devicePixelRatioF(), "image": [w, h],
                      "extent": extent}))
    window.close()
    return 0


def from_settings():
    """Starts the window over whatever settings file the test left; prints what it took from it."""
    app = QApplication.instance() or QApplication(["demo-window-session"])
    window = ViewerWindow(create_viewer())
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle(app, 100)
    out = {"size": [window.width(), window.height()],
           "dock_visible": window.findChild(QDockWidget).isVisible(),
           "recent": window.recent.paths(), "folder": last_folder(window.settings),
           "recent_menu": [action.text() for action in window.recent_menu.actions()
                           if action.text()],
           "count": window.count_label.text()}
    window.close()
    # What the window saves at exit takes the place of what it could not use.
    out["geometry_saved"] = read(open_settings(), GEOMETRY_KEY, BYTES, None) is not None
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    sessions = {"trihedron": trihedron_extent, "settings": from_settings}
    sys.exit(sessions[sys.argv[1]]() if sys.argv[1:] else main())
