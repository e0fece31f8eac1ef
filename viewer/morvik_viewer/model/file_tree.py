"""The model tree of CAD files, as data: the window's (FileTree) and the rows
`morvik-viewer --tree FILE` prints.

A STEP file shows its assemblies and their leaves, a BREP file its compounds
and solids. Each node has a name, the colour the file gives it (its own or the
one it takes from above), the solids under it and how many of their
sub-shapes the file colours apart. A leaf is named as the viewer names its
part; a leaf the file gives no name opens into its solids, one child each.
A row is [depth, name, linear RGB or null, solids, sub-colours], depth first;
the reader process works them out (see cad.tree_rows, reader.client.read_trees).

A reader asked for parts sends each file's tree too (FileTree, a "file-tree"
frame), under the identifiers its parts go by, for the window's model tree,
with the up axis its header implies. Both trees leave out the assemblies that
only wrap one part of their own name (see unwrapped).

Nothing here imports OCP or Qt.
"""

import json
import re
from dataclasses import dataclass

from morvik_viewer.model.paths import shown
from morvik_viewer.model.up_axis import AXES, authored_up

# Indentation stops growing here: a file may nest a hundred thousand levels.
MAX_INDENT = 40
_CONTROL = re.compile(r"[\x00-\x1f\x7f]")


def unwrapped(rows, part_of):
    """rows (depth first, each its depth and name first) without the assemblies that only
    wrap one part of their own name, as EDA exports wrap each component ("D5" placing
    one "D5"): the part stands in the assembly's place. part_of(row) is the identifier
    of the part a row stands for, None for an assembly. The window's tree and --tree
    both list a file so."""
    kept = []
    for i, row in enumerate(rows):
        wrapper = kept[-1] if kept and part_of(kept[-1]) is None else None
        shape_id = part_of(row)
        if wrapper is not None and shape_id is not None and row[0] == wrapper[0] + 1 \
                and (shape_id == wrapper[1] or shape_id.startswith(wrapper[1] + "#")) \
                and (i + 1 == len(rows) or rows[i + 1][0] < row[0]):
            row = type(row)((kept.pop()[0], *row[1:]))
        kept.append(row)
    return kept


def _outline(nodes):
    """(depth, node, part index or None) for each row of a STEP file's tree, from the
    nodes its walk gave: an assembly, or a leaf of one part, is one row; a leaf of
    several parts (a part opened into its solids) is a row above one row a part."""
    for node in nodes:
        if node.parts is None:
            yield node.depth, node, None
            continue
        start, end = node.parts
        if end - start == 1:
            yield node.depth, node, start
            continue
        yield node.depth, node, None
        for index in range(start, end):
            yield node.depth + 1, node, index


@dataclass
class FileTree:
    """One file's tree as the window's model tree takes it."""

    file: str  # the file's name
    path: str  # the file as the user named it
    rows: list  # [depth, name] of each node, depth first
    parts: list  # indices of the rows that stand for a part: their name is its identifier
    up: str | None = None  # the up axis the file's header implies (see up_axis.authored_up)
    source: str = ""  # the authoring system its header names

    @classmethod
    def of(cls, path, parts, nodes=None, header=None):
        """The tree of a file read into parts (model.parts.Part, under their final identifiers);
        nodes are a STEP file's (see step_reader.read_step), header its Header. Without
        nodes, the parts lie flat under the file (a BREP file's compounds carry no names)."""
        from pathlib import Path

        rows, indices = [], []
        laid_out = _outline(nodes) if nodes else ((0, None, i) for i in range(len(parts)))
        for depth, node, index in laid_out:
            if index is None:
                rows.append([depth, node.name or Path(path).stem])
            else:
                indices.append(len(rows))
                rows.append([depth, parts[index].shape_id])
        if header is None:
            return cls(Path(path).name, shown(path), rows, indices)
        said = (header.originating_system, header.preprocessor_version)
        if getattr(header, "up", None) in AXES:  # the axis the file's format defines
            return cls(Path(path).name, shown(path), rows, indices, header.up, header.kind)
        # The field that names a Y-up system, when one does: the status bar quotes it.
        return cls(Path(path).name, shown(path), rows, indices, authored_up(*said),
                   next((text for text in said if authored_up(text)), header.system()))

    def head(self):
        """The frame head a reader sends it in."""
        return {"kind": "file-tree", "file": self.file, "path": self.path, "rows": self.rows,
                "parts": self.parts, "up": self.up, "source": self.source}

    @classmethod
    def from_head(cls, head):
        """The FileTree a frame head holds, or None when it holds anything else."""
        try:
            file, path, rows, parts = (head[key] for key in ("file", "path", "rows", "parts"))
            if not (isinstance(file, str) and isinstance(path, str) and isinstance(rows, list)
                    and isinstance(parts, list)):
                return None
            rows = [[_count(depth), name] for depth, name in rows]
            if not all(isinstance(name, str) for _, name in rows):
                return None
            parts = [_count(index, len(rows)) for index in parts]
        except (KeyError, TypeError, ValueError):
            return None
        up, source = head.get("up"), head.get("source")
        return cls(file, path, rows, parts, up if isinstance(up, str) and up in AXES else None,
                   source if isinstance(source, str) else "")


def _count(value, below=None):
    """value when it is a whole number from 0 (and below below), else ValueError."""
    if type(value) is not int or value < 0 or (below is not None and value >= below):
        raise ValueError(value)
    return value


def text_lines(rows):
    """One line a node: indented by depth, its name, colour (#rrggbb in sRGB, "-"
    when none), solids and coloured sub-shapes."""
    for depth, name, color, solids, sub_colors in rows:
        indent = "  " * min(depth, MAX_INDENT)
        if depth > MAX_INDENT:
            indent += f"[{depth}] "
        line = f"{indent}{_printable(name)}  {_hex(color)}  {solids} solid{'' if solids == 1 else 's'}"
        if sub_colors:
            line += f"  {sub_colors} coloured sub-shape{'' if sub_colors == 1 else 's'}"
        yield line


def json_text(path, rows):
    """The tree as one line of JSON: nested {"name", "color", "solids", "sub_colors",
    "children"}, the root with "file" too. Written out without recursion."""
    out, depths = [], []
    for depth, name, color, solids, sub_colors in rows:
        while depths and depths[-1] >= depth:
            out.append("]}")
            depths.pop()
        if depths and not out[-1].endswith("["):
            out.append(",")
        head = {"file": shown(path)} if depth == 0 else {}
        head.update(name=name, color=_hex(color, None), solids=solids, sub_colors=sub_colors)
        out.append(json.dumps(head)[:-1] + ', "children": [')
        depths.append(depth)
    out.append("]}" * len(depths))
    return "".join(out)


def _hex(color, none="-"):
    if color is None:
        return none
    return "#" + "".join(f"{round(255 * _srgb(c)):02x}" for c in color)


def _srgb(linear):
    linear = min(max(linear, 0.0), 1.0)
    return 12.92 * linear if linear <= 0.0031308 else 1.055 * linear ** (1 / 2.4) - 0.055


def _printable(name):
    return _CONTROL.sub(" ", name)
