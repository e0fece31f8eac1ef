"""STEP assemblies with named, coloured parts, written through OCCT's document layer,
and files built to trip a reader up: nesting deeper than Python recurses, a loop.

Rows of parts, each row a sub-assembly placed by its own location: every fifth
part is one more instance of a shared "bolt" (every third of those coloured on
the instance), the rest are plates and pins of their own, and a "spacer" with
no colour of its own ends each group of five. The second row carries a colour
of its own, which its uncoloured spacers take.

Or a circuit board as EDA tools export one (--board): Z up, a thin board in XY
with small components on its top face, each placed under a reference
designator (R1, C2, J1, SW1, U1); resistors wrapped in a one-part assembly as
such exports wrap each component; connectors whose contacts are coloured
faces of one solid; switches made of several solids coloured each; a shared
module (a sub-assembly with parts of its own and a compound of pins with no
name), one usage of it colouring one of its resistors; and standoffs whose product is only called "SOLID".

    python tests/assemblies.py OUT.step [--parts N] [--row N] [--board]
"""

import argparse
import colorsys
import re
import sys
from pathlib import Path

from OCP.APIHeaderSection import APIHeaderSection_MakeHeader
from OCP.Bnd import Bnd_Box
from OCP.BRepAlgoAPI import BRepAlgoAPI_Fuse
from OCP.BRepBndLib import BRepBndLib
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox, BRepPrimAPI_MakeCylinder
from OCP.BRepTools import BRepTools
from OCP.gp import gp_Pnt, gp_Trsf, gp_Vec
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.STEPCAFControl import STEPCAFControl_Writer
from OCP.STEPControl import STEPControl_AsIs
from OCP.TCollection import TCollection_ExtendedString, TCollection_HAsciiString
from OCP.TDataStd import TDataStd_Name
from OCP.TDocStd import TDocStd_Document
from OCP.TopAbs import TopAbs_FACE
from OCP.TopExp import TopExp_Explorer
from OCP.TopLoc import TopLoc_Location
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_ColorSurf, XCAFDoc_DocumentTool, XCAFDoc_GraphNode, XCAFDoc_ShapeTool

from morvik_viewer.cad.shapes import compound

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import Sequence_TDF_Attribute as AttributeSequence
    from OCP.collections import Sequence_TDF_Label as LabelSequence
except ImportError:  # OCP 7 under OCCT's own names
    from OCP.TDF import TDF_AttributeSequence as AttributeSequence
    from OCP.TDF import TDF_LabelSequence as LabelSequence

BOLT_COLOUR = (0.5, 0.5, 0.55)
BOLT_INSTANCE_COLOUR = (0.8, 0.1, 0.1)
ROW_COLOUR = (0.1, 0.6, 0.3)
PITCH = 12.0  # distance between neighbouring parts, in x and in z

# The board (--board).
BOARD_COLOUR = (0.05, 0.35, 0.15)
BOARD_THICKNESS = 1.6
BOARD_PITCH = 15.0  # distance between neighbouring components, in x and in y
BODY_COLOUR = (0.08, 0.08, 0.08)  # resistors' and connectors' product colour
LEAD_COLOUR = (0.8, 0.8, 0.82)  # a resistor's two end faces
CAPACITOR_COLOUR = (0.55, 0.4, 0.25)
CONTACT_COLOUR = (0.9, 0.75, 0.3)  # a connector's contacts: their faces above the body
CONTACTS = 6
CONTACT_FACES = CONTACTS * 5  # a contact's top and four sides stand above the body
SWITCH_COLOURS = ((0.1, 0.1, 0.1), (0.92, 0.92, 0.88), (0.75, 0.1, 0.1))  # base, housing, stem
MODULE_COLOUR = (0.1, 0.2, 0.6)
MODULE_PINS = 3
PIN_COLOURS = ((0.7, 0.7, 0.2), (0.2, 0.7, 0.7), (0.7, 0.2, 0.7))  # the first with a gold top
MARKED_COLOUR = (0.9, 0.1, 0.9)  # one resistor of the second module, in that usage only
STANDOFF_COLOUR = (0.75, 0.75, 0.7)
# Components in turn along the board's rows.
BOARD_CYCLE = ("R", "C", "R", "C", "J", "R", "C", "SW", "R", "C")


