"""How long `morvik-viewer FILE --export OUT` takes against a plain OCP script that reads
the file and writes the same target.

The plain script imports OCP, reads the STEP file into an XCAF document with names and
colours (STEPCAFControl_Reader), and writes it: STEPCAFControl_Writer for STEP, and for
GLB the free shapes meshed once in parallel to OCCT's own deflection for the model
(0.001 of its size, 20 degrees) then RWGltf_CafWriter. The viewer's run is the command
line as a user runs it, start to exit: its process, which loads neither Qt nor OCP, and
its reader, which reads, meshes to the window's deflection and writes. The two alternate,
each a process of its own; each figure is the median of the repeats, and the ratio is the
viewer's over the plain script's, from the same run.

    python bench/export_time.py                    # a generated assembly of 3,000 parts
    python bench/export_time.py FILE.step --repeats 5 --targets step glb stl
"""

import argparse
import datetime
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from scene import machine_facts, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the assembly writer
TIMEOUT_S = 1800

PLAIN = r"""
import sys
from OCP.BRep import BRep_Builder
from OCP.Bnd import Bnd_Box
from OCP.BRepBndLib import BRepBndLib
from OCP.BRepMesh import BRepMesh_IncrementalMesh
from OCP.Message import Message_ProgressRange
from OCP.RWGltf import RWGltf_CafWriter
from OCP.STEPCAFControl import STEPCAFControl_Reader, STEPCAFControl_Writer
from OCP.STEPControl import STEPControl_AsIs
from OCP.StlAPI import StlAPI_Writer
from OCP.TCollection import TCollection_AsciiString, TCollection_ExtendedString
from OCP.TDocStd import TDocStd_Document
from OCP.TopoDS import TopoDS_Compound
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_DocumentTool
try:
    from OCP.collections import Sequence_TDF_Label as Labels
    from OCP.collections import IndexedDataMap_TCollection_AsciiString_TCollection_AsciiString as Info
except ImportError:
    from OCP.TDF import TDF_LabelSequence as Labels
    from OCP.TColStd import TColStd_IndexedDataMapOfStringString as Info

source, target, kind = sys.argv[1:4]
doc = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
XCAFApp_Application.GetApplication_s().InitDocument(doc)
reader = STEPCAFControl_Reader()
reader.SetNameMode(True)
reader.SetColorMode(True)
reader.ReadFile(source)
reader.Transfer(doc)
if kind == "step":
    writer = STEPCAFControl_Writer()
    writer.SetNameMode(True)
    writer.SetColorMode(True)
    writer.Transfer(doc, STEPControl_AsIs)
    writer.Write(target)
    sys.exit(0)
tool = XCAFDoc_DocumentTool.ShapeTool_s(doc.Main())
free = Labels()
tool.GetFreeShapes(free)
builder, whole = BRep_Builder(), TopoDS_Compound()
builder.MakeCompound(whole)
for i in range(1, free.Length() + 1):
    builder.Add(whole, tool.GetShape_s(free.Value(i)))
box = Bnd_Box()
BRepBndLib.Add_s(whole, box)
low, high = box.CornerMin(), box.CornerMax()
size = max(high.X() - low.X(), high.Y() - low.Y(), high.Z() - low.Z())
BRepMesh_IncrementalMesh(whole, 0.004 * size, False, 0.349, True)
if kind == "stl":
    StlAPI_Writer().Write(whole, target)
else:
    RWGltf_CafWriter(TCollection_AsciiString(target), True).Perform(
        doc, Info(), Message_ProgressRange())
"""


def timed(command, env):
    began = time.perf_counter()
    run = subprocess.run(command, capture_output=True, text=True, timeout=TIMEOUT_S, env=env)
    spent = time.perf_counter() - began
    if run.returncode != 0:
        raise RuntimeError(f"{command[:4]} failed: {run.stderr[-2000:]}")
    return spent


def measure(source, kind, repeats, folder):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        [str(HERE.parent / "viewer"), os.environ.get("PYTHONPATH", "")]))
    times = {"plain": [], "viewer": []}
    for repeat in range(repeats):
        # Alternating which goes first: the second of two runs finds the file cached.
        order = ("plain", "viewer") if repeat % 2 == 0 else ("viewer", "plain")
        for side in order:
            out = folder / f"{side}.{kind}"
            command = ([sys.executable, "-c", PLAIN, str(source), str(out), kind]
                       if side == "plain" else
                       [sys.executable, "-m", "morvik_viewer", str(source), "--export", str(out)])
            times[side].append(timed(command, env))
            out.unlink()
    plain, viewer = (statistics.median(times[side]) for side in ("plain", "viewer"))
    return {"plain_s": round(plain, 2), "viewer_s": round(viewer, 2),
            "ratio": round(viewer / plain, 2), "runs": times}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="*", type=Path, help="STEP files (default: a generated one)")
    parser.add_argument("--parts", type=int, default=3000, help="the generated file's parts")
    parser.add_argument("--targets", nargs="+", default=["step", "glb"],
                        choices=["step", "glb", "stl"])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--output", type=Path)
    args = parser.parse_args(argv)
    load_before = os.getloadavg()
    results = []
    with tempfile.TemporaryDirectory(prefix="export-time-") as scratch:
        folder = Path(scratch)
        files = args.files
        if not files:
            from assemblies import write_assembly

            files = [folder / f"assembly-{args.parts}.step"]
            write_assembly(files[0], parts=args.parts, row=50)
        for source in files:
            for kind in args.targets:
                result = {"file": source.name, "bytes": source.stat().st_size, "target": kind,
                          **measure(source, kind, args.repeats, folder)}
                print(f"{source.name} -> {kind}: plain {result['plain_s']} s, viewer "
                      f"{result['viewer_s']} s, ratio {result['ratio']}")
                results.append(result)
    stamp = datetime.date.today().isoformat()
    report = {"benchmark": "export_time", "results": results,
              "machine": machine_facts(load_before)}
    write_result(args.output or RESULTS / f"export-time-{stamp}.json", report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
