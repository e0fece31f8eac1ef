"""Every kind of CAD file read into one XCAF document, so that names, colours, assemblies
and units come through whatever the format, as they do for STEP (see cad.step_walk).

OCCT's own readers where OCP binds them: STEP, IGES, glTF (and GLB), VRML and
STL. OCP binds none for OBJ, PLY, 3MF and OFF: the mesh library trimesh reads
those (an optional dependency, morvik-viewer[meshes]), and hands its scene to
OCCT's glTF reader as a GLB file, which keeps its nodes, names, placements and
colours, and moves the triangles as whole arrays rather than one call a node.
Mesh files give faces that carry triangles and no surface (see cad.meshing).
"""

import math
import os
import re
import tempfile
from dataclasses import dataclass
from pathlib import PurePath

from OCP.BRep import BRep_Builder
from OCP.gp import gp_Trsf
from OCP.IFSelect import IFSelect_RetDone
from OCP.IGESCAFControl import IGESCAFControl_Reader
from OCP.Message import Message_ProgressRange
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.RWGltf import RWGltf_CafReader
from OCP.RWStl import RWStl
from OCP.TCollection import TCollection_AsciiString, TCollection_ExtendedString
from OCP.TDataStd import TDataStd_Name
from OCP.TDocStd import TDocStd_Document
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS_Face
from OCP.VrmlAPI import VrmlAPI_CafReader
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_ColorSurf, XCAFDoc_DocumentTool

from morvik_viewer.cad.shapes import compound
from morvik_viewer.cad.step_reader import Header, open_document, read_step
from morvik_viewer.cad.step_walk import StepError, _Walk
from morvik_viewer.model.file_kinds import MESH_LIBRARY_KINDS, kind_of, unreadable
from morvik_viewer.model.paths import one_line
from morvik_viewer.model.units import MILLIMETRES
from morvik_viewer.model.up_axis import Y_UP, Z_UP

# OCCT's document layer works in millimetres: each reader converts to them.
SYSTEM_UNIT_M = 0.001
METRES = ("m", 1000.0)
# IGES's unit flags (the global section's field 14) and the short names shown.
IGES_UNITS = {1: "inch", 2: "mm", 4: "ft", 5: "mi", 6: "m", 7: "km", 8: "mil", 9: "µm",
              10: "cm", 11: "µin"}
# The lengths trimesh names a file's unit by (3MF's unit attribute), in millimetres.
MESH_UNITS = {"millimeter": ("mm", 1.0), "millimeters": ("mm", 1.0), "mm": ("mm", 1.0),
              "centimeter": ("cm", 10.0), "cm": ("cm", 10.0), "meter": METRES,
              "meters": METRES, "m": METRES, "inch": ("inch", 25.4), "inches": ("inch", 25.4),
              "foot": ("ft", 304.8), "feet": ("ft", 304.8), "micron": ("µm", 1e-3),
              "micrometer": ("µm", 1e-3)}
# Neighbouring triangles of an STL file meeting at a larger angle are shaded apart.
CREASE_ANGLE = math.radians(30.0)
# The up axis a format defines: glTF and VRML are Y-up by definition, 3MF Z-up (its
# build platform is XY); the others say nothing, and the viewer's choice holds.
FORMAT_UP = {"glTF": Y_UP, "VRML": Y_UP, "3MF": Z_UP}
# OCP 7.8 binds OCCT's glTF and VRML readers without the methods of their base class
# (RWMesh_CafReader): neither can be asked to read. The mesh library then reads glTF, and
# hands every mesh file's triangles to OCCT's STL reader (see scene_document).
MESH_READERS_BOUND = hasattr(RWGltf_CafReader, "Perform")
MESH_LIBRARY_MISSING = ("reading {kind} files needs the mesh library trimesh "
                        "(pip install 'morvik-viewer[meshes]')")


