"""What one step of the exploded view's slider costs, against a plain loop of OCCT moving
the same presentations.

One view (a virtual window of 1024x768) shows a few thousand meshed parts, set up as
the viewer sets its own (start_scene, styled, turned Z-up), with the exploded view's
tool attached to it as the window attaches it. A viewer step is what the slider's
coalesced move does: the view state's explode set, and the tool moving every part
(view.explode: one SetLocation each, their ways out found once a scene) and drawing
once. A raw step moves the same presentations of the same context by a plain loop,
each to a translation of its own after the quarter turn (gp_Trsf, TopLoc_Location,
context.SetLocation), then one V3d_View.Redraw. The sides take turns, one drag each,
the order reversed every round, after a drag of each that is not counted; the result is
the median step of each and their ratio, in this process's CPU time (Mesa draws on the
calling thread, see scene.ensure_display: the machine's other work stays out of it),
and in wall-clock time.

    python bench/explode_drag.py                  # 3,000 boxes and 1,000 tori
    python bench/explode_drag.py --boxes 5000 --tori 0 --rounds 3
"""

import argparse
import datetime
import os
import statistics
import sys
import time
from pathlib import Path

from scene import ensure_display, machine_facts, make_boxes, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"

TARGET_RATIO = 1.2
SIZE = (1024, 768)


