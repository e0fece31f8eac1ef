"""What picked entities measure: their own measures, a pair's distance and angle, their
bounding box, and these as text in the scene's unit (see tools.measure.tool).

The window builds the tool before OCP has loaded (it shows first): OCP comes in
with the first measurement.
"""

import math
from dataclasses import dataclass, field

from morvik_viewer.model.units import INFINITE, number, quantity

# What a click picks, as the panel names it, and TopAbs_ShapeEnum's value for it;
# faces first, as a part shows them.
MODES = (("Face", 4), ("Edge", 6), ("Vertex", 7))
FACE, EDGE, VERTEX = (value for _, value in MODES)
SOLID = 2
# TopAbs_ShapeEnum's values, by the name an entity of each kind goes by.
KIND_NAMES = dict(enumerate(("compound", "compsolid", "solid", "shell", "face", "wire", "edge",
                             "vertex")))
# Two points closer than this (millimetres) touch: edges that do are measured from there.
TOUCHING = 1e-7


@dataclass
class Value:
    """One measure: amount in millimetres to the power given (1 a length, 2 an area, 3 a
    volume), or in degrees (power 0); math.inf for what has no end."""

    name: str
    amount: float
    power: int = 1


@dataclass
class Measurement:
    """What the picked entities measure, with where the view draws it (model points)."""

    picked: list  # one line per entity: "circular edge of cylinder"
    values: list = field(default_factory=list)  # Value
    size: tuple | None = None  # the entities' bounding box: dx, dy, dz in millimetres
    line: tuple | None = None  # the two closest points a distance runs between
    label_at: tuple | None = None  # where the label of the values shows


def _cast(shape):
    """shape as the TopoDS class of its type (OCP 8 dropped the casts' suffix)."""
    from OCP.TopoDS import TopoDS

    name = {FACE: "Face", EDGE: "Edge", VERTEX: "Vertex"}[int(shape.ShapeType())]
    return (getattr(TopoDS, name + "_s", None) or getattr(TopoDS, name))(shape)


def kind_of(shape):
    """What an entity is, in words: "circular edge", "planar face", "vertex"..."""
    from OCP.BRepAdaptor import BRepAdaptor_Curve, BRepAdaptor_Surface
    from OCP.GeomAbs import GeomAbs_Circle, GeomAbs_Cylinder, GeomAbs_Line, GeomAbs_Plane

    kind = shape.ShapeType()
    if kind == EDGE:
        return {GeomAbs_Circle: "circular edge", GeomAbs_Line: "straight edge"}.get(
            BRepAdaptor_Curve(_cast(shape)).GetType(), "edge")
    if kind == FACE:
        return {GeomAbs_Plane: "planar face", GeomAbs_Cylinder: "cylindrical face"}.get(
            BRepAdaptor_Surface(_cast(shape)).GetType(), "face")
    return KIND_NAMES.get(int(kind), "shape")


def measure(entities):
    """The Measurement of entities, (shape identifier, sub-shape) pairs: one gives its own
    measures, two their distance (and angle), any number their bounding box."""
    shapes = [shape for _, shape in entities]
    result = Measurement([f"{kind_of(shape)} of {shape_id}" for shape_id, shape in entities])
    if len(shapes) == 1:
        _own_measures(shapes[0], result)
    elif len(shapes) == 2:
        _pair_measures(*shapes, result)
    result.size = box_size(shapes)
    _settle(result, tolerance(shapes))
    return result


def tolerance(shapes):
    """The largest tolerance of the shapes, in millimetres: OCCT tells no two points apart
    closer than that. Their vertices' (never below their edges' and faces', by OCCT's
    rule) are enough: half the time of all three, 84 ms for 2,000 boxes."""
    from OCP.ShapeAnalysis import ShapeAnalysis_ShapeTolerance
    from OCP.TopAbs import TopAbs_VERTEX

    checker = ShapeAnalysis_ShapeTolerance()
    return max([TOUCHING] + [checker.Tolerance(shape, 1, TopAbs_VERTEX) for shape in shapes])


