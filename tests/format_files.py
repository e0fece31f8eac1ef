"""One small model written in every format the viewer reads, through each format's own writer:
OCCT's where OCP binds one (STEP, IGES, BREP, glTF and GLB, binary STL, VRML), trimesh's for
3MF, OFF, OBJ, PLY and ASCII STL (from the GLB OCCT writes). The files lie in tests/files/formats/.

The model: an assembly "rig" holding a red "bracket" (a box) and two placements,
"pin-a" and "pin-b", of one blue "pin" product (a cylinder), in millimetres, Z up.

    python tests/format_files.py [FOLDER]      # writes them anew (default: tests/files/formats)
"""

import sys
from pathlib import Path

from OCP.BRepMesh import BRepMesh_IncrementalMesh
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox, BRepPrimAPI_MakeCylinder
from OCP.BRepTools import BRepTools
from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt, gp_Trsf, gp_Vec
from OCP.IGESCAFControl import IGESCAFControl_Writer
from OCP.Interface import Interface_Static
from OCP.Message import Message_ProgressRange
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.RWGltf import RWGltf_CafWriter
from OCP.STEPCAFControl import STEPCAFControl_Writer
from OCP.STEPControl import STEPControl_AsIs
from OCP.StlAPI import StlAPI_Writer
from OCP.TCollection import TCollection_AsciiString, TCollection_ExtendedString
from OCP.TDataStd import TDataStd_Name
from OCP.TopLoc import TopLoc_Location
from OCP.VrmlAPI import VrmlAPI_Writer
from OCP.XCAFDoc import XCAFDoc_ColorSurf, XCAFDoc_DocumentTool

from morvik_viewer.cad.formats import new_document
from morvik_viewer.cad.shapes import compound
from morvik_viewer.model.up_axis import Z_UP
from morvik_viewer.view.upright import placement

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import IndexedDataMap_TCollection_AsciiString_TCollection_AsciiString as FileInfo
except ImportError:  # OCP 7 under OCCT's own names
    from OCP.TColStd import TColStd_IndexedDataMapOfStringString as FileInfo

FOLDER = Path(__file__).resolve().parent / "files" / "formats"
RED, BLUE = (0.8, 0.1, 0.1), (0.1, 0.2, 0.8)
PARTS = ("bracket", "pin-a", "pin-b")
DEFLECTION = 0.2
# Each file's name, its kind, and what of the model it keeps: names, colours, solids.
FILES = {
    "rig.step": ("STEP", {"names", "colours", "solids"}),
    "rig.igs": ("IGES", set()),  # bodies as shells, and one pin face left uncoloured
    "rig.brep": ("BREP", {"solids"}),
    "rig.glb": ("glTF", {"names", "colours"}),
    "rig.gltf": ("glTF", {"names", "colours"}),
    "rig.stl": ("STL", set()),
    "rig-ascii.stl": ("STL", set()),
    "rig.wrl": ("VRML", {"colours"}),
    "rig.obj": ("OBJ", {"colours"}),
    "rig.ply": ("PLY", set()),
    "rig.3mf": ("3MF", set()),
    "rig.off": ("OFF", set()),
}


def shapes():
    """(bracket, pin, the pins' two placements)."""
    bracket = BRepPrimAPI_MakeBox(gp_Pnt(0.0, 0.0, 0.0), 30.0, 20.0, 10.0).Shape()
    pin = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0.0, 0.0, 10.0), gp_Dir(0.0, 0.0, 1.0)),
                                   4.0, 20.0).Shape()
    places = []
    for x in (7.0, 23.0):
        move = gp_Trsf()
        move.SetTranslation(gp_Vec(x, 10.0, 0.0))
        places.append(TopLoc_Location(move))
    return bracket, pin, places


