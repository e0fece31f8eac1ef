"""The walk of a STEP file's assembly tree: its leaves placed where the assembly puts
them, with their names and colours, and the tree's nodes (see cad.step_reader)."""

import re
from dataclasses import dataclass
from functools import partial

from OCP.TDF import TDF_Label
from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_COMPSOLID, TopAbs_FACE, TopAbs_SHELL, TopAbs_SOLID
from OCP.TopExp import TopExp, TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS_Iterator, TopoDS_Shape
from OCP.XCAFDoc import XCAFDoc_DocumentTool, XCAFDoc_GraphNode, XCAFDoc_ShapeTool

from morvik_viewer.cad.shapes import top_level_solids
from morvik_viewer.cad.step_labels import (
    AttributeSequence,
    LabelSequence,
    ShapeMap,
    _entry,
    _is_empty,
    label_color,
    label_name,
    labels,
    meaningful_name,
    visual_materials,
)

# Levels of references and assemblies a walk goes down at most.
MAX_DEPTH = 100_000


# Coloured sub-shapes, coarse to fine: a finer one's colour wins where they overlap.
_RANK = {TopAbs_COMPOUND: 0, TopAbs_COMPSOLID: 1, TopAbs_SOLID: 2, TopAbs_SHELL: 3, TopAbs_FACE: 4}


# A root named after its file with an instance's number ("board 1" in board.step), as
# EDA exports name the top assembly.
_NUMBERED = re.compile(r"(.*\S) \d+")


@dataclass
class Node:
    """An assembly or a leaf of the file's tree, as a walk meets it (see model.file_tree)."""

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


class Product:
    """A leaf product's shape and colours, read once however many instances place it.

    Sub-colours are kept as indices into one map of the product's sub-shapes,
    so that each instance finds its own by moving the mapped shape: a
    sub-shape of shape.Moved(L), as TopExp finds it, is the sub-shape of
    shape moved by L.
    """

    def __init__(self, label, top, color_of=label_color, name_of=label_name):
        self.shape = XCAFDoc_ShapeTool.GetShape_s(label)
        self.name = meaningful_name(name_of(label), top)
        self.color = color_of(label)
        self.shapes = None  # the map of compounds, solids, shells and faces, once needed
        # (index, colour, covered): covered when a coarser coloured sub-shape holds it,
        # and then only kept when its colour differs from that one.
        self.colored = []
        self._pieces = None
        found = {}
        for sub in labels(XCAFDoc_ShapeTool.GetSubShapes_s, label):
            rgb = color_of(sub)
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
        if found and self.color is None:
            self._one_color(found)
        if found:
            self._settle(found)

    def _one_color(self, found):
        """Makes a colour every face is given the product's own: mesh readers colour each
        face (a glTF primitive's material), where it says the product's colour."""
        colors = {rgb for _, rgb in found.values()}
        faces = [index for index, (rank, _) in found.items() if rank == _RANK[TopAbs_FACE]]
        if len(colors) == 1 and len(faces) == len(found) == _count(self.shape, TopAbs_FACE):
            self.color = colors.pop()
            found.clear()

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

    def pieces(self, bodies=False):
        """(solid, own colour, indices of the coloured sub-shapes inside) for each
        top-level solid, the loose rest as one compound. With bodies, the pieces of a
        compound of several shapes are those shapes, whatever they hold (an IGES
        file's bodies often come as shells or faces)."""
        if self._pieces is None:
            self._pieces = []
            colors = {index: rgb for index, rgb, _ in self.colored}
            children = _children(self.shape) if bodies else []
            for solid in children if len(children) > 1 else top_level_solids(self.shape):
                if not self.colored:
                    self._pieces.append((solid, None, set()))
                    continue
                own = colors.get(self._map().FindIndex(solid))
                rank = _RANK.get(solid.ShapeType(), _RANK[TopAbs_SOLID])
                inner = set(self._inside(solid, rank)) & colors.keys()
                faces = {colors[i] for i in inner if self.shapes.FindKey(i).ShapeType() == TopAbs_FACE}
                if own is None and len(faces) == 1 and len(inner) == _count(solid, TopAbs_FACE):
                    own, inner = faces.pop(), set()  # every face alike: the piece's colour
                self._pieces.append((solid, own, inner))
        return self._pieces


