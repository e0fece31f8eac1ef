"""What the first frame of the Hidden Line display mode costs, against plain OCCT computing
the same.

The parts of a STEP file are read by the viewer's reader (meshed once, as the window
gets them) and shown in wireframe twice, in views of the same size on one driver:

- viewer: a service set up as the window's (start_scene, the reader's triangles kept,
  styled and turned upright), its view state wired to it as the window wires it
  (window.wiring); a step is the View menu's choice, state.choose_display_mode
  ("hidden"), until the frame it draws is done.
- raw: a plain OCP script's viewer, context and view: an AIS_Shape for each part, turned
  as the viewer turns it, the default drawer keeping the same triangles, the context in
  wireframe; a step is Prs3d_TOH_PolyAlgo on the drawer, V3d_View.SetComputedMode(True)
  and one Redraw.

Between steps each side goes back to wireframe (not timed). The sides take turns, the
order reversed every round, after a first round of each that is not counted (the first
scene a process draws is slower). Each step is timed in this process's CPU time, which
the ratio is judged by: Mesa draws on the calling thread (scene.ensure_display) and
OCCT computes the lines on it, while the wall-clock time (reported too) takes in
whatever else the machine runs. Without FILE a cabinet of about 4,000 placements is
written first (tests/racks.py).

    python bench/hidden_line.py                       # a generated cabinet
    python bench/hidden_line.py FILE --rounds 2
"""

import argparse
import datetime
import math
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

from scene import ensure_display, machine_facts, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the cabinet writer

TARGET_RATIO = 1.2
SIZE = (1024, 768)


def read_parts(path):
    """The file's parts as the window gets them, and the deflection they were meshed to."""
    from morvik_viewer.reader.client import Reader

    reader = Reader([path])
    parts = reader.read()
    return parts, reader.deflection


def viewer_side(parts, deflection):
    """(step, back): the View menu's choice of Hidden Line on the viewer's own set-up, and
    the way back to Wireframe."""
    from morvik.enums import DisplayMode, ViewDirection
    from morvik.widgets.panelor import Panelor
    from morvik_viewer.cad.meshing import keep_triangles
    from morvik_viewer.model.display_modes import HIDDEN
    from morvik_viewer.model.up_axis import Z_UP
    from morvik_viewer.model.view_state import ViewState
    from morvik_viewer.scene.show import display_item
    from morvik_viewer.view.fit import fit_view
    from morvik_viewer.view.graphics import create_viewer3d, start_scene
    from morvik_viewer.view.hidden_line import hide_lines
    from morvik_viewer.view.look import style_shapes
    from morvik_viewer.view.upright import turn_shapes
    from morvik_viewer.window.wiring import connect_service, connect_toolbar

    viewer3d = create_viewer3d(size=SIZE)
    service = viewer3d.service
    start_scene(service, Z_UP, mode=DisplayMode.WIREFRAME)
    keep_triangles(viewer3d.context, deflection)
    viewer3d.context.SetAutoActivateSelection(False)  # picking is not what is timed
    service.display_shapes([display_item(part) for part in parts], False)
    style_shapes(service)
    turn_shapes(service, Z_UP)
    service.set_projection(ViewDirection.ISO)
    fit_view(service)
    state = ViewState(display_mode=DisplayMode.WIREFRAME, up_axis=Z_UP)
    toolbar = Panelor(None, "vertical")
    connect_toolbar(toolbar, state)
    connect_service(service, state, toolbar, hide_lines=hide_lines)

    def step():
        state.choose_display_mode(HIDDEN)
        assert viewer3d.view.ComputedMode()

    def back():
        state.choose_display_mode(DisplayMode.WIREFRAME)

    return (step, back), (viewer3d, toolbar, state)


