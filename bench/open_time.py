"""How long a file takes to be on screen whole: the viewer against a plain OCP script.

The floor is a plain script that imports OCP, reads the file through XCAF
(STEPCAFControl_Reader into a TDocStd_Document; a BREP file through
BRepTools), displays each free shape shaded with OCCT's default meshing, fits
and renders one 1024x768 frame into an offscreen window. Against it, each
run times `morvik-viewer --screenshot` at 1024x768 (start to exit), and the
window (start to the load's end, once its last frame is drawn: the command
line runs as it is, its window module patched as it loads to say when). Every
run is a process of its own; the three alternate, and each figure is the
median of the repeats. Peak RSS is each main process's own (the reader is a
process of its own, which exits once heard), and the triangles are those of the faces
shown.

Generated files: assemblies of named, coloured parts (tests/assemblies.py)
and one large single part (a product holding many curved solids).

    python bench/open_time.py                       # generated sizes, 3 repeats
    python bench/open_time.py FILE.step ... --sizes --repeats 5
"""

import argparse
import datetime
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from scene import ensure_display, machine_facts, progress_printer, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the assembly writer

SIZE = (1024, 768)
TIMEOUT_S = 1800
SIDES = ("plain", "screenshot", "window", "reopen", "reopen-window")
# A run prints one JSON line starting with this, after whatever else it prints.
MARK = "OPEN-TIME "
# A process's own peak RSS, in MB. (getrusage's ru_maxrss would carry this
# benchmark's own peak over into every run it starts.)
PEAK = r"""
def peak_mb():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0
"""
_peak: dict = {}
exec(PEAK, _peak)
peak_mb = _peak["peak_mb"]

# The floor: nothing but OCP, as a user would write it.
PLAIN = PEAK + r"""
import json, os, sys, time
from OCP.AIS import AIS_InteractiveContext, AIS_Shape, AIS_Shaded
from OCP.Aspect import Aspect_DisplayConnection
from OCP.BRep import BRep_Builder, BRep_Tool
from OCP.BRepTools import BRepTools
from OCP.Image import Image_AlienPixMap
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.STEPCAFControl import STEPCAFControl_Reader
from OCP.TCollection import TCollection_ExtendedString
from OCP.TDocStd import TDocStd_Document
from OCP.TopAbs import TopAbs_FACE
from OCP.TopExp import TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS, TopoDS_Shape
from OCP.V3d import V3d_Viewer
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_DocumentTool
from OCP.Xw import Xw_Window
try:
    from OCP.collections import Sequence_TDF_Label as Labels
except ImportError:
    from OCP.TDF import TDF_LabelSequence as Labels

path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
shapes = []
if path.lower().endswith((".step", ".stp")):
    doc = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
    XCAFApp_Application.GetApplication_s().InitDocument(doc)
    reader = STEPCAFControl_Reader()
    reader.ReadFile(path)
    reader.Transfer(doc)
    tool = XCAFDoc_DocumentTool.ShapeTool_s(doc.Main())
    free = Labels()
    tool.GetFreeShapes(free)
    shapes = [tool.GetShape_s(free.Value(i)) for i in range(1, free.Length() + 1)]
else:
    shape = TopoDS_Shape()
    BRepTools.Read_s(shape, path, BRep_Builder())
    shapes = [shape]
connection = Aspect_DisplayConnection()
viewer = V3d_Viewer(OpenGl_GraphicDriver(connection))
viewer.SetDefaultLights()
viewer.SetLightOn()
context = AIS_InteractiveContext(viewer)
view = viewer.CreateView()
window = Xw_Window(connection, "plain", 0, 0, width, height)
window.SetVirtual(True)
view.SetWindow(window)
context.SetDisplayMode(AIS_Shaded, False)
for shape in shapes:
    context.Display(AIS_Shape(shape), False)
view.FitAll(0.01, False)
view.ZFitAll()
view.ToPixMap(Image_AlienPixMap(), width, height)
drawn = time.time()
face = getattr(TopoDS, "Face_s", None) or TopoDS.Face
triangles = 0
for shape in shapes:
    faces = TopExp_Explorer(shape, TopAbs_FACE)
    while faces.More():
        t = BRep_Tool.Triangulation_s(face(faces.Current()), TopLoc_Location())
        triangles += t.NbTriangles() if t is not None else 0
        faces.Next()
print("OPEN-TIME " + json.dumps({"drawn": drawn, "triangles": triangles, "rss_mb": peak_mb()}),
      flush=True)
os._exit(0)
"""

