"""Takes the README's pictures of the viewer's tools: docs/section.png, docs/viewcube.png,
docs/tree.png and docs/measure.png, each a grab of the whole window on an X screen.

    .venv/bin/python scripts/doc_pictures.py                  # all four, into docs/
    .venv/bin/python scripts/doc_pictures.py section viewcube --out /tmp

Without a display it starts Xvfb; the window keeps its settings in a folder of its own,
so the user's are neither read nor changed.
"""

import argparse
import os
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
PICTURES = ("section", "viewcube", "tree", "measure")
SIZE = (1100, 720)


def settle(app, ms=300):
    from PySide6.QtTest import QTest

    app.processEvents()
    QTest.qWait(ms)


def grab(app, window, path):
    settle(app)
    frame = window.frameGeometry()
    shot = app.primaryScreen().grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
    if not shot.save(str(path)):
        raise SystemExit(f"cannot write {path}")
    print(f"wrote {path}")


def device_point(window, model_point):
    from morvik_viewer.model.up_axis import to_view

    return [int(c) for c in window.viewer3d.view.Convert(*to_view(window.state.up_axis, model_point))]


def show_sample(app, window):
    from morvik.enums import ViewDirection
    from morvik_viewer.cad.shapes import sample_parts

    window.show_scene(sample_parts())
    window.service.set_projection(ViewDirection.ISO)
    window.fit()
    settle(app)


def set_dock(window, name, shown):
    dock = getattr(window, name, None)
    if dock is not None:
        dock.setVisible(shown)


def section(app, window):
    show_sample(app, window)
    set_dock(window, "tree_dock", False)
    window.section_dock.show()  # View > Section Plane
    panel = window.section
    panel.axis_buttons.button(2).setChecked(True)  # across the model's Z, under its middle
    panel.slider.setValue(450)
    panel.apply()
    window.view_widget.clear_selection()


def viewcube(app, window):
    show_sample(app, window)
    window.section_dock.hide()
    set_dock(window, "tree_dock", False)
    window.set_view_cube(True, remember=False)
    window.service.select_shapes(["torus"])


def tree(app, window):
    sys.path.insert(0, str(ROOT / "tests"))
    from PySide6.QtTest import QTest

    from assemblies import write_assembly

    window.section_dock.hide()
    window.set_view_cube(False, remember=False)
    path = Path(tempfile.mkdtemp()) / "rig.step"
    write_assembly(path, parts=40, row=8)
    window.open_files([path])
    while window.scenes.load is not None:
        QTest.qWait(50)
    set_dock(window, "tree_dock", True)
    settle(app)
    names = sorted(window.service.get_all_shapes())
    window.service.select_shapes(names[len(names) // 2:len(names) // 2 + 1])
    window.view_widget.selection_changed.emit(names[len(names) // 2])


def measure(app, window):
    tool = getattr(window, "measure", None)
    if tool is None:
        raise SystemExit("this viewer has no measure tool")
    show_sample(app, window)
    set_dock(window, "tree_dock", False)
    tool.set_active(True)
    # The cylinder's top face, then the box's: a diameter, then a distance and an angle.
    for point in ((5.0, 5.0, 40.0), (-45.0, 0.0, 30.0)):
        tool.click(*device_point(window, point))
        settle(app, 100)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pictures", nargs="*", choices=[[], *PICTURES], default=[],
                        help="which pictures (default: all)")
    parser.add_argument("--out", type=Path, default=ROOT / "docs", help="the folder to write to")
    args = parser.parse_args(argv)
    os.environ["QT_QPA_PLATFORM"] = "xcb"
    os.environ.setdefault("LIBGL_ALWAYS_SOFTWARE", "1")
    os.environ["XDG_CONFIG_HOME"] = tempfile.mkdtemp(prefix="morvik-doc-pictures-")
    if not os.environ.get("DISPLAY"):
        from morvik_viewer.app.display import start_virtual_display

        start_virtual_display()

    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QApplication

    from morvik_viewer.cad.shapes import sample_parts
    from morvik_viewer.view.graphics import create_viewer3d
    from morvik_viewer.window.main_window import ViewerWindow

    app = QApplication.instance() or QApplication(["morvik-viewer"])
    window = ViewerWindow(create_viewer3d())
    window.resize(*SIZE)
    window.move(0, 0)
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle(app)
    steps = {"section": section, "viewcube": viewcube, "tree": tree, "measure": measure}
    for name in args.pictures or PICTURES:
        steps[name](app, window)
        grab(app, window, args.out / f"{name}.png")
    window.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
