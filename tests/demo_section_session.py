"""Drives the viewer window's view tools under X and reports what it observed (see
sessions.py): the section plane, the view cube, zoom to selection, isolate and Save Image.
"""

import os
import tempfile
from pathlib import Path

import numpy
from PySide6.QtCore import QPoint, Qt, QTimer
from PySide6.QtGui import QImage
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QApplication, QMessageBox

from morvik_viewer.app.settings import VIEW_CUBE, open_settings
from morvik_viewer.model.up_axis import Y_UP, Z_UP, to_view
from morvik_viewer.model.view_state import for_view, read_state, write_state
from morvik_viewer.window.save_image import SaveImageDialog
from pictures import view_pixels
from sessions import camera, click_at, on_screen, open_window, report, run_sessions, settle

SPHERE = (45.0, 0.0, 18.0)  # the sample sphere's centre, in the file's frame
SPHERE_TOP = (45.0, 18.0, 0.0)  # a point of the sample sphere as shown (Z-up, turned)
# The corner of the view the trihedron or the view cube takes, in device pixels a side.
TRIHEDRON_CORNER = 160


def pixels(window):
    """What the view shows, at the size it shows it, as rows of 8-bit (r, g, b)."""
    return view_pixels(window.viewer3d.view, window.view_widget.device_size())


def shape_mask(image):
    """Where something other than the background shows: the background is a vertical
    gradient, read off the right edge."""
    return numpy.abs(image - image[:, -1:, :]).max(axis=2) > 12


def off_corners(mask):
    """The mask without the corner where the trihedron or the view cube sits."""
    mask = mask.copy()
    mask[-TRIHEDRON_CORNER:, :TRIHEDRON_CORNER] = False
    return mask


def halves(window, row):
    """Shape pixels above and below a screen row, away from the corners."""
    mask = off_corners(shape_mask(pixels(window)))
    return [int(mask[:row - 3].sum()), int(mask[row + 3:].sum())]


def screen_row(window, model_point):
    return int(window.viewer3d.view.Convert(*to_view(window.state.up_axis, model_point))[1])


def brightness_spread(window, model_centre, radius):
    """The spread (standard deviation) of brightness over a disc about a model point."""
    image = pixels(window).sum(axis=2) / 3
    x, y = window.viewer3d.view.Convert(*to_view(window.state.up_axis, model_centre))
    ys, xs = numpy.ogrid[:image.shape[0], :image.shape[1]]
    disc = (xs - x) ** 2 + (ys - y) ** 2 <= radius ** 2
    return float(image[disc].std())


def panel_state(window):
    panel = window.section
    return {"shown": window.section_dock.isVisible(), "checked": window.section_action.isChecked(),
            "active": panel.is_active(), "axis": panel.axis(), "slider": panel.slider.value(),
            "flip": panel.flip.isChecked(), "capping": panel.capping.isChecked()}


def clip_plane(window):
    state = window.service.get_view_state()
    return state.get("clip_plane") if isinstance(state, dict) else "no state"


