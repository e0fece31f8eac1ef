"""Drives the real viewer window under X and reports what it observed (see sessions.py).

OCP is imported only where a session needs it: the start-up session watches the window
show before it loads.
"""

import json
import logging
import os
import signal
import sys
import tempfile
from pathlib import Path
from types import SimpleNamespace

from PySide6 import QtWidgets
from PySide6.QtCore import QEvent, QObject, QPoint, QPointF, Qt, QTimer
from PySide6.QtGui import QImage, QWheelEvent
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QApplication, QComboBox, QDockWidget, QLabel, QPushButton, QSlider

from morvik_viewer.app.interrupt import quit_on_interrupt
from morvik_viewer.app.settings import GEOMETRY, UP, last_folder, load, open_settings
from morvik_viewer.model.up_axis import Y_UP, Z_UP, from_view, to_view
from morvik_viewer.model.view_state import for_view, read_state, restore, write_state
from morvik_viewer.window.main_window import ViewerWindow
from sessions import (
    camera,
    click_at,
    colours_at,
    drop_files,
    on_screen,
    open_window,
    report,
    run_sessions,
    run_viewer,
    settle,
    wait_until,
)


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
    app, window = open_window()
    viewer3d = window.viewer3d
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

    out["pick_sphere"] = click_at(window, (45.0, 18.0, 0.0))
    window.view_widget.setFocus()

    def sphere_shown():
        return {"sphere_visible": service.is_shape_visible("sphere"),
                "sphere_displayed": context.IsDisplayed(service.get_shape_info("sphere").ais_shape),
                "count": window.count_label.text()}

    QTest.keyClick(window.view_widget, Qt.Key_H)
    settle(app)
    out["after_hide"] = {**sphere_shown(), "selection": window.selection_label.text()}
    QTest.keyClick(window.view_widget, Qt.Key_H, Qt.ShiftModifier)
    settle(app)
    out["after_show_all"] = sphere_shown()
    torus, sphere = (30.0 + 16.0, 0.0, 50.0), (45.0, 18.0, 0.0)
    out["pick_torus"] = click_at(window, torus)
    out["pick_shift_sphere"] = click_at(window, sphere, Qt.ShiftModifier)
    out["pick_ctrl_torus"] = click_at(window, torus, Qt.ControlModifier)
    QTest.keyClick(window.view_widget, Qt.Key_Escape)
    settle(app)
    out["after_escape"] = window.selection_label.text()
    corner = QPoint(3, window.view_widget.height() // 2)
    QTest.mouseClick(window.view_widget, Qt.LeftButton, Qt.NoModifier, corner)
    out["pick_background"] = window.selection_label.text()

    widget = window.view_widget
    middle = QPoint(widget.width() // 2, widget.height() // 2)
    before = camera(view)
    # The drag's moves in one frame, its clock standing still: buffered, the last one sent
    # as the pointer is released.
    view_widget = sys.modules[type(widget).__module__]  # loaded with OCP, by the window
    rotation, sent, clock = widget._gestures["rotation"], [], view_widget.time
    follow = rotation.follow
    rotation.follow = lambda point: (sent.append([point.x(), point.y()]), follow(point))
    view_widget.time = SimpleNamespace(perf_counter=lambda: 1000.0)
    try:
        drag(widget, Qt.LeftButton, middle, middle + QPoint(80, 30))
    finally:
        rotation.follow, view_widget.time = follow, clock
    settle(app)
    out["rotation"] = {"before": before, "after": camera(view), "sent": sent,
                       "end": [widget.device_point(middle + QPoint(80, 30)).x(),
                               widget.device_point(middle + QPoint(80, 30)).y()],
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
    window.show_scene(window.scenes.start_parts, state)
    settle(app)
    agree["restore"] = {**agreement(window), "scale": view.Camera().Scale()}
    out["agree"] = agree

    # Ctrl+C while the event loop runs closes the window, which keeps its geometry.
    quit_on_interrupt(app)
    QTimer.singleShot(50, lambda: os.kill(os.getpid(), signal.SIGINT))
    QTimer.singleShot(60000, lambda: app.exit(1))  # the signal went unnoticed: fail, not hang
    status = app.exec()
    out["interrupted"] = {"status": status, "window_open": window.isVisible(),
                          "geometry_kept": open_settings().contains(GEOMETRY.key)}
    return report(out)


def trihedron_extent():
    """Shows the window with every shape hidden; prints the size of what remains drawn
    (the trihedron with its labels) in device pixels."""
    # Without its dock, a small window fits the screen at twice the scale.
    app, window = open_window(size=(420, 320), dock=False)
    for shape_id in window.service.get_all_shapes():
        window.service.set_shape_visibility(shape_id, False)
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
    window.close()
    return report({"ratio": window.view_widget.devicePixelRatioF(), "image": [w, h],
                   "extent": extent})


def from_settings():
    """Starts the window over whatever settings file the test left; prints what it took from it."""
    _app, window = open_window(size=None)
    out = {"size": [window.width(), window.height()],
           "dock_visible": window.findChild(QDockWidget).isVisible(),
           "recent": window.recent.paths(), "folder": last_folder(window.settings),
           "recent_menu": [action.text() for action in window.recent_menu.actions()
                           if action.text()],
           "count": window.count_label.text(), "up": window.state.up_axis}
    window.close()
    # What the window saves at exit takes the place of what it could not use.
    out["geometry_saved"] = not load(open_settings(), GEOMETRY).isEmpty()
    return report(out)


def startup():
    """Runs the viewer's command line on the sample scene, noting what the window holds at its
    first paint and whether OCP had loaded by then. Once the scene is in, writes to the
    terminal as native code does and as the viewer does, then closes the window."""
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

    def watch(app):
        app.first_paint = FirstPaint()
        app.installEventFilter(app.first_paint)

    seen["status"] = run_viewer(watch)
    return report(seen)


def while_loading(then="drop"):
    """Runs the viewer's command line on the sample scene and, once OCP's init is under way
    behind the window (its package begun, its extension not yet in), notes that the event
    loop answers, then drops a file on the window or (with "quit") presses Ctrl+Q. Notes
    what the window shows once its view is in, or how the run ended."""
    quit_early = then == "quit"
    plate = os.path.join(os.path.dirname(os.path.abspath(__file__)), "files", "plate.step")
    seen = {"answers_while_loading": 0}

    def tick():
        window = next((w for w in QApplication.topLevelWidgets() if isinstance(w, ViewerWindow)
                       and w.isVisible()), None)
        if window is None:
            return
        if "active" not in seen:
            seen["active"] = False
            window.activateWindow()  # for its shortcuts
        if "OCP" in sys.modules and "OCP.OCP" not in sys.modules:  # OCP's init is running
            seen["answers_while_loading"] += 1
            seen["active"] = QApplication.activeWindow() is window
            if seen["answers_while_loading"] >= 2 and "view_then" not in seen and (
                    seen["active"] or not quit_early):  # the loop has gone round meanwhile
                seen["view_then"] = window.service is not None
                if quit_early:
                    QTest.keyClick(window, Qt.Key_Q, Qt.ControlModifier)
                else:
                    seen["drop_accepted"] = drop_files(window, [plate])
        elif (window.service is not None and window.scenes.load is None
              and window.service.get_shape_count()):
            seen.update(paths=[os.path.basename(p) for p in window.scenes.paths],
                        title=window.windowTitle())
            window.close()  # the scene is in (which a quit should have kept from showing)

    def watch(app):
        app.probe = QTimer()
        app.probe.setInterval(1)
        app.probe.timeout.connect(tick)
        app.probe.start()

    seen["status"] = run_viewer(watch)
    seen["ocp_loaded"] = "OCP.OCP" in sys.modules
    return report(seen)


# A Z-up board as EDA tools export it, in the file's own frame: a thin board face up, a
# chip towards its back right corner, a tall header on its front (-Y) edge.
BOARD, CHIP, HEADER = (0.05, 0.45, 0.15), (0.1, 0.1, 0.1), (0.9, 0.7, 0.1)
BOARD_FACE, CHIP_TOP = (-20.0, 5.0, 1.6), (30.0, 17.5, 4.0)
HEADER_TOP, HEADER_FOOT = (-25.0, -28.0, 10.0), (-25.0, -28.0, 1.6)


def board_parts():
    from conftest import box
    from morvik_viewer.model.parts import Part

    return [Part("board", box(100, 60, 1.6, at=(-50, -30, 0)), BOARD),
            Part("chip", box(20, 15, 2.4, at=(20, 10, 1.6)), CHIP),
            Part("header", box(30, 5, 8.4, at=(-40, -28, 1.6)), HEADER)]


def where(window, point):
    """Where a point of the file shows, in device pixels."""
    return list(window.viewer3d.view.Convert(*to_view(window.state.up_axis, point)))


def looking(window):
    """The camera's direction and up, in the file's frame."""
    camera = window.viewer3d.view.Camera()
    d, u = camera.Direction(), camera.Up()
    return {"looks": [round(c, 9) for c in from_view(window.state.up_axis, (d.X(), d.Y(), d.Z()))],
            "up": [round(c, 9) for c in from_view(window.state.up_axis, (u.X(), u.Y(), u.Z()))]}


def trihedron_names(window):
    from OCP.V3d import V3d_X, V3d_Y, V3d_Z

    trihedron = window.viewer3d.view.Trihedron(False)
    return [trihedron.Label(axis).ToCString() for axis in (V3d_X, V3d_Y, V3d_Z)]


def upright():
    """The board under Z-up (the default) and Y-up: the standard views, a click, the switch
    between the two, a saved view restored under the other axis, and a file opened."""
    from OCP.BRepTools import BRepTools

    from morvik_viewer.cad.shapes import compound

    parts = board_parts()
    app, window = open_window(parts)
    service, toolbar = window.service, window.toolbar
    out = {"up_at_start": window.state.up_axis, "trihedron": trihedron_names(window)}

    QTest.mouseClick(button(toolbar, "Top"), Qt.LeftButton)
    settle(app)
    out["top"] = {**looking(window), "face": colours_at(app, window, {
        "board": to_view(window.state.up_axis, BOARD_FACE)})["board"],
        "board": where(window, BOARD_FACE), "chip": where(window, CHIP_TOP)}
    out["pick_chip"] = click_at(window, to_view(window.state.up_axis, CHIP_TOP))
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
        "loading": window.scenes.load is not None, "checked": window.up_actions[Y_UP].isChecked(),
        "remembered": load(open_settings(), UP), "next_window": ViewerWindow().state.up_axis,
        "trihedron": trihedron_names(window), **looking(window)}

    # A view saved under Z-up shows the same picture restored under Y-up.
    window.set_up_axis(Z_UP)
    service.set_projection(next(d for d in type(window.direction) if d.value == "iso"))
    service.zoom(1.4)
    service.pan(40, -25)
    points = [BOARD_FACE, CHIP_TOP, HEADER_TOP]
    before = [where(window, p) for p in points]
    path = os.path.join(tempfile.mkdtemp(), "view.json")
    write_state(path, service.get_view_state(), window.state.up_axis)
    window.set_up_axis(Y_UP)
    moved = [where(window, p) for p in points]
    restored = restore(service, for_view(read_state(path), window.state.up_axis))
    settle(app)
    out["state"] = {"restored": restored, "before": before, "moved": moved,
                    "after": [where(window, p) for p in points],
                    "saved_up": json.loads(Path(path).read_text())["up_axis"]}

    # A file opened under Z-up: each batch the load shows is turned before it is drawn.
    window.set_up_axis(Z_UP)
    board = compound(part.shape for part in parts)
    brep = os.path.join(os.path.dirname(path), "board.brep")
    BRepTools.Write_s(board, brep)
    window.open_files([brep])
    wait_until(lambda: window.scenes.load is None, 20)
    settle(app)
    infos = service.get_all_shapes().values()
    out["opened"] = {"count": len(infos),
                     "turned": all(info.ais_shape.HasTransformation() for info in infos),
                     **looking(window)}
    window.close()
    return report(out)


if __name__ == "__main__":
    run_sessions({"trihedron": trihedron_extent, "settings": from_settings, "startup": startup,
                  "upright": upright, "loading": while_loading}, main)
