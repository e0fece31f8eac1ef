"""What the viewer read, written into any kind of file it exports (model.exports.TARGETS),
in the reader process: OCCT's writers where OCP binds one, the mesh library (trimesh)
for OBJ and PLY.

What is written is an XCAF document, so that names, colours and the assembly
structure go along wherever the format holds them:

- one file: its own document, as cad.formats reads it;
- several files: one document holding each file's as a top-level assembly named
  after the file, copied with XCAFDoc_Editor.Extract. Rebuilding it from the parts
  the window shows would lose what the parts do not carry (each file's nesting, the
  names of its assemblies and instances, products shared by several placements),
  where the copy keeps every label and attribute as read;
- a selection: a flat document, one top-level assembly of the parts asked for, each
  under its identifier, with its colour, its sub-shapes' colours and its placement,
  the placements of one product sharing it.

For the formats that hold triangles the model is meshed first, to the deflection
the window meshes it to (cad.meshing.model_deflection), so that the file holds the
triangles the window shows. OBJ and PLY go through the mesh library by way of a GLB
file OCCT writes, as cad.formats reads them.
"""

import math
import os
from pathlib import Path

from OCP.BRep import BRep_Tool
from OCP.BRepTools import BRepTools
from OCP.gp import gp_Ax1, gp_Dir, gp_Pnt, gp_Trsf
from OCP.IFSelect import IFSelect_RetDone
from OCP.IGESCAFControl import IGESCAFControl_Writer
from OCP.IGESControl import IGESControl_Controller
from OCP.Interface import Interface_Static
from OCP.Message import Message_ProgressRange
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.RWGltf import RWGltf_CafWriter
from OCP.STEPCAFControl import STEPCAFControl_Writer
from OCP.STEPControl import STEPControl_AsIs, STEPControl_Controller
from OCP.StlAPI import StlAPI_Writer
from OCP.TCollection import TCollection_AsciiString, TCollection_ExtendedString
from OCP.TDataStd import TDataStd_Name
from OCP.TDF import TDF_Label
from OCP.TopAbs import TopAbs_FACE
from OCP.TopExp import TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.VrmlAPI import VrmlAPI_Writer
from OCP.XCAFDoc import (
    XCAFDoc_ColorGen,
    XCAFDoc_ColorSurf,
    XCAFDoc_DocumentTool,
    XCAFDoc_Editor,
    XCAFDoc_ShapeTool,
)

from morvik_viewer.cad.formats import linear_to_srgb, mesh_library, new_document, read_document
from morvik_viewer.cad.meshing import Mesher, _face, model_deflection
from morvik_viewer.cad.parts import load_all, load_parts
from morvik_viewer.cad.shapes import compound
from morvik_viewer.cad.step_labels import (
    LabelSequence,
    ShapeMap,
    _entry,
    label_color,
    label_name,
    labels,
)
from morvik_viewer.cad.step_walk import StepError
from morvik_viewer.model.exports import MESH_LIBRARY_TARGETS, MESH_TARGETS, disk_full
from morvik_viewer.model.file_kinds import kind_of
from morvik_viewer.model.parts import LoadError, check_file
from morvik_viewer.model.paths import one_line, shown
from morvik_viewer.model.up_axis import Y_UP, Z_UP, authored_up, files_up

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import IndexedDataMap_TCollection_AsciiString_TCollection_AsciiString as FileInfo
except ImportError:  # OCP 7 under OCCT's own names
    from OCP.TColStd import TColStd_IndexedDataMapOfStringString as FileInfo

# The document layer's lengths are millimetres (every reader converts to them); the
# writers convert to their format's own from this, in metres.
DOCUMENT_UNIT_M = 0.001
# The STEP schema that holds triangles (tessellated shapes), for a model of no surface.
STEP_TESSELLATED_SCHEMA = "AP242DIS"
# The axis that points up in a file of each kind: Y in the formats that define it so.
TARGET_UP = {"glTF": Y_UP, "GLB": Y_UP, "VRML": Y_UP}
# IGES's way of writing solids: as solids (MSBO entities), not as loose trimmed faces.
IGES_SOLIDS = 1