@dataclass
class Opened:
    """A file read into an XCAF document."""

    document: TDocStd_Document
    kind: str  # see model.file_kinds.SUFFIXES
    unit: tuple = MILLIMETRES  # the file's length unit (the document's shapes are in mm)
    up: str | None = None  # the up axis the format defines, None when it defines none
    system: str = ""  # the authoring system the file names, when it names one
    header: object = None  # a STEP file's step_reader.Header


def new_document():
    """An empty XCAF document in millimetres, as every reader here gives its shapes (a
    writer scales from the unit a document says: without one, OCCT's glTF writer takes
    millimetres for metres)."""
    document = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
    XCAFApp_Application.GetApplication_s().InitDocument(document)
    XCAFDoc_DocumentTool.SetLengthUnit_s(document, SYSTEM_UNIT_M)
    return document


def read_document(path, kind=None):
    """The file at path (a str OCCT can open) read into an XCAF document; kind, when
    given, is the one model.file_kinds.kind_of tells. Raises StepError (without the
    file's name) when it cannot be read."""
    kind = kind or kind_of(path)
    reader = _READERS.get(kind)
    if reader is None:
        raise StepError("not a file of a kind the viewer reads")
    opened = reader(str(path))
    opened.up = FORMAT_UP.get(kind, opened.up)
    return opened


def read_file(path, nodes=None, unit=None, header=None, kind=None):
    """The parts of the file at path (a str OCCT can open), of any kind but BREP, in the
    file's order, named and coloured as step_reader.read_step says of a STEP file's; nodes,
    unit and header as there (a file of another kind gives a Header whose up is the one
    its format defines). Raises StepError."""
    kind = kind or kind_of(path)
    if kind == "STEP":
        return read_step(path, nodes, unit, header)
    opened = read_document(path, kind)
    walk = _Walk(opened.document, nodes)
    walk.nameless = {PurePath(path).name.lower()}
    walk.opens_compounds = kind == "IGES"
    walk.stems = {PurePath(path).stem.lower()} - {""}
    if unit is not None:
        unit.append(opened.unit)
    if header is not None:
        header.append(Header(originating_system=opened.system, up=opened.up,
                             kind=opened.kind))
    walk.free_shapes()
    if not walk.parts:
        raise StepError(f"the {kind} file holds no shape")
    return walk.parts


def _step(path):
    unit, header = [], []
    document = open_document(path, unit, header)
    return Opened(document, "STEP", unit[0], None, header[0].system(), header[0])


def _iges(path):
    reader = IGESCAFControl_Reader()
    reader.SetColorMode(True)
    reader.SetNameMode(True)
    reader.SetLayerMode(True)
    try:
        status = reader.ReadFile(path)
    except Exception as error:  # OCCT errors derive from Exception only
        raise StepError(f"cannot read IGES data ({one_line(error)})") from error
    if status != IFSelect_RetDone:
        raise StepError(unreadable(path, "IGES"))
    unit, system = MILLIMETRES, ""
    try:
        section = reader.IGESModel().GlobalSection()
        name = IGES_UNITS.get(section.UnitFlag())
        if name is not None:
            unit = (name, float(section.UnitValue()))
        said = section.SystemId()
        system = one_line(said.ToCString()) if said is not None else ""
    except Exception:  # noqa: BLE001 - a global section OCCT cannot give says nothing
        pass
    document = new_document()
    try:
        done = reader.Transfer(document)
    except Exception as error:
        raise StepError(f"cannot read IGES data ({one_line(error)})") from error
    if not done:
        raise StepError(unreadable(path, "IGES"))
    return Opened(document, "IGES", unit, None, system)


def _mesh_reader(reader, path, kind, file_unit_m=None):
    """An RWMesh_CafReader's read of path into a new document; raises StepError."""
    document = new_document()
    reader.SetDocument(document)
    reader.SetSystemLengthUnit(SYSTEM_UNIT_M)
    if file_unit_m is not None:
        reader.SetFileLengthUnit(file_unit_m)
    try:
        done = reader.Perform(TCollection_AsciiString(path), Message_ProgressRange())
    except Exception as error:
        raise StepError(f"cannot read {kind} data ({one_line(error)})") from error
    if not done:
        raise StepError(unreadable(path, kind))
    return document


