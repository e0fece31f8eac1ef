"""How long a file takes to be on screen whole: the viewer against a plain OCP script.

The floor is a plain script that imports OCP, reads the file as a user of OCP
would (each kind's reader: see READ), displays each free shape shaded with
OCCT's default meshing, fits and renders one 1024x768 frame into an offscreen
window. Against it, each
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
    python bench/open_time.py FILES... --sizes --single 0 --once-above 20 \
        --markdown table.md                         # files of every kind
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

from morvik_viewer.model.file_kinds import kind_of
from scene import ensure_display, machine_facts, progress_printer, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the assembly writer

SIZE = (1024, 768)
TIMEOUT_S = 1800
SIDES = ("plain", "screenshot", "window", "reopen", "reopen-window")
TIMED = SIDES + ("stages",)  # the last, once: where the time goes
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

# How a user reads each kind of file with nothing but OCP, and trimesh for the kinds OCP
# binds no reader of: read(path) gives the free shapes to display. STEP, IGES, glTF and
# VRML go into an XCAF document through OCCT's readers; BREP through BRepTools; STL into
# one face carrying the triangulation RWStl reads. OBJ, PLY, 3MF and OFF: trimesh's scene
# exported as GLB and read with OCCT's glTF reader, which takes each node's triangles as
# whole arrays (filling a Poly_Triangulation node by node from Python costs seconds a
# million triangles). OCP 7.8 binds OCCT's glTF and VRML readers without the means to
# read: there glTF goes through trimesh too, and every trimesh read on as one binary STL
# (VRML cannot be read at all). The reader is chosen by the file's suffix, as its user
# knows it.
READ = r"""
import os, tempfile
from OCP.BRep import BRep_Builder
from OCP.BRepTools import BRepTools
from OCP.IGESCAFControl import IGESCAFControl_Reader
from OCP.Message import Message_ProgressRange
from OCP.RWGltf import RWGltf_CafReader
from OCP.RWStl import RWStl
from OCP.STEPCAFControl import STEPCAFControl_Reader
from OCP.TCollection import TCollection_AsciiString, TCollection_ExtendedString
from OCP.TDocStd import TDocStd_Document
from OCP.TopoDS import TopoDS_Face, TopoDS_Shape
from OCP.VrmlAPI import VrmlAPI_CafReader
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_DocumentTool
try:
    from OCP.collections import Sequence_TDF_Label as Labels
except ImportError:
    from OCP.TDF import TDF_LabelSequence as Labels

MESH_READERS_BOUND = hasattr(RWGltf_CafReader, "Perform")


def new_document():
    document = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
    XCAFApp_Application.GetApplication_s().InitDocument(document)
    return document


def free_shapes(document):
    tool = XCAFDoc_DocumentTool.ShapeTool_s(document.Main())
    free = Labels()
    tool.GetFreeShapes(free)
    return [tool.GetShape_s(free.Value(i)) for i in range(1, free.Length() + 1)]


def read_step(path):
    document, reader = new_document(), STEPCAFControl_Reader()
    reader.ReadFile(path)
    reader.Transfer(document)
    return free_shapes(document)


def read_iges(path):
    document, reader = new_document(), IGESCAFControl_Reader()
    reader.ReadFile(path)
    reader.Transfer(document)
    return free_shapes(document)


def read_brep(path):
    shape = TopoDS_Shape()
    BRepTools.Read_s(shape, path, BRep_Builder())
    return [shape]


def read_mesh(reader, path):
    document = new_document()
    reader.SetDocument(document)
    reader.SetSystemLengthUnit(0.001)
    reader.Perform(TCollection_AsciiString(path), Message_ProgressRange())
    return free_shapes(document)


def read_gltf(path):
    if not MESH_READERS_BOUND:
        return read_through_trimesh(path)
    return read_mesh(RWGltf_CafReader(), path)


def read_vrml(path):
    return read_mesh(VrmlAPI_CafReader(), path)


