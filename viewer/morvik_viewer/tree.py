"""The model tree of CAD files, printed without a display: `morvik-viewer --tree FILE`.

A STEP file shows its assemblies and their leaves, a BREP file its compounds
and solids. Each node has a name, the colour the file gives it (its own or the
one it takes from above), the solids under it and how many of their
sub-shapes the file colours apart. A leaf is named as the viewer names its
part; a leaf the file gives no name opens into its solids, one child each.

Files are read in a reader process (see reading), as for the window: a
hostile file may crash OCCT. The request line {"tree": [paths]} is answered,
file after file, by a "stage" frame and then a "tree" frame ({"index",
"rows"}) or a "tree-error" frame ({"index", "message"}), and "done" at the
end. A row is [depth, name, linear RGB or null, solids, sub-colours], depth
first. A reader that crashes costs its file only: a new one reads the rest.

A reader asked for parts sends each file's tree too (FileTree, a "file-tree"
frame), under the identifiers its parts go by, for the window's model tree.

Nothing here imports OCP or Qt until a reader process asks for it.
"""

import json
import os
import re
import subprocess
import sys
from dataclasses import dataclass

# Indentation stops growing here: a file may nest a hundred thousand levels.
MAX_INDENT = 40
_CONTROL = re.compile(r"[\x00-\x1f\x7f]")


def request(paths):
    """The line that asks a reader for the trees of paths."""
    return json.dumps({"tree": [os.fspath(p) for p in paths]}).encode("ascii") + b"\n"


# --- in the reader process ---------------------------------------------------------


def serves(line, channel):
    """Answers line when it asks for trees (see request); False when it asks for
    something else."""
    from morvik_viewer.reading import encode

    try:
        asked = json.loads(line)
    except ValueError:
        return False
    if not isinstance(asked, dict) or not isinstance(asked.get("tree"), list):
        return False
    for index, path in enumerate(asked["tree"]):
        channel.write(encode({"kind": "stage", "index": index}))
        try:
            rows = tree_rows(str(path))
        except Exception as error:  # noqa: BLE001 - whatever a file or OCCT raises, told
            channel.write(encode({"kind": "tree-error", "index": index,
                                  "message": _message(path, error)}))
        else:
            channel.write(encode({"kind": "tree", "index": index, "rows": rows}))
    channel.write(encode({"kind": "done"}))
    return True


def _message(path, error):
    from morvik_viewer.paths import one_line, shown
    from morvik_viewer.scene import LoadError

    if isinstance(error, LoadError):
        return str(error)  # names the file already
    return f"{shown(path)}: cannot read the file ({type(error).__name__}: {one_line(error)})"


def tree_rows(path):
    """The rows of the file's tree; raises scene.LoadError."""
    from pathlib import Path

    from morvik_viewer.paths import shown
    from morvik_viewer.file_kinds import STEP_SUFFIXES
    from morvik_viewer.scene import LoadError, check_file

    path = Path(path)
    check_file(path)
    if path.suffix.lower() not in STEP_SUFFIXES:
        return _brep_rows(path)
    from morvik_viewer.step_reader import StepError, read_step

    nodes = []
    try:
        found = read_step(str(path), nodes)
    except StepError as error:
        raise LoadError(f"{shown(path)}: {error}") from error
    return _step_rows(path, found, nodes)


def _step_rows(path, found, nodes):
    from morvik_viewer.scene import identify

    parts = identify(path, found)
    rows = []
    roots = sum(node.depth == 0 for node in nodes)
    shift = 1 if roots > 1 else 0  # several free shapes: the file holds them
    if shift:
        rows.append([0, path.stem, None, 0, 0])
    for depth, node, index in _outline(nodes):
        if index is None:
            rows.append([depth + shift, node.name or path.stem, _rgb(node.color), 0, 0])
        else:
            part = parts[index]
            rows.append([depth + shift, part.shape_id, _rgb(found[index].color),
                         _solids(part.shape), len(part.sub_colors)])
    return _summed(rows)


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