class ExportError(Exception):
    """The file could not be written; the message says why, without the file's name."""


class Model:
    """What an export writes: an XCAF document and its top-level shapes (the free
    shapes' own, placed), which a mesh target's triangles are made on."""

    def __init__(self, document, shapes, up=None):
        self.document = document
        self.shapes = shapes
        self.up = up  # the axis its files say points up (see up_axis), None when none


def read_model(paths, ids=None, before_each=None):
    """The Model of paths (or of the parts named ids alone, in the order given); raises
    LoadError, with a message for the user naming the file, when a file cannot be read,
    or when a part asked for is not among those read. before_each is called with each
    path before it is read."""
    if ids is not None:
        trees = []
        parts = load_all(paths, before_each, trees)
        return _model(_named_only(lambda: _selection(parts, ids)), files_up(trees))
    documents, ups = [], []
    for path in paths:
        if before_each is not None:
            before_each(path)
        documents.append(document_of(path, ups))
    up = ups[0] if len(set(ups)) == 1 else None
    if len(documents) == 1:
        return _model(documents[0], up)
    names = [Path(path).stem for path in paths]
    return _model(_named_only(lambda: _merged(documents, names)), up)


def _named_only(make):
    """make(), the labels it adds named only as it names them: OCCT would call each
    "SOLID", "ASSEMBLY"... (names that say nothing, which a reader has to pass over).
    Never while a file is read: the walk asks every label of a read document its name."""
    was = XCAFDoc_ShapeTool.AutoNaming_s()
    XCAFDoc_ShapeTool.SetAutoNaming_s(False)
    try:
        return make()
    finally:
        XCAFDoc_ShapeTool.SetAutoNaming_s(was)


def document_of(path, ups=None):
    """The XCAF document of one file, as cad.formats reads it; raises LoadError naming
    the file. The viewer opens a BREP or IGES file's compounds into its solids, each a
    part (see cad.parts): such a file goes as the flat document of those parts, so that
    the file written holds them as the viewer shows them, and under their names."""
    check_file(path)
    kind = kind_of(path)
    if kind in ("BREP", "IGES"):
        parts = load_parts(path)
        if ups is not None:
            ups.append(None)
        return _named_only(lambda: _selection(parts, [part.shape_id for part in parts]))
    try:
        opened = read_document(str(path), kind)
    except StepError as error:
        raise LoadError(f"{shown(path)}: {error}") from error
    if ups is not None:  # the format's axis, or the one a STEP header's system models
        header = opened.header
        ups.append(opened.up or (authored_up(header.originating_system,
                                             header.preprocessor_version) if header else None))
    return opened.document


def _tool(document):
    return XCAFDoc_DocumentTool.ShapeTool_s(document.Main())


def _free(document):
    free = LabelSequence()
    _tool(document).GetFreeShapes(free)
    return [free.Value(i) for i in range(1, free.Length() + 1)]


def _model(document, up=None):
    XCAFDoc_DocumentTool.SetLengthUnit_s(document, DOCUMENT_UNIT_M)
    return Model(document, [XCAFDoc_ShapeTool.GetShape_s(label) for label in _free(document)],
                 up)