def section(app, window):
    from morvik.enums import ViewDirection

    out = {}
    service, panel = window.service, window.section
    service.set_projection(ViewDirection.FRONT)
    window.fit()
    settle(app)
    window.section_action.trigger()  # View > Section Plane: on, across model Z, halfway
    settle(app)
    cut = screen_row(window, (0.0, 0.0, panel.offset()))
    out["on"] = {**panel_state(window), "offset": panel.offset(), "plane": clip_plane(window),
                 "label": panel.offset_label.text(), "halves": halves(window, cut)}
    window.section_action.trigger()  # off, and the whole scene is back
    settle(app)
    out["before"] = {"halves": halves(window, cut), "plane": clip_plane(window)}
    window.section_action.trigger()
    panel.flip.setChecked(True)
    settle(app)
    out["flipped"] = {"halves": halves(window, cut), "plane": clip_plane(window)}

    # From the top, the sphere cut across its middle: a flat cap, or its hollow inside.
    panel.flip.setChecked(out["on"]["halves"][1] < out["flipped"]["halves"][1])  # keep the lower half
    service.set_projection(ViewDirection.TOP)
    window.fit()
    settle(app)
    spread = {}
    for capping in (True, False):
        panel.capping.setChecked(capping)
        settle(app)
        spread[capping] = brightness_spread(window, (SPHERE[0], SPHERE[1], panel.offset()), 25)
    out["spread"] = {"capped": spread[True], "open": spread[False]}

    # Many slider moves while one frame draws move the plane once, to the last.
    applied = panel.applied
    for value in range(100, 200, 10):
        panel.slider.setValue(value)
    settle(app)
    out["coalesced"] = {"planes": panel.applied - applied, "slider": panel.slider.value(),
                        "position": panel.position()}

    # A saved view carries the plane: restored, the panel shows it again.
    panel.axis_buttons.button(0).setChecked(True)
    panel.slider.setValue(300)
    panel.capping.setChecked(False)
    settle(app)
    saved_plane = clip_plane(window)
    path = os.path.join(tempfile.mkdtemp(), "view.json")
    write_state(path, service.get_view_state(), window.state.up_axis)
    saved_panel = panel_state(window)
    window.section_action.trigger()  # off: the plane goes
    settle(app)
    out["off"] = {**panel_state(window), "plane": clip_plane(window)}
    panel.axis_buttons.button(1).setChecked(True)
    panel.slider.setValue(800)
    window.show_scene(window.scenes.start_parts, for_view(read_state(path), window.state.up_axis))
    settle(app)
    out["restored"] = {"saved": saved_panel, "now": panel_state(window),
                       "saved_plane": saved_plane, "plane": clip_plane(window)}
    window.reload()  # F5 keeps it too
    settle(app)
    out["reloaded"] = {"now": panel_state(window), "plane": clip_plane(window)}
    # A state without a plane turns the panel off.
    state = dict(service.get_view_state(), clip_plane=None)
    window.show_scene(window.scenes.start_parts, state)
    settle(app)
    out["restored_without"] = {**panel_state(window), "plane": clip_plane(window)}
    return out


