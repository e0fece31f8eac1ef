"""Times the look switches of a real-size scene: Scenard's set_display_mode and
set_global_transparency against the least plain OCP script that draws the same.

The scene is 50 parts of about 5,000 triangles each and one part of 280,000
(a compound of 1,000 cylinders), all of many small faces as a circuit board's
parts are, meshed beforehand so neither side meshes.
Each side has its own copy on its own offscreen view. Every switch runs on both
sides back to back, the order flipping each round; a switch is timed up to and
including its one viewer update. The plain script:

    shaded <-> both      set the drawer's face-boundary flag, RecomputePrsOnly
    -> wireframe         SetDisplayMode(0) (with the flag off and the shaded
                         presentation marked for update, when leaving both)
    wireframe -> shaded  SetDisplayMode(1) (flag on and marked first, for both)
    transparency         SetTransparency on each presentation
    display in both      the flag and the black aspect on each new AIS_Shape,
                         then Display (the parts shown anew, face boundaries on)

    python bench/display_switch.py                 # 5 rounds
    python bench/display_switch.py --rounds 3 --output out.json
"""

import argparse
import datetime
import json
import os
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from bench_service import RESULTS, colour, timed
from morvik_viewer.cad.shapes import compound
from scene import ensure_display, graphic_driver, machine_facts, make_scene

PARTS = 50
SIZE = (800, 600)
# The switches in the order a round makes them, each from the look the one before left.
SWITCHES = [("shaded->both", "both"), ("both->wireframe", "wireframe"),
            ("wireframe->both", "both"), ("both->shaded", "shaded"),
            ("shaded->wireframe", "wireframe"), ("wireframe->shaded", "shaded"),
            ("transparency 0->0.5", 0.5), ("transparency 0.5->0", 0.0),
            ("shaded->both again", "both"), ("display in both", "display"),
            ("both->shaded again", "shaded")]


def triangles(shape):
    from OCP.BRep import BRep_Tool
    from OCP.TopAbs import TopAbs_FACE
    from OCP.TopExp import TopExp_Explorer
    from OCP.TopLoc import TopLoc_Location
    from OCP.TopoDS import TopoDS

    face = getattr(TopoDS, "Face_s", None) or TopoDS.Face  # OCP 7 names it Face_s
    count, explorer = 0, TopExp_Explorer(shape, TopAbs_FACE)
    while explorer.More():
        mesh = BRep_Tool.Triangulation_s(face(explorer.Current()), TopLoc_Location())
        count += mesh.NbTriangles() if mesh is not None else 0
        explorer.Next()
    return count


def cylinder(x, y, radius, height):
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeCylinder
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt

    return BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(x, y, 0.0), gp_Dir(0, 0, 1)), radius, height).Shape()


def box(x, y, dx, dy, dz):
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
    from OCP.gp import gp_Pnt

    return BRepPrimAPI_MakeBox(gp_Pnt(x, y, -dz), dx, dy, dz).Shape()


def meshed(shape, deflection):
    from OCP.BRepMesh import BRepMesh_IncrementalMesh

    BRepMesh_IncrementalMesh(shape, deflection, False, 0.5, True)
    return shape