def _gltf(path):
    if not MESH_READERS_BOUND:
        return _through_mesh_library("glTF", METRES)(path)
    reader = RWGltf_CafReader()
    reader.SetParallel(True)
    return Opened(_mesh_reader(reader, path, "glTF"), "glTF", METRES)


def _vrml(path):
    if not MESH_READERS_BOUND:
        raise StepError("reading VRML files needs OCP 7.9 or newer (this one binds OCCT's "
                        "VRML reader without the means to read)")
    # VRML's lengths are metres. OCCT's reader leaves its file unit undefined, and scales
    # by the unit it is given, as millimetres in one (not by that over the system's).
    return Opened(_mesh_reader(VrmlAPI_CafReader(), path, "VRML", 1.0 / SYSTEM_UNIT_M),
                  "VRML", METRES)


def _stl(path):
    try:
        # Nodes are shared only where triangles meet at less than CREASE_ANGLE: a box's
        # edges stay sharp when shaded, a scan's curves smooth.
        triangles = RWStl.ReadFile_s(path, CREASE_ANGLE)
    except Exception as error:
        raise StepError(f"cannot read STL data ({one_line(error)})") from error
    if triangles is None or triangles.NbTriangles() == 0:
        raise StepError(unreadable(path, "STL"))
    face = TopoDS_Face()
    BRep_Builder().MakeFace(face, triangles)
    document = new_document()
    XCAFDoc_DocumentTool.ShapeTool_s(document.Main()).AddShape(face, False, False)
    return Opened(document, "STL")


def mesh_library(kind="mesh"):
    """The trimesh module; StepError saying how to install it when it is not there."""
    try:
        import trimesh  # optional: only OBJ, PLY, 3MF and OFF files need it
    except ImportError:
        raise StepError(MESH_LIBRARY_MISSING.format(kind=kind)) from None
    return trimesh


def _through_mesh_library(kind, default_unit=MILLIMETRES):
    def read(path):
        trimesh = mesh_library(kind)
        try:
            # Its kind as told (the file's name may say another).
            scene = trimesh.load(path, file_type=_file_type(path, kind), force="scene",
                                 process=False)
            unit = MESH_UNITS.get(str(scene.units).lower(), default_unit) \
                if scene.units else default_unit
            plain_colours(trimesh, scene, linear=kind == "glTF")
            if not scene.geometry:
                raise StepError(f"the {kind} file holds no triangles")
            if not MESH_READERS_BOUND:
                return Opened(scene_document(trimesh, scene, unit[1], kind), kind, unit)
            # In metres, glTF's own unit: from a document OCCT 7.9's reader made of a GLB
            # in another (told so), its STEP writer wrote triangles a thousandth the size.
            if unit[1] != 1000.0:
                scene = scene.scaled(unit[1] / 1000.0)
            data = trimesh.exchange.gltf.export_glb(scene, include_normals=False)
        except StepError:
            raise
        except Exception as error:
            said = unreadable(path, kind)
            if kind == "glTF" or said.startswith("a Git LFS"):
                # As OCCT's reader would say it (OCP 7.8 reads glTF files through trimesh).
                raise StepError(f"{said} (trimesh: {one_line(error)})") from error
            raise StepError(f"cannot read {kind} data (trimesh: {one_line(error)})") from error
        handle, glb = tempfile.mkstemp(suffix=".glb", prefix="morvik-")
        try:
            with os.fdopen(handle, "wb") as file:
                file.write(data)
            document = _mesh_reader(RWGltf_CafReader(), glb, kind)
        finally:
            os.unlink(glb)
        return Opened(document, kind, unit)

    return read


def _file_type(path, kind):
    """The name trimesh gives the file's format."""
    if kind != "glTF":
        return kind.lower()
    with open(path, "rb") as file:
        return "glb" if file.read(4) == b"glTF" else "gltf"