def cube_owners(window):
    """The view cube's box sides on screen: orientation name to a device point on it."""
    from OCP.AIS import AIS_ViewCube
    from OCP.V3d import V3d_TypeOfOrientation

    context, view = window.viewer3d.context, window.viewer3d.view
    width, height = window.view_widget.device_size()
    found = {}
    for y in range(0, height, 6):
        for x in list(range(0, 200, 6)) + list(range(width - 200, width, 6)):
            context.MoveTo(x, y, view, False)
            if not context.HasDetected():
                continue
            if not context.DetectedInteractive().IsKind("AIS_ViewCube"):
                continue
            orientation = context.DetectedOwner().MainOrientation()
            if AIS_ViewCube.IsBoxSide_s(orientation):
                found.setdefault(V3d_TypeOfOrientation(orientation).name, []).append((x, y))
    context.MoveTo(-1, -1, view, False)
    # The middle point of each side seen, the one least likely to sit on an edge.
    return {name: points[len(points) // 2] for name, points in found.items()}


def corner(window):
    """What the lower left corner shows: how many pixels differ from the background, and
    how many are of one pure primary colour (the trihedron's arrows; the cube has none)."""
    image = pixels(window)
    c = TRIHEDRON_CORNER
    part, drawn = image[-c:, :c], shape_mask(image)[-c:, :c]
    strong, weak = part.max(axis=2), numpy.sort(part, axis=2)[:, :, 1]
    return {"drawn": int(drawn.sum()), "primary": int(((strong > 150) & (weak < 100)).sum())}


def cube_axes(window):
    from OCP.Prs3d import Prs3d_DatumParts_XAxis, Prs3d_DatumParts_YAxis, Prs3d_DatumParts_ZAxis

    from morvik_viewer.view.view_cube import find_view_cube

    cube = find_view_cube(window.viewer3d.context)
    return [cube.AxisLabel(axis).ToCString()
            for axis in (Prs3d_DatumParts_XAxis, Prs3d_DatumParts_YAxis, Prs3d_DatumParts_ZAxis)]


def view_cube(app, window):
    from OCP.V3d import V3d, V3d_TypeOfOrientation

    from morvik.enums import ViewDirection

    window.service.set_projection(ViewDirection.ISO)
    window.fit()
    settle(app)
    out = {"off": corner(window)}
    window.view_cube_action.trigger()  # View > View Cube
    settle(app)
    out["on"] = {"corner": corner(window), "checked": window.view_cube_action.isChecked(),
                 "remembered": open_settings().value(VIEW_CUBE.key)}
    window.reload()
    settle(app, 200)
    out["reloaded"] = corner(window)

    out["sides"] = sorted(cube_owners(window))
    window.service.select_shapes(["sphere"])
    # Each side clicked, seen from ISO, turns the camera to look at it.
    view = window.viewer3d.view
    clicks = {}
    for name in ("V3d_Xpos", "V3d_Ypos", "V3d_Zpos"):
        window.service.set_projection(ViewDirection.ISO)
        settle(app)
        x, y = cube_owners(window)[name]
        ratio = window.view_widget.devicePixelRatioF()
        QTest.mouseClick(window.view_widget, Qt.LeftButton, Qt.NoModifier,
                         QPoint(int(x / ratio), int(y / ratio)))
        for _ in range(50):  # the turn is animated
            settle(app, 40)
        eye = V3d.GetProjAxis_s(getattr(V3d_TypeOfOrientation, name))
        clicks[name] = {"direction": camera(view).direction,
                        "expected": [-eye.X(), -eye.Y(), -eye.Z()],
                        "selection": window.view_widget.selected_shape_ids()}
    out["clicks"] = clicks
    # Another up axis names the cube's axes anew and keeps the trihedron away.
    labels = {}
    for up in (Y_UP, Z_UP):
        window.set_up_axis(up, remember=False)
        settle(app)
        labels[up] = {"axes": cube_axes(window), "corner": corner(window)}
    out["up_axes"] = labels
    window.set_view_cube(False)
    settle(app)
    out["back_off"] = corner(window)
    window.set_view_cube(True)  # left on for the next window
    return out


def selection_tools(app, window):
    from morvik.enums import ViewDirection

    out = {}
    service, view, widget = window.service, window.viewer3d.view, window.view_widget
    service.set_projection(ViewDirection.ISO)
    window.fit()
    settle(app)
    before = view.Camera().Scale()  # the height the view shows
    out["picked"] = click_at(window, SPHERE_TOP)
    window.activateWindow()
    widget.setFocus()
    settle(app)
    QTest.keyClick(widget, Qt.Key_Z)  # View > Zoom to Selection
    settle(app)
    width, height = widget.device_size()
    centre = view.Convert(*SPHERE_TOP)
    out["zoom"] = {"before": before, "after": view.Camera().Scale(),
                   "sphere_from_centre": [centre[0] / width - 0.5, centre[1] / height - 0.5]}
    window.fit()
    QTest.keyClick(widget, Qt.Key_I)  # View > Isolate Selected
    settle(app)
    shapes = service.get_all_shapes()
    context = window.viewer3d.context
    out["isolated"] = {shape_id: [info.visible, service.is_shape_visible(shape_id),
                                  context.IsDisplayed(info.ais_shape)]
                       for shape_id, info in shapes.items()}
    out["isolated_count"] = window.count_label.text()
    QTest.keyClick(widget, Qt.Key_H, Qt.ShiftModifier)  # View > Show All
    settle(app)
    out["shown"] = {shape_id: [info.visible, service.is_shape_visible(shape_id),
                               context.IsDisplayed(info.ais_shape)]
                    for shape_id, info in service.get_all_shapes().items()}
    out["shown_count"] = window.count_label.text()
    QTest.keyClick(widget, Qt.Key_Escape)
    QTest.keyClick(widget, Qt.Key_I)  # nothing selected: nothing changes
    settle(app)
    out["isolate_nothing"] = window.count_label.text()
    return out


def close_message_boxes(seen):
    for widget in QApplication.topLevelWidgets():
        if isinstance(widget, QMessageBox) and widget.isVisible():
            seen.append(widget.text())
            widget.close()


def save_images(app, window):
    out = {}
    folder = tempfile.mkdtemp()
    sized = window.save_image(os.path.join(folder, "small.png"), (320, 200))
    image = QImage(str(sized))
    out["sized"] = [image.width(), image.height(), image.format() != QImage.Format_Invalid]
    jpeg = window.save_image(os.path.join(folder, "small.jpg"), (160, 100))
    image = QImage(str(jpeg))
    out["jpeg"] = [image.width(), image.height(), Path(jpeg).read_bytes()[:2] == b"\xff\xd8"]

    # At the view's size, the file shows what the screen shows.
    whole = window.save_image(os.path.join(folder, "whole.png"))
    settle(app, 100)
    saved = QImage(str(whole)).convertToFormat(QImage.Format_RGB888)
    screen = on_screen(app, window.view_widget).convertToFormat(QImage.Format_RGB888)
    out["whole"] = {"size": [saved.width(), saved.height()],
                    "view": list(window.view_widget.device_size()),
                    "differing": differing_share(saved, screen)}

    # Refused: the user is told, and nothing is written (nor does a FIFO hold the window).
    os.mkfifo(os.path.join(folder, "fifo.png"))
    os.symlink("/dev/full", os.path.join(folder, "full.png"))
    for name, size in (("missing/folder/x.png", None), ("x.gif", None), ("x.png", (0, 10)),
                       ("x.png", (100000, 10)), ("nul\0/x.png", None), ("x.png", "big"),
                       ("fifo.png", None), ("full.png", None)):
        seen = []
        QTimer.singleShot(300, lambda seen=seen: close_message_boxes(seen))
        result = window.save_image(os.path.join(folder, name), size)
        out.setdefault("refused", []).append({"result": result, "told": seen})

    # The dialog: a size and a name typed in.
    def fill():
        dialog = next(w for w in QApplication.topLevelWidgets()
                      if isinstance(w, SaveImageDialog) and w.isVisible())
        out["dialog_default"] = list(dialog.image_size())
        out["dialog_path"] = dialog.path()  # where the last image went
        dialog.path_edit.setText(os.path.join(folder, "typed"))
        dialog.width_box.setValue(200)
        dialog.height_box.setValue(150)
        dialog.accept()

    QTimer.singleShot(300, fill)
    window.save_image_dialog()
    typed = QImage(os.path.join(folder, "typed.png"))
    out["dialog"] = [typed.width(), typed.height()]
    out["view_size"] = list(window.view_widget.device_size())
    out["folder"] = folder
    out["left"] = sorted(os.listdir(folder))
    return out


def differing_share(first, second):
    def rows(image):
        data = numpy.frombuffer(image.constBits(), numpy.uint8)
        data = data.reshape(image.height(), image.bytesPerLine())
        return data[:, :image.width() * 3].reshape(image.height(), image.width(), 3).astype(int)

    if (first.width(), first.height()) != (second.width(), second.height()):
        return 1.0
    return float((numpy.abs(rows(first) - rows(second)).max(axis=2) > 24).mean())


def main():
    app, window = open_window()
    out = {"section": section(app, window), "view_cube": view_cube(app, window),
           "selection": selection_tools(app, window), "images": save_images(app, window)}
    window.close()
    return report(out)


def restarted():
    """A window started over the settings the last one left: is the view cube on?"""
    _app, window = open_window()
    out = {"checked": window.view_cube_action.isChecked(), "corner": corner(window)}
    window.close()
    return report(out)


if __name__ == "__main__":
    run_sessions({"restarted": restarted}, main)