def upright_for(model, kind):
    """Turns model so that it stands in a file of kind as the viewer shows it: glTF and
    VRML are Y-up by definition, the others Z-up as CAD systems and printers take them. A
    model whose files say no axis is taken as Z-up, the viewer's default. The turn goes
    on a new top assembly that places the model's free shapes (one level more in the
    file's tree), so every writer, and OCP 7.8's, takes it."""
    said = model.up or Z_UP
    wanted = TARGET_UP.get(kind, Z_UP)
    if said == wanted:
        return
    turn = gp_Trsf()
    # A quarter turn about X: +Z to +Y, or back.
    turn.SetRotation(gp_Ax1(gp_Pnt(0.0, 0.0, 0.0), gp_Dir(1.0, 0.0, 0.0)),
                     -math.pi / 2 if wanted == Y_UP else math.pi / 2)
    location = TopLoc_Location(turn)
    tool = _tool(model.document)
    free = _free(model.document)
    root = _named_only(tool.NewShape)
    for label in free:
        name = label_name(label)
        if tool.IsReference_s(label):
            # A free placement (mesh readers make them): its shape, placed by both.
            referred = TDF_Label()
            tool.GetReferredShape_s(label, referred)
            placed = tool.AddComponent(root, referred,
                                       location.Multiplied(tool.GetLocation_s(label)))
            tool.RemoveShape(label, False)
        else:
            placed = tool.AddComponent(root, label, location)
        if name:  # a placement goes by what it places (glTF's nodes by their instance)
            _name(placed, name)
    tool.UpdateAssemblies()
    model.shapes = [shape.Moved(location) for shape in model.shapes]
    model.up = wanted


def _merged(documents, names):
    """One document holding each of documents as a top-level assembly called names[i]."""
    document = new_document()
    tool = _tool(document)
    for source, name in zip(documents, names):
        free = LabelSequence()
        for label in _free(source):
            free.Append(label)
        assembly = tool.NewShape()
        _name(assembly, name)
        if not XCAFDoc_Editor.Extract_s(free, assembly, False):
            raise LoadError(f"{name}: its assembly could not be copied into one document")
    tool.UpdateAssemblies()
    return document


def _name(label, text):
    TDataStd_Name.Set_s(label, TCollection_ExtendedString(text))


def _selection(parts, ids):
    """A flat document of the parts named ids: one assembly placing each, under its
    identifier, with its colours; placements of one product share its label."""
    by_id = {part.shape_id: part for part in parts}
    missing = [shape_id for shape_id in ids if shape_id not in by_id]
    if missing or not ids:
        raise LoadError("no part to export" if not ids else
                        f"{len(missing)} of the parts to export are not in the files "
                        f"({', '.join(map(str, missing[:3]))}{', ...' if len(missing) > 3 else ''})")
    document = new_document()
    tool, colors = _tool(document), XCAFDoc_DocumentTool.ColorTool_s(document.Main())
    top = tool.NewShape()
    products, placed = ShapeMap(), []  # each product's shape, and its label
    for shape_id in ids:
        part = by_id[shape_id]
        bare = part.shape.Located(TopLoc_Location())
        known = products.Extent()
        index = products.Add(bare)
        if index > known:
            placed.append(tool.AddShape(bare, False, False))
            _color_subs(tool, colors, placed[-1], part)
        usage = tool.AddComponent(top, placed[index - 1], part.shape.Location())
        _name(usage, shape_id)
        if part.color is not None:
            colors.SetColor(usage, _color(part.color), XCAFDoc_ColorSurf)
    tool.UpdateAssemblies()
    return document


def _color_subs(tool, colors, product, part):
    # A sub-shape of the placed part, moved back by its placement, is the product's.
    back = part.shape.Location().Inverted()
    for sub, rgb in part.sub_colors:
        label = tool.AddSubShape(product, sub.Moved(back))
        if not label.IsNull():
            colors.SetColor(label, _color(rgb), XCAFDoc_ColorSurf)


def _color(rgb):
    return Quantity_Color(*map(float, rgb), Quantity_TOC_RGB)


