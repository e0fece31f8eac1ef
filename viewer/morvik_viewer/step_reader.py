"""STEP files through OCCT's document layer: every part with its name, colours and place."""

import re
from dataclasses import dataclass

from OCP.IFSelect import IFSelect_RetDone
from OCP.Quantity import Quantity_Color
from OCP.STEPCAFControl import STEPCAFControl_Reader
from OCP.TCollection import TCollection_AsciiString, TCollection_ExtendedString
from OCP.TDataStd import TDataStd_Name
from OCP.TDF import TDF_Label, TDF_Tool
from OCP.TDocStd import TDocStd_Document
from OCP.TopAbs import (
    TopAbs_COMPOUND,
    TopAbs_COMPSOLID,
    TopAbs_FACE,
    TopAbs_SHELL,
    TopAbs_SOLID,
)
from OCP.TopExp import TopExp, TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS_Iterator, TopoDS_Shape
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import (
    XCAFDoc_ColorGen,
    XCAFDoc_ColorSurf,
    XCAFDoc_ColorTool,
    XCAFDoc_DocumentTool,
    XCAFDoc_GraphNode,
    XCAFDoc_ShapeTool,
)

from morvik_viewer.paths import one_line
from morvik_viewer.reading import MILLIMETRES

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import IndexedMap_TopoDS_Shape_TopTools_ShapeMapHasher as ShapeMap
    from OCP.collections import Sequence_TDF_Attribute as AttributeSequence
    from OCP.collections import Sequence_TDF_Label as LabelSequence
    from OCP.collections import Sequence_TCollection_AsciiString as NameSequence
except ImportError:  # OCP 7 under OCCT's own names
    from OCP.TDF import TDF_AttributeSequence as AttributeSequence
    from OCP.TDF import TDF_LabelSequence as LabelSequence
    from OCP.TColStd import TColStd_SequenceOfAsciiString as NameSequence
    from OCP.TopTools import TopTools_IndexedMapOfShape as ShapeMap

# The name OCCT's own writer gives a product that was given none.
OCCT_PLACEHOLDER = "Open CASCADE STEP translator "
# Levels of references and assemblies a walk goes down at most.
MAX_DEPTH = 100_000
# Length units as STEP files name them (SI ones as OCCT spells them, the others as
# exporters write them): the short name shown, and millimetres in one unit. OCCT
# converts every file to millimetres; the viewer shows lengths in the file's own unit.
LENGTH_UNITS = {
    "millimetre": ("mm", 1.0), "millimeter": ("mm", 1.0), "mm": ("mm", 1.0),
    "centimetre": ("cm", 10.0), "centimeter": ("cm", 10.0), "cm": ("cm", 10.0),
    "decimetre": ("dm", 100.0), "decimeter": ("dm", 100.0),
    "metre": ("m", 1000.0), "meter": ("m", 1000.0), "m": ("m", 1000.0),
    "kilometre": ("km", 1e6), "kilometer": ("km", 1e6),
    "micrometre": ("µm", 1e-3), "micrometer": ("µm", 1e-3), "micron": ("µm", 1e-3),
    "nanometre": ("nm", 1e-6), "nanometer": ("nm", 1e-6),
    "inch": ("inch", 25.4), "in": ("inch", 25.4), "foot": ("ft", 304.8), "feet": ("ft", 304.8),
    "ft": ("ft", 304.8), "yard": ("yd", 914.4), "mile": ("mi", 1609344.0),
    "mil": ("mil", 0.0254), "thou": ("mil", 0.0254),
}

# Coloured sub-shapes, coarse to fine: a finer one's colour wins where they overlap.
_RANK = {TopAbs_COMPOUND: 0, TopAbs_COMPSOLID: 1, TopAbs_SOLID: 2, TopAbs_SHELL: 3, TopAbs_FACE: 4}
# Names that say nothing of the part: what exporters and OCCT write when there is
# none. A shape-type word (with a number: "SOLID1", "Shell 2"), XCAF's instance
# names ("=>[0:1:1:3]"), and a bare number (OCCT's writer numbers instances "1").
_NAMELESS = re.compile(
    r"(?i)(?:(?:compound|compsolid|solid|shell|face|wire|edge|vertex|shape|assembly)"
    r"[\s_-]*\d*|=>\[[\d:]*\]|\d+)")