def _colour(rgb):
    return Quantity_Color(*rgb, Quantity_TOC_RGB)


def _hue(i):
    return tuple(round(c, 3) for c in colorsys.hsv_to_rgb((i * 0.137) % 1.0, 0.7, 0.9))


def _moved(dx=0.0, dz=0.0, dy=0.0):
    trsf = gp_Trsf()
    trsf.SetTranslation(gp_Vec(dx, dy, dz))
    return TopLoc_Location(trsf)


def _box(dx, dy, dz, x=0.0, y=0.0, z=0.0):
    return BRepPrimAPI_MakeBox(gp_Pnt(x, y, z), dx, dy, dz).Shape()


def _top(z):
    """Keeps faces lying flat at height z."""
    return lambda b: abs(b[2] - z) < 1e-6 and abs(b[5] - z) < 1e-6


def _faces(shape, keep):
    """The faces of shape whose bounding box (xmin, ymin, zmin, xmax, ymax, zmax) keep takes."""
    found, explorer = [], TopExp_Explorer(shape, TopAbs_FACE)
    while explorer.More():
        box = Bnd_Box()
        BRepBndLib.Add_s(explorer.Current(), box)
        box.SetGap(0.0)
        low, high = box.CornerMin(), box.CornerMax()
        if keep((low.X(), low.Y(), low.Z(), high.X(), high.Y(), high.Z())):
            found.append(explorer.Current())
        explorer.Next()
    return found


class _Document:
    """An XCAF document and the labels the generator adds to it."""

    def __init__(self):
        self.doc = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
        XCAFApp_Application.GetApplication_s().InitDocument(self.doc)
        self.shapes = XCAFDoc_DocumentTool.ShapeTool_s(self.doc.Main())
        self.colours = XCAFDoc_DocumentTool.ColorTool_s(self.doc.Main())

    def product(self, shape, name, rgb=None):
        label = self.shapes.AddShape(shape, False)
        self.name(label, name)
        if rgb is not None:
            self.colours.SetColor(label, _colour(rgb), XCAFDoc_ColorSurf)
        return label

    def assembly(self, name):
        label = self.shapes.NewShape()
        self.name(label, name)
        return label

    def place(self, assembly, product, location, rgb=None, name=None):
        component = self.shapes.AddComponent(assembly, product, location)
        if rgb is not None:
            self.colours.SetColor(component, _colour(rgb), XCAFDoc_ColorSurf)
        if name is not None:
            self.name(component, name)
        return component

    def colour_usage(self, components, rgb):
        """Colours one usage of a nested instance: components is the chain of instances
        from the one placed highest down to the one coloured (a SHUO in XCAF's words)."""
        chain = LabelSequence()
        for component in components:
            chain.Append(component)
        if not self.shapes.SetSHUO(chain, XCAFDoc_GraphNode()):
            raise RuntimeError("OCCT would not style the usage")
        # The binding cannot hand the new node back: it is the one left without a colour.
        nodes = AttributeSequence()
        self.shapes.GetAllComponentSHUO_s(components[0], nodes)
        for i in range(1, len(nodes) + 1):
            label = nodes.Value(i).Label()
            if not self.colours.IsSet(label, XCAFDoc_ColorSurf):
                self.colours.SetColor(label, _colour(rgb), XCAFDoc_ColorSurf)

    def colour_sub_shape(self, product, sub, rgb):
        label = self.shapes.AddSubShape(product, sub)
        if label.IsNull():
            raise RuntimeError("not a sub-shape of the product")
        self.colours.SetColor(label, _colour(rgb), XCAFDoc_ColorSurf)

    @staticmethod
    def name(label, text):
        TDataStd_Name.Set_s(label, TCollection_ExtendedString(text))