def read_stl(path):
    face = TopoDS_Face()
    BRep_Builder().MakeFace(face, RWStl.ReadFile_s(path))
    return [face]


def read_through_trimesh(path):
    import trimesh  # only the files OCP has no reader of pay for its import

    if MESH_READERS_BOUND:
        data, suffix = trimesh.load(path, process=False).export(file_type="glb"), ".glb"
    else:
        data = trimesh.load(path, force="mesh", process=False).export(file_type="stl")
        suffix = ".stl"
    handle, name = tempfile.mkstemp(suffix=suffix)
    with os.fdopen(handle, "wb") as file:
        file.write(data)
    try:
        return read(name)
    finally:
        os.unlink(name)


READERS = {".step": read_step, ".stp": read_step, ".iges": read_iges, ".igs": read_iges,
           ".brep": read_brep, ".brp": read_brep, ".glb": read_gltf, ".gltf": read_gltf,
           ".wrl": read_vrml, ".vrml": read_vrml, ".stl": read_stl,
           **dict.fromkeys((".obj", ".ply", ".3mf", ".off"), read_through_trimesh)}


def read(path):
    return READERS[os.path.splitext(path)[1].lower()](path)
"""

# The floor: the file read as above, each free shape displayed shaded with OCCT's default
# meshing, fitted, and one frame rendered into an offscreen window.
PLAIN = PEAK + READ + r"""
import json, sys, time
from OCP.AIS import AIS_InteractiveContext, AIS_Shape, AIS_Shaded
from OCP.Aspect import Aspect_DisplayConnection
from OCP.BRep import BRep_Tool
from OCP.Image import Image_AlienPixMap
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.TopAbs import TopAbs_FACE
from OCP.TopExp import TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS
from OCP.V3d import V3d_Viewer
from OCP.Xw import Xw_Window

path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
shapes = read(path)
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