# The command line itself, in a process whose own peak RSS is the viewer's.
SCREENSHOT = PEAK + r"""
import json, sys
from morvik_viewer.app.cli import main
status = main(sys.argv[1:])
print("OPEN-TIME " + json.dumps({"status": status, "rss_mb": peak_mb()}), flush=True)
sys.exit(status)
"""


def window_run(paths):
    """The command line's own window on paths; prints once the whole model is drawn (the
    load's end, after its last frame), then ends. The window's scene module is patched as it
    loads, so that the start runs in the command line's own order."""
    import importlib.abc
    import importlib.util

    def patch(module):
        heard = module.Scenes._on_load_finished

        def finished(scenes, outcome, view_state):
            drawn = time.time()
            heard(scenes, outcome, view_state)
            window = scenes._window
            from morvik_viewer.cad.meshing import triangle_count

            shapes = window.service.get_all_shapes()
            triangles = sum(triangle_count(info.ais_shape.Shape()) for info in shapes.values())
            print(MARK + json.dumps({
                "drawn": drawn, "state": outcome.state, "message": outcome.message,
                "shapes": len(shapes), "triangles": triangles, "rss_mb": peak_mb()}), flush=True)
            os._exit(0)  # measured: the teardown is no part of an open

        module.Scenes._on_load_finished = finished

    class Patcher(importlib.abc.MetaPathFinder):
        def find_spec(self, name, path, target=None):
            if name != "morvik_viewer.window.scenes":
                return None
            sys.meta_path.remove(self)
            spec = importlib.util.find_spec(name)
            run_module = spec.loader.exec_module
            spec.loader.exec_module = lambda module: (run_module(module), patch(module))
            return spec

    sys.meta_path.insert(0, Patcher())
    from morvik_viewer.app.cli import main

    main([str(p) for p in paths])
    os._exit(3)  # the window closed before the load ended


def run(side, path, env):
    """(seconds from start to the model on screen, the run's own report). The first opens
    keep what they read in a cache folder of their own, which the reopens then read."""
    if side in ("screenshot", "window"):
        env["BENCH_LAST_CACHE"] = tempfile.mkdtemp(dir=env["BENCH_CACHES"])
        env = dict(env, XDG_CACHE_HOME=env["BENCH_LAST_CACHE"])
    elif side.startswith("reopen"):
        env = dict(env, XDG_CACHE_HOME=env["BENCH_LAST_CACHE"])
        side = side.removeprefix("re").removeprefix("open").lstrip("-") or "screenshot"
    if side == "plain":
        command = [sys.executable, "-c", PLAIN, str(path), str(SIZE[0]), str(SIZE[1])]
    elif side == "screenshot":
        out = Path(tempfile.gettempdir()) / "open-time.png"
        command = [sys.executable, "-c", SCREENSHOT, "--screenshot", str(out),
                   "--size", f"{SIZE[0]}x{SIZE[1]}", str(path)]
    else:
        command = [sys.executable, str(Path(__file__).resolve()), "--window-run", str(path)]
    began = time.time()
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=TIMEOUT_S)
    ended = time.time()
    reports = [line[len(MARK):] for line in done.stdout.splitlines() if line.startswith(MARK)]
    if not reports:
        raise RuntimeError(f"{side} run on {path} said nothing (exit status {done.returncode}): "
                           f"{done.stderr[-1500:]}")
    report = json.loads(reports[-1])
    return report.get("drawn", ended) - began, report


