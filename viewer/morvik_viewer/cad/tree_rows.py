"""The rows of a file's model tree for --tree, read in the reader process: a STEP
file's assemblies and leaves, a BREP file's compounds and solids (see model.file_tree)."""

from pathlib import Path

from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_COMPSOLID, TopAbs_SOLID
from OCP.TopExp import TopExp_Explorer
from OCP.TopoDS import TopoDS_Iterator

from morvik_viewer.cad.formats import read_file
from morvik_viewer.cad.shapes import read_brep, top_level_solids
from morvik_viewer.cad.step_walk import StepError
from morvik_viewer.model.file_kinds import kind_of
from morvik_viewer.model.file_tree import _outline, unwrapped
from morvik_viewer.model.parts import Found, LoadError, check_file, identify
from morvik_viewer.model.paths import shown


def tree_rows(path):
    """The rows of the file's tree; raises model.parts.LoadError."""
    path = Path(path)
    check_file(path)
    kind = kind_of(path)
    if kind == "BREP":
        return _brep_rows(path)
    nodes = []
    try:
        found = read_file(str(path), nodes, kind=kind)
    except StepError as error:
        raise LoadError(f"{shown(path)}: {error}") from error
    return _step_rows(path, found, nodes)


def _step_rows(path, found, nodes):
    parts = identify(path, found)
    rows = []  # each with whether it stands for a part, till unwrapped
    roots = sum(node.depth == 0 for node in nodes)
    shift = 1 if roots > 1 else 0  # several free shapes: the file holds them
    if shift:
        rows.append([0, path.stem, None, 0, 0, False])
    for depth, node, index in _outline(nodes):
        if index is None:
            rows.append([depth + shift, node.name or path.stem, _rgb(node.color), 0, 0, False])
        else:
            part = parts[index]
            rows.append([depth + shift, part.shape_id, _rgb(found[index].color),
                         _solids(part.shape), len(part.sub_colors), True])
    rows = unwrapped(_summed(rows), lambda row: row[1] if row[5] else None)
    return [row[:5] for row in rows]


def _brep_rows(path):
    shape = read_brep(path)
    solids = [] if shape.IsNull() else top_level_solids(shape)
    parts = identify(path, [Found(None, solid) for solid in solids])  # none: LoadError
    solids = iter(p.shape_id for p in parts)
    loose = parts[-1].shape_id  # whatever is not a solid lies in the last part
    rows, pending = [], [(shape, 0)]
    while pending:
        s, depth = pending.pop()
        kind = s.ShapeType()
        if kind in (TopAbs_COMPOUND, TopAbs_COMPSOLID):
            rows.append([depth, path.stem if depth == 0 else "(compound)", None, 0, 0])
            children, inside = TopoDS_Iterator(s), []
            while children.More():
                inside.append((children.Value(), depth + 1))
                children.Next()
            pending.extend(reversed(inside))  # the first child comes off the stack first
        elif kind == TopAbs_SOLID:
            rows.append([depth, next(solids), None, 1, 0])
        else:
            rows.append([depth, loose, None, 0, 0])
    return _summed(rows)


def _solids(shape):
    count, explorer = 0, TopExp_Explorer(shape, TopAbs_SOLID)
    while explorer.More():
        count += 1
        explorer.Next()
    return count


def _rgb(color):
    return None if color is None else [round(c, 6) for c in color]


def _summed(rows):
    """rows, each node's solids and sub-colours the sums of its children's."""
    open_nodes = []  # rows whose children are being met, outermost first
    for row in rows:
        _close(open_nodes, row[0])
        open_nodes.append(row)
    _close(open_nodes, 0)
    return rows


def _close(open_nodes, depth):
    while open_nodes and open_nodes[-1][0] >= depth:
        done = open_nodes.pop()
        if open_nodes:
            open_nodes[-1][3] += done[3]
            open_nodes[-1][4] += done[4]