# Where the time of an open goes: the viewer's own steps, one after the other in one
# process, each timed (parse and transfer are STEPCAFControl_Reader's ReadFile and
# Transfer; a file of another kind is read into its document in one call, which is parse;
# walk, the rest of reading the parts out of the document; mesh; send, the
# batches framed as a reader frames them; receive, the window's decoding of them; display,
# the screenshot's service, display and one frame). An open overlaps the reader's steps
# with the window's, so the stages add up to more than it takes.
STAGES = PEAK + r"""
import json, os, sys, time
from OCP.STEPCAFControl import STEPCAFControl_Reader

stages = dict.fromkeys(("parse", "transfer", "walk", "mesh", "send", "receive", "display"), 0.0)


def timed(owner, name, stage):
    original = getattr(owner, name)

    def run(*args):
        began = time.perf_counter()
        try:
            return original(*args)
        finally:
            stages[stage] += time.perf_counter() - began

    setattr(owner, name, run)


timed(STEPCAFControl_Reader, "ReadFile", "parse")
timed(STEPCAFControl_Reader, "Transfer", "transfer")
from morvik_viewer.cad import formats

timed(formats, "read_document", "parse")
from morvik_viewer.cad.meshing import Mesher, model_deflection
from morvik_viewer.cad.parts import load_all
from morvik_viewer.reader.answers import Packer
from morvik_viewer.reader.protocol import FrameReader, Shared, decode, unpack_parts
from morvik_viewer.window.screenshot import render_screenshot

path, out, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
began = time.perf_counter()
parts = load_all([path])
stages["walk"] = time.perf_counter() - began - stages["parse"] - stages["transfer"]
began = time.perf_counter()
mesher = Mesher(model_deflection(part.shape for part in parts))
mesher.mesh([part.shape for part in parts])
stages["mesh"] = time.perf_counter() - began
began = time.perf_counter()
packer, batch = Packer(), 2000
frames = [packer.pack(parts[i:i + batch], mesher.reached) for i in range(0, len(parts), batch)]
stages["send"] = time.perf_counter() - began
del parts
began = time.perf_counter()
reader, shared, parts = FrameReader(), Shared(), []
for head, body in reader.feed(b"".join(frames)):
    parts += unpack_parts(decode(head, body), shared)
stages["receive"] = time.perf_counter() - began
began = time.perf_counter()
render_screenshot(out, parts, (width, height))
stages["display"] = time.perf_counter() - began
print("OPEN-TIME " + json.dumps({"stages": stages, "rss_mb": peak_mb()}), flush=True)
os._exit(0)
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
            drawn = outcome.drawn_at or time.time()  # the whole model on screen
            if outcome.state != "done":  # the window would wait on a message box for ever
                print(MARK + json.dumps({"state": outcome.state, "message": outcome.message,
                                         "rss_mb": peak_mb()}), flush=True)
                os._exit(4)
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


def run(side, path, env, cores=None):
    """(seconds from start to the model on screen, the run's own report). The first opens
    keep what they read in a cache folder of their own, which the reopens then read.
    cores: the screenshot's reader runs on so many cores."""
    if side in ("screenshot", "window"):
        env["BENCH_LAST_CACHE"] = tempfile.mkdtemp(dir=env["BENCH_CACHES"])
        env = dict(env, XDG_CACHE_HOME=env["BENCH_LAST_CACHE"])
    elif side.startswith("reopen"):
        env = dict(env, XDG_CACHE_HOME=env["BENCH_LAST_CACHE"])
        side = side.removeprefix("re").removeprefix("open").lstrip("-") or "screenshot"
    if side == "plain":
        command = [sys.executable, "-c", PLAIN, str(path), str(SIZE[0]), str(SIZE[1])]
    elif side == "stages":
        out = Path(tempfile.gettempdir()) / "open-time-stages.png"
        command = [sys.executable, "-c", STAGES, str(path), str(out),
                   str(SIZE[0]), str(SIZE[1])]
    elif side == "screenshot":
        out = Path(tempfile.gettempdir()) / "open-time.png"
        command = [sys.executable, "-c", SCREENSHOT, "--screenshot", str(out),
                   "--size", f"{SIZE[0]}x{SIZE[1]}", str(path)]
        if cores:
            command[-1:-1] = ["--reader-cores", str(cores)]
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
    if report.get("status", 0) != 0 or report.get("state", "done") != "done" \
            or report.get("triangles") == 0:
        # a screen without the model on it: no time to compare
        raise RuntimeError(f"{side} run on {path} did not show it: {report} "
                           f"{done.stderr[-1500:]}")
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
    parser.add_argument("files", nargs="*", type=Path,
                        help="files of any kind the viewer opens, to time as well")
    parser.add_argument("--sizes", type=int, nargs="*", default=[10, 300, 3000],
                        help="generated assemblies of so many parts (default 10 300 3000)")
    parser.add_argument("--single", type=int, default=600,
                        help="solids in the generated single part (0: none; default 600)")
    parser.add_argument("--racks", type=int, nargs="*", default=[],
                        help="generated cabinets of 20,200 placements of 200 products, one per "
                             "pin count given (40: 48 MB; 85: about 100 MB)")
    parser.add_argument("--sides", nargs="*", choices=TIMED, default=list(TIMED),
                        help="the runs to time (plain always runs: the ratios are to it)")
    parser.add_argument("--cores", type=int, nargs="*", default=[],
                        help="also time the screenshot with its reader on so many cores, each "
                             "count given (0: all of them)")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--once-above", type=float, metavar="MB",
                        help="files larger than so many MB are timed once, not --repeats times")
    parser.add_argument("--markdown", type=Path,
                        help="also write the rows as a markdown table of each kind's ratios")
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/open-time-<date>.json), with "
                             "its plot beside it (.png)")
    args = parser.parse_args(args)
    sides = ["plain"] + [side for side in TIMED[1:] if side in args.sides]
    if ("reopen" in sides and "screenshot" not in sides) or \
            ("reopen-window" in sides and "window" not in sides):
        parser.error("a reopen reads the cache its first open wrote: time that open too")
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"open-time-{today}.json"
    began = time.perf_counter()

    progress = progress_printer(began)

    ensure_display(qt_platform="xcb", cpu_time=False)
    from assemblies import write_assembly
    from racks import write_racks

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
    for pins in args.racks:
        files.append(folder / f"racks-{pins}.step")
        placed = write_racks(files[-1], pins=pins)
        progress(f"wrote {files[-1].name}: {placed} placements, "
                 f"{files[-1].stat().st_size / 1e6:.0f} MB")
    files += args.files

    # No settings of the user's, and caches of the benchmark's own.
    env = dict(os.environ, XDG_CONFIG_HOME=str(folder / "config"), BENCH_CACHES=str(folder))
    load_before = os.getloadavg()
    rows, failed = [], []
    for path in files:
        big = args.once_above is not None and path.stat().st_size / 1e6 > args.once_above
        try:
            rows.append(time_file(path, sides, 1 if big else args.repeats, env, args.cores))
        except (RuntimeError, subprocess.TimeoutExpired) as error:
            # one file that no side could show leaves the others' figures standing
            failed.append({"file": path.name, "kind": kind_of(path), "error": str(error)[:2000]})
            progress(f"{path.name}: {str(error)[:300]}")
            continue
        progress(", ".join(f"{side} {seconds:.2f} s" for side, seconds in rows[-1]["seconds"].items()))

    report = {
        "date": today,
        "machine": machine_facts(load_before, drawn=True),
        "settings": {"repeats": args.repeats, "size": list(SIZE), "sizes": args.sizes,
                     "single": args.single, "racks": args.racks, "sides": sides,
                     "cores": args.cores, "once_above_mb": args.once_above},
        "rows": rows,
        "failed": failed,
        "seconds": time.perf_counter() - began,
    }
    print_table(rows, sides)
    write_result(output, report)
    if args.markdown:
        args.markdown.write_text(markdown_table(rows, sides) + "\n")
        print(f"markdown table written to {args.markdown}")
    plot(rows, sides, report["machine"], output.with_suffix(".png"))
    return 0


