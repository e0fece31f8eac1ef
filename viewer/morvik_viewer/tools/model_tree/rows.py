"""The model tree's rows worked out as plain lists: which files, assemblies and parts are
listed, each row's parent and end, and each row's check state (see
tools.model_tree.widget). No Qt call a row."""

from PySide6.QtCore import Qt

from morvik_viewer.model.file_tree import unwrapped

# Rows nested deeper are listed at this depth: a file may nest a hundred thousand
# levels, which nobody can read, and Qt walks nested items recursively.
MAX_LEVELS = 64


CHECKED, UNCHECKED, PARTIAL = (Qt.CheckState.Checked, Qt.CheckState.Unchecked,
                               Qt.CheckState.PartiallyChecked)


def outline(trees, shape_ids):
    """The rows to list, depth first, as (depth, name, shape_id or None, tooltip or None):
    a row per file (model.file_tree.FileTree) above its tree, then the registered parts no tree
    holds, flat. Only parts among shape_ids (the registered identifiers) are listed, and
    only the assemblies that hold any of them, but for those that only wrap a part of
    their own name."""
    registered = dict.fromkeys(shape_ids)
    listed = set()
    rows = []
    for tree in trees:
        parts = set(tree.parts)
        file_rows = [(0, tree.file, None, tree.path)]
        for index, (depth, name) in enumerate(tree.rows):
            depth = min(depth + 1, MAX_LEVELS)
            if index not in parts:
                file_rows.append((depth, name, None, None))
            elif name in registered:
                listed.add(name)
                file_rows.append((depth, name, name, None))
        rows += _unwrapped(_pruned(file_rows))
    rows += [(0, shape_id, shape_id, None) for shape_id in registered if shape_id not in listed]
    return rows


def _pruned(rows):
    """rows without the assemblies that hold no part."""
    holds = [row[2] is not None for row in rows]
    open_rows = []  # the rows the current one lies in, outermost first
    for i, row in enumerate(rows):
        while open_rows and rows[open_rows[-1]][0] >= row[0]:
            open_rows.pop()
        if holds[i]:
            for j in reversed(open_rows):
                if holds[j]:
                    break  # and so do the rows around it
                holds[j] = True
        open_rows.append(i)
    return [row for row, keep in zip(rows, holds) if keep]


def _unwrapped(rows):
    """rows without the assemblies that only wrap one part of their own name, by the rule
    --tree lists them by."""
    return unwrapped(rows, lambda row: row[2])


def shape(rows):
    """(parents, ends) of depth-first rows: each row's parent (-1 at the top) and the index
    after its last descendant."""
    parents, ends, open_rows = [-1] * len(rows), [len(rows)] * len(rows), []
    for i, row in enumerate(rows):
        while open_rows and rows[open_rows[-1]][0] >= row[0]:
            ends[open_rows.pop()] = i
        parents[i] = open_rows[-1] if open_rows else -1
        open_rows.append(i)
    return parents, ends


def check_states(shape_ids, parents, visible):
    """Each row's check state: a part's is its visibility, an assembly's gathers its parts'
    (partly checked when some show and some do not)."""
    shown, hidden = [False] * len(parents), [False] * len(parents)
    for i in range(len(parents) - 1, -1, -1):  # descendants come after their rows
        if shape_ids[i] is not None:
            shown[i] = shown[i] or visible[i]
            hidden[i] = hidden[i] or not visible[i]
        parent = parents[i]
        if parent >= 0:
            shown[parent] = shown[parent] or shown[i]
            hidden[parent] = hidden[parent] or hidden[i]
    return [PARTIAL if s and h else UNCHECKED if h else CHECKED for s, h in zip(shown, hidden)]