def settled(amount, power, tol):
    """What an amount measured reads as: 0 when below the tolerance tol (to the power:
    a flat face's exact box is some 1e-12 mm thick, which is no thickness), infinite at
    or beyond OCCT's infinity (an infinite plane's box is 2e100 mm wide)."""
    if power and abs(amount) >= INFINITE:
        return math.inf
    if power and abs(amount) < tol ** power:
        return 0.0
    return amount


def _settle(result, tol):
    for value in result.values:
        value.amount = settled(value.amount, value.power, tol)
    if result.size is not None:
        result.size = tuple(settled(side, 1, tol) for side in result.size)
        if math.inf in result.size and result.line is None:
            result.label_at = None  # the middle of what has no end is nowhere to be seen


def _own_measures(shape, result):
    from OCP.BRep import BRep_Tool
    from OCP.BRepAdaptor import BRepAdaptor_Curve, BRepAdaptor_Surface
    from OCP.BRepGProp import BRepGProp
    from OCP.GeomAbs import GeomAbs_Circle, GeomAbs_Cylinder
    from OCP.GProp import GProp_GProps

    kind = shape.ShapeType()
    if kind == VERTEX:
        point = BRep_Tool.Pnt_s(_cast(shape))
        result.values += [Value(axis, value) for axis, value in zip("XYZ", _xyz(point))]
        result.label_at = _xyz(point)
        return
    props = GProp_GProps()
    if kind == EDGE:
        curve = BRepAdaptor_Curve(_cast(shape))
        BRepGProp.LinearProperties_s(shape, props)
        result.label_at = _xyz(props.CentreOfMass())
        if curve.GetType() == GeomAbs_Circle:
            circle = curve.Circle()
            result.values += [Value("Diameter", 2.0 * circle.Radius()),
                              Value("Radius", circle.Radius())]
            result.label_at = _xyz(circle.Location())
        result.values.append(Value("Length", props.Mass()))
    elif kind == FACE:
        surface = BRepAdaptor_Surface(_cast(shape))
        BRepGProp.SurfaceProperties_s(shape, props)
        result.label_at = _xyz(props.CentreOfMass())
        if surface.GetType() == GeomAbs_Cylinder:
            radius = surface.Cylinder().Radius()
            result.values += [Value("Diameter", 2.0 * radius), Value("Radius", radius)]
        result.values.append(Value("Area", props.Mass(), 2))
    elif kind == SOLID:
        BRepGProp.VolumeProperties_s(shape, props)
        result.values.append(Value("Volume", props.Mass(), 3))
        result.label_at = _xyz(props.CentreOfMass())


def _pair_measures(first, second, result):
    from OCP.BRepExtrema import BRepExtrema_DistShapeShape

    if surfaceless(first) or surfaceless(second):
        found = mesh_distance(first, second)
    else:
        distance = BRepExtrema_DistShapeShape(first, second)
        found = (distance.Value(), _xyz(distance.PointOnShape1(1)),
                 _xyz(distance.PointOnShape2(1))) \
            if distance.IsDone() and distance.NbSolution() > 0 else None
    if found is not None:
        length, *ends = found
        result.values.append(Value("Distance", length))
        result.line = tuple(ends)
        result.label_at = tuple((a + b) / 2.0 for a, b in zip(*ends))
    angle = angle_between(first, second, result.line)
    if angle is not None:
        result.values.append(Value("Angle", angle, 0))


