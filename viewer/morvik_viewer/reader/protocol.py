"""What a reader and its client say to each other: the request, the messages a reader
answers with (each declared once, below), what the client has heard so far, and how a
reader's failure is worded.

A request is one JSON line. A message goes as one frame: a JSON head (its kind and its
fields) and an optional binary body (a batch's shapes), each size first (see encode).
Nothing here imports OCP at module level: the command line speaks to a reader before
it loads OCP; the parts of a batch are decoded once it has.
"""

import io
import json
import os
import signal
import struct
import sys
from dataclasses import dataclass, fields
from typing import ClassVar

from morvik_viewer.model.file_tree import FileTree
from morvik_viewer.model.parts import Part
from morvik_viewer.model.paths import one_line, shown
from morvik_viewer.model.units import length_unit

_HEADER = struct.Struct("<II")  # sizes of the JSON head and of the binary body


# The signals a process dies of by its own fault.
_CRASHES = {signal.SIGSEGV, signal.SIGBUS, signal.SIGABRT, signal.SIGFPE, signal.SIGILL,
            signal.SIGTRAP, signal.SIGSYS}


def command(parent=None):
    """The program and arguments that start a reader for this process (or for parent)."""
    parent = os.getpid() if parent is None else parent
    return [sys.executable, "-m", "morvik_viewer.reader.server", "--parent", str(parent)]


def may_fork():
    """Whether this process may fork: Linux, and no thread but this one (a fork copies one
    thread only, and a lock another thread held would stay locked)."""
    if not hasattr(os, "fork") or not sys.platform.startswith("linux"):
        return False
    try:
        return len(os.listdir("/proc/self/task")) == 1
    except OSError:
        return False


def worded(cause, what, names=None):
    """A failure in one line, as users read it: "names: what (cause)". cause is an
    exception (told by its type and first line) or a str saying why already."""
    why = cause if isinstance(cause, str) else f"{type(cause).__name__}: {one_line(cause)}"
    return f"{what} ({why})" if names is None else f"{names}: {what} ({why})"


def named(paths):
    """The files of a request, as a failure names them."""
    return ", ".join(shown(p) for p in paths)


@dataclass
class Request:
    """What a reader is asked, once: the parts of paths (with each file's tree), or for
    the command line's --tree, the model tree of each, or (export) the files written
    into a file of another kind."""

    paths: list
    trees: bool = False
    # Where answers are kept for the next read of the same files, and how many bytes they
    # may take in all ({"folder": str, "limit": int}, see reader.cache); None: never.
    cache: dict | None = None
    # Bytes a read may take beyond what the reader holds when asked (see reader.memory);
    # None: no bound.
    memory: int | None = None
    # The machine's cores the reader may run on (see reader.memory.use_cores); None: all.
    cores: int | None = None
    # Parts meshed coarser, for a small picture (see answers.DRAFT_COARSENING).
    draft: bool = False
    # The files written into one of another kind, rather than sent (see cad.export):
    # {"into": the path the reader writes, in a folder of the caller's beside the target,
    # "target": the file the caller puts it in place of, as failures name it}; None: sent.
    export: dict | None = None
    # With export, the identifiers of the parts written, alone; None: all the files hold.
    ids: list | None = None

    def encode(self):
        # JSON escapes the lone surrogates a name that is not UTF-8 decodes to, and gives them back.
        return json.dumps({"paths": [os.fspath(p) for p in self.paths], "trees": self.trees,
                           "cache": self.cache, "memory": self.memory,
                           "cores": self.cores, "draft": self.draft, "export": self.export,
                           "ids": self.ids}).encode("ascii") + b"\n"

    @classmethod
    def decode(cls, line):
        """The request line holds; ValueError when it holds none."""
        asked = json.loads(line)
        if not isinstance(asked, dict) or not isinstance(asked.get("paths"), list):
            raise ValueError("not a request")
        cache, memory, cores = asked.get("cache"), asked.get("memory"), asked.get("cores")
        return cls(asked["paths"], asked.get("trees") is True,
                   cache if isinstance(cache, dict) else None,
                   memory if _count(memory) else None, cores if _count(cores) else None,
                   asked.get("draft") is True, *_export(asked.get("export"), asked.get("ids")))


