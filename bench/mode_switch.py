"""How long a display-mode change holds the window, against a plain OCP script.

A view widget and the toolbar, wired as the viewer wires them (wiring: the
switch runs in slices), show a scene; the toolbar is then set to each mode
in turn (shaded -> both -> shaded -> wireframe -> shaded). For each change: the
time until the scene shows the new mode, and the longest gap between the ticks
of a 5 ms timer (the stall). The same changes through the service's one call
(set_display_mode), and a plain script on a context of its own (face boundary
flag or context mode, RecomputePrsOnly for each shape, one update), are timed
on the same shapes. Runs on Qt's xcb platform, on an Xvfb of its own when
DISPLAY is unset.

    python bench/mode_switch.py                  # 50 parts of ~5,700 triangles, one of ~350,000
"""

import argparse
import datetime
import os
import sys
import time
from pathlib import Path

from scene import ensure_display, machine_facts, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the stall meter

CHANGES = ("both", "shaded", "wireframe", "shaded")
TARGET_STALL_S = 0.1


def torus_parts(count, deflection, angle):
    from OCP.BRepMesh import BRepMesh_IncrementalMesh
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeTorus
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt

    shapes = []
    for i in range(count):
        at = gp_Pnt((i % 10) * 30.0, 0.0, (i // 10) * 30.0)
        shape = BRepPrimAPI_MakeTorus(gp_Ax2(at, gp_Dir(0.0, 1.0, 0.0)), 10.0, 4.0).Shape()
        BRepMesh_IncrementalMesh(shape, deflection, False, angle)
        shapes.append(shape)
    return shapes


def window_changes(app, shapes):
    """(seconds, longest stall) of each change through the toolbar, in the sliced switch."""
    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QHBoxLayout, QWidget

    from morvik.enums import DisplayMode
    from morvik.widgets.panelor import Panelor
    from morvik_viewer.model.up_axis import Y_UP
    from morvik_viewer.model.view_state import ViewState
    from morvik_viewer.view.fit import fit_view
    from morvik_viewer.view.graphics import create_viewer3d, start_scene
    from morvik_viewer.view.widget import OcctViewWidget
    from morvik_viewer.window.wiring import connect_service, connect_toolbar
    from stalls import StallMeter

    viewer3d = create_viewer3d()
    service = viewer3d.service
    window = QWidget()
    canvas = OcctViewWidget(service, viewer3d.connection)
    toolbar = Panelor(window, "vertical")
    layout = QHBoxLayout(window)
    layout.addWidget(canvas, 1)
    layout.addWidget(toolbar)
    messages, settings = [], ViewState()
    connect_toolbar(toolbar, settings)
    connect_service(service, settings, toolbar, messages.append)
    window.resize(1000, 700)
    window.show()
    QTest.qWaitForWindowExposed(window)
    start_scene(service, Y_UP, settings.projection_type, settings.display_mode,
                settings.transparency)
    service.display_shapes([(s, f"part-{i}", (0.2, 0.5, 0.9)) for i, s in enumerate(shapes)])
    fit_view(service)
    QTest.qWait(300)
    rows = []
    for mode in CHANGES:
        messages.clear()
        meter = StallMeter()
        meter.start()
        began = time.perf_counter()
        toolbar.set_display_mode(DisplayMode(mode))
        while not (messages and "shapes)" not in messages[-1]):
            QTest.qWait(1)
        seconds = time.perf_counter() - began
        QTest.qWait(50)
        meter.stop()
        assert viewer3d.context.DisplayMode() == (0 if mode == "wireframe" else 1), mode
        rows.append({"to": mode, "seconds": seconds, "longest_stall_ms": meter.longest * 1000,
                     "progress_messages": len(messages)})
    # The service's own call, on the same scene.
    calls = []
    for mode in CHANGES:
        began = time.perf_counter()
        service.set_display_mode(DisplayMode(mode))
        calls.append({"to": mode, "seconds": time.perf_counter() - began})
    window.close()
    service.erase_all()
    return rows, calls


def plain_script(shapes):
    """The same changes in a plain OCP script: flags, RecomputePrsOnly, one update."""
    from OCP.AIS import AIS_Shape
    from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

    from morvik_viewer.view.graphics import create_scene

    scene = create_scene(size=(1000, 700))
    context = scene.context
    context.SetDisplayMode(1, False)
    shown = []
    for shape in shapes:
        ais = AIS_Shape(shape)
        ais.SetColor(Quantity_Color(0.2, 0.5, 0.9, Quantity_TOC_RGB))
        context.Display(ais, False)
        shown.append(ais)
    scene.view.FitAll()
    context.UpdateCurrentViewer()
    rows = []
    for mode in CHANGES:
        began = time.perf_counter()
        context.SetDisplayMode(0 if mode == "wireframe" else 1, False)
        for ais in shown:
            ais.Attributes().SetFaceBoundaryDraw(mode == "both")
            context.RecomputePrsOnly(ais, False)
        context.UpdateCurrentViewer()
        rows.append({"to": mode, "seconds": time.perf_counter() - began})
    context.RemoveAll(False)
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/mode-switch-<date>.json)")
    args = parser.parse_args(argv)
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"mode-switch-{today}.json"
    ensure_display(qt_platform="xcb", cpu_time=False)
    from PySide6.QtWidgets import QApplication

    app = QApplication.instance() or QApplication(["mode-switch"])
    load_before = os.getloadavg()
    scenes = {"50 parts x 5,700 triangles": (50, 0.03, 0.3),
              "1 part x 351,000 triangles": (1, 0.01, 0.03)}
    results = []
    for name, (count, deflection, angle) in scenes.items():
        shapes = torus_parts(count, deflection, angle)
        # The plain script first: the first meshing of these shapes is not counted on either side.
        plain = plain_script(shapes)
        sliced, calls = window_changes(app, shapes)
        results.append({"scene": name, "sliced": sliced, "service_call": calls, "plain": plain})
        for s, c, p in zip(sliced, calls, plain):
            print(f"{name}, to {s['to']:>9}: sliced {s['seconds'] * 1000:6.0f} ms "
                  f"(longest stall {s['longest_stall_ms']:4.0f} ms), one service call "
                  f"{c['seconds'] * 1000:6.0f} ms, plain script {p['seconds'] * 1000:6.0f} ms")
    report = {
        "date": today,
        "machine": machine_facts(load_before, drawn=True),
        "settings": {"changes": CHANGES, "target_stall_ms": TARGET_STALL_S * 1000},
        "scenes": results,
        "worst_stall_ms": max(s["longest_stall_ms"] for r in results for s in r["sliced"]),
    }
    write_result(output, report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