def scene_document(trimesh, scene, scale, kind=None):
    """A trimesh scene (one colour a mesh, see plain_colours) as an XCAF document, without
    OCCT's mesh readers: the scene's nodes as the assembly's components under their names,
    each mesh a product under its own name, its triangles handed to OCCT's STL reader as a
    binary STL (whole arrays, never a call a node), once however often it is placed; the
    meshes trimesh makes of one glTF mesh's primitives (nodes it names after their parent
    and a number) one product of a face each. scale: millimetres in one of the scene's
    units; kind: the file's ("glTF" puts the nodes back in the file's order, see
    _file_order)."""
    document = new_document()
    tool = XCAFDoc_DocumentTool.ShapeTool_s(document.Main())
    colors = XCAFDoc_DocumentTool.ColorTool_s(document.Main())
    graph = scene.graph.transforms
    order = _file_order(scene) if kind == "glTF" else {}
    products, nodes = {}, set(scene.graph.nodes)

    def children(node):
        return sorted(graph.children.get(node, ()), key=lambda kid: order.get(kid, len(order)))

    def mesh_product(names):
        """The product of the meshes named (one face each), made once."""
        if names not in products:
            meshes = [scene.geometry[name] for name in names]
            faces = [_stl_face(mesh, scale) for mesh in meshes]
            label = tool.AddShape(faces[0] if len(faces) == 1 else compound(faces), False, False)
            for face, mesh in zip(faces, meshes):
                rgba = getattr(getattr(mesh.visual, "material", None), "baseColorFactor", None)
                if rgba is not None:
                    owner = label if len(faces) == 1 else tool.AddSubShape(label, face)
                    colors.SetColor(owner, Quantity_Color(*(float(c) / 255.0 for c in rgba[:3]),
                                                          Quantity_TOC_RGB), XCAFDoc_ColorSurf)
            _name(label, _as_named(names[0], scene.geometry))
            products[names] = label
        return products[names]

    def add(assembly, parent, node, moved):
        """Places node (its meshes, then its children) in assembly; moved: a placement
        above it that is no motion, taken into its triangles instead."""
        edge = graph.edge_data.get((parent, node), {})
        matrix = edge.get("matrix")
        matrix = moved if matrix is None else (matrix if moved is None else moved @ matrix)
        location = _location(matrix, scale) if matrix is not None else TopLoc_Location()
        if location is None:
            location = TopLoc_Location()
        else:
            matrix = None
        kids = children(node)
        primitives = [kid for kid in kids
                      if kid.startswith(node) and _PRIMITIVE.fullmatch(kid[len(node):])]
        names = tuple(name for name in [edge.get("geometry")] + [
            graph.edge_data.get((node, kid), {}).get("geometry") for kid in primitives]
            if name in scene.geometry)
        others = [kid for kid in kids if kid not in primitives]
        if matrix is not None:  # the triangles moved: a product of this placement's own
            names = tuple(_moved(scene, name, matrix) for name in names)
        if names and not others:
            product = mesh_product(names)
        elif others:
            product = tool.NewShape()
            if names:
                tool.AddComponent(product, mesh_product(names), TopLoc_Location())
            for kid in others:
                add(product, node, kid, matrix)
        else:
            return  # nothing to show
        _name(tool.AddComponent(assembly, product, location), _as_named(node, nodes))

    root = tool.NewShape()
    for node in children(scene.graph.base_frame):
        add(root, scene.graph.base_frame, node, None)
    tool.UpdateAssemblies()
    return document


def _name(label, name):
    TDataStd_Name.Set_s(label, TCollection_ExtendedString(str(name)))


def _as_named(name, names):
    """A node's or mesh's name as the file gives it: trimesh tells apart two of one name
    (and the meshes of one mesh's primitives) by a number it puts after the second."""
    base = _NUMBERED.sub("", name)
    return base if base != name and base in names else name


def _moved(scene, name, matrix):
    """A copy of the mesh named, its triangles moved by matrix, added to the scene."""
    moved = f"{name} (moved, {len(scene.geometry)})"  # the scene only grows: unique
    scene.geometry[moved] = scene.geometry[name].copy().apply_transform(matrix)
    return moved