def _brep_rows(path):
    from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_COMPSOLID, TopAbs_SOLID
    from OCP.TopoDS import TopoDS_Iterator

    from morvik_viewer.scene import Found, identify, read_brep, top_level_solids

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
    from OCP.TopAbs import TopAbs_SOLID
    from OCP.TopExp import TopExp_Explorer

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


# --- for the window -----------------------------------------------------------------


@dataclass
class FileTree:
    """One file's tree as the window's model tree takes it."""

    file: str  # the file's name
    path: str  # the file as the user named it
    rows: list  # [depth, name] of each node, depth first
    parts: list  # indices of the rows that stand for a part: their name is its identifier

    @classmethod
    def of(cls, path, parts, nodes=None):
        """The tree of a file read into parts (scene.Part, under their final identifiers);
        nodes are a STEP file's (see step_reader.read_step). Without nodes, the parts
        lie flat under the file (a BREP file's compounds carry no names)."""
        from pathlib import Path

        from morvik_viewer.paths import shown

        rows, indices = [], []
        laid_out = _outline(nodes) if nodes else ((0, None, i) for i in range(len(parts)))
        for depth, node, index in laid_out:
            if index is None:
                rows.append([depth, node.name or Path(path).stem])
            else:
                indices.append(len(rows))
                rows.append([depth, parts[index].shape_id])
        return cls(Path(path).name, shown(path), rows, indices)

    def head(self):
        """The frame head a reader sends it in."""
        return {"kind": "file-tree", "file": self.file, "path": self.path, "rows": self.rows,
                "parts": self.parts}

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
        return cls(file, path, rows, parts)


def _count(value, below=None):
    """value when it is a whole number from 0 (and below below), else ValueError."""
    if type(value) is not int or value < 0 or (below is not None and value >= below):
        raise ValueError(value)
    return value


# --- in the command line's process --------------------------------------------------


def read_trees(paths):
    """(rows, None) or (None, message) for each path, in order."""
    from morvik_viewer.reading import FrameReader, Heard, command

    results = [None] * len(paths)
    start = 0
    while start < len(paths):
        todo = paths[start:]
        process = subprocess.Popen(command(), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            process.stdin.write(request(todo))
            process.stdin.close()
        except BrokenPipeError:
            pass  # it is gone already: its exit status says how
        frames, reading = FrameReader(), None
        while chunk := process.stdout.read1(1 << 16):
            for head, _ in frames.feed(chunk):
                kind, index = head.get("kind"), head.get("index")
                if kind == "stage":
                    reading = index
                elif kind == "tree":
                    results[start + index] = (head["rows"], None)
                elif kind == "tree-error":
                    results[start + index] = (None, head["message"])
        process.stdout.close()
        status = process.wait()
        done = start
        while done < len(paths) and results[done] is not None:
            done += 1
        if done < len(paths):
            # The reader stopped on this file (or before any): say so, and go on after it.
            heard = Heard([paths[done]])
            if reading is not None and start + reading == done:
                from morvik_viewer.paths import shown

                heard.file = shown(paths[done])
            results[done] = (None, heard.failure(status))
            done += 1
        start = done
    return results


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
    from morvik_viewer.paths import shown

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


def main(paths, as_json, prog):
    """Prints the trees of paths; returns the exit status (2 when a file could not be
    read, each such file told in one line on standard error)."""
    # A name the terminal's encoding cannot show must not end the run.
    sys.stdout.reconfigure(errors="backslashreplace")
    try:
        return _print_trees(paths, as_json, prog)
    except BrokenPipeError:  # the reader of the output went (| head): nobody to tell
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


def _print_trees(paths, as_json, prog):
    from morvik_viewer.paths import shown

    status, printed = 0, False
    for path, (rows, error) in zip(paths, read_trees(paths)):
        if error is not None:
            sys.stdout.flush()
            print(f"{prog}: error: {error}", file=sys.stderr)
            status = 2
        elif as_json:
            print(json_text(path, rows))
        else:
            if len(paths) > 1:  # each tree under its file's name, apart from the last
                print(f"\n{shown(path)}:" if printed else f"{shown(path)}:")
            print("\n".join(text_lines(rows)))
            printed = True
    return status