@dataclass
class Node:
    """An assembly or a leaf of the file's tree, as a walk meets it (see tree)."""

    depth: int
    name: str | None  # None: the nearest enclosing name, or the file's, stands for it
    color: tuple | None  # its own colour or the one it takes from above; None when none
    parts: tuple | None = None  # a leaf's parts, as a range of the walk's list


class StepError(Exception):
    """Why a STEP file gave no parts, in words for the user (without the file's name)."""


@dataclass
class StepPart:
    """One leaf of the file's assembly (or one solid of an unnamed leaf), placed where
    the assembly puts it."""

    name: str | None  # the most specific name the file gives the part; None when none
    shape: TopoDS_Shape
    color: tuple | None  # linear RGB, as Quantity_TOC_RGB; None when the file gives none
    # (sub-shape of shape, colour) pairs, coarse to fine, none equal to what it covers.
    sub_colors: tuple = ()
    # The nearest enclosing assembly's name, for a part without one; None at the top.
    group: str | None = None


def read_step(path, nodes=None, unit=None):
    """The parts of the STEP file at path (a str OCCT can open), in the file's order.

    A part's name is its instance's, else (when the instance places a
    one-part assembly, as EDA exports wrap each component) the name of the
    instance that places that assembly, else its product's; names that say
    nothing (see meaningful_name) do not count. A part left without a name
    opens into its top-level solids, each keeping its own colours.

    A part's colour is its instance's, else its product's, else the nearest
    enclosing instance's or assembly's. Its sub-colours are its product's
    coloured solids, shells and faces.

    nodes, when given, is a list that takes the tree's assemblies and leaves
    (Node), in the same order; unit, when given, a list that takes the file's
    length unit (see length_unit).
    """
    walk = _Walk(open_document(path, unit), nodes)
    walk.free_shapes()
    if not walk.parts:
        raise StepError("the STEP file holds no shape")
    return walk.parts


def open_document(path, unit=None):
    """The XCAF document of the STEP file at path; raises StepError. unit, when given,
    is a list that takes the file's length unit (see length_unit)."""
    document = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
    XCAFApp_Application.GetApplication_s().InitDocument(document)
    reader = STEPCAFControl_Reader()
    reader.SetNameMode(True)
    reader.SetColorMode(True)
    reader.SetSHUOMode(True)  # styles set on one usage of a nested instance
    try:
        status = reader.ReadFile(path)
    except Exception as error:  # OCCT errors derive from Exception only
        raise StepError(f"cannot read STEP data ({one_line(error)})") from error
    if status != IFSelect_RetDone:
        raise StepError("not a readable STEP file")
    if unit is not None:
        unit.append(length_unit(reader))
    try:
        reader.Transfer(document)
    except Exception as error:
        raise StepError(f"cannot read STEP data ({one_line(error)})") from error
    return document


def length_unit(reader):
    """(short name, millimetres in one) of the length unit a STEP file (read, not yet
    transferred, by reader) gives its shapes; millimetres when it names none, several
    or one unknown here, as OCCT's shapes then come (in millimetres) and are shown."""
    names = NameSequence(), NameSequence(), NameSequence()
    try:
        reader.ChangeReader().FileUnits(*names)
        lengths = {names[0].Value(i).ToCString().strip().lower()
                   for i in range(1, names[0].Length() + 1)}
    except Exception:  # noqa: BLE001 - a file without units shows millimetres
        lengths = set()
    found = {LENGTH_UNITS.get(name) for name in lengths}
    return found.pop() if len(found) == 1 and None not in found else MILLIMETRES


def meaningful_name(text, top=None):
    """text stripped, or None when it names nothing: empty, OCCT's placeholder, a
    shape-type word, XCAF's instance name, a bare number, or the name EDA exports
    make of the top assembly's name for a component that has none ("pcb 1.27.1"
    under "pcb 1")."""
    if text is None:
        return None
    text = text.strip()
    if not text or text.startswith(OCCT_PLACEHOLDER) or _NAMELESS.fullmatch(text):
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
    attribute = TDataStd_Name()
    if not label.FindAttribute(TDataStd_Name.GetID_s(), attribute):
        return None
    return attribute.Get().ToExtString()


def label_color(label):
    """The surface colour set on label, as linear RGB; None when none is."""
    color = Quantity_Color()
    for kind in (XCAFDoc_ColorSurf, XCAFDoc_ColorGen):
        if XCAFDoc_ColorTool.GetColor_s(label, kind, color):
            return (color.Red(), color.Green(), color.Blue())
    return None