def make_parts():
    """50 connectors (a body and 40 pins: 126 faces, 4,972 triangles) and a compound of
    1,000 cylinders (3,000 faces, 280,000 triangles): parts of many small faces, as a
    circuit board's are, meshed finer than OCCT's own default."""
    def connector(x, y):
        pins = [cylinder(x + 0.2 + 0.4 * (k % 10), y + 0.3 + 0.4 * (k // 10), 0.1, 0.5) for k in range(40)]
        return compound([box(x, y, 4.0, 1.8, 1.0), *pins])

    parts = [meshed(connector(5.0 * (i % 10), 3.0 * (i // 10)), 0.001) for i in range(PARTS)]
    cylinders = [cylinder(52.0 + 1.2 * (i % 40), 1.2 * (i // 40), 0.5, 1.0) for i in range(1000)]
    parts.append(meshed(compound(cylinders), 0.001))
    return parts


class Side:
    # Points of the view over parts, found once the scene is framed.
    hover_points = ()

    def find_hover_points(self):
        """A point over a small part and one over the large part."""
        width, height = SIZE
        found = []
        for x, y in ((width * i // 20, height // 2) for i in range(1, 20)):
            self.context.MoveTo(x, y, self.view, False)
            if self.context.HasDetected():
                found.append((x, y))
        self.hover_points = (found[0], found[-1])

    def hover(self):
        """The first detections after a switch: where a recomputed selection is rebuilt."""
        for x, y in self.hover_points:
            self.context.MoveTo(x, y, self.view, False)
            assert self.context.HasDetected()


class ServiceSide(Side):
    kind = "service"

    def __init__(self, scene, parts):
        from morvik.enums import DisplayMode
        from morvik.services.scenard import Scenard

        self.modes = {"shaded": DisplayMode.SHADED, "both": DisplayMode.BOTH,
                      "wireframe": DisplayMode.WIREFRAME}
        self.context, self.view = scene.context, scene.view
        self.service = Scenard(scene.view, scene.viewer, scene.context)
        self.service.set_display_mode(DisplayMode.SHADED)
        self.parts = parts
        self.display()

    def display(self):
        self.service.display_shapes((part, f"part-{i}", colour(i)) for i, part in enumerate(self.parts))

    def clear(self):
        self.service.erase_all()

    def switch(self, to):
        if isinstance(to, float):
            self.service.set_global_transparency(to)
        else:
            self.service.set_display_mode(self.modes[to])


class PlainSide(Side):
    """The same scene and switches in plain OCP calls."""

    kind = "plain"

    def __init__(self, scene, parts):
        self.context, self.view, self.mode = scene.context, scene.view, "shaded"
        self.context.SetDisplayMode(1, False)
        self.parts = parts
        self.display()

    def display(self):
        from OCP.AIS import AIS_Shape
        from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

        self.shapes = []
        for i, part in enumerate(self.parts):
            ais = AIS_Shape(part)
            ais.SetColor(Quantity_Color(*colour(i), Quantity_TOC_RGB))
            if self.mode == "both":
                self.boundaries_of(ais, True)
            self.context.Display(ais, False)
            self.shapes.append(ais)
        self.context.UpdateCurrentViewer()

    def clear(self):
        self.context.RemoveAll(True)

    @staticmethod
    def boundaries_of(ais, enable):
        from OCP.Aspect import Aspect_TOL_SOLID
        from OCP.Prs3d import Prs3d_LineAspect
        from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

        drawer = ais.Attributes()
        drawer.SetFaceBoundaryDraw(enable)
        if enable:
            black = Quantity_Color(0.0, 0.0, 0.0, Quantity_TOC_RGB)
            drawer.SetFaceBoundaryAspect(Prs3d_LineAspect(black, Aspect_TOL_SOLID, 1.0))

    def boundaries(self, enable, shown):
        for ais in self.shapes:
            self.boundaries_of(ais, enable)
            if shown:
                self.context.RecomputePrsOnly(ais, False, False)
            else:
                ais.SetToUpdate(1)  # the shaded presentation, drawn again when shown

    def switch(self, to):
        context = self.context
        if isinstance(to, float):
            for ais in self.shapes:
                ais.SetTransparency(to)
        elif to == "wireframe":
            context.SetDisplayMode(0, False)
            if self.mode == "both":
                self.boundaries(False, shown=False)
        else:
            flip = (self.mode == "both") != (to == "both")
            if self.mode == "wireframe":
                if flip:
                    self.boundaries(True, shown=False)
                context.SetDisplayMode(1, False)  # draws what is marked
            elif flip:
                self.boundaries(to == "both", shown=True)
        if not isinstance(to, float):
            self.mode = to
        context.UpdateCurrentViewer()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/display-switch-<date>.json)")
    args = parser.parse_args(argv)
    ensure_display()
    load_before = os.getloadavg()

    from OCP.Graphic3d import Graphic3d_RenderTransparentMethod

    driver = graphic_driver()
    make_scene(driver, SIZE)  # the first scene of a process selects slower: a throwaway
    sides = []
    for side_type in (ServiceSide, PlainSide):
        scene = make_scene(driver, SIZE)
        scene.view.ChangeRenderingParams().TransparencyMethod = (
            Graphic3d_RenderTransparentMethod.Graphic3d_RTM_BLEND_OIT)
        parts = make_parts()
        sides.append(side_type(scene, parts))
        scene.view.FitAll()
        scene.view.Redraw()
        sides[-1].find_hover_points()
    counts = [triangles(part) for part in parts]
    print(f"{len(counts) - 1} parts of about {statistics.median(counts[:-1]):.0f} triangles, "
          f"one of {counts[-1]}, {sum(counts)} in all", flush=True)

    samples = {name: {"service": [], "plain": []} for name, _ in SWITCHES}
    for round_ in range(args.rounds):
        for n, (name, to) in enumerate(SWITCHES):
            order = sides if (round_ + n) % 2 == 0 else sides[::-1]
            for side in order:
                if to == "display":
                    side.clear()
                wall, cpu = timed(lambda: side.display() if to == "display" else side.switch(to))  # noqa: B023 - called at once
                _, hover = timed(side.hover)
                samples[name][side.kind].append(
                    {"wall": wall, "cpu": cpu, "hover": hover, "round": round_})
        print(f"round {round_ + 1}/{args.rounds}", flush=True)

    results = {}
    for name, by_side in samples.items():
        row = {}
        for kind, runs in by_side.items():
            later = runs[1:] or runs  # the first round also builds presentations a mode never had
            row[f"{kind}_ms"] = 1000 * statistics.median(r["cpu"] for r in later)
            row[f"{kind}_first_ms"] = 1000 * runs[0]["cpu"]
            row[f"{kind}_wall_ms"] = 1000 * statistics.median(r["wall"] for r in later)
            row[f"{kind}_hover_ms"] = 1000 * statistics.median(r["hover"] for r in later)
        row["ratio"] = row["service_ms"] / row["plain_ms"]
        results[name] = row
        print(f"{name:22} service {row['service_ms']:8.1f} ms   plain {row['plain_ms']:8.1f} ms   "
              f"ratio {row['ratio']:.2f}   (first round {row['service_first_ms']:.0f} / "
              f"{row['plain_first_ms']:.0f} ms); first hover after it "
              f"{row['service_hover_ms']:.1f} / {row['plain_hover_ms']:.1f} ms")

    output = args.output or RESULTS / f"display-switch-{datetime.date.today()}.json"
    output.write_text(json.dumps({
        "what": "CPU ms of one switch, median of rounds 2 on, viewer update included; "
                "hover: CPU ms of the first detection under the cursor after it",
        "triangles": {"parts": counts[:-1], "large": counts[-1]},
        "switches": results, "samples": samples,
        "machine": machine_facts(load_before, size=SIZE, rounds=args.rounds)}, indent=1) + "\n")
    print(f"written to {output}")


if __name__ == "__main__":
    main()