def raw_side(parts, deflection, connection):
    """(step, back) of a plain OCP script showing the same shapes in wireframe."""
    from OCP.AIS import AIS_InteractiveContext, AIS_Shape
    from OCP.Aspect import Aspect_TOD_ABSOLUTE
    from OCP.gp import gp_Ax1, gp_Dir, gp_Pnt, gp_Trsf
    from OCP.OpenGl import OpenGl_GraphicDriver
    from OCP.Prs3d import Prs3d_TOH_PolyAlgo
    from OCP.TopLoc import TopLoc_Location
    from OCP.V3d import V3d_Viewer

    from morvik_viewer.view.platform_window import virtual_window

    viewer = V3d_Viewer(OpenGl_GraphicDriver(connection))
    viewer.SetDefaultLights()
    viewer.SetLightOn()
    context = AIS_InteractiveContext(viewer)
    view = viewer.CreateView()
    window = virtual_window(connection, "hidden-line-raw", SIZE)
    view.SetWindow(window)
    view.MustBeResized()
    drawer = context.DefaultDrawer()
    drawer.SetTypeOfDeflection(Aspect_TOD_ABSOLUTE)
    drawer.SetMaximalChordialDeviation(deflection)
    drawer.SetAutoTriangulation(False)
    drawer.UIsoAspect().SetNumber(0)
    drawer.VIsoAspect().SetNumber(0)
    context.SetDisplayMode(0, False)
    context.SetAutoActivateSelection(False)
    turn = gp_Trsf()
    turn.SetRotation(gp_Ax1(gp_Pnt(0.0, 0.0, 0.0), gp_Dir(1.0, 0.0, 0.0)), -math.pi / 2)
    location = TopLoc_Location(turn)
    kept = []
    for part in parts:
        ais = AIS_Shape(part.shape)
        context.Display(ais, 0, -1, False)
        context.SetLocation(ais, location)
        kept.append(ais)
    view.SetProj(1.0, 1.0, 1.0)
    view.SetUp(0.0, 1.0, 0.0)
    view.FitAll(0.08, False)
    view.ZFitAll()
    view.Redraw()

    def step():
        drawer.SetTypeOfHLR(Prs3d_TOH_PolyAlgo)
        view.SetComputedMode(True)
        view.Redraw()

    def back():
        view.SetComputedMode(False)
        view.Redraw()

    return (step, back), (viewer, context, view, window, kept)


def timed(step):
    """(CPU seconds, wall-clock seconds) step took."""
    began, cpu = time.perf_counter(), time.process_time()
    step()
    return time.process_time() - cpu, time.perf_counter() - began


def measure(parts, deflection, rounds):
    from PySide6.QtWidgets import QApplication

    QApplication.instance() or QApplication(["hidden-line"])
    sides, kept = {}, []
    sides["viewer"], held = viewer_side(parts, deflection)
    kept.append(held)
    sides["raw"], held = raw_side(parts, deflection, held[0].connection)
    kept.append(held)
    times = {name: [] for name in sides}
    walls = {name: [] for name in sides}
    order = ["viewer", "raw"]
    for index in range(rounds + 1):
        for name in order:
            step, back = sides[name]
            cpu, wall = timed(step)
            back()
            if index:  # the first round warms both up
                times[name].append(cpu)
                walls[name].append(wall)
            print(f"round {index}: {name} {cpu:.3f} s CPU, {wall:.3f} s", flush=True)
        order.reverse()
    result = {name: round(statistics.median(values), 3) for name, values in times.items()}
    result["ratio"] = round(result["viewer"] / result["raw"], 3)
    result["wall"] = {name: round(statistics.median(values), 3) for name, values in walls.items()}
    result["wall"]["ratio"] = round(result["wall"]["viewer"] / result["wall"]["raw"], 3)
    result["all_cpu"] = {name: [round(v, 3) for v in values] for name, values in times.items()}
    return result


def generated_cabinet(folder):
    """A cabinet of 4 racks of 10 boards of 101 components and their board (about 4,000
    placements), written into folder."""
    from racks import write_racks

    path = Path(folder) / "racks-4000.step"
    placed = write_racks(path, racks=4, slots=10, pins=40)
    print(f"wrote {path}: {placed} placed parts", flush=True)
    return path


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", nargs="?", type=Path, help="a STEP file (default: a cabinet "
                        "of about 4,000 placements, written for the run)")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--output", type=Path,
                        default=RESULTS / f"hidden-line-{datetime.date.today()}.json")
    args = parser.parse_args(argv)
    ensure_display()
    load_before = os.getloadavg()
    with tempfile.TemporaryDirectory() as folder:
        path = args.file or generated_cabinet(folder)
        began = time.perf_counter()
        parts, deflection = read_parts(path)
        read_s = time.perf_counter() - began
        print(f"read {len(parts)} parts in {read_s:.1f} s", flush=True)
        result = measure(parts, deflection, args.rounds)
    report = {"what": "CPU s to the first frame of Hidden Line on a wireframe scene (median; "
                      "wall-clock s under wall), viewer against raw OCCT (Prs3d_TOH_PolyAlgo, "
                      "SetComputedMode, one Redraw)",
              "file": str(path) if args.file else "generated: tests/racks.py, 4 racks of 10 boards",
              "file_mb": round(os.path.getsize(path) / 1e6, 1) if args.file else None,
              "placements": len(parts), "size": list(SIZE), "rounds": args.rounds,
              "target_ratio": TARGET_RATIO, "read_s": round(read_s, 1), **result,
              "machine": machine_facts(load_before, drawn=True)}
    print(f"viewer {result['viewer']} s, raw {result['raw']} s, ratio {result['ratio']}")
    write_result(args.output, report)
    return 0 if result["ratio"] <= TARGET_RATIO else 1


if __name__ == "__main__":
    sys.exit(main())
