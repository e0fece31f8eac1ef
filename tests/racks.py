"""Large assemblies as CAD systems write them: a few hundred products placed thousands
of times, in cabinets of racks of boards, written through OCCT's document layer.

A cabinet (the top assembly) places racks side by side; each rack places
boards one above the other, each board one of a few designs; each design is
a printed board (a product of its own) with components on it, some of them
inside a module (a sub-assembly placed twice on the board): five levels from
the cabinet down to a part. The components are products shared by every
design: connectors and chips (a body and a row of pins, each pin a solid,
their tops coloured gold as faces of the product), fasteners and capacitors
(cylinders). Products carry colours, every seventh placement on a board a
colour of its own. The file's size grows with the pins a product has.

    python tests/racks.py OUT.step [--racks 4 --slots 50 --designs 20 --components 100
                                    --products 200 --pins 40]

The defaults give 20,000 placed parts of 200 products, about 90 MB.
"""

import argparse
import sys

from OCP.BRepPrimAPI import BRepPrimAPI_MakeCylinder
from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt
from OCP.TopLoc import TopLoc_Location

from assemblies import _box, _faces, _hue, _moved, _top, _write
from morvik_viewer.cad.shapes import compound

GOLD = (0.9, 0.75, 0.3)
BOARD_GREEN = (0.05, 0.35, 0.15)
BODY_BLACK = (0.08, 0.08, 0.08)
STEEL = (0.7, 0.7, 0.72)
INSTANCE_RED = (0.8, 0.1, 0.1)
PITCH = 12.0  # between components on a board, in x and in y
SLOT = 20.0  # between boards in a rack, in z
MODULE_PARTS = 4  # components in a module, which a board places twice


def _pins(count, round_pins):
    """A row of count pins standing on a body's top at z = 2."""
    if round_pins:
        return [BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0.5 + 1.0 * k, 1.5, 2.0), gp_Dir(0, 0, 1)),
                                         0.25, 1.0).Shape() for k in range(count)]
    return [_box(0.5, 0.5, 1.0, x=0.25 + 1.0 * k, y=1.25, z=2.0) for k in range(count)]


def _add_products(document, count, pins):
    """count component products; returns [(label, footprint in x)]."""
    products = []
    for k in range(count):
        kind = k % 4
        n = max(2, pins - (k % 9))  # each a little different
        if kind in (0, 1):  # a connector or a chip: a body with pins coloured on their tops
            width = 1.0 * n
            body = _box(width, 3.0, 2.0)
            pin_solids = _pins(n, kind == 1)
            shape = compound([body, *pin_solids])
            label = document.product(shape, f"{'CONN' if kind == 0 else 'IC'}-{k}", BODY_BLACK)
            for face in _faces(shape, _top(3.0)):
                document.colour_sub_shape(label, face, GOLD)
        elif kind == 2:  # a fastener: a head on a shank
            head = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, 3.0), gp_Dir(0, 0, 1)), 1.6, 1.0).Shape()
            shank = BRepPrimAPI_MakeCylinder(0.8, 3.0).Shape()
            label = document.product(compound([shank, head]), f"M{1 + k % 5}-screw-{k}", STEEL)
            width = 3.2
        else:  # a capacitor, coloured by its product
            label = document.product(BRepPrimAPI_MakeCylinder(1.0 + (k % 3) * 0.5, 3.0).Shape(),
                                     f"CAP-{k}", _hue(k))
            width = 4.0
        products.append((label, width))
    return products


def _add_design(document, d, products, components):
    """A board design: its printed board and components products placed on it."""
    design = document.assembly(f"board-{d}")
    columns = 10
    rows = -(-components // columns)
    document.place(design, document.product(_box(columns * PITCH * 4, rows * PITCH, 1.6),
                                            f"PCB-{d}", BOARD_GREEN), TopLoc_Location())
    module = document.assembly(f"module-{d}")
    for m in range(MODULE_PARTS):
        label, _ = products[(d * 3 + m * 17) % len(products)]
        document.place(module, label, _moved(dx=m * PITCH * 4), name=f"U{m + 1}")
    placed = 0
    for i in range(components - 2 * MODULE_PARTS):
        label, _ = products[(d * 7 + i * 13) % len(products)]
        row, column = divmod(i, columns)
        document.place(design, label, _moved(dx=column * PITCH * 4, dy=row * PITCH, dz=1.6),
                       INSTANCE_RED if i % 7 == 3 else None, f"X{i + 1}")
        placed += 1
    for copy in range(2):
        document.place(design, module, _moved(dx=copy * PITCH * 20, dy=rows * PITCH, dz=1.6),
                       name=f"MOD{copy + 1}")
    return design, 1 + placed + 2 * MODULE_PARTS


def write_racks(path, racks=4, slots=50, designs=20, components=100, products=200, pins=40):
    """Writes the cabinet to path; returns the number of parts placed in it (boards'
    printed boards included)."""

    def fill(document):
        shared = _add_products(document, products, pins)
        boards = [_add_design(document, d, shared, components) for d in range(designs)]
        cabinet = document.assembly("cabinet")
        placed = 0
        for r in range(racks):
            rack = document.assembly(f"rack-{r}")
            for s in range(slots):
                design, parts = boards[(r * slots + s) % designs]
                document.place(rack, design, _moved(dz=s * SLOT), name=f"slot-{s + 1}")
                placed += parts
            document.place(cabinet, rack, _moved(dy=r * (PITCH * 12)), name=f"R{r + 1}")
        document.shapes.UpdateAssemblies()
        return placed

    return _write(path, fill)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the STEP file to write")
    for name, default in (("racks", 4), ("slots", 50), ("designs", 20), ("components", 100),
                          ("products", 200), ("pins", 40)):
        parser.add_argument(f"--{name}", type=int, default=default)
    args = parser.parse_args(argv)
    placed = write_racks(args.out, args.racks, args.slots, args.designs, args.components,
                         args.products, args.pins)
    print(f"wrote {args.out}: {placed} placed parts of {args.products} products")
    return 0


if __name__ == "__main__":
    sys.exit(main())
