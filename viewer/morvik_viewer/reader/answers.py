"""What a reader process answers: the parts of files, meshed and sent in batches, or their
trees (the command line's --tree), or why it could not, with OCCT's own reason when it
gave one (see reader.server).

This module loads OCP and every reader of files as it is imported: the reader process
imports it before it awaits its request, so that a read starts at once.
"""

import io
import math
import os
import re
from pathlib import Path

from OCP.BinTools import BinTools, BinTools_FormatVersion
from OCP.STEPControl import STEPControl_Reader
from OCP.TopAbs import TopAbs_FORWARD
from OCP.TopLoc import TopLoc_Location

from morvik_viewer.cad.export import ExportError, check_writable, read_model, write
from morvik_viewer.cad.meshing import Mesher, model_deflection, start_threads
from morvik_viewer.cad.parts import load_all
from morvik_viewer.cad.shapes import compound
from morvik_viewer.cad.step_labels import ShapeMap as ShapeIndex
from morvik_viewer.cad.tree_rows import tree_rows
from morvik_viewer.model.exports import target_kind
from morvik_viewer.model.parts import LoadError
from morvik_viewer.model.paths import one_line, shown
from morvik_viewer.model.units import MILLIMETRES
from morvik_viewer.reader import memory
from morvik_viewer.reader.cache import Cache
from morvik_viewer.reader.cache import key as answer_key
from morvik_viewer.reader.protocol import (
    Count,
    Done,
    Failure,
    Parts,
    Request,
    Stage,
    Tree,
    Writing,
    _sub_shapes,
    encode,
    named,
    worded,
)

# Parts in the first batch: few, so that the window starts showing while the rest
# are meshed; later batches hold about BATCH_BYTES, MAX_BATCH parts at most.
FIRST_BATCH = 8
BATCH_BYTES = 512 << 10
MAX_BATCH = 500
# A draft's deflection against the model's (Request.draft, a thumbnail's parts): 0.016 of
# the model's longest side rather than 0.004, some 4 pixels of a 256-pixel picture that
# shows it whole, at 30 degrees between facets rather than 20.
DRAFT_COARSENING = 4.0
DRAFT_ANGLE = math.radians(30.0)
# A STEP file that fails is read again for OCCT's reason up to this size.
REREAD_LIMIT = 64 << 20
MAX_REASON = 200
_ANSI = re.compile(r"\x1b\[[0-9;]*m")
_OCCT_ERROR = re.compile(r"\b(ERR|Error|Fail|Exception)", re.IGNORECASE)


class Packer:
    """Frames the parts of one answer: each shape a part places is sent once, in the first
    batch that needs it, with its triangles; every part says which shape it places where
    (see protocol.Parts.places), so the window holds one copy of a product however often
    it is placed."""

    def __init__(self):
        self._sent = ShapeIndex()
        self._colorings = {}  # (shape index, sub colours) -> its number, once sent
        # (shape index, kind) -> the sent shape's sub-shapes of kind, as TopExp maps them
        self._maps = {}

    def pack(self, parts, deflection=None):
        """A frame holding parts; deflection, when given, is what their triangles reach."""
        fresh, places, subs = [], [], []
        for part in parts:
            bare = part.shape.Located(TopLoc_Location()).Oriented(TopAbs_FORWARD)
            known = self._sent.Extent()
            index = self._sent.Add(bare)
            if index > known:
                fresh.append(bare)
            places.append(_place(index, part.shape))
            subs.append(self._coloring(index, part) if part.sub_colors else [])
        body = io.BytesIO()
        if fresh:
            BinTools.Write_s(compound(fresh), body, True, False, _format())
        return encode(Parts(
            [p.shape_id for p in parts], [None if p.color is None else list(p.color) for p in parts],
            subs if any(p.sub_colors for p in parts) else None,
            [list(p.unit) for p in parts] if any(tuple(p.unit) != MILLIMETRES for p in parts)
            else None, deflection, places, body.getvalue()))

    def _coloring(self, index, part):
        """The sub colours of part, placing shape index: in full the first time they are
        sent for that shape, else the number of the time they were (see Parts.subs)."""
        places = self._sub_places(index, part)
        if not places:
            return places
        key = (index, tuple(map(tuple, places)))
        number = self._colorings.get(key)
        if number is not None:
            return number
        self._colorings[key] = len(self._colorings)
        return places

    def _sub_places(self, index, part):
        """[kind, index, r, g, b] of each sub colour of part, placing shape index: its
        sub-shape as the index TopExp gives it among the shape's sub-shapes of its kind,
        which the shape read back keeps. Looked up in the maps of the shape as sent, one a
        kind for all its placements (mapping each placement's own took half of framing a
        cabinet of 20,200)."""
        places = []
        # A sub-shape of the part, moved back by the part's placement, is the sent shape's.
        back = part.shape.Location().Inverted()
        for sub, rgb in part.sub_colors:
            kind = sub.ShapeType()
            key = (index, kind)
            if key not in self._maps:
                self._maps[key] = _sub_shapes(self._sent.FindKey(index), kind)
            sub_index = self._maps[key].FindIndex(sub.Moved(back))
            if sub_index:  # else not a sub-shape of the part: nothing to colour
                places.append([int(kind), sub_index, *map(float, rgb)])
        return places


