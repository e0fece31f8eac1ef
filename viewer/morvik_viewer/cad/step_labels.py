"""What a label of OCCT's document layer says: its name, its colour, its sub-labels,
and whether a name names anything (see cad.step_reader)."""

import re

from OCP.Quantity import Quantity_Color
from OCP.TCollection import TCollection_AsciiString
from OCP.TDataStd import TDataStd_Name
from OCP.TDF import TDF_Label, TDF_Tool
from OCP.TopAbs import TopAbs_FACE
from OCP.TopoDS import TopoDS_Iterator
from OCP.XCAFDoc import (
    XCAFDoc_ColorGen,
    XCAFDoc_ColorSurf,
    XCAFDoc_ColorTool,
    XCAFDoc_DocumentTool,
    XCAFDoc_VisMaterialTool,
)

# OCCT's collections the STEP modules use, under one name whatever the OCP (the walk
# takes the maps and the attribute sequences from here, the reader the name sequences).
try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import IndexedMap_TopoDS_Shape_TopTools_ShapeMapHasher as ShapeMap
    from OCP.collections import Sequence_TCollection_AsciiString as NameSequence
    from OCP.collections import Sequence_TDF_Attribute as AttributeSequence
    from OCP.collections import Sequence_TDF_Label as LabelSequence
except ImportError:  # OCP 7 under OCCT's own names
    from OCP.TColStd import TColStd_SequenceOfAsciiString as NameSequence  # noqa: F401
    from OCP.TDF import TDF_AttributeSequence as AttributeSequence  # noqa: F401
    from OCP.TDF import TDF_LabelSequence as LabelSequence
    from OCP.TopTools import TopTools_IndexedMapOfShape as ShapeMap  # noqa: F401


# The name OCCT's own writer gives a product that was given none.
OCCT_PLACEHOLDER = "Open CASCADE STEP translator "


# Names that say nothing of the part: the placeholders exporters and OCCT write when
# there is none. A shape-type word (with a number: "SOLID1", "Shell 2"), XCAF's label
# entries ("=>[0:1:1:3]") and a usage's default id ("NAUO1"). A product called by a
# number is called so ("1048", a part number); an instance's bare number is only its
# place among its siblings (OCCT's writer numbers usages "1", "2"...).
_NAMELESS = re.compile(
    r"(?i)(?:(?:compound|compsolid|solid|shell|face|wire|edge|vertex|shape|assembly)"
    r"[\s_-]*\d*|=>\[[\d:]*\]|nauo[\s_-]*\d*)")
_NUMBER = re.compile(r"\d+")


def meaningful_name(text, top=None, instance=False):
    """text stripped, or None when it names nothing: empty, OCCT's placeholder, a
    shape-type word, XCAF's label entry, a usage's default id, an instance's bare
    number, or the name EDA exports make of the top assembly's name for a component
    that has none ("pcb 1.27.1" under "pcb 1")."""
    if text is None:
        return None
    text = text.strip()
    if not text or text.startswith(OCCT_PLACEHOLDER) or _NAMELESS.fullmatch(text) \
            or (instance and _NUMBER.fullmatch(text)):
        return None
    if top and text.startswith(top) and re.fullmatch(r"(?:\.\d+)+", text[len(top):]):
        return None
    return text


def labels(fill, label):
    """The labels fill(label, sequence) puts in a sequence, as a list."""
    sequence = LabelSequence()
    fill(label, sequence)
    # len(), not Length(): OCP 8's Length() takes some 200 µs a call.
    return [sequence.Value(i) for i in range(1, len(sequence) + 1)]


def label_name(label):
    """The name attribute of label, as written; None when it has none."""
    # Asked first: OCP's FindAttribute crashes on a label without one.
    if not label.IsAttribute(_NAME_ID):
        return None
    attribute = TDataStd_Name()
    label.FindAttribute(_NAME_ID, attribute)
    return attribute.Get().ToExtString()


_NAME_ID = TDataStd_Name.GetID_s()


def label_color(label, materials=None):
    """The surface colour set on label, as linear RGB; None when none is. materials, a
    document's XCAFDoc_VisMaterialTool, when given: a label without a colour takes its
    visual material's base colour (the mesh readers, glTF's, give materials only)."""
    color = Quantity_Color()
    for kind in (XCAFDoc_ColorSurf, XCAFDoc_ColorGen):
        if XCAFDoc_ColorTool.GetColor_s(label, kind, color):
            return (color.Red(), color.Green(), color.Blue())
    if materials is not None:
        found = TDF_Label()
        material = (XCAFDoc_VisMaterialTool.GetMaterial_s(found)
                    if XCAFDoc_VisMaterialTool.GetShapeMaterial_s(label, found) else None)
        if material is not None:
            color = material.BaseColor().GetRGB()
            return (color.Red(), color.Green(), color.Blue())
    return None


def visual_materials(document):
    """The document's XCAFDoc_VisMaterialTool when it holds any visual material, else None
    (so that a STEP file's walk asks nothing more of each label)."""
    main = document.Main()
    if not XCAFDoc_DocumentTool.CheckVisMaterialTool_s(main):
        return None
    tool = XCAFDoc_DocumentTool.VisMaterialTool_s(main)
    found = LabelSequence()
    tool.GetMaterials(found)
    return tool if len(found) else None


def _entry(label):
    text = TCollection_AsciiString()
    TDF_Tool.Entry_s(label, text)
    return text.ToCString()


def _is_empty(shape):
    # A mesh file's face holds its triangles and nothing below it: not empty.
    return shape.IsNull() or (shape.ShapeType() != TopAbs_FACE
                              and not TopoDS_Iterator(shape).More())