def time_file(path, sides, repeats, env, cores=()):
    """The row of one file: each side's runs, medians, ratios to plain and peaks; with
    cores, the screenshot's seconds with its reader on each count of cores."""
    runs = {side: [] for side in sides}
    for _ in range(repeats):
        for side in sides:  # alternating, so that a busy spell spreads over all of them
            if side == "stages" and runs[side]:
                continue  # once is enough to say where the time goes
            seconds, report = run(side, path, env)
            runs[side].append({"seconds": seconds, **report})
    medians = {side: statistics.median(r["seconds"] for r in runs[side]) for side in sides}
    peaks = {side: max(r["rss_mb"] for r in runs[side]) for side in sides}
    row = {"file": path.name, "kind": kind_of(path), "mb": path.stat().st_size / 1e6,
           "repeats": repeats, "runs": runs, "seconds": medians,
           "ratio": {side: medians[side] / medians["plain"] for side in sides[1:]},
           "rss_mb": peaks, "rss_ratio": {side: peaks[side] / peaks["plain"] for side in sides[1:]},
           "triangles": {side: runs[side][-1].get("triangles") for side in ("plain", "window")
                         if side in runs}}
    if "stages" in runs:
        row["stages"] = runs["stages"][0]["stages"]
    if cores:
        row["cores"] = {str(n): statistics.median(run("screenshot", path, env, n)[0]
                                                  for _ in range(repeats)) for n in cores}
    return row


SHORT = {"plain": "plain", "screenshot": "shot", "window": "window", "reopen": "reopen",
         "reopen-window": "re-win", "stages": "stages"}