def write_assembly(path, parts=300, row=50):
    """Writes the assembly to path; returns [(identifier, rgb)] as a reader should show them.

    Identifiers follow the parts' names, a repeated name taking "#2", "#3"...
    in reading order; rgb is the colour stored in the file, None where a part
    has none at all (the reader picks one).
    """
    return _write(path, lambda document: _fill(document, parts, row))


def write_board(path, parts=60, columns=10, system=None):
    """Writes the board with parts components, columns to a row; returns [(identifier,
    rgb)] as a reader should show them, as write_assembly does. system, when given, is
    the authoring system the file's header names."""
    return _write(path, lambda document: _fill_board(document, parts, columns), system)


def write_repeats(path, count, product=None, top=None):
    """Writes count placements of one box, a row of them in one assembly called top, the
    product called product (None: neither has a name, as OCCT's writer then leaves them)."""

    def fill(document):
        box = document.shapes.AddShape(BRepPrimAPI_MakeBox(1.0, 1.0, 1.0).Shape(), False)
        if product is not None:
            document.name(box, product)
        assembly = document.shapes.NewShape() if top is None else document.assembly(top)
        for i in range(count):
            document.place(assembly, box, _moved(dx=2.0 * i))
        document.shapes.UpdateAssemblies()

    _write(path, fill)


def write_nested_assembly(path, depth):
    """Writes a box named "core" inside depth assemblies, each placing the next one
    0.01 further along x; returns where the core's lowest corner lies in x."""

    def fill(document):
        inner = document.product(BRepPrimAPI_MakeBox(1.0, 1.0, 1.0).Shape(), "core")
        for level in range(depth):
            outer = document.assembly(f"level-{level}")
            document.place(outer, inner, _moved(dx=0.01))
            inner = outer
        document.shapes.UpdateAssemblies()
        return 0.01 * depth

    return _write(path, fill)


def _write(path, fill, system=None):
    """Writes the document that fill(document) fills, its header naming system as the
    authoring system when given; returns what fill returns."""
    auto_naming = XCAFDoc_ShapeTool.AutoNaming_s()
    XCAFDoc_ShapeTool.SetAutoNaming_s(False)  # only the names given here go into the file
    try:
        document = _Document()
        expected = fill(document)
        writer = STEPCAFControl_Writer()
        writer.SetNameMode(True)
        writer.SetColorMode(True)
        if not writer.Transfer(document.doc, STEPControl_AsIs):
            raise RuntimeError("OCCT could not transfer the assembly")
        if system is not None:
            header = APIHeaderSection_MakeHeader(writer.ChangeWriter().Model())
            header.SetOriginatingSystem(TCollection_HAsciiString(system))
        writer.Write(str(path))
    finally:
        XCAFDoc_ShapeTool.SetAutoNaming_s(auto_naming)
    return expected


def write_nested_compounds(path, depth):
    """Writes a BREP file of a box inside depth compounds, each holding the next."""
    shape = BRepPrimAPI_MakeBox(1.0, 1.0, 1.0).Shape()
    for _ in range(depth):
        shape = compound([shape])
    if not BRepTools.Write_s(shape, str(path)):
        raise RuntimeError("OCCT could not write the compounds")


# A STEP file whose one product's shape holds a mapped copy of that same shape
# (#21 maps #18 into #18): OCCT's transfer follows the loop till its stack
# overflows (SIGSEGV).
SELF_HOLDING_STEP = Path(__file__).with_name("files") / "loop.step"
# What the viewer says of it, whatever the signal: AddressSanitizer turns the
# overflow into SIGABRT.
SELF_HOLDING_CRASH = re.compile(r"the reader stopped before it was done "
                                r"\(it crashed with SIG[A-Z]+\)")


