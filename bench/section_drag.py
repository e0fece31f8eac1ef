"""What one step of the section plane's offset slider costs, against plain OCCT moving
the same plane.

One view in a mapped X window, set up as the viewer sets its own (start_scene),
shows the scene: the sample's five solids, or tori meshed once beforehand. A
viewer step is the section panel's: the slider moves one place and the panel
hands the plane to the service (set_clip_plane, which redraws). A raw step is
Graphic3d_ClipPlane.SetEquation on a capped plane of the same view, then
V3d_View.Redraw. The sides take turns, one drag each, the order reversed every
round; the result is the median step of each, their ratio, and the median time
of one frame of the scene without a plane (Invalidate, Redraw).

    python bench/section_drag.py                  # the sample and 300 tori
    python bench/section_drag.py --parts 30 --rounds 3
"""

import argparse
import datetime
import os
import statistics
import sys
import time
from pathlib import Path

from scene import ensure_display, machine_facts, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"

# A slider step costs at most this much more in the viewer than in raw OCCT.
TARGET_RATIO = 1.2
SIZE = (1024, 768)


def scene_parts(count):
    """The sample solids (count 0), or count meshed tori; as (shape, shape_id, colour)."""
    if count == 0:
        from morvik_viewer.cad.shapes import sample_parts

        return [(part.shape, part.shape_id, part.color) for part in sample_parts()]
    from frame_cost import make_parts

    shapes, _ = make_parts(count)
    return [(shape, f"torus-{i}", (0.2, 0.5, 0.9)) for i, shape in enumerate(shapes)]


def viewer_scene(parts):
    from OCP.Xw import Xw_Window

    from morvik_viewer.model.up_axis import Z_UP
    from morvik_viewer.model.view_state import ViewState
    from morvik_viewer.tools.section.panel import SectionPanel
    from morvik_viewer.view.fit import fit_view
    from morvik_viewer.view.graphics import create_viewer3d, start_scene
    from morvik_viewer.view.look import style_shapes
    from morvik_viewer.view.upright import turn_shapes

    viewer3d = create_viewer3d()
    window = Xw_Window(viewer3d.connection, "section", 0, 0, *SIZE)
    viewer3d.view.SetWindow(window)
    window.Map()
    service = viewer3d.service
    start_scene(service, Z_UP)
    service.display_shapes(parts, False)
    style_shapes(service)
    turn_shapes(service, Z_UP)
    fit_view(service)
    panel = SectionPanel()
    panel.attach(service, ViewState(up_axis=Z_UP))
    return viewer3d, window, panel


def viewer_drag(panel, steps):
    panel.set_active(True)
    times = []
    for i in range(steps):
        began = time.perf_counter()
        panel.slider.setValue(200 + 20 * i)
        panel.apply()  # what the coalescing timer calls once the event loop turns
        times.append((time.perf_counter() - began) * 1000)
    panel.set_active(False)
    return times


def raw_drag(view, box, steps):
    from OCP.gp import gp_Dir, gp_Pln, gp_Pnt
    from OCP.Graphic3d import Graphic3d_ClipPlane

    low, high = box
    plane = Graphic3d_ClipPlane(gp_Pln(gp_Pnt(0.0, low, 0.0), gp_Dir(0.0, -1.0, 0.0)))
    plane.SetUseObjectMaterial(True)
    plane.SetCapping(True)
    view.AddClipPlane(plane)
    times = []
    for i in range(steps):
        y = low + (high - low) * (200 + 20 * i) / 1000
        began = time.perf_counter()
        plane.SetEquation(gp_Pln(gp_Pnt(0.0, y, 0.0), gp_Dir(0.0, -1.0, 0.0)))
        view.Redraw()
        times.append((time.perf_counter() - began) * 1000)
    view.RemoveClipPlane(plane)
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


def measure(count, rounds, steps):
    from PySide6.QtWidgets import QApplication

    QApplication.instance() or QApplication(["section-drag"])
    viewer3d, window, panel = viewer_scene(scene_parts(count))
    view = viewer3d.view
    box = view.View().MinMaxValues(False)
    span = (box.CornerMin().Y(), box.CornerMax().Y())  # the view's Y: the model's Z
    viewer_drag(panel, 3)  # warm: the first capping frame builds OCCT's capping shaders
    raw_drag(view, span, 3)
    sides = {"viewer": lambda: viewer_drag(panel, steps), "raw": lambda: raw_drag(view, span, steps)}
    times = {name: [] for name in sides}
    order = ["viewer", "raw"]
    for _ in range(rounds):
        for name in order:
            times[name] += sides[name]()
        order.reverse()
    frames = frame_times(view, steps)
    result = {name: round(statistics.median(values), 2) for name, values in times.items()}
    result["ratio"] = round(result["viewer"] / result["raw"], 3)
    result["frame"] = round(statistics.median(frames), 2)
    result["planes_applied"] = panel.applied
    window.Unmap()
    viewer3d.context.RemoveAll(False)
    view.Remove()
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--parts", type=int, action="append",
                        help="tori in the scene (0: the sample solids); repeatable")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--steps", type=int, default=20)
    parser.add_argument("--output", type=Path,
                        default=RESULTS / f"section-drag-{datetime.date.today()}.json")
    args = parser.parse_args(argv)
    ensure_display()
    load_before = os.getloadavg()
    report = {"what": "ms per section slider step (median), viewer against raw OCCT",
              "size": list(SIZE), "target_ratio": TARGET_RATIO, "scenes": {}}
    for count in args.parts or [0, 300]:
        name = "sample" if count == 0 else f"{count} tori"
        result = measure(count, args.rounds, args.steps)
        report["scenes"][name] = result
        print(f"{name}: viewer {result['viewer']} ms, raw {result['raw']} ms, "
              f"ratio {result['ratio']}, frame {result['frame']} ms", flush=True)
    report["machine"] = machine_facts(load_before)
    write_result(args.output, report)
    worst = max(scene["ratio"] for scene in report["scenes"].values())
    return 0 if worst <= TARGET_RATIO else 1


if __name__ == "__main__":
    sys.exit(main())