# What trimesh puts after a glTF node's name to name the mesh of each of its primitives,
# and after a name it has met already.
_PRIMITIVE = re.compile(r"_[0-9a-f]{6}")
_NUMBERED = re.compile(r"_[0-9]+$")


def _file_order(scene):
    """Each node of a glTF scene trimesh read, by its place in the file. trimesh's loader
    walks the nodes depth first from a stack, so that it meets (and lists) a node's
    children last first: walked from a stack of the lists again, they come in the
    file's order."""
    children = scene.graph.transforms.children
    order, stack = {}, [scene.graph.base_frame]
    while stack:
        node = stack.pop()
        if node not in order:
            order[node] = len(order)
            stack.extend(children.get(node, ()))
    return order


def _location(matrix, scale):
    """The TopLoc_Location of a 4 x 4 placement in the scene's units, None unless it is
    a motion (a rotation and a translation) OCCT can place by."""
    trsf = gp_Trsf()
    rows = [[float(matrix[r][c]) * (scale if c == 3 else 1.0) for c in range(4)] for r in range(3)]
    try:
        trsf.SetValues(*(value for row in rows for value in row))
    except Exception:  # noqa: BLE001 - OCCT refuses a scaling or shearing placement
        return None
    if abs(trsf.ScaleFactor() - 1.0) > 1e-9:
        return None
    return TopLoc_Location(trsf)


def _stl_face(mesh, scale):
    """A face carrying mesh's triangles, scaled to millimetres, through a binary STL."""
    handle, stl = tempfile.mkstemp(suffix=".stl", prefix="morvik-")
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(mesh.copy().apply_scale(scale).export(file_type="stl"))
        triangles = RWStl.ReadFile_s(stl, CREASE_ANGLE)
    finally:
        os.unlink(stl)
    face = TopoDS_Face()
    BRep_Builder().MakeFace(face, triangles)
    return face


def plain_colours(trimesh, scene, linear=False):
    """Gives each mesh of scene one material of its main colour, as linear RGB (glTF's),
    in place of face or vertex colours and textures: OCCT shows a face in one colour, and
    trimesh would need SciPy to write colours per vertex. Points and lines are dropped.
    linear: the scene's colours are linear already (a glTF file's), not sRGB."""
    from trimesh.visual.material import PBRMaterial

    for name, geometry in list(scene.geometry.items()):
        if not isinstance(geometry, trimesh.Trimesh) or not len(geometry.faces):
            scene.delete_geometry(name)
            continue
        rgba = _main_color(geometry.visual)
        to_linear = (lambda c: c) if linear else srgb_to_linear
        material = PBRMaterial(baseColorFactor=None if rgba is None else
                               [*(to_linear(c / 255.0) for c in rgba[:3]), rgba[3] / 255.0])
        geometry.visual = trimesh.visual.TextureVisuals(material=material)


def _main_color(visual):
    """The RGBA bytes a mesh mostly shows, or None when its file gives it no colour."""
    try:
        if getattr(visual, "kind", None) in ("face", "vertex"):
            return [int(c) for c in visual.main_color]
        material = getattr(visual, "material", None)
        if material is not None:
            color = getattr(material, "main_color", None)
            if color is not None:
                return [int(c) for c in color]
    except Exception:  # noqa: BLE001 - a colour the library cannot give: none
        pass
    return None


def srgb_to_linear(value):
    """An sRGB channel (0 to 1, as mesh files store colours) in linear light."""
    return value / 12.92 if value <= 0.04045 else math.pow((value + 0.055) / 1.055, 2.4)


def linear_to_srgb(value):
    """A linear channel (0 to 1, as OCCT's colours are) as mesh files store it, in sRGB."""
    return value * 12.92 if value <= 0.0031308 else 1.055 * math.pow(value, 1 / 2.4) - 0.055


_READERS = {"STEP": _step, "IGES": _iges, "glTF": _gltf, "VRML": _vrml, "STL": _stl,
            **{kind: _through_mesh_library(kind) for kind in MESH_LIBRARY_KINDS}}