def _export(export, ids):
    """(export, ids) of a request, each None unless it is what Request says."""
    if not (isinstance(export, dict) and all(isinstance(export.get(key), str)
                                             for key in ("into", "target"))):
        return None, None
    if not (isinstance(ids, list) and all(isinstance(i, str) for i in ids)):
        ids = None
    return {"into": export["into"], "target": export["target"]}, ids


def _count(value):
    return isinstance(value, int) and not isinstance(value, bool) and value > 0


# --- the messages: what a reader answers, in this order ---------------------


@dataclass
class Stage:
    """A file is being read: its name (for parts), or its place in the request (for trees)."""

    kind: ClassVar = "stage"
    file: str | None = None
    index: int | None = None


@dataclass
class Count:
    """How many parts follow, and the absolute deflection they are meshed to."""

    kind: ClassVar = "count"
    count: int
    deflection: float | None = None


@dataclass
class Parts:
    """A batch of parts: identifiers, colours, sub-shape colours ([kind, index, r, g, b]
    each, or the number of an earlier part's list for the same shape: the lists the answer
    sent in full that are not empty are numbered from 0 in order), length units when not
    millimetres, the deflection their triangles reach, and where each lies; the shapes
    none of the answer's batches sent yet go in the body, one binary BREP compound with
    their triangles: a product placed many times travels once, its colouring too.
    Fields a reader garbles are kept as they came: unpack_parts refuses them, units_by_id
    leaves them out."""

    kind: ClassVar = "parts"
    ids: list
    colors: list | None = None
    subs: list | None = None
    units: list | None = None
    deflection: float | None = None
    # Where each part lies: [index, orientation] of a shape sent in this batch's body or an
    # earlier one's (see Shared), then the 12 values of its placement, unless it has none.
    places: list | None = None
    body: bytes = b""

    def units_by_id(self):
        """The length unit of each part sent with one (see model.parts.Part.unit)."""
        if not (isinstance(self.units, list) and isinstance(self.ids, list)):
            return {}
        return {shape_id: length_unit(unit) for shape_id, unit in zip(self.ids, self.units)
                if isinstance(shape_id, str)}


@dataclass
class Tree:
    """The --tree rows of the file at index in the request (see model.file_tree)."""

    kind: ClassVar = "tree"
    index: int
    rows: list


@dataclass
class Failure:
    """Why the read failed, in one line; with index, why that file's tree could not be had."""

    kind: ClassVar = "error"
    message: str
    index: int | None = None


@dataclass
class Writing:
    """The files are read: the export is being written (see Request.export), to target."""

    kind: ClassVar = "writing"
    target: str


@dataclass
class Done:
    """Everything asked for is sent."""

    kind: ClassVar = "done"


# Each file's tree for the window (model.file_tree.FileTree) is a message too, sent ahead
# of the parts: it keeps its wire form (head, from_head) with its own class.
_KINDS = {cls.kind: cls for cls in (Stage, Count, Parts, Tree, Failure, Writing, Done)}


def encode(message):
    """One frame holding message."""
    if isinstance(message, FileTree):
        head, body = message.head(), b""
    else:
        head = {"kind": message.kind}
        head.update((f.name, getattr(message, f.name)) for f in fields(message)
                    if f.name != "body" and getattr(message, f.name) is not None)
        body = getattr(message, "body", b"")
    return frame(head, body)


def frame(head, body=b""):
    """One frame: a JSON-able head and an optional binary body."""
    text = json.dumps(head).encode("utf-8")
    return _HEADER.pack(len(text), len(body)) + text + body


def decode(head, body=b""):
    """The message a frame holds, or None for one of no kind this client knows (or a
    file's tree it cannot use). KeyError or TypeError when a field it needs is missing."""
    kind = head.get("kind")
    if kind == "file-tree":
        return FileTree.from_head(head)
    cls = _KINDS.get(kind)
    if cls is None:
        return None
    given = {f.name: head[f.name] for f in fields(cls) if f.name in head and f.name != "body"}
    message = cls(**given)
    if cls is Parts:
        message.body = body
    return message