def _instances_as_shown(document):
    """Gives each instance the colour the viewer shows it in, for the glTF writer: a
    placed product's colour moves onto its instances that have none of their own.

    OCCT's glTF writer takes a product's colour over an instance's own, where the viewer,
    like the STEP file, shows the instance's (a red bolt among grey ones); with the colour
    on every instance, each instance's mesh takes the colour the viewer shows. (VRML's
    writer reads products' colours only: it is given the document as it is.)"""
    tool, colors = _tool(document), XCAFDoc_DocumentTool.ColorTool_s(document.Main())
    shapes = LabelSequence()
    tool.GetShapes(shapes)
    products = {}  # entry -> the label of a product placed and coloured
    for i in range(1, shapes.Length() + 1):
        assembly = shapes.Value(i)
        if not XCAFDoc_ShapeTool.IsAssembly_s(assembly):
            continue
        for component in labels(XCAFDoc_ShapeTool.GetComponents_s, assembly):
            product = TDF_Label()
            if not XCAFDoc_ShapeTool.GetReferredShape_s(component, product):
                continue
            rgb = label_color(product)
            if rgb is None:
                continue
            products[_entry(product)] = product
            if label_color(component) is None:
                colors.SetColor(component, _color(rgb), XCAFDoc_ColorSurf)
    for product in products.values():
        for kind in (XCAFDoc_ColorSurf, XCAFDoc_ColorGen):
            colors.UnSetColor(product, kind)


def mesh(model):
    """Meshes the model's shapes as the window does (one deflection for the whole model);
    a shape OCCT cannot mesh keeps what it has, as in the window."""
    mesher = Mesher(model_deflection(model.shapes))
    try:
        mesher.mesh(model.shapes)
    except Exception:  # noqa: BLE001 - what OCCT cannot mesh here, it shows unmeshed too
        pass


def check_writable(kind):
    """Raises ExportError when kind needs what is not installed (the mesh library)."""
    if kind in MESH_LIBRARY_TARGETS:
        try:
            mesh_library(kind)
        except StepError as error:
            raise ExportError(str(error).replace("reading", "writing")) from None


def write(model, kind, path):
    """Writes model into path (a str OCCT can open) as a file of kind, meshed first for
    the formats that hold triangles. ExportError when a writer says it failed."""
    upright_for(model, kind)
    if kind in MESH_TARGETS:
        mesh(model)
    try:
        done = _WRITERS[kind](model, path)
    except ExportError:
        raise
    except Exception as error:  # OCCT's and trimesh's errors, told as text
        raise ExportError(f"{type(error).__name__}: {one_line(error)}") from error
    if not done:
        raise ExportError(_why_failed(kind, path))


def _why_failed(kind, path):
    # OCCT's writers say no more than that they failed: a full disk is the usual cause.
    if disk_full(os.path.dirname(path) or "."):
        return "no space left on the disk"
    return f"OCCT's {kind} writer failed"


def _step(model, path):
    if _triangles_only(model):
        # AP214, OCCT's default, holds surfaces only: a model of triangles (a mesh file's)
        # would be written without a shape. AP242 holds them as tessellated shapes.
        STEPControl_Controller.Init_s()  # the settings' defaults first, then ours
        Interface_Static.SetCVal_s("write.step.schema", STEP_TESSELLATED_SCHEMA)
    writer = STEPCAFControl_Writer()
    writer.SetNameMode(True)
    writer.SetColorMode(True)
    return writer.Transfer(model.document, STEPControl_AsIs) and \
        writer.Write(path) == IFSelect_RetDone


def _iges(model, path):
    if _triangles_only(model):
        raise ExportError("IGES holds surfaces, and this model is triangles only")
    # The writer takes the mode as it is made, from a setting the controller's start
    # resets: started first, then set.
    IGESControl_Controller.Init_s()
    Interface_Static.SetIVal_s("write.iges.brep.mode", IGES_SOLIDS)
    writer = IGESCAFControl_Writer()
    writer.SetColorMode(True)
    writer.SetNameMode(True)
    return writer.Perform(model.document, path)


def _triangles_only(model):
    """Whether the model has a face that carries triangles and no surface (as a mesh
    file's faces are)."""
    for shape in model.shapes:
        faces = TopExp_Explorer(shape, TopAbs_FACE)
        while faces.More():
            if BRep_Tool.Surface_s(_face(faces.Current())) is None:
                return True
            faces.Next()
    return False


