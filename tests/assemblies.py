"""STEP assemblies with named, coloured parts, written through OCCT's document layer,
and files built to trip a reader up: nesting deeper than Python recurses, a loop.

Rows of parts, each row a sub-assembly placed by its own location: every fifth
part is one more instance of a shared "bolt" (every third of those coloured on
the instance), the rest are plates and pins of their own, and a "spacer" with
no colour of its own ends each group of five. The second row carries a colour
of its own, which its uncoloured spacers take.

    python tests/assemblies.py OUT.step [--parts N] [--row N]
"""

import argparse
import colorsys
import sys
from pathlib import Path

from OCP.BRep import BRep_Builder
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox, BRepPrimAPI_MakeCylinder
from OCP.BRepTools import BRepTools
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.STEPCAFControl import STEPCAFControl_Writer
from OCP.STEPControl import STEPControl_AsIs
from OCP.TCollection import TCollection_ExtendedString
from OCP.TDataStd import TDataStd_Name
from OCP.TDocStd import TDocStd_Document
from OCP.TopLoc import TopLoc_Location
from OCP.TopoDS import TopoDS_Compound
from OCP.XCAFApp import XCAFApp_Application
from OCP.XCAFDoc import XCAFDoc_ColorSurf, XCAFDoc_DocumentTool, XCAFDoc_ShapeTool
from OCP.gp import gp_Trsf, gp_Vec

BOLT_COLOUR = (0.5, 0.5, 0.55)
BOLT_INSTANCE_COLOUR = (0.8, 0.1, 0.1)
ROW_COLOUR = (0.1, 0.6, 0.3)
PITCH = 12.0  # distance between neighbouring parts, in x and in z


def _colour(rgb):
    return Quantity_Color(*rgb, Quantity_TOC_RGB)


def _hue(i):
    return tuple(round(c, 3) for c in colorsys.hsv_to_rgb((i * 0.137) % 1.0, 0.7, 0.9))


def _moved(dx=0.0, dz=0.0):
    trsf = gp_Trsf()
    trsf.SetTranslation(gp_Vec(dx, 0.0, dz))
    return TopLoc_Location(trsf)


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

    def place(self, assembly, product, location, rgb=None):
        component = self.shapes.AddComponent(assembly, product, location)
        if rgb is not None:
            self.colours.SetColor(component, _colour(rgb), XCAFDoc_ColorSurf)
        return component

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


def _write(path, fill):
    """Writes the document that fill(document) fills; returns what fill returns."""
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
        writer.Write(str(path))
    finally:
        XCAFDoc_ShapeTool.SetAutoNaming_s(auto_naming)
    return expected


def write_nested_compounds(path, depth):
    """Writes a BREP file of a box inside depth compounds, each holding the next."""
    builder, shape = BRep_Builder(), BRepPrimAPI_MakeBox(1.0, 1.0, 1.0).Shape()
    for _ in range(depth):
        outer = TopoDS_Compound()
        builder.MakeCompound(outer)
        builder.Add(outer, shape)
        shape = outer
    if not BRepTools.Write_s(shape, str(path)):
        raise RuntimeError("OCCT could not write the compounds")


# A STEP file whose one product's shape holds a mapped copy of that same shape
# (#21 maps #18 into #18): OCCT's transfer follows the loop till its stack
# overflows (SIGSEGV).
SELF_HOLDING_STEP = Path(__file__).with_name("files") / "loop.step"


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


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the STEP file to write")
    parser.add_argument("--parts", type=int, default=300, help="solids in all (default 300)")
    parser.add_argument("--row", type=int, default=50, help="solids in a row (default 50)")
    args = parser.parse_args(argv)
    write_assembly(args.out, args.parts, args.row)
    print(f"wrote {args.out}: {args.parts} solids")
    return 0


if __name__ == "__main__":
    sys.exit(main())