def print_table(rows, sides):
    timed = [side for side in sides if side != "stages"]
    print(f"{'file':<22}{'MB':>7}" + "".join(f"{SHORT[side] + ' s':>10}" for side in timed)
          + "".join(f"{SHORT[side] + '/pl':>10}" for side in timed[1:])
          + "".join(f"{'RSS ' + SHORT[side]:>11}" for side in timed))
    for row in rows:
        s, r, m = row["seconds"], row["ratio"], row["rss_mb"]
        print(f"{row['file'][:21]:<22}{row['mb']:>7.2f}" + "".join(f"{s[side]:>10.2f}" for side in timed)
              + "".join(f"{r[side]:>10.2f}" for side in timed[1:])
              + "".join(f"{m[side]:>11.0f}" for side in timed))
        if "cores" in row:
            print(f"{'':<22}screenshot, its reader on N cores (s): " + ", ".join(
                f"{n}: {seconds:.2f}" for n, seconds in row["cores"].items()))
        if "stages" in row:
            print(f"{'':<22}where it goes (s): " + ", ".join(
                f"{stage} {seconds:.2f}" for stage, seconds in row["stages"].items()))


def markdown_table(rows, sides):
    """The rows as a markdown table, by kind: each file's size, triangles, the plain
    script's seconds, and each side's time and peak RSS as ratios to it."""
    timed = [side for side in sides[1:] if side != "stages"]
    lines = ["| format | file | MB | triangles | plain s | "
             + " | ".join(f"{side} / plain" for side in timed) + " | "
             + " | ".join(f"RSS {side} / plain" for side in timed) + " |",
             "|---|---|---:|---:|---:|" + "---:|" * (2 * len(timed))]
    for row in sorted(rows, key=lambda row: (row["kind"] or "", row["mb"])):
        triangles = row["triangles"].get("window") or row["triangles"].get("plain") or 0
        lines.append(f"| {row['kind']} | {row['file']} | {row['mb']:.2f} | {triangles:,} | "
                     f"{row['seconds']['plain']:.2f} | "
                     + " | ".join(f"{row['ratio'][side]:.2f}" for side in timed) + " | "
                     + " | ".join(f"{row['rss_ratio'][side]:.2f}" for side in timed) + " |")
    return "\n".join(lines)


def plot(rows, sides, machine, target):
    """Open time and peak memory against file size, each side a line; needs matplotlib."""
    try:
        import matplotlib

        matplotlib.use("Agg")
        from matplotlib import pyplot, ticker
    except ImportError:
        print("no plot: matplotlib is not installed (pip install matplotlib)")
        return
    rows = sorted(rows, key=lambda row: row["mb"])
    figure, (times, memory) = pyplot.subplots(1, 2, figsize=(11, 4.2), layout="constrained")
    sizes = [row["mb"] for row in rows]
    for side in (side for side in sides if side != "stages"):
        times.plot(sizes, [row["seconds"][side] for row in rows], marker="o", label=side)
        if not side.startswith("reopen"):
            memory.plot(sizes, [row["rss_mb"][side] for row in rows], marker="o", label=side)
    for axes, label in ((times, "seconds to the whole model on screen"),
                        (memory, "peak RSS of the main process, MB")):
        axes.set_xscale("log")
        axes.set_yscale("log")
        for axis in (axes.xaxis, axes.yaxis):
            axis.set_major_formatter(ticker.ScalarFormatter())
        axes.set_xlabel("file size, MB")
        axes.set_ylabel(label)
        axes.grid(True, which="both", alpha=0.3)
        axes.legend()
    figure.suptitle(f"Opening CAD files: {machine['cpus']} cores, {machine['opengl']}, "
                    f"OCP {machine['ocp']}", fontsize=10)
    figure.savefig(target, dpi=110)
    pyplot.close(figure)
    print(f"plot written to {target}")


if __name__ == "__main__":
    sys.exit(main())