def _brep(model, path):
    shapes = model.shapes
    return BRepTools.Write_s(shapes[0] if len(shapes) == 1 else compound(shapes), path)


def _gltf(model, path, binary=False):
    _instances_as_shown(model.document)
    writer = RWGltf_CafWriter(TCollection_AsciiString(path), binary)
    return writer.Perform(model.document, FileInfo(), Message_ProgressRange())


def _stl(model, path):
    return StlAPI_Writer().Write(compound(model.shapes), path)


def _vrml(model, path):
    return VrmlAPI_Writer().WriteDoc(model.document, path, DOCUMENT_UNIT_M)


def _through_mesh_library(kind):
    """The writer of kind by the mesh library: OCCT's GLB of the model, loaded as a
    scene, each mesh in its one colour (as sRGB, as OBJ and PLY files hold colours)."""

    def write_kind(model, path):
        trimesh = mesh_library(kind)
        glb = os.path.join(os.path.dirname(path), ".model.glb")  # in the caller's folder
        if not _gltf(model, glb, binary=True):
            raise ExportError(_why_failed("GLB", glb))
        try:
            scene = trimesh.load(glb, force="scene", process=False)
        finally:
            os.unlink(glb)
        # glTF's metres, as the millimetres the viewer reads OBJ and PLY files in.
        scene.apply_scale(1.0 / DOCUMENT_UNIT_M)
        if kind == "OBJ":
            return _obj(trimesh, scene, path)
        return _ply(trimesh, scene, path)

    return write_kind


def _srgb_bytes(trimesh, geometry):
    """The RGBA bytes, in sRGB, of the one colour OCCT gave a mesh (linear, as glTF's)."""
    material = getattr(geometry.visual, "material", None)
    factor = getattr(material, "baseColorFactor", None)
    if factor is None:
        return None
    rgba = [float(c) / 255.0 if max(factor) > 1.0 else float(c) for c in factor]
    return [round(255 * linear_to_srgb(c)) for c in rgba[:3]] + [round(255 * rgba[3])]


def _obj(trimesh, scene, path):
    from trimesh.visual.material import SimpleMaterial  # with the mesh library, optional

    for geometry in scene.geometry.values():
        rgba = _srgb_bytes(trimesh, geometry)
        # A mesh without a colour goes without a material, as it came.
        geometry.visual = (trimesh.visual.TextureVisuals(material=SimpleMaterial(diffuse=rgba))
                           if rgba is not None else trimesh.visual.ColorVisuals())
    stem = Path(path).stem
    # The materials go beside the file, named after it: trimesh's own name would be
    # "material.mtl" whatever the file, and two exports into one folder would share it.
    text, beside = trimesh.exchange.obj.export_obj(
        scene, include_normals=False, return_texture=True, mtl_name=f"{stem}.mtl")
    folder = os.path.dirname(path)
    for name, data in beside.items():
        with open(os.path.join(folder, os.path.basename(name)), "wb") as file:
            file.write(data)
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)
    return True


def _ply(trimesh, scene, path):
    """One mesh, as PLY holds: the scene's meshes placed and merged, each face in its
    mesh's colour."""
    meshes = []
    for geometry in scene.dump():
        rgba = _srgb_bytes(trimesh, geometry)
        geometry.visual = trimesh.visual.ColorVisuals(
            geometry, face_colors=rgba if rgba is not None else None)
        meshes.append(geometry)
    whole = trimesh.util.concatenate(meshes)
    data = trimesh.exchange.ply.export_ply(whole, encoding="binary", vertex_normal=False)
    with open(path, "wb") as file:
        file.write(data)
    return True


_WRITERS = {"STEP": _step, "IGES": _iges, "BREP": _brep, "glTF": _gltf,
            "GLB": lambda model, path: _gltf(model, path, binary=True), "STL": _stl,
            "VRML": _vrml, **{kind: _through_mesh_library(kind) for kind in MESH_LIBRARY_TARGETS}}
