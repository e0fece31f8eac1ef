"""What one rotation step costs in the viewer's look, against a plain OCCT view of the same scene.

Views in one process, on one graphic driver, each in a mapped X window of the
same size: a raw one (V3d_View's defaults, OCCT's default lights, a shaded
AIS_Shape per part), and two set up as the viewer sets its own (start_view:
gradient, trihedron, lights, material, highlight styles; the service's display
mode, colours and styles), one dragged as the view widget drags
(set_camera_moving around the drag) and one without it, as before. All show
the same shapes, meshed once beforehand, under the same camera. A rotation
step is one V3d_View.Rotation call, which repaints the view. The sides take
turns, one drag each, the order reversed every round; the result is the median
step of each and the ratios to raw. Only one window is mapped at a time, so
none draws into a covered window.

    python bench/frame_cost.py                       # 1, 30 and 300 parts, shaded
    python bench/frame_cost.py --parts 30 --mode both --rounds 3
"""

import argparse
import datetime
import os
import statistics
import sys
import time
from pathlib import Path

from scene import ensure_display, machine_facts, progress_printer, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"

# A rotation step costs at most this much more in the viewer's look than in a raw view.
TARGET_RATIO = 1.2
# Parts of the size a real file gives: a torus meshed to about 5,700 triangles.
DEFLECTION = 0.03
ANGLE = 0.3
PITCH = 30.0
COLUMNS = 20
PART_COLOR = (0.2, 0.5, 0.9)
MODES = ("shaded", "both", "transparent", "selected")