def _children(shape):
    """The shapes a compound holds, in its order; none for any other shape."""
    if shape.ShapeType() != TopAbs_COMPOUND:
        return []
    found, inside = [], TopoDS_Iterator(shape)
    while inside.More():
        found.append(inside.Value())
        inside.Next()
    return found


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
        self.stems = set()  # the file's name without its suffix, lower case (see root_name)
        # Names that say nothing here, lower case: mesh readers name a scene's root, or a
        # lone mesh, after the file (suffix and all), where its stem would serve.
        self.nameless = set()
        # Whether a named compound of several solids opens into them, named after it: IGES
        # holds no assemblies, and its writers put every solid into one compound.
        self.opens_compounds = False
        materials = visual_materials(document)
        self.color_of = label_color if materials is None else partial(label_color,
                                                                      materials=materials)

    def free_shapes(self):
        free = LabelSequence()
        self.shapes.GetFreeShapes(free)
        for i in range(1, len(free) + 1):
            self.visit(free.Value(i))

    def visit(self, root):
        tool = self.shapes
        top = self.name_of(root)
        top = top.strip() if top else None
        root_name = self.root_name(meaningful_name(top))
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
                name = meaningful_name(self.name_of(label), top, instance=True) or instance_name
                pending.append((referred, location.Multiplied(tool.GetLocation_s(label)),
                                inherited, color or self.color_of(label), name, group, styles,
                                depth + 1))
                continue
            own = instance_color or self.color_of(label)
            if tool.IsAssembly_s(label):
                components = labels(tool.GetComponents_s, label)
                here = (instance_name or (root_name if depth == 0 else
                                          meaningful_name(self.name_of(label), top)) or group)
                if self.nodes is not None:
                    self.nodes.append(Node(depth // 2, here, own or inherited))
                # An instance of a one-part assembly is an instance of that part: EDA
                # exports wrap each component so, and name only the wrapper's instance.
                passed = instance_name if len(components) == 1 else None
                # The first component comes off the stack first.
                pending.extend((component, location, own or inherited, None, passed, here,
                                styles, depth + 1) for component in reversed(components))
                continue
            if depth == 0 and root_name != meaningful_name(top):
                instance_name = root_name  # a leaf at the top, called after the file
            start = len(self.parts)
            color = self.leaf(label, location, own, inherited, instance_name, group, top)
            if self.nodes is not None and len(self.parts) > start:
                self.nodes.append(Node(depth // 2, instance_name or self.parts[start].name
                                       or group, color, (start, len(self.parts))))

    def name_of(self, label):
        """label's name, unless it is one of the nameless."""
        name = label_name(label)
        return None if name is not None and name.strip().lower() in self.nameless else name

    def root_name(self, name):
        """name without the number after the file's name that EDA exports give the top
        assembly ("board 1" in board.step); name itself otherwise."""
        match = _NUMBERED.fullmatch(name) if name else None
        return match[1] if match and match[1].lower() in self.stems else name

    def leaf(self, label, location, own, inherited, instance_name, group, top):
        """Adds the parts of a leaf; returns its colour."""
        key = _entry(label)
        product = self.products.get(key)
        if product is None:
            product = self.products[key] = Product(label, top, self.color_of, self.name_of)
        color = own or product.color or inherited
        if _is_empty(product.shape):
            return color
        location = None if location.IsIdentity() else location
        name = instance_name or product.name
        if name is not None and self.opens_compounds and len(product.pieces(True)) > 1:
            group, name = name, None  # an IGES file's named compound of solids
        if name is not None:
            shape = product.shape if location is None else product.shape.Moved(location)
            self.parts.append(StepPart(name, shape, color,
                                       product.sub_colors(color, location), group))
            return color
        for solid, solid_color, inner in product.pieces(self.opens_compounds):
            base = solid_color or color
            shape = solid if location is None else solid.Moved(location)
            self.parts.append(StepPart(None, shape, base,
                                       product.sub_colors(base, location, inner), group))
        return color


def _count(shape, kind):
    """The distinct sub-shapes of kind in shape."""
    found = ShapeMap()
    TopExp.MapShapes_s(shape, kind, found)
    return found.Extent()


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