def pack_parts(parts, deflection=None):
    """A frame holding parts alone, as the first batch of an answer."""
    return Packer().pack(parts, deflection)


def _place(index, shape):
    """[index, orientation] and the rows of shape's placement, unless it has none."""
    place = [index, int(shape.Orientation())]
    location = shape.Location()
    if not location.IsIdentity():
        trsf = location.Transformation()
        place += [trsf.Value(row, column) for row in (1, 2, 3) for column in (1, 2, 3, 4)]
    return place


def _format():
    # The third binary format: the only one that OCCT 7.8 reads back with
    # triangles for parts placed in an assembly (it fails with
    # NCollection_IndexedMap::FindKey on the others); 7.9 and 8.0 read it too.
    return BinTools_FormatVersion.BinTools_FormatVersion_VERSION_3


def _serve(ask, channel, console=None):
    # Everything the read needs is imported (with this module) before the request is awaited.
    line = ask.readline()
    if not line:
        return  # a reader started ahead and never needed
    request = Request.decode(line)
    memory.use_cores(request.cores)  # before OCCT starts its threads
    if request.memory and not request.trees:
        start_threads()  # while threads may still start
    bounded = memory.bound(request.memory)
    if request.trees:  # the command line's --tree
        _send_trees(channel, request.paths)
        return
    reading = []

    def stage(path):
        reading[:] = [path]
        channel.write(encode(Stage(shown(path))))

    if request.export is not None:
        _send_export(channel, request, stage,
                     lambda error: _read_failure(error, reading, request, bounded, console))
        return

    cache, name = _cache(request)
    kept = cache.load(name) if cache is not None else None
    if kept is not None:  # read before: the answer as it went then
        for path in request.paths:
            stage(path)
        channel.write(kept)
        channel.write(encode(Done()))
        return
    out = _Kept(channel, cache.writer(name) if cache is not None else None)
    try:
        trees = []
        parts = load_all(request.paths, stage, trees)
        for file_tree in trees:  # ahead of the parts: the window lists them as they come
            out.write(encode(file_tree))
        _send_parts(out, parts, request.draft)
        out.finish()  # before the end is told: the window ends a reader that has said all
    except BrokenPipeError:
        raise
    except Exception as error:  # noqa: BLE001 - whatever OCCT (or a bug) raises, told as text
        channel.write(encode(Failure(_read_failure(error, reading, request, bounded, console))))
        return
    finally:
        out.drop()  # unless finished: a failed answer is never kept
    channel.write(encode(Done()))


def _read_failure(error, reading, request, bounded, console):
    """Why the files of request could not be read, in one line: error, raised while
    reading the file in reading (a list of it, or empty before any)."""
    path = reading[0] if reading else None
    if bounded and (memory.ran_out(error) or memory.ran_out(error.__cause__)):
        where = shown(path) if path else named(request.paths)
        return f"{where}: {memory.too_large(request.memory)}"
    if isinstance(error, LoadError):
        reason = occt_reason(path, console)
        return f"{error} (OCCT: {reason})" if reason else str(error)
    return _cannot_read(path, error)


def _send_export(channel, request, stage, failure):
    """Answers an export: the files read (the parts asked for alone, with ids), then,
    told by Writing, written into request.export's path; Done, or a Failure saying
    why, which failure(error) words for an error of the read."""
    target = request.export["target"]
    kind = target_kind(target)
    try:
        if kind is None:
            raise ExportError("not a kind of file the viewer writes")
        check_writable(kind)
    except ExportError as error:
        channel.write(encode(Failure(f"{target}: cannot export ({error})")))
        return
    try:
        model = read_model(request.paths, request.ids, stage)
    except Exception as error:  # noqa: BLE001 - whatever OCCT (or a bug) raises, told as text
        channel.write(encode(Failure(failure(error))))
        return
    channel.write(encode(Writing(target)))
    try:
        write(model, kind, request.export["into"])
    except ExportError as error:
        channel.write(encode(Failure(f"{target}: cannot write the {kind} file ({error})")))
        return
    channel.write(encode(Done()))