def angle_between(first, second, closest=None):
    """Degrees between two planar faces (their outward normals) or two straight edges;
    None for any other pair. Edges that meet are measured from where they meet (0 to
    180); others as lines (0 to 90). closest: the pair's closest points, if known."""
    kinds = first.ShapeType(), second.ShapeType()
    if kinds == (FACE, FACE):
        normals = [_normal(face) for face in (first, second)]
        if None in normals:
            return None
        return _degrees(*normals)
    if kinds == (EDGE, EDGE):
        ends = [_line_ends(edge) for edge in (first, second)]
        if None in ends:
            return None
        meeting = closest[0] if closest and _distance(*closest) <= TOUCHING else None
        if meeting is not None:
            # From where they meet towards each edge's far end: the corner's own angle.
            away = [_minus(max(pair, key=lambda p: _distance(p, meeting)), meeting)
                    for pair in ends]
            if all(_norm(v) > TOUCHING for v in away):
                return _degrees(*away)
        along = [_minus(b, a) for a, b in ends]
        angle = _degrees(*along)
        return None if angle is None else min(angle, 180.0 - angle)
    return None


def _normal(face):
    from OCP.BRepAdaptor import BRepAdaptor_Surface
    from OCP.GeomAbs import GeomAbs_Plane
    from OCP.TopAbs import TopAbs_REVERSED

    surface = BRepAdaptor_Surface(_cast(face))
    if surface.GetType() != GeomAbs_Plane:
        return None
    d = surface.Plane().Axis().Direction()
    sign = -1.0 if face.Orientation() == TopAbs_REVERSED else 1.0
    return (sign * d.X(), sign * d.Y(), sign * d.Z())


def _line_ends(edge):
    from OCP.BRep import BRep_Tool
    from OCP.BRepAdaptor import BRepAdaptor_Curve
    from OCP.GeomAbs import GeomAbs_Line
    from OCP.TopExp import TopExp

    edge = _cast(edge)
    if BRepAdaptor_Curve(edge).GetType() != GeomAbs_Line:
        return None
    first, last = TopExp.FirstVertex_s(edge), TopExp.LastVertex_s(edge)
    if first.IsNull() or last.IsNull():
        return None
    return _xyz(BRep_Tool.Pnt_s(first)), _xyz(BRep_Tool.Pnt_s(last))


def box_size(shapes):
    """dx, dy, dz of the shapes' bounding box, exact (BRepBndLib's optimal box, neither
    triangles nor tolerances), in the shapes' axes; None when it is void."""
    from OCP.Bnd import Bnd_Box
    from OCP.BRepBndLib import BRepBndLib

    box = Bnd_Box()
    for shape in shapes:
        # A mesh's box is its triangles'.
        BRepBndLib.AddOptimal_s(shape, box, surfaceless(shape), False)
    if box.IsVoid():
        return None
    low, high = _xyz(box.CornerMin()), _xyz(box.CornerMax())
    return tuple(top - bottom for bottom, top in zip(low, high))


def surfaceless(shape):
    """Whether shape's faces carry triangles and no surface (a mesh file's); looked at on
    its first face, as a mesh file gives them all alike."""
    from OCP.BRep import BRep_Tool
    from OCP.TopAbs import TopAbs_FACE
    from OCP.TopExp import TopExp_Explorer

    faces = TopExp_Explorer(shape, TopAbs_FACE)
    return faces.More() and not BRep_Tool.IsGeometric_s(_cast(faces.Current()))


# Pairs of mesh nodes compared at once at most (a block of a few tens of MB).
NODE_BLOCK = 4_000_000


def mesh_distance(first, second):
    """(distance, point on first, point on second) between the nearest nodes of two
    shapes' triangles, or None without triangles (or NumPy). A mesh has no surface
    between its nodes for OCCT to find the nearest point on; its nodes lie on what the
    file modelled, so the distance is the file's within its triangles' size."""
    try:
        import numpy as np
    except ImportError:
        return None
    a, b = mesh_nodes(first), mesh_nodes(second)
    if not len(a) or not len(b):
        return None
    if len(a) > len(b):
        found = _nearest(np, b, a)
        return None if found is None else (found[0], found[2], found[1])
    return _nearest(np, a, b)