class FrameReader:
    """Cuts frames out of a byte stream that arrives in pieces of any size."""

    def __init__(self):
        self._buffer = bytearray()

    def feed(self, data):
        """Adds data; returns the (head, body) of each frame now complete."""
        self._buffer += data
        frames, at = [], 0
        while len(self._buffer) - at >= _HEADER.size:
            head_size, body_size = _HEADER.unpack_from(self._buffer, at)
            body = at + _HEADER.size + head_size
            end = body + body_size
            if len(self._buffer) < end:
                break
            head = json.loads(self._buffer[at + _HEADER.size:body].decode("utf-8"))
            frames.append((head, bytes(self._buffer[body:end])))
            at = end
        del self._buffer[:at]  # once: the rest moves once, however many frames came
        return frames


class Heard:
    """What a reader has said so far: the file it reads, the parts it announced, the
    batches not decoded yet, and how it ended."""

    def __init__(self, paths):
        self.paths = [os.fspath(p) for p in paths]
        self.file = None  # the file being read, as the reader named it
        self.count = None
        # The absolute deflection the parts' triangles reach, to show them as they are
        # (see cad.meshing.keep_triangles); None till the reader says.
        self.deflection = None
        self.batches = []  # Parts messages, not decoded yet
        self.shared = Shared()  # the shapes the batches decoded so far sent
        self.trees = []  # each file's FileTree, as far as the reader sent one fit to use
        # The length unit of each part sent with one (see model.parts.Part.unit), by identifier.
        self.units = {}
        self.error = None
        self.writing = False  # an export's files are read, and it is being written
        self.done = False
        self._frames = FrameReader()

    def feed(self, data):
        """Takes the reader's output; returns the messages it completed."""
        messages = [decode(head, body) for head, body in self._frames.feed(data)]
        messages = [message for message in messages if message is not None]
        for message in messages:
            self.take(message)
        return messages

    def take(self, message):
        if isinstance(message, Stage):
            self.file = message.file
        elif isinstance(message, Count):
            self.count = message.count
            self._reach(message.deflection)
        elif isinstance(message, Parts):
            self.batches.append(message)
            self.units.update(message.units_by_id())
            self._reach(message.deflection)
        elif isinstance(message, FileTree):
            self.trees.append(message)
        elif isinstance(message, Failure):
            self.error = message.message
        elif isinstance(message, Writing):
            self.writing, self.file = True, message.target  # what a crash now stopped
        elif isinstance(message, Done):
            self.done = True

    def _reach(self, deflection):
        if isinstance(deflection, (int, float)) and deflection > 0:
            self.deflection = max(self.deflection or 0.0, float(deflection))

    def failure(self, status):
        """Why the read failed, in one line, or None when it went through.

        status is the reader's exit status, or the signal that ended it as a
        negative number, or a str saying why it did not run."""
        if self.error is not None:
            return self.error
        if self.done:
            return None
        if isinstance(status, int) and status < 0:
            try:
                name = signal.Signals(-status).name
            except ValueError:
                name = f"signal {-status}"
            # A crash is a crash whatever its signal: OCCT's stack overflow is a SIGSEGV,
            # which AddressSanitizer turns into a SIGABRT. Other signals came from outside.
            why = (f"it crashed with {name}" if -status in _CRASHES
                   else f"it was ended by {name}")
        elif isinstance(status, int):
            why = f"exit status {status}"
        else:
            why = status
        # The file being read when it stopped, when it said which.
        return worded(why, "the reader stopped before it was done", self.file or named(self.paths))


def _sub_shapes(shape, kind):
    from OCP.TopExp import TopExp

    try:  # OCP 8 binds OCCT's collections in a module of their own
        from OCP.collections import IndexedMap_TopoDS_Shape_TopTools_ShapeMapHasher as IndexedMap
    except ImportError:
        from OCP.TopTools import TopTools_IndexedMapOfShape as IndexedMap
    found = IndexedMap()
    TopExp.MapShapes_s(shape, kind, found)
    return found


