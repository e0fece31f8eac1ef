"""What the viewer shows, as plain data: the parts of files, the names they go by, and
why a file cannot be shown. Nothing here loads OCP (the command line and the window
use these before it has loaded): a part's shape is the OCCT shape it was given."""

from __future__ import annotations

from collections import Counter
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING

from morvik_viewer.model import file_kinds
from morvik_viewer.model.paths import PathError, shown
from morvik_viewer.model.units import MILLIMETRES

if TYPE_CHECKING:  # the shapes' class, named for readers and type checkers only
    from OCP.TopoDS import TopoDS_Shape


@dataclass
class Part:
    """One shape to show, under the identifier the service will book it by."""

    shape_id: str
    shape: TopoDS_Shape
    color: tuple | None  # linear RGB; None when the file gives the part none
    # (sub-shape, colour) pairs: faces or solids of shape, as TopExp finds them in
    # shape, coloured apart from the rest; a finer sub-shape wins over a coarser one.
    sub_colors: tuple = ()
    # The file's length unit, (short name, millimetres in one): the shape itself is in
    # millimetres, as OCCT reads every file.
    unit: tuple = MILLIMETRES


class LoadError(Exception):
    """A file that cannot be shown; the message is meant for the user."""


def identify(path, found):
    """The Parts of what a file gives (Found, in the file's order), named as
    load_parts says; raises LoadError when there are none."""
    path = Path(path)
    if not found:
        raise LoadError(f"{shown(path)}: the file holds no shape")
    # Unnamed parts are numbered among those that fall back on the same name.
    unnamed = Counter(f.group or path.stem for f in found if f.name is None)
    numbered = Counter()
    parts, names = [], Names()
    for f in found:
        name = f.name
        if name is None:
            name = f.group or path.stem
            if unnamed[name] > 1:
                numbered[name] += 1
                name = f"{name}-{numbered[name]}"
        parts.append(Part(names.unique(name), f.shape, f.color, f.sub_colors))
    return parts


@dataclass
class Found:
    """A part as a file gives it, before it has an identifier."""

    name: str | None
    shape: TopoDS_Shape
    color: tuple | None = None
    sub_colors: tuple = ()
    group: str | None = None  # what to call it after when name is None


def check_file(path):
    """Raises LoadError unless path names a file of a kind load_parts reads (without reading it)."""
    try:
        file_kinds.check_file(path)
    except PathError as error:
        raise LoadError(str(error)) from None


class Names:
    """The identifiers handed out so far, each one once."""

    def __init__(self):
        self.taken = set()
        # The number to try first for a name met again: every lower one is taken (the
        # set only grows), so n copies of one name cost n lookups, not n * n / 2 (a
        # search from #2 each time: 4 s for 8,000 parts of one name).
        self._next = {}

    def unique(self, shape_id):
        """shape_id, or shape_id#2, #3... (the first not taken) when it is taken; the
        result is taken from then on."""
        candidate = shape_id
        if candidate in self.taken:
            n = self._next.get(shape_id, 2)
            while (candidate := f"{shape_id}#{n}") in self.taken:
                n += 1
            self._next[shape_id] = n + 1
        self.taken.add(candidate)
        return candidate