def rig_document(turn=None):
    """The model as an XCAF document, meshed to DEFLECTION; turn, when given, a TopLoc_Location
    every part is placed by first."""
    bracket, pin, places = shapes()
    for shape in (bracket, pin):
        BRepMesh_IncrementalMesh(shape, DEFLECTION, False, 0.5, False)
    document = new_document()
    tool = XCAFDoc_DocumentTool.ShapeTool_s(document.Main())
    colors = XCAFDoc_DocumentTool.ColorTool_s(document.Main())
    rig = tool.NewShape()
    TDataStd_Name.Set_s(rig, TCollection_ExtendedString("rig"))
    for name, shape, color, place in (("bracket", bracket, RED, TopLoc_Location()),
                                      ("pin", pin, BLUE, places[0]), ("pin", pin, BLUE, places[1])):
        product = tool.FindShape(shape)
        if product.IsNull():
            product = tool.AddShape(shape, False)
            TDataStd_Name.Set_s(product, TCollection_ExtendedString(name))
            colors.SetColor(product, Quantity_Color(*color, Quantity_TOC_RGB), XCAFDoc_ColorSurf)
        usage = tool.AddComponent(rig, product, place if turn is None else turn.Multiplied(place))
        instance = name if name == "bracket" else f"pin-{'ab'[place is places[1]]}"
        TDataStd_Name.Set_s(usage, TCollection_ExtendedString(instance))
    tool.UpdateAssemblies()
    return document


def _placed():
    bracket, pin, places = shapes()
    return [bracket] + [pin.Moved(place) for place in places]


def write_all(folder=FOLDER):
    """Writes every file of FILES into folder."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    document = rig_document()
    step = STEPCAFControl_Writer()
    step.SetNameMode(True)
    step.SetColorMode(True)
    step.Transfer(document, STEPControl_AsIs)
    step.Write(str(folder / "rig.step"))
    Interface_Static.SetIVal_s("write.iges.brep.mode", 1)  # solids, not loose faces
    iges = IGESCAFControl_Writer()
    iges.SetColorMode(True)
    iges.SetNameMode(True)
    iges.Transfer(document)
    iges.Write(str(folder / "rig.igs"))
    whole = compound(_placed())
    BRepTools.Write_s(whole, str(folder / "rig.brep"))
    # glTF is Y-up: the Z-up model turned so that it stands there as it does here (OCP 7.8
    # binds no coordinate converter to ask the writer for the turn).
    y_up = rig_document(placement(Z_UP))
    # The GLB in one primitive a part, the glTF in one a face (as OCCT writes by default).
    for name, binary in (("rig.glb", True), ("rig.gltf", False)):
        gltf = RWGltf_CafWriter(TCollection_AsciiString(str(folder / name)), binary)
        gltf.SetMergeFaces(binary)
        gltf.Perform(y_up, FileInfo(), Message_ProgressRange())
    BRepMesh_IncrementalMesh(whole, DEFLECTION, False, 0.5, False)
    StlAPI_Writer().Write(whole, str(folder / "rig.stl"))  # binary
    VrmlAPI_Writer().WriteDoc(document, str(folder / "rig.wrl"), 0.001)  # metres
    _write_through_trimesh(folder)


def _write_through_trimesh(folder):
    import trimesh

    scene = trimesh.load(folder / "rig.glb", force="scene", process=False)
    scene.apply_scale(1000.0)  # glTF's metres, as millimetres: the mesh files' unit here
    scene.export(folder / "rig.obj", file_type="obj", include_normals=False)
    scene.export(folder / "rig.3mf", file_type="3mf")
    # PLY and OFF hold one mesh: the scene's, merged in place.
    whole = trimesh.util.concatenate(scene.dump())
    whole.visual = trimesh.visual.ColorVisuals()
    whole.export(folder / "rig.ply", file_type="ply", vertex_normal=False)
    whole.export(folder / "rig.off", file_type="off")
    whole.export(folder / "rig-ascii.stl", file_type="stl_ascii")


if __name__ == "__main__":
    write_all(sys.argv[1] if len(sys.argv) > 1 else FOLDER)