class Shared:
    """The shapes a reader has sent so far in one answer, each once however many parts
    place it (see Parts.places), with the maps of their sub-shapes once needed."""

    def __init__(self):
        self.shapes = []  # by index, from 1 (see Parts.places)
        self._maps = {}  # (index, kind) -> the shape's sub-shapes of kind, as TopExp maps them
        self._colorings = []  # (index, its (sub-shape, rgb) pairs) of each list sent in full

    def coloring(self, index, places):
        """The (sub-shape, rgb) pairs of shape index that places (see Parts.subs) name, the
        shape unplaced; a list sent in full is numbered, for later parts to name."""
        if isinstance(places, int) and not isinstance(places, bool):
            if not 0 <= places < len(self._colorings):
                raise ValueError(f"sub colours {places} of {len(self._colorings)} sent")
            shape, subs = self._colorings[places]
            if shape != index:
                raise ValueError(f"the sub colours of shape {shape} given to shape {index}")
            return subs
        from OCP.TopAbs import TopAbs_ShapeEnum

        subs = []
        for kind, sub_index, *rgb in places:
            found = self.sub_shapes(index, TopAbs_ShapeEnum(kind))
            if 1 <= sub_index <= found.Extent():
                subs.append((found.FindKey(sub_index), tuple(rgb)))
        if places:
            self._colorings.append((index, tuple(subs)))
        return tuple(subs)

    def sub_shapes(self, index, kind):
        key = (index, kind)
        if key not in self._maps:
            self._maps[key] = _sub_shapes(self.shapes[index - 1], kind)
        return self._maps[key]


def location_of(place):
    """The TopLoc_Location a Parts.places entry gives (its 12 values after index and
    orientation: the rows of a 3x4 matrix), or None for none."""
    from OCP.gp import gp_Trsf
    from OCP.TopLoc import TopLoc_Location

    if len(place) == 2:
        return None
    if len(place) != 14 or not all(isinstance(v, (int, float)) for v in place[2:]):
        raise ValueError("a place that is no placement")
    trsf = gp_Trsf()
    trsf.SetValues(*map(float, place[2:]))
    return TopLoc_Location(trsf)


def unpack_parts(batch, shared=None):
    """The model.parts.Part of a Parts message. shared holds the shapes the answer's earlier
    batches sent (a new Shared for a lone batch); this batch's new ones join it."""
    from OCP.BinTools import BinTools
    from OCP.TopAbs import TopAbs_Orientation
    from OCP.TopoDS import TopoDS_Iterator, TopoDS_Shape

    shared = Shared() if shared is None else shared
    if batch.body:
        compound = TopoDS_Shape()
        BinTools.Read_s(compound, io.BytesIO(batch.body))
        children = TopoDS_Iterator(compound)
        while children.More():
            shared.shapes.append(children.Value())
            children.Next()
    if not (isinstance(batch.places, list) and len(batch.places) == len(batch.ids)
            and isinstance(batch.colors, list) and len(batch.colors) == len(batch.ids)):
        raise ValueError(f"a batch of {len(batch.ids)} parts placed {len(batch.places or ())}")
    parts, indices = [], []
    for shape_id, color, place in zip(batch.ids, batch.colors, batch.places):
        index, orientation = place[0], place[1]
        if not (isinstance(index, int) and 1 <= index <= len(shared.shapes)):
            raise ValueError(f"a part placed shape {index} of {len(shared.shapes)}")
        location = location_of(place)
        shape = shared.shapes[index - 1]
        if location is not None:
            shape = shape.Moved(location)
        if orientation:
            shape = shape.Oriented(TopAbs_Orientation(orientation))
        indices.append((index, location))
        parts.append(Part(shape_id, shape, None if color is None else tuple(color)))
    for part, (index, location), places in zip(parts, indices, batch.subs or ()):
        subs = shared.coloring(index, places)
        # A sub-shape of shape.Moved(L), as TopExp finds it, is the one of shape moved by L.
        part.sub_colors = subs if location is None else tuple(
            (sub.Moved(location), rgb) for sub, rgb in subs)
    for part, unit in zip(parts, batch.units or ()):
        part.unit = length_unit(unit)
    return parts
