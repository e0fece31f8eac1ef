"""STEP files through OCCT's document layer: every part with its name, colour and place."""

from dataclasses import dataclass

from OCP.IFSelect import IFSelect_RetDone
from OCP.Quantity import Quantity_Color
from OCP.STEPCAFControl import STEPCAFControl_Reader
from OCP.TCollection import TCollection_ExtendedString
from OCP.TDataStd import TDataStd_Name
from OCP.TDF import TDF_Label
from OCP.TDocStd import TDocStd_Document
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS_Shape
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_ColorGen, XCAFDoc_ColorSurf, XCAFDoc_ColorTool, XCAFDoc_DocumentTool

from morvik_viewer.paths import one_line

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import Sequence_TDF_Label as LabelSequence
except ImportError:  # OCP 7 under OCCT's own name
    from OCP.TDF import TDF_LabelSequence as LabelSequence

# The name OCCT's own writer gives a product that was given none.
OCCT_PLACEHOLDER = "Open CASCADE STEP translator "
# Levels of references and assemblies a walk goes down at most.
MAX_DEPTH = 100_000


class StepError(Exception):
    """Why a STEP file gave no parts, in words for the user (without the file's name)."""


@dataclass
class StepPart:
    """One leaf of the file's assembly, placed where the assembly puts it."""

    name: str | None  # the product's name; None when the file gives it none
    shape: TopoDS_Shape
    color: tuple | None  # linear RGB, as Quantity_TOC_RGB; None when the file gives none


def read_step(path):
    """The parts of the STEP file at path (a str OCCT can open), in the file's order.

    A part's colour is its instance's surface colour, else its product's, else
    one of its sub-shapes', else the nearest enclosing assembly's.
    """
    document = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
    XCAFApp_Application.GetApplication_s().InitDocument(document)
    reader = STEPCAFControl_Reader()
    reader.SetNameMode(True)
    reader.SetColorMode(True)
    try:
        status = reader.ReadFile(path)
    except Exception as error:  # OCCT errors derive from Exception only
        raise StepError(f"cannot read STEP data ({one_line(error)})") from error
    if status != IFSelect_RetDone:
        raise StepError("not a readable STEP file")
    try:
        transferred = reader.Transfer(document)
    except Exception as error:
        raise StepError(f"cannot read STEP data ({one_line(error)})") from error
    walk = _Walk(document)
    if transferred:
        walk.free_shapes()
    if not walk.parts:
        raise StepError("the STEP file holds no shape")
    return walk.parts


def _labels(fill, label):
    sequence = LabelSequence()
    fill(label, sequence)
    return [sequence.Value(i) for i in range(1, sequence.Length() + 1)]


class _Walk:
    """Collects the leaves of a document's assembly tree with their accumulated places.

    Depth first, in the file's order, with a stack of our own rather than
    recursion: assemblies may nest far deeper than Python's recursion limit.
    """

    def __init__(self, document):
        self.shapes = XCAFDoc_DocumentTool.ShapeTool_s(document.Main())
        self.parts = []

    def free_shapes(self):
        free = LabelSequence()
        self.shapes.GetFreeShapes(free)
        for i in range(1, free.Length() + 1):
            self.visit(free.Value(i))

    def visit(self, root):
        tool = self.shapes
        # (label, location, inherited colour, instance colour, depth)
        pending = [(root, TopLoc_Location(), None, None, 0)]
        while pending:
            label, location, inherited, instance_color, depth = pending.pop()
            if depth > MAX_DEPTH:
                # Only an assembly that holds itself gets here: its walk would never end.
                raise StepError(f"the assembly nests deeper than {MAX_DEPTH} levels")
            if tool.IsReference_s(label):
                referred = TDF_Label()
                tool.GetReferredShape_s(label, referred)
                pending.append((referred, location.Multiplied(tool.GetLocation_s(label)),
                                inherited, _color(label), depth + 1))
                continue
            own = instance_color or _color(label)
            if tool.IsAssembly_s(label):
                components = _labels(tool.GetComponents_s, label)
                # The first component comes off the stack first.
                pending.extend((component, location, own or inherited, None, depth + 1)
                               for component in reversed(components))
                continue
            shape = tool.GetShape_s(label)
            if shape.IsNull():
                continue
            if not location.IsIdentity():
                shape = shape.Moved(location)
            color = own or self.sub_shape_color(label) or inherited
            self.parts.append(StepPart(_name(label), shape, color))

    def sub_shape_color(self, label):
        for sub in _labels(self.shapes.GetSubShapes_s, label):
            color = _color(sub)
            if color:
                return color
        return None


def _color(label):
    color = Quantity_Color()
    for kind in (XCAFDoc_ColorSurf, XCAFDoc_ColorGen):
        if XCAFDoc_ColorTool.GetColor_s(label, kind, color):
            return (color.Red(), color.Green(), color.Blue())
    return None


def _name(label):
    attribute = TDataStd_Name()
    if not label.FindAttribute(TDataStd_Name.GetID_s(), attribute):
        return None
    name = attribute.Get().ToExtString().strip()
    if not name or name.startswith(OCCT_PLACEHOLDER):
        return None
    return name