def _fill(document, parts, row):
    bolt = document.product(BRepPrimAPI_MakeCylinder(1.0, 6.0).Shape(), "bolt", BOLT_COLOUR)
    top = document.assembly("rig")
    rows = {}
    expected, seen = [], {}
    for i in range(parts):
        r, column = divmod(i, row)
        row_colour = ROW_COLOUR if r == 1 else None
        if r not in rows:
            rows[r] = document.assembly(f"row-{r}")
        where = _moved(dx=column * PITCH)
        if i % 5 == 0:
            name = "bolt"
            own = BOLT_INSTANCE_COLOUR if (i // 5) % 3 == 0 else None
            document.place(rows[r], bolt, where, own)
            rgb = own or BOLT_COLOUR
        else:
            size = 2.0 + (i % 7)
            if i % 5 == 4:
                shape, name, rgb = BRepPrimAPI_MakeBox(size, 1.0, size).Shape(), "spacer", None
            elif i % 2:
                shape, name, rgb = BRepPrimAPI_MakeBox(size, 2.0, 4.0).Shape(), f"plate-{i}", _hue(i)
            else:
                shape, name, rgb = BRepPrimAPI_MakeCylinder(1.5, size).Shape(), f"pin-{i}", _hue(i)
            document.place(rows[r], document.product(shape, name, rgb), where)
        if rgb is None:
            rgb = row_colour
        seen[name] = seen.get(name, 0) + 1
        expected.append((name if seen[name] == 1 else f"{name}#{seen[name]}", rgb))
    for r, label in rows.items():
        document.place(top, label, _moved(dz=r * PITCH), ROW_COLOUR if r == 1 else None)
    document.shapes.UpdateAssemblies()
    return expected


class _BoardProducts:
    """The board's component products, each added once and placed many times."""

    def __init__(self, document):
        self.document = document
        d = document
        self.resistor = d.product(_box(1.6, 0.8, 0.5), "R_0603", BODY_COLOUR)
        for face in _faces(d.shapes.GetShape_s(self.resistor),
                           lambda b: b[3] - b[0] < 1e-6):  # the faces at either end in x
            d.colour_sub_shape(self.resistor, face, LEAD_COLOUR)
        # EDA exports wrap each component in an assembly of its own and name its
        # instance by number only.
        self.resistor_wrapper = d.assembly("R_0603_1608Metric")
        d.place(self.resistor_wrapper, self.resistor, TopLoc_Location())
        self.capacitor = d.product(_box(1.6, 0.8, 0.8), "C_0603", CAPACITOR_COLOUR)
        for face in _faces(d.shapes.GetShape_s(self.capacitor), _top(0.8)):
            d.colour_sub_shape(self.capacitor, face, CAPACITOR_COLOUR)  # as the rest: no matter
        body = _box(2.0 * CONTACTS, 3.0, 2.0)
        pins = compound([_box(0.6, 0.6, 1.0, x=2.0 * k + 0.7, y=1.2, z=2.0)
                          for k in range(CONTACTS)])
        connector = BRepAlgoAPI_Fuse(body, pins).Shape()
        self.connector = d.product(connector, "connector", BODY_COLOUR)
        for face in _faces(connector, lambda b: b[2] > 2.0 - 1e-6 and b[5] > 2.0 + 1e-6):
            d.colour_sub_shape(self.connector, face, CONTACT_COLOUR)
        solids = [_box(5.0, 5.0, 1.5), _box(4.6, 4.6, 2.0, x=0.2, y=0.2, z=1.5),
                  _box(1.2, 1.2, 1.5, x=1.9, y=1.9, z=3.5)]
        self.switch = d.product(compound(solids), "switch")
        for solid, rgb in zip(solids, SWITCH_COLOURS):
            d.colour_sub_shape(self.switch, solid, rgb)
        for face in _faces(solids[2], _top(5.0)):  # the stem's top, finer than the stem
            d.colour_sub_shape(self.switch, face, LEAD_COLOUR)
        self.module = d.assembly("module")
        d.place(self.module, d.product(_box(8.0, 6.0, 1.0), "module-board", MODULE_COLOUR),
                TopLoc_Location())
        self.module_resistors = [
            d.place(self.module, self.resistor, _moved(dx=1.0 + 3.0 * k, dy=1.0, dz=1.0),
                    name=f"R_0603:{k}") for k in (1, 2)]
        pin_solids = [BRepPrimAPI_MakeCylinder(0.3, 2.0).Shape().Moved(_moved(dx=1.0 + 2.0 * k, dy=5.0))
                      for k in range(MODULE_PINS)]
        pins = d.product(compound(pin_solids), "COMPOUND")
        for solid, rgb in zip(pin_solids, PIN_COLOURS):
            d.colour_sub_shape(pins, solid, rgb)
        for face in _faces(pin_solids[0], _top(2.0)):
            d.colour_sub_shape(pins, face, CONTACT_COLOUR)
        d.place(self.module, pins, TopLoc_Location())
        self.standoff = d.product(BRepPrimAPI_MakeCylinder(1.0, 3.0).Shape(), "SOLID",
                                  STANDOFF_COLOUR)


def _fill_board(document, parts, columns):
    products = _BoardProducts(document)
    top = document.assembly("controller")
    rows = -(-parts // columns) + 1  # and one row for the modules
    width, depth = columns * BOARD_PITCH, rows * BOARD_PITCH
    board = document.product(_box(width, depth, BOARD_THICKNESS), "PCB", BOARD_COLOUR)
    document.place(top, board, TopLoc_Location())
    expected = [("PCB", BOARD_COLOUR)]
    placed = {
        "R": (products.resistor_wrapper, BODY_COLOUR),
        "C": (products.capacitor, CAPACITOR_COLOUR),
        "J": (products.connector, BODY_COLOUR),
        "SW": (products.switch, None),
    }
    numbers = {}
    for i in range(parts):
        row, column = divmod(i, columns)
        kind = BOARD_CYCLE[i % len(BOARD_CYCLE)]
        numbers[kind] = numbers.get(kind, 0) + 1
        designator = f"{kind}{numbers[kind]}"
        product, rgb = placed[kind]
        where = _moved(dx=column * BOARD_PITCH + 2.0, dy=row * BOARD_PITCH + 2.0,
                       dz=BOARD_THICKNESS)
        document.place(top, product, where, name=designator)
        expected.append((designator, rgb))
    for kind, (product, _) in placed.items():
        if kind not in numbers:  # a product placed nowhere would be a part of its own
            document.shapes.RemoveShape(product)
    seen = {}
    for k in (1, 2):
        where = _moved(dx=(k - 1) * 2 * BOARD_PITCH + 2.0, dy=(rows - 1) * BOARD_PITCH + 2.0,
                       dz=BOARD_THICKNESS)
        module = document.place(top, products.module, where, name=f"U{k}")
        marked = k == 2
        if marked:
            document.colour_usage([module, products.module_resistors[1]], MARKED_COLOUR)
        for name, rgb in [("module-board", MODULE_COLOUR), ("R_0603:1", BODY_COLOUR),
                          ("R_0603:2", MARKED_COLOUR if marked else BODY_COLOUR)]:
            seen[name] = seen.get(name, 0) + 1
            expected.append((name if seen[name] == 1 else f"{name}#{seen[name]}", rgb))
        # The module's pins have no name: they take the module's instance's, numbered,
        # and each keeps its own colours.
        expected += [(f"U{k}-{n}", rgb) for n, rgb in enumerate(PIN_COLOURS, 1)]
    for n, (x, y) in enumerate([(0.5, 0.5), (width - 0.5, 0.5), (0.5, depth - 0.5),
                                (width - 0.5, depth - 0.5)], 1):
        document.place(top, products.standoff, _moved(dx=x, dy=y, dz=BOARD_THICKNESS))
        # Only called "SOLID": they take the board assembly's name, numbered.
        expected.append((f"controller-{n}", STANDOFF_COLOUR))
    document.shapes.UpdateAssemblies()
    return expected


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the STEP file to write")
    parser.add_argument("--parts", type=int, default=300, help="solids in all (default 300)")
    parser.add_argument("--row", type=int, default=50, help="solids in a row (default 50)")
    parser.add_argument("--board", action="store_true",
                        help="a circuit board of --parts components, --row to a row")
    args = parser.parse_args(argv)
    if args.board:
        write_board(args.out, args.parts, args.row)
        print(f"wrote {args.out}: a board of {args.parts} components")
    else:
        write_assembly(args.out, args.parts, args.row)
        print(f"wrote {args.out}: {args.parts} solids")
    return 0


if __name__ == "__main__":
    sys.exit(main())