def _entry(label):
    text = TCollection_AsciiString()
    TDF_Tool.Entry_s(label, text)
    return text.ToCString()


def _is_empty(shape):
    return shape.IsNull() or not TopoDS_Iterator(shape).More()


class Product:
    """A leaf product's shape and colours, read once however many instances place it.

    Sub-colours are kept as indices into one map of the product's sub-shapes,
    so that each instance finds its own by moving the mapped shape: a
    sub-shape of shape.Moved(L), as TopExp finds it, is the sub-shape of
    shape moved by L.
    """

    def __init__(self, label, top):
        self.shape = XCAFDoc_ShapeTool.GetShape_s(label)
        self.name = meaningful_name(label_name(label), top)
        self.color = label_color(label)
        self.shapes = None  # the map of compounds, solids, shells and faces, once needed
        # (index, colour, covered): covered when a coarser coloured sub-shape holds it,
        # and then only kept when its colour differs from that one.
        self.colored = []
        self._pieces = None
        found = {}
        for sub in labels(XCAFDoc_ShapeTool.GetSubShapes_s, label):
            rgb = label_color(sub)
            if rgb is None:
                continue
            shape = XCAFDoc_ShapeTool.GetShape_s(sub)
            rank = _RANK.get(shape.ShapeType())
            if rank is None:
                continue  # edges and vertices: no surface to colour
            if shape.IsSame(self.shape):
                self.color = self.color or rgb  # the whole product, said on a sub-shape
                continue
            index = self._map().FindIndex(shape)
            if index:
                found[index] = (rank, rgb)  # set twice: the later one holds
        if found:
            self._settle(found)

    def _map(self):
        if self.shapes is None:
            self.shapes = ShapeMap()
            for kind in _RANK:
                TopExp.MapShapes_s(self.shape, kind, self.shapes)
        return self.shapes

    def _settle(self, found):
        order = sorted(found, key=lambda index: found[index][0])
        covering = {}  # index -> colour of the finest coloured sub-shape holding it
        coarse = [i for i in order if found[i][0] < _RANK[TopAbs_FACE]]
        for index in coarse:
            inner = self._inside(self.shapes.FindKey(index), found[index][0])
            for i in inner:
                covering[i] = found[index][1]
        for index in order:
            rgb = found[index][1]
            above = covering.get(index)
            if above is None:
                self.colored.append((index, rgb, False))
            elif above != rgb:
                self.colored.append((index, rgb, True))

    def _inside(self, shape, rank):
        """Indices of the finer sub-shapes of shape in the product's map."""
        found = []
        for kind, kind_rank in _RANK.items():
            if kind_rank <= rank:
                continue
            explorer = TopExp_Explorer(shape, kind)
            while explorer.More():
                index = self.shapes.FindIndex(explorer.Current())
                if index:
                    found.append(index)
                explorer.Next()
        return found

    def sub_colors(self, base, location, within=None):
        """(sub-shape, colour) pairs placed by location, leaving out what base covers;
        only those among the indices within, when given."""
        result = []
        for index, rgb, covered in self.colored:
            if within is not None and index not in within:
                continue
            if not covered and rgb == base:
                continue
            shape = self.shapes.FindKey(index)
            result.append((shape if location is None else shape.Moved(location), rgb))
        return tuple(result)

    def pieces(self):
        """(solid, own colour, indices of the coloured sub-shapes inside) for each
        top-level solid, the loose rest as one compound."""
        if self._pieces is None:
            # Loaded here: scene loads this module only when it reads a STEP file.
            from morvik_viewer.scene import top_level_solids

            self._pieces = []
            colors = {index: rgb for index, rgb, _ in self.colored}
            for solid in top_level_solids(self.shape):
                if not self.colored:
                    self._pieces.append((solid, None, set()))
                    continue
                own = colors.get(self._map().FindIndex(solid))
                inner = set(self._inside(solid, _RANK[TopAbs_SOLID])) & colors.keys()
                self._pieces.append((solid, own, inner))
        return self._pieces