def make_parts(count):
    """count tori on a grid, each meshed once; returns them and their triangle count."""
    from OCP.BRep import BRep_Tool
    from OCP.BRepMesh import BRepMesh_IncrementalMesh
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeTorus
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt
    from OCP.TopAbs import TopAbs_FACE
    from OCP.TopExp import TopExp_Explorer
    from OCP.TopLoc import TopLoc_Location
    from OCP.TopoDS import TopoDS

    shapes, triangles = [], 0
    for i in range(count):
        at = gp_Pnt((i % COLUMNS) * PITCH, (i // (COLUMNS * COLUMNS)) * PITCH,
                    (i // COLUMNS % COLUMNS) * PITCH)
        shape = BRepPrimAPI_MakeTorus(gp_Ax2(at, gp_Dir(0.0, 1.0, 0.0)), 10.0, 4.0).Shape()
        BRepMesh_IncrementalMesh(shape, DEFLECTION, False, ANGLE)
        faces = TopExp_Explorer(shape, TopAbs_FACE)
        while faces.More():
            mesh = BRep_Tool.Triangulation_s(TopoDS.Face(faces.Current()), TopLoc_Location())
            triangles += mesh.NbTriangles() if mesh is not None else 0
            faces.Next()
        shapes.append(shape)
    return shapes, triangles


class Side:
    """One view in a mapped window of its own, with a rotation drag to time.

    moving, when given, is called with True as a drag begins and False as it ends,
    as the view widget does.
    """

    def __init__(self, name, scene, window, moving=None):
        self.name, self.scene, self.window = name, scene, window
        self.moving = moving or (lambda view, moving: None)

    def show(self):
        self.window.Map()
        self.scene.view.MustBeResized()
        self.scene.view.Redraw()

    def hide(self):
        self.window.Unmap()

    def drag(self, size, steps):
        """ms per step of one drag across the middle of the view."""
        view = self.scene.view
        x, y = size[0] // 2, size[1] // 2
        self.moving(view, True)
        view.StartRotation(x, y)
        times = []
        for i in range(1, steps + 1):
            began = time.perf_counter()
            view.Rotation(x + 9 * i, y + 4 * i)
            times.append((time.perf_counter() - began) * 1000)
        self.moving(view, False)
        return times

    def close(self):
        self.scene.context.RemoveAll(False)
        self.scene.view.Remove()


def mapped_window(graphics, scene, title, size):
    from OCP.Xw import Xw_Window

    window = Xw_Window(graphics.connection, title, 0, 0, *size)
    scene.view.SetWindow(window)
    window.Unmap()
    return window


def raw_side(graphics, shapes, size, mode):
    """OCCT's defaults: a new view, the default lights, one coloured shaded AIS_Shape a part."""
    from OCP.AIS import AIS_Shape
    from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

    from morvik_viewer.view.graphics import create_scene

    scene = create_scene(graphics)
    window = mapped_window(graphics, scene, "raw", size)
    context = scene.context
    context.SetDisplayMode(1, False)
    shown = []
    for shape in shapes:
        ais = AIS_Shape(shape)
        ais.SetColor(Quantity_Color(*PART_COLOR, Quantity_TOC_RGB))
        if mode == "both":
            ais.Attributes().SetFaceBoundaryDraw(True)
        if mode == "transparent":
            ais.SetTransparency(0.5)
        context.Display(ais, False)
        shown.append(ais)
    if mode == "selected":
        context.AddOrRemoveSelected(shown[0], False)
    scene.view.SetProj(1.0, 1.0, 1.0)
    scene.view.FitAll(0.08, False)
    scene.view.ZFitAll()
    return Side("raw", scene, window)


def viewer_side(graphics, shapes, size, mode, name="viewer"):
    """The viewer's look, set up as the window sets it up; "viewer" drags as the view
    widget drags, any other name as it did before it drew moving frames straight into
    the window."""
    from morvik.enums import DisplayMode, ViewDirection
    from morvik.services.scenard import Scenard
    from morvik_viewer.view.fit import fit_view
    from morvik_viewer.view.graphics import create_scene, start_view
    from morvik_viewer.view.look import set_camera_moving, style_shapes

    scene = create_scene(graphics)
    window = mapped_window(graphics, scene, "viewer", size)
    service = Scenard(scene.view, scene.viewer, scene.context)
    start_view(service)
    service.set_display_mode(DisplayMode.BOTH if mode == "both" else DisplayMode.SHADED)
    service.display_shapes([(shape, f"part-{i}", PART_COLOR) for i, shape in enumerate(shapes)],
                           False)
    style_shapes(service)
    if mode == "transparent":
        service.set_global_transparency(0.5, False)
    if mode == "selected":
        service.select_shapes(["part-0"])
    service.set_projection(ViewDirection.ISO)
    fit_view(service)
    side = Side(name, scene, window, set_camera_moving if name == "viewer" else None)
    side.service = service  # the service's registry holds the presentations
    return side


def same_camera(sides):
    """Gives every side the camera of the last one (the viewer's fitted isometric view),
    so that each covers the same pixels."""
    camera = sides[-1].scene.view.Camera()
    for side in sides[:-1]:
        side.scene.view.Camera().Copy(camera)


def measure(graphics, count, size, mode, rounds, steps, progress):
    shapes, triangles = make_parts(count)
    sides = [raw_side(graphics, shapes, size, mode),
             viewer_side(graphics, shapes, size, mode, "viewer_cached"),
             viewer_side(graphics, shapes, size, mode)]
    same_camera(sides)
    for side in sides:  # the first frames compile shaders and upload the meshes
        side.show()
        side.drag(size, 3)
        side.hide()
    steps_ms = {side.name: [] for side in sides}
    for r in range(rounds):
        for side in sides if r % 2 == 0 else sides[::-1]:
            side.show()
            steps_ms[side.name].extend(side.drag(size, steps))
            side.hide()
    for side in sides:
        side.close()
    raw, cached, viewer = (statistics.median(steps_ms[side.name]) for side in sides)
    progress(f"{count:>4} parts ({triangles} triangles), {mode}: raw {raw:.1f} ms, "
             f"viewer {viewer:.1f} ms a step, ratio {viewer / raw:.2f} "
             f"(with OCCT's cached frame {cached / raw:.2f})")
    return {"parts": count, "triangles": triangles, "mode": mode,
            "raw_step_ms": raw, "viewer_step_ms": viewer, "ratio": viewer / raw,
            "viewer_cached_step_ms": cached, "cached_ratio": cached / raw,
            "steps_ms": steps_ms}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--parts", type=int, nargs="+", default=[1, 30, 300])
    parser.add_argument("--mode", choices=MODES, nargs="+", default=["shaded"])
    parser.add_argument("--size", default="1024x768", help="window size, WIDTHxHEIGHT")
    parser.add_argument("--rounds", type=int, default=6)
    parser.add_argument("--steps", type=int, default=8, help="rotation steps a drag")
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/frame-cost-<date>.json)")
    args = parser.parse_args(argv)
    try:
        size = tuple(int(v) for v in args.size.lower().split("x"))
        if len(size) != 2 or min(size) < 64 or max(size) > 4096:
            raise ValueError
    except ValueError:
        parser.error(f"--size takes WIDTHxHEIGHT from 64 to 4096 pixels, not {args.size!r}")
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"frame-cost-{today}.json"
    began = time.perf_counter()

    progress = progress_printer(began)

    # Wall-clock time, with Mesa's own rasteriser threads, as the viewer runs.
    ensure_display(cpu_time=False)
    from morvik_viewer.view.graphics import open_graphics

    graphics = open_graphics()
    load_before = os.getloadavg()
    rows = [measure(graphics, count, size, mode, args.rounds, args.steps, progress)
            for mode in args.mode for count in args.parts]
    report = {
        "date": today,
        "machine": machine_facts(load_before, drawn=True),
        "settings": {"window": list(size), "rounds": args.rounds, "steps": args.steps,
                     "deflection": DEFLECTION, "angle": ANGLE, "target_ratio": TARGET_RATIO},
        "rows": rows,
        "target_met": all(row["ratio"] <= TARGET_RATIO for row in rows),
        "seconds": time.perf_counter() - began,
    }
    for row in rows:
        print(f"{row['parts']:>4} parts, {row['mode']}: raw {row['raw_step_ms']:.1f} ms, "
              f"viewer {row['viewer_step_ms']:.1f} ms a step: {row['ratio']:.2f}x "
              f"(cached frame {row['viewer_cached_step_ms']:.1f} ms: {row['cached_ratio']:.2f}x)")
    write_result(output, report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