def _cache(request):
    """The Cache a request allows, with its answer's key; (None, None) without one."""
    if not isinstance(request.cache, dict):
        return None, None
    try:
        return (Cache(request.cache["folder"], request.cache["limit"]),
                answer_key(request.paths))
    except (OSError, KeyError, TypeError, ValueError):  # a file to fail as it reads, say
        return None, None


class _Kept:
    """The channel, with what goes down it (but the stages) kept in a cache Entry."""

    def __init__(self, channel, entry):
        self._channel, self._entry = channel, entry

    def write(self, frame):
        self._channel.write(frame)
        if self._entry is not None:
            self._entry.add(frame)

    def finish(self):
        entry, self._entry = self._entry, None
        if entry is not None:
            entry.finish()

    def drop(self):
        entry, self._entry = self._entry, None
        if entry is not None:
            entry.drop()


def _send_parts(channel, parts, draft=False):
    """Meshes the parts batch by batch and sends each batch once it is meshed, so that
    the window shows the first ones while the rest are meshed here; a draft coarser."""
    deflection = model_deflection(part.shape for part in parts)
    mesher = (Mesher(deflection * DRAFT_COARSENING, DRAFT_ANGLE) if draft
              else Mesher(deflection))
    packer = Packer()
    channel.write(encode(Count(len(parts), mesher.deflection)))
    start, size = 0, FIRST_BATCH
    while start < len(parts):
        batch = parts[start:start + size]
        try:
            mesher.mesh([part.shape for part in batch])
        except Exception:  # noqa: BLE001 - what OCCT cannot mesh here, the view meshes itself
            pass
        frame = packer.pack(batch, mesher.reached)
        channel.write(frame)
        start += len(batch)
        # Batches of about BATCH_BYTES: the window decodes one within a slice.
        size = max(1, min(MAX_BATCH, 2 * size, BATCH_BYTES * len(batch) // len(frame)))


def occt_reason(path, console):
    """The one line of OCCT's that says why path could not be read, or None.

    For a STEP file, the first failure of OCCT's check of the file, read again
    (a syntax error names its line there, and nowhere in OCCT's output); else
    the last error line OCCT printed into console."""
    if path is not None and Path(path).suffix.lower() in (".step", ".stp"):
        try:
            if os.path.getsize(path) <= REREAD_LIMIT:
                reason = _first_step_failure(path)
                if reason:
                    return reason
        except Exception:  # noqa: BLE001 - no reason to be had: the message stands alone
            pass
    if console is None:
        return None
    try:
        console.seek(0)
        text = console.read().decode("utf-8", "replace")
    except OSError:
        return None
    lines = [one_line(_ANSI.sub("", line)) for line in text.splitlines()]
    said = [line.strip("* ") for line in lines if _OCCT_ERROR.search(line)]
    return said[-1][:MAX_REASON] if said else None


def _first_step_failure(path):
    reader = STEPControl_Reader()
    reader.ReadFile(str(path))
    check = reader.WS().Model().GlobalCheck(True)
    for i in range(1, check.NbFails() + 1):
        text = one_line(check.CFail(i, True))
        if text:
            return text[:MAX_REASON]
    return None


def _send_trees(channel, paths):
    """Answers a request for trees: each file's rows, or why it has none."""
    for index, path in enumerate(paths):
        channel.write(encode(Stage(index=index)))
        try:
            rows = tree_rows(str(path))
        except LoadError as error:
            channel.write(encode(Failure(str(error), index)))  # names the file already
        except Exception as error:  # noqa: BLE001 - whatever a file or OCCT raises, told
            channel.write(encode(Failure(_cannot_read(path, error), index)))
        else:
            channel.write(encode(Tree(index, rows)))
    channel.write(encode(Done()))


def _cannot_read(path, error):
    """An error that is no LoadError, told against the file it came from (or all of them)."""
    if path is None:
        return worded(error, "cannot read the files")
    return worded(error, "cannot read the file", shown(path))