class _Walk:
    """Collects the leaves of a document's assembly tree with their accumulated places.

    Depth first, in the file's order, with a stack of our own rather than
    recursion: assemblies may nest far deeper than Python's recursion limit.
    """

    def __init__(self, document, nodes=None):
        self.document = document  # the tools below live only as long as it does
        self.shapes = XCAFDoc_DocumentTool.ShapeTool_s(document.Main())
        self.parts = []
        self.products = {}  # label entry -> Product
        self.nodes = nodes  # a list to take every assembly and leaf met, when given

    def free_shapes(self):
        free = LabelSequence()
        self.shapes.GetFreeShapes(free)
        for i in range(1, len(free) + 1):
            self.visit(free.Value(i))

    def visit(self, root):
        tool = self.shapes
        top = label_name(root)
        top = top.strip() if top else None
        # (label, location, inherited colour, instance colour, instance name, group,
        #  styles of instances further down, depth)
        pending = [(root, TopLoc_Location(), None, None, None, None, (), 0)]
        while pending:
            label, location, inherited, instance_color, instance_name, group, styles, depth = (
                pending.pop())
            if depth > MAX_DEPTH:
                # Only an assembly that holds itself gets here: its walk would never end.
                raise StepError(f"the assembly nests deeper than {MAX_DEPTH} levels")
            if tool.IsReference_s(label):
                referred = TDF_Label()
                tool.GetReferredShape_s(label, referred)
                color, styles = _styled(label, styles)
                name = meaningful_name(label_name(label), top) or instance_name
                pending.append((referred, location.Multiplied(tool.GetLocation_s(label)),
                                inherited, color or label_color(label), name, group, styles,
                                depth + 1))
                continue
            own = instance_color or label_color(label)
            if tool.IsAssembly_s(label):
                components = labels(tool.GetComponents_s, label)
                here = instance_name or meaningful_name(label_name(label), top) or group
                if self.nodes is not None:
                    self.nodes.append(Node(depth // 2, here, own or inherited))
                # An instance of a one-part assembly is an instance of that part: EDA
                # exports wrap each component so, and name only the wrapper's instance.
                passed = instance_name if len(components) == 1 else None
                # The first component comes off the stack first.
                pending.extend((component, location, own or inherited, None, passed, here,
                                styles, depth + 1) for component in reversed(components))
                continue
            start = len(self.parts)
            color = self.leaf(label, location, own, inherited, instance_name, group, top)
            if self.nodes is not None and len(self.parts) > start:
                self.nodes.append(Node(depth // 2, instance_name or self.parts[start].name
                                       or group, color, (start, len(self.parts))))

    def leaf(self, label, location, own, inherited, instance_name, group, top):
        """Adds the parts of a leaf; returns its colour."""
        key = _entry(label)
        product = self.products.get(key)
        if product is None:
            product = self.products[key] = Product(label, top)
        color = own or product.color or inherited
        if _is_empty(product.shape):
            return color
        location = None if location.IsIdentity() else location
        name = instance_name or product.name
        if name is not None:
            shape = product.shape if location is None else product.shape.Moved(location)
            self.parts.append(StepPart(name, shape, color,
                                       product.sub_colors(color, location), group))
            return color
        for solid, solid_color, inner in product.pieces():
            base = solid_color or color
            shape = solid if location is None else solid.Moved(location)
            self.parts.append(StepPart(None, shape, base,
                                       product.sub_colors(base, location, inner), group))
        return color


def _styled(component, styles):
    """The colour a styled usage gives this instance, and the styles left for the
    instances below it.

    A style set on one usage of a nested instance (XCAF's SHUO) names the chain
    of instances from the one that holds it down to the one it colours; styles
    is that chain's rest, as (entries still to pass, colour) pairs.
    """
    entry = None
    color = None
    left = []
    if styles:
        entry = _entry(component)
        for chain, rgb in styles:
            if chain[0] == entry:
                if len(chain) == 1:
                    color = rgb
                else:
                    left.append((chain[1:], rgb))
    nodes = AttributeSequence()
    if XCAFDoc_ShapeTool.GetAllComponentSHUO_s(component, nodes):
        for i in range(1, len(nodes) + 1):
            node = nodes.Value(i)
            if not isinstance(node, XCAFDoc_GraphNode):
                continue
            rgb = label_color(node.Label())
            if rgb is not None:
                left.extend((chain, rgb) for chain in _usages(node.Label()))
    return color, tuple(left)


def _usages(style):
    """The chains of instance entries a styled usage's label leads down to."""
    chains, pending = [], [(style, ())]
    while pending:
        label, chain = pending.pop()
        following = labels(XCAFDoc_ShapeTool.GetSHUONextUsage_s, label)
        if not following:
            if chain:
                chains.append(chain)
            continue
        # A usage's label lies under the instance it names.
        pending.extend((nxt, chain + (_entry(nxt.Father()),)) for nxt in following)
    return chains