def scene_parts(boxes, tori):
    """Boxes on a grid and tori beside them, meshed once, as (shape, shape_id, colour)."""
    from OCP.BRepMesh import BRepMesh_IncrementalMesh
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeTorus
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt

    shapes = make_boxes(boxes)
    for i in range(tori):
        at = gp_Pnt(60.0 + (i % 25) * 4.0, (i // 25 % 25) * 4.0, (i // 625) * 4.0)
        shapes.append(BRepPrimAPI_MakeTorus(gp_Ax2(at, gp_Dir(0.0, 0.0, 1.0)), 1.2, 0.4).Shape())
    for shape in shapes:
        BRepMesh_IncrementalMesh(shape, 0.05, False, 0.5)
    return [(shape, f"part-{i}", (0.2, 0.5, 0.9)) for i, shape in enumerate(shapes)]


def viewer_scene(parts):
    from PySide6.QtWidgets import QApplication

    from morvik_viewer.model.up_axis import Z_UP
    from morvik_viewer.model.view_state import ViewState
    from morvik_viewer.tools.base import Host
    from morvik_viewer.tools.explode.tool import ExplodeTool
    from morvik_viewer.view.fit import fit_view
    from morvik_viewer.view.graphics import create_viewer3d, start_scene
    from morvik_viewer.view.look import style_shapes
    from morvik_viewer.view.upright import turn_shapes
    from morvik_viewer.window import ocp_side

    QApplication.instance() or QApplication(["explode-drag"])
    viewer3d = create_viewer3d(size=SIZE)
    service = viewer3d.service
    start_scene(service, Z_UP)
    viewer3d.context.SetAutoActivateSelection(False)  # picking is not what is timed
    service.display_shapes(parts, False)
    style_shapes(service)
    turn_shapes(service, Z_UP)
    fit_view(service)
    state = ViewState(up_axis=Z_UP)
    tool = ExplodeTool(state)
    tool.attach(Host(service, None, lambda text: None, lambda: None, lambda shape_id: None,
                     lambda shown=False: None, ocp_side))
    # The window's fit frames the scene exploded: so does the bench, at the drag's end.
    state.explode = 100.0
    fit_view(service)
    state.explode = 0.0
    return viewer3d, state, tool


def _clocks():
    return time.process_time(), time.perf_counter()


def _since(began):
    """(CPU ms, wall-clock ms) since began, a _clocks() pair."""
    return tuple((now - then) * 1000 for now, then in zip(_clocks(), began))


def viewer_drag(state, steps):
    times = []
    for i in range(steps):
        began = _clocks()
        state.explode = 100.0 * (i + 1) / steps  # the slider's coalesced move
        times.append(_since(began))
    state.explode = 0.0
    return times


def raw_moves(viewer3d, tool):
    """Each presentation with its way out at 100% in the view's frame, as a plain script
    would hold them: found beforehand, not timed."""
    from morvik_viewer.model.up_axis import Z_UP

    return list(tool.explosion.moves(Z_UP))


def raw_drag(viewer3d, moves, steps):
    import math

    from OCP.gp import gp_Ax1, gp_Dir, gp_Pnt, gp_Trsf, gp_Vec
    from OCP.TopLoc import TopLoc_Location

    context, view = viewer3d.context, viewer3d.view
    turn = gp_Trsf()
    turn.SetRotation(gp_Ax1(gp_Pnt(0.0, 0.0, 0.0), gp_Dir(1.0, 0.0, 0.0)), -math.pi / 2)
    turned = TopLoc_Location(turn)
    times = []
    for i in range(steps):
        share = (i + 1) / steps
        began = _clocks()
        for ais, (x, y, z) in moves:
            trsf = gp_Trsf()
            trsf.SetTranslation(gp_Vec(x * share, y * share, z * share))
            context.SetLocation(ais, TopLoc_Location(trsf).Multiplied(turned))
        view.Redraw()
        times.append(_since(began))
    for ais, _ in moves:
        context.SetLocation(ais, turned)
    view.Redraw()
    return times


def frame_times(view, count):
    times = []
    for _ in range(count):
        view.Invalidate()
        began = time.perf_counter()
        view.Redraw()
        times.append((time.perf_counter() - began) * 1000)
    return times


def measure(boxes, tori, rounds, steps):
    parts = scene_parts(boxes, tori)
    viewer3d, state, tool = viewer_scene(parts)
    moves = raw_moves(viewer3d, tool)
    sides = {"viewer": lambda: viewer_drag(state, steps),
             "raw": lambda: raw_drag(viewer3d, moves, steps)}
    for side in sides.values():  # warm: the first moves build OCCT's structures' caches
        side()
    times = {name: [] for name in sides}
    order = ["viewer", "raw"]
    for _ in range(rounds):
        for name in order:
            times[name] += sides[name]()
        order.reverse()
    result = {name: round(statistics.median(cpu for cpu, _ in values), 2)
              for name, values in times.items()}
    result["ratio"] = round(result["viewer"] / result["raw"], 3)
    wall = {name: round(statistics.median(w for _, w in values), 2) for name, values in times.items()}
    result["wall"] = {**wall, "ratio": round(wall["viewer"] / wall["raw"], 3)}
    result["frame"] = round(statistics.median(frame_times(viewer3d.view, steps)), 2)
    result["parts"] = len(parts)
    result["steps_done"] = tool.steps
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--boxes", type=int, default=3000)
    parser.add_argument("--tori", type=int, default=1000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--steps", type=int, default=20)
    parser.add_argument("--output", type=Path,
                        default=RESULTS / f"explode-drag-{datetime.date.today()}.json")
    args = parser.parse_args(argv)
    ensure_display()
    load_before = os.getloadavg()
    result = measure(args.boxes, args.tori, args.rounds, args.steps)
    report = {"what": "CPU ms per exploded-view slider step (median; wall-clock ms under wall), "
                      "viewer against a plain loop of context.SetLocation and one Redraw on the "
                      "same presentations",
              "size": list(SIZE), "boxes": args.boxes, "tori": args.tori, "rounds": args.rounds,
              "steps": args.steps, "target_ratio": TARGET_RATIO, **result,
              "machine": machine_facts(load_before, drawn=True)}
    print(f"{result['parts']} parts: viewer {result['viewer']} ms, raw {result['raw']} ms, "
          f"ratio {result['ratio']}, frame {result['frame']} ms")
    write_result(args.output, report)
    return 0 if result["ratio"] <= TARGET_RATIO else 1


if __name__ == "__main__":
    sys.exit(main())