def _nearest(np, a, b):
    # An upper bound from a sample of each, then only the nodes of each within that
    # bound of the other's box are compared, block by block.
    step_a, step_b = max(1, len(a) // 2000), max(1, len(b) // 2000)
    best = _closest_pair(np, a[::step_a], b[::step_b])
    bound = best[0]
    a = a[_within(np, a, b, bound)]
    b = b[_within(np, b, a, bound)]
    rows = max(1, NODE_BLOCK // max(1, len(b)))
    for start in range(0, len(a), rows):
        found = _closest_pair(np, a[start:start + rows], b)
        if found[0] < best[0]:
            best = found
    length, p, q = best
    return float(length), tuple(map(float, p)), tuple(map(float, q))


def _within(np, points, other, bound):
    low, high = other.min(axis=0) - bound, other.max(axis=0) + bound
    return np.all((points >= low) & (points <= high), axis=1)


def _closest_pair(np, a, b):
    squared = ((a[:, None, :] - b[None, :, :]) ** 2).sum(axis=2)
    i, j = np.unravel_index(int(np.argmin(squared)), squared.shape)
    return math.sqrt(float(squared[i, j])), a[i], b[j]


def mesh_nodes(shape):
    """The nodes of shape's triangles, placed, as an N x 3 NumPy array."""
    import numpy as np
    from OCP.BRep import BRep_Tool
    from OCP.TopAbs import TopAbs_FACE
    from OCP.TopExp import TopExp_Explorer
    from OCP.TopLoc import TopLoc_Location

    points = []
    faces = TopExp_Explorer(shape, TopAbs_FACE)
    while faces.More():
        location = TopLoc_Location()
        triangles = BRep_Tool.Triangulation_s(_cast(faces.Current()), location)
        if triangles is not None:
            trsf = location.Transformation()
            for i in range(1, triangles.NbNodes() + 1):
                points.append(_xyz(triangles.Node(i).Transformed(trsf)))
        faces.Next()
    return np.array(points, dtype=float).reshape(-1, 3)


def _xyz(point):
    return (point.X(), point.Y(), point.Z())


def _minus(a, b):
    return tuple(x - y for x, y in zip(a, b))


def _norm(v):
    return math.sqrt(sum(c * c for c in v))


def _distance(a, b):
    return _norm(_minus(a, b))


def _degrees(u, v):
    """Degrees between u and v; None when one has no direction (a zero-length edge's)."""
    lengths = _norm(u), _norm(v)
    if not min(lengths) > TOUCHING:  # NaN too
        return None
    cosine = sum(a * b for a, b in zip(u, v)) / (lengths[0] * lengths[1])
    return math.degrees(math.acos(max(-1.0, min(1.0, cosine))))


def amount(value, unit):
    """A Value as text in unit, (short name, millimetres in one): "30 mm", "90°"."""
    if value.power == 0:
        return f"{number(value.amount, power=0)}°"
    return quantity(value.amount, unit, value.power)


def describe(measurement, unit):
    """The measurement as lines of text in unit, as the panel shows and Copy copies."""
    lines = [f"Picked: {', '.join(measurement.picked)}"]
    lines += [f"{value.name}: {amount(value, unit)}" for value in measurement.values]
    if measurement.size is not None:
        sides = " × ".join(number(side, unit) for side in measurement.size)
        whose = "the picked entity" if len(measurement.picked) == 1 else "the picked entities"
        lines.append(f"Box of {whose} (dx × dy × dz, file axes): {sides} {unit[0]}")
    return "\n".join(lines)


def label_text(measurement, unit):
    """The short text the view shows beside what was measured."""
    shown = [v for v in measurement.values if v.name in ("Diameter", "Distance", "Angle")]
    if not shown:
        shown = [v for v in measurement.values if v.name in ("Length", "Area", "Volume")]
    return "  ".join(("Ø " if v.name == "Diameter" else "") + amount(v, unit) for v in shown)
