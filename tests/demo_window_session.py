"""Drives the real viewer window under X and prints what it observed as JSON.

Run as a script in its own process with QT_QPA_PLATFORM=xcb: the OCCT view
renders into the widget's native X window, which the offscreen platform that
the rest of the suite uses cannot give. OCP is imported only where a session
needs it: the start-up session watches the window show before it loads.
"""

import json
import logging
import os
import signal
import sys
import tempfile

from PySide6 import QtWidgets
from PySide6.QtCore import QEvent, QObject, QPoint, QPointF, Qt, QTimer
from PySide6.QtGui import QImage, QWheelEvent
from PySide6.QtTest import QTest
from PySide6.QtWidgets import (QApplication, QComboBox, QDockWidget, QLabel, QMainWindow,
                               QPushButton, QSlider)

from morvik_viewer.interrupt import quit_on_interrupt
from morvik_viewer.settings import (BYTES, GEOMETRY_KEY, last_folder, open_settings, read,
                                    remembered_up)
from morvik_viewer.up_axis import Y_UP, Z_UP, from_view, to_view
from morvik_viewer.view_state import for_view, read_state, restore, write_state
from morvik_viewer.window import STARTING_TEXT, ViewerWindow


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
    return {name: list(image.pixelColor(*window.viewer3d.view.Convert(*xyz)).getRgb()[:3])
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
    px, py = window.viewer3d.view.Convert(*xyz)
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


def agreement(window):
    """Display mode, projection type and transparency as the menus, the toolbar and the
    service each show them."""
    state = window.service.get_view_state()
    checked = [value for actions in (window.display_mode_actions, window.projection_actions)
               for value, action in actions.items() if action.isChecked()]
    toolbar = window.toolbar
    return {"menus": checked,
            "toolbar": [toolbar.get_display_mode(), toolbar.get_projection_type(),
                        toolbar.get_transparency()],
            "service": [state["display_mode"], state["camera"]["projection"],
                        state["transparency"]]}


def main():
    from morvik_viewer.scene import sample_parts
    from morvik_viewer.viewer import create_viewer3d

    app = QApplication.instance() or QApplication(["demo-window-session"])
    viewer3d = create_viewer3d()
    window = ViewerWindow(viewer3d)
    window.resize(900, 600)
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle(app, 200)

    view, context, service, toolbar = viewer3d.view, viewer3d.context, viewer3d.service, window.toolbar
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

    # The menus, the toolbar and the service agree after a change from each side, and
    # after a restored view state, which keeps its camera and its finer transparency.
    agree = {}
    QTest.keyClick(display, Qt.Key_Up)  # the toolbar: both -> shaded
    settle(app)
    agree["toolbar"] = agreement(window)
    window.projection_actions["perspective"].trigger()
    settle(app)
    agree["menu"] = agreement(window)
    state = dict(service.get_view_state(), display_mode="wireframe", transparency=0.255)
    state["camera"] = dict(state["camera"], projection="orthographic", scale=123.0)
    window.show_scene(window._start_parts, state)
    settle(app)
    agree["restore"] = {**agreement(window), "scale": view.Camera().Scale()}
    out["agree"] = agree

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
    from morvik_viewer.scene import sample_parts
    from morvik_viewer.viewer import create_viewer3d

    app = QApplication.instance() or QApplication(["demo-window-session"])
    viewer3d = create_viewer3d()
    window = ViewerWindow(viewer3d)
    window.findChild(QDockWidget).hide()  # a small window fits the screen at twice the scale
    window.resize(420, 320)
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    for shape_id in viewer3d.service.get_all_shapes():
        viewer3d.service.set_shape_visibility(shape_id, False)
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
    from morvik_viewer.scene import sample_parts
    from morvik_viewer.viewer import create_viewer3d

    app = QApplication.instance() or QApplication(["demo-window-session"])
    window = ViewerWindow(create_viewer3d())
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle(app, 100)
    out = {"size": [window.width(), window.height()],
           "dock_visible": window.findChild(QDockWidget).isVisible(),
           "recent": window.recent.paths(), "folder": last_folder(window.settings),
           "recent_menu": [action.text() for action in window.recent_menu.actions()
                           if action.text()],
           "count": window.count_label.text(), "up": window.up_axis}
    window.close()
    # What the window saves at exit takes the place of what it could not use.
    out["geometry_saved"] = read(open_settings(), GEOMETRY_KEY, BYTES, None) is not None
    print(json.dumps(out))
    return 0


def startup():
    """Runs the viewer's command line on the sample scene, noting what the window holds at its
    first paint and whether OCP had loaded by then. Once the scene is in, writes to the
    terminal as native code does and as the viewer does, then closes the window."""
    from morvik_viewer import cli

    seen = {}

    def scene_in(window):
        if window.service is None or not window.service.get_shape_count():
            QTimer.singleShot(20, lambda: scene_in(window))
            return
        from OCP.Message import Message, Message_Warning
        from OCP.TCollection import TCollection_AsciiString

        Message.DefaultMessenger_s().Send(TCollection_AsciiString("occt-noise"), Message_Warning)
        os.write(1, b"native-out-noise\n")
        os.write(2, b"native-err-noise\n")
        print("own-out-message")
        print("own-err-message", file=sys.stderr)
        logging.getLogger("morvik_viewer").warning("own-log-message")
        seen.update(shapes=window.service.get_shape_count(), title=window.windowTitle(),
                    toolbar_enabled_later=window.toolbar.isEnabled())
        window.close()

    class FirstPaint(QObject):
        def eventFilter(self, watched, event):
            window = watched.window() if isinstance(watched, QtWidgets.QWidget) else None
            if event.type() == QEvent.Paint and not seen and isinstance(window, ViewerWindow):
                page = window.central.currentWidget()
                seen.update(ocp_loaded=any(name.startswith("OCP") for name in sys.modules),
                            menus=[action.text() for action in window.menuBar().actions()],
                            toolbar_enabled=window.toolbar.isEnabled(),
                            dock_visible=window.dock.isVisible(),
                            status_bar=window.statusBar().isVisible(),
                            page=page.text() if isinstance(page, QLabel) else None)
                QTimer.singleShot(20, lambda: scene_in(window))
            return False

    base = QtWidgets.QApplication

    class WatchedApplication(base):
        def __init__(self, *args):
            base.__init__(self, *args)
            self.first_paint = FirstPaint()
            self.installEventFilter(self.first_paint)

    QtWidgets.QApplication = WatchedApplication  # the command line makes its application
    seen["status"] = cli.main([])
    print(json.dumps(seen))
    return 0


# A Z-up board as EDA tools export it, in the file's own frame: a thin board face up, a
# chip towards its back right corner, a tall header on its front (-Y) edge.
BOARD, CHIP, HEADER = (0.05, 0.45, 0.15), (0.1, 0.1, 0.1), (0.9, 0.7, 0.1)
BOARD_FACE, CHIP_TOP = (-20.0, 5.0, 1.6), (30.0, 17.5, 4.0)
HEADER_TOP, HEADER_FOOT = (-25.0, -28.0, 10.0), (-25.0, -28.0, 1.6)


def board_parts():
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
    from OCP.gp import gp_Pnt

    from morvik_viewer.scene import Part

    def box(corner, size):
        return BRepPrimAPI_MakeBox(gp_Pnt(*corner), *size).Shape()

    return [Part("board", box((-50, -30, 0), (100, 60, 1.6)), BOARD),
            Part("chip", box((20, 10, 1.6), (20, 15, 2.4)), CHIP),
            Part("header", box((-40, -28, 1.6), (30, 5, 8.4)), HEADER)]


def where(window, point):
    """Where a point of the file shows, in device pixels."""
    return list(window.viewer3d.view.Convert(*to_view(window.up_axis, point)))


def looking(window):
    """The camera's direction and up, in the file's frame."""
    camera = window.viewer3d.view.Camera()
    d, u = camera.Direction(), camera.Up()
    return {"looks": [round(c, 9) for c in from_view(window.up_axis, (d.X(), d.Y(), d.Z()))],
            "up": [round(c, 9) for c in from_view(window.up_axis, (u.X(), u.Y(), u.Z()))]}


def trihedron_names(window):
    from OCP.V3d import V3d_X, V3d_Y, V3d_Z

    trihedron = window.viewer3d.view.Trihedron(False)
    return [trihedron.Label(axis).ToCString() for axis in (V3d_X, V3d_Y, V3d_Z)]


def upright():
    """The board under Z-up (the default) and Y-up: the standard views, a click, the switch
    between the two, a saved view restored under the other axis, and a file opened."""
    from OCP.BRepTools import BRepTools

    from morvik_viewer.scene import compound
    from morvik_viewer.viewer import create_viewer3d

    app = QApplication.instance() or QApplication(["demo-window-session"])
    window = ViewerWindow(create_viewer3d())
    window.resize(900, 600)
    window.show()
    parts = board_parts()
    window.start(parts)
    QTest.qWaitForWindowExposed(window)
    settle(app, 200)
    service, toolbar = window.service, window.toolbar
    out = {"up_at_start": window.up_axis, "trihedron": trihedron_names(window)}

    QTest.mouseClick(button(toolbar, "Top"), Qt.LeftButton)
    settle(app)
    out["top"] = {**looking(window), "face": colours_at(app, window, {
        "board": to_view(window.up_axis, BOARD_FACE)})["board"],
        "board": where(window, BOARD_FACE), "chip": where(window, CHIP_TOP)}
    out["pick_chip"] = click_at_model_point(window, to_view(window.up_axis, CHIP_TOP))
    QTest.mouseClick(button(toolbar, "Front"), Qt.LeftButton)
    settle(app)
    out["front"] = {**looking(window), "header_top": where(window, HEADER_TOP),
                    "header_foot": where(window, HEADER_FOOT)}

    shown = {part.shape_id: service.get_shape_info(part.shape_id).ais_shape for part in parts}
    window.up_actions[Y_UP].trigger()  # View > Up Axis > Y Up
    settle(app)
    out["switched"] = {
        "same_presentations": all(service.get_shape_info(shape_id).ais_shape is ais
                                  for shape_id, ais in shown.items()),
        "turned": [ais.HasTransformation() for ais in shown.values()],
        "loading": window._load is not None, "checked": window.up_actions[Y_UP].isChecked(),
        "remembered": remembered_up(open_settings()), "next_window": ViewerWindow().up_axis,
        "trihedron": trihedron_names(window), **looking(window)}

    # A view saved under Z-up shows the same picture restored under Y-up.
    window.set_up_axis(Z_UP)
    service.set_projection(next(d for d in type(window.direction) if d.value == "iso"))
    service.zoom(1.4)
    service.pan(40, -25)
    points = [BOARD_FACE, CHIP_TOP, HEADER_TOP]
    before = [where(window, p) for p in points]
    path = os.path.join(tempfile.mkdtemp(), "view.json")
    write_state(path, service.get_view_state(), window.up_axis)
    window.set_up_axis(Y_UP)
    moved = [where(window, p) for p in points]
    restored = restore(service, for_view(read_state(path), window.up_axis))
    settle(app)
    out["state"] = {"restored": restored, "before": before, "moved": moved,
                    "after": [where(window, p) for p in points],
                    "saved_up": json.load(open(path))["up_axis"]}

    # A file opened under Z-up: each batch the load shows is turned before it is drawn.
    window.set_up_axis(Z_UP)
    board = compound(part.shape for part in parts)
    brep = os.path.join(os.path.dirname(path), "board.brep")
    BRepTools.Write_s(board, brep)
    window.open_files([brep])
    while window._load is not None:
        QTest.qWait(20)
    settle(app)
    infos = service.get_all_shapes().values()
    out["opened"] = {"count": len(infos),
                     "turned": all(info.ais_shape.HasTransformation() for info in infos),
                     **looking(window)}
    window.close()
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    sessions = {"trihedron": trihedron_extent, "settings": from_settings, "startup": startup,
                "upright": upright}
    sys.exit(sessions[sys.argv[1]]() if sys.argv[1:] else main())