def write_single_part(path, solids):
    """A STEP file of one product: a compound of many curved solids (spheres, tori,
    cylinders) in a grid, named "block"."""
    from OCP.BRep import BRep_Builder
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeCylinder, BRepPrimAPI_MakeSphere, BRepPrimAPI_MakeTorus
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt
    from OCP.TopoDS import TopoDS_Compound

    from assemblies import _Document, _write

    def fill(document: _Document):
        builder, block = BRep_Builder(), TopoDS_Compound()
        builder.MakeCompound(block)
        side = max(1, round(solids ** 0.5))
        for i in range(solids):
            at = gp_Pnt(10.0 * (i % side), 0.0, 10.0 * (i // side))
            kind = i % 3
            if kind == 0:
                solid = BRepPrimAPI_MakeSphere(at, 3.0).Shape()
            elif kind == 1:
                solid = BRepPrimAPI_MakeTorus(gp_Ax2(at, gp_Dir(0, 1, 0)), 3.0, 1.0).Shape()
            else:
                solid = BRepPrimAPI_MakeCylinder(gp_Ax2(at, gp_Dir(0, 1, 0)), 2.0, 5.0).Shape()
            builder.Add(block, solid)
        document.product(block, "block", (0.6, 0.6, 0.7))
        return None

    _write(path, fill)


def main(argv=None):
    args = sys.argv[1:] if argv is None else argv
    if args[:1] == ["--window-run"]:
        return window_run(args[1:])
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="*", type=Path, help="STEP or BREP files to time as well")
    parser.add_argument("--sizes", type=int, nargs="*", default=[10, 300, 3000],
                        help="generated assemblies of so many parts (default 10 300 3000)")
    parser.add_argument("--single", type=int, default=600,
                        help="solids in the generated single part (0: none; default 600)")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/open-time-<date>.json)")
    args = parser.parse_args(args)
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"open-time-{today}.json"
    began = time.perf_counter()

    progress = progress_printer(began)

    ensure_display(qt_platform="xcb", cpu_time=False)
    from assemblies import write_assembly

    folder = Path(tempfile.mkdtemp(prefix="open-time-"))
    files = []
    for parts in args.sizes:
        files.append(folder / f"rig-{parts}.step")
        write_assembly(files[-1], parts)
        progress(f"wrote {files[-1].name}")
    if args.single:
        files.append(folder / f"single-{args.single}.step")
        write_single_part(files[-1], args.single)
        progress(f"wrote {files[-1].name}")
    files += args.files

    # No settings of the user's, and caches of the benchmark's own.
    env = dict(os.environ, XDG_CONFIG_HOME=str(folder / "config"), BENCH_CACHES=str(folder))
    load_before = os.getloadavg()
    rows = []
    for path in files:
        runs = {side: [] for side in SIDES}
        for _ in range(args.repeats):
            for side in SIDES:  # alternating, so that a busy spell spreads over all three
                seconds, report = run(side, path, env)
                runs[side].append({"seconds": seconds, **report})
        medians = {side: statistics.median(r["seconds"] for r in runs[side]) for side in SIDES}
        row = {"file": path.name, "mb": path.stat().st_size / 1e6, "runs": runs,
               "seconds": medians,
               "ratio": {side: medians[side] / medians["plain"] for side in SIDES[1:]},
               "rss_mb": {side: max(r["rss_mb"] for r in runs[side]) for side in SIDES},
               "triangles": {side: runs[side][-1].get("triangles") for side in ("plain", "window")}}
        row["rss_ratio"] = {side: row["rss_mb"][side] / row["rss_mb"]["plain"] for side in SIDES[1:]}
        rows.append(row)
        progress(f"{path.name}: plain {medians['plain']:.2f} s, screenshot "
                 f"{medians['screenshot']:.2f} s, window {medians['window']:.2f} s")

    report = {
        "date": today,
        "machine": machine_facts(
            load_before,
            opengl="Mesa software (LIBGL_ALWAYS_SOFTWARE=1)"
            if os.environ.get("LIBGL_ALWAYS_SOFTWARE") == "1" else "as the display gives it"),
        "settings": {"repeats": args.repeats, "size": list(SIZE), "sizes": args.sizes,
                     "single": args.single},
        "rows": rows,
        "seconds": time.perf_counter() - began,
    }
    print(f"{'file':<28}{'MB':>7}{'plain s':>9}{'shot s':>9}{'window s':>10}{'shot/pl':>9}"
          f"{'win/pl':>8}{'RSS pl':>8}{'RSS win':>9}{'tri pl':>10}{'tri win':>10}")
    for row in rows:
        s, r, m, t = row["seconds"], row["ratio"], row["rss_mb"], row["triangles"]
        print(f"{row['file'][:27]:<28}{row['mb']:>7.2f}{s['plain']:>9.2f}{s['screenshot']:>9.2f}"
              f"{s['window']:>10.2f}{r['screenshot']:>9.2f}{r['window']:>8.2f}{m['plain']:>8.0f}"
              f"{m['window']:>9.0f}{t['plain'] or 0:>10}{t['window'] or 0:>10}")
    write_result(output, report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
