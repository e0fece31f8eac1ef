"""Reading CAD files in a process of its own, and the parts it sends back.

No file is read in the viewer's own process. OCCT holds Python's global lock
for a whole read and transfer (tens of seconds for a large assembly), and a
malformed file can crash it outright: a small STEP file whose assembly holds
itself overflows OCCT's stack, a SIGSEGV no Python code can catch. A reader is

    python -m morvik_viewer.reading --parent PID

It imports OCP and the readers first, then waits for one JSON line on its
standard input, {"paths": [...]}, so it can be started ahead of need and read
at once when asked (starting one costs about a second, mostly OCP's import).
It answers with frames on its standard output: a stage ("reading", file
name), each file's tree (tree.FileTree), the number of parts with the deflection they are meshed to, the parts
in batches (identifiers, colours and sub-shape colours, and the shapes with
their triangles as one binary BREP compound), then "done" or "error"; any
error it can catch becomes an "error" frame, with OCCT's own reason when it
gave one. Each batch is meshed (see meshing.py) just before it is sent, so
the window shows the first parts while the reader meshes the next ones; a
batch holds about BATCH_BYTES, which the window decodes in a few
milliseconds, so it stays free to repaint between batches. What OCCT prints
goes to a temporary file, not to the user's terminal.

A reader ends with the process that started it: on Linux the kernel kills it
when its parent goes (PR_SET_PDEATHSIG; a Python watchdog thread would not
run while OCCT holds the lock), and a reader nobody listens to any more ends
quietly at its next frame. The window keeps one reader started ahead
(loading.ReaderPool); a screenshot runs one through Reader, and the command
line starts one through Reader before it loads OCP, for its first files.

Nothing here imports OCP at module level: the command line starts a reader
before it loads OCP itself, so that both imports run side by side.
"""

import ctypes
import io
import json
import os
import signal
import struct
import re
import subprocess
import sys
import tempfile
import time
import weakref
from pathlib import Path

from morvik_viewer.paths import one_line, shown

# Parts in the first batch: few, so that the window starts showing while the rest
# are meshed; later batches hold about BATCH_BYTES, MAX_BATCH parts at most.
FIRST_BATCH = 8
BATCH_BYTES = 512 << 10
MAX_BATCH = 500
# A STEP file that fails is read again for OCCT's reason up to this size.
REREAD_LIMIT = 64 << 20
MAX_REASON = 200
_ANSI = re.compile(r"\x1b\[[0-9;]*m")
_OCCT_ERROR = re.compile(r"\b(ERR|Error|Fail|Exception)", re.IGNORECASE)
_HEADER = struct.Struct("<II")  # sizes of the JSON head and of the binary body
# The length unit of BREP files and of STEP files in millimetres or naming none:
# (short name, millimetres in one).
MILLIMETRES = ("mm", 1.0)
# prctl's request to be sent a signal when the parent ends (linux/prctl.h).
_PR_SET_PDEATHSIG = 1


def command(parent=None):
    """The program and arguments that start a reader for this process (or for parent)."""
    parent = os.getpid() if parent is None else parent
    return [sys.executable, "-m", "morvik_viewer.reading", "--parent", str(parent)]


def request(paths):
    """The line that asks a reader for the parts of paths."""
    # JSON escapes the lone surrogates a name that is not UTF-8 decodes to, and gives them back.
    return json.dumps({"paths": [os.fspath(p) for p in paths]}).encode("ascii") + b"\n"


def encode(head, body=b""):
    """One frame: a JSON-able head and an optional binary body."""
    text = json.dumps(head).encode("utf-8")
    return _HEADER.pack(len(text), len(body)) + text + body


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
        # (see meshing.keep_triangles); None till the reader says.
        self.deflection = None
        self.batches = []  # (head, body) of parts frames
        self.trees = []  # each file's tree.FileTree, as far as the reader sent one fit to use
        # The length unit of each part sent with one (see scene.Part.unit), by identifier.
        self.units = {}
        self.error = None
        self.done = False
        self._frames = FrameReader()

    def feed(self, data):
        """Takes the reader's output; returns the kinds of the frames it completed."""
        kinds = []
        for head, body in self._frames.feed(data):
            kind = head.get("kind")
            if kind == "stage":
                self.file = head["file"]
            elif kind == "count":
                self.count = head["count"]
                self._reach(head.get("deflection"))
            elif kind == "parts":
                self.batches.append((head, body))
                units = head.get("units")
                if isinstance(units, list) and isinstance(head.get("ids"), list):
                    self.units.update((shape_id, length_unit(unit)) for shape_id, unit
                                      in zip(head["ids"], units) if isinstance(shape_id, str))
                self._reach(head.get("deflection"))
            elif kind == "file-tree":
                from morvik_viewer.tree import FileTree

                tree = FileTree.from_head(head)
                if tree is not None:
                    self.trees.append(tree)
            elif kind == "error":
                self.error = head["message"]
            elif kind == "done":
                self.done = True
            kinds.append(kind)
        return kinds

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
                why = f"it crashed with {signal.Signals(-status).name}"
            except ValueError:
                why = f"it was ended by signal {-status}"
        elif isinstance(status, int):
            why = f"exit status {status}"
        else:
            why = status
        # The file being read when it stopped, when it said which.
        names = self.file or ", ".join(shown(p) for p in self.paths)
        return f"{names}: the reader stopped before it was done ({why})"


def pack_parts(parts, deflection=None):
    """A frame holding parts: their identifiers and colours, their shapes in one compound,
    with the triangles they carry; deflection, when given, is what those reach."""
    from OCP.BinTools import BinTools

    from morvik_viewer.scene import compound

    body = io.BytesIO()
    BinTools.Write_s(compound(p.shape for p in parts), body, True, False, _format())
    head = {"kind": "parts", "ids": [p.shape_id for p in parts],
            "colors": [list(p.color) for p in parts]}
    if any(p.sub_colors for p in parts):
        head["subs"] = [_sub_places(p) for p in parts]
    if any(tuple(p.unit) != MILLIMETRES for p in parts):
        head["units"] = [list(p.unit) for p in parts]
    if deflection is not None:
        head["deflection"] = deflection
    return encode(head, body.getvalue())


def _format():
    # The third binary format: the only one that OCCT 7.8 reads back with
    # triangles for parts placed in an assembly (it fails with
    # NCollection_IndexedMap::FindKey on the others); 7.9 and 8.0 read it too.
    from OCP.BinTools import BinTools_FormatVersion

    return BinTools_FormatVersion.BinTools_FormatVersion_VERSION_3


def _sub_places(part):
    """[kind, index, r, g, b] of each sub colour: its sub-shape as the index TopExp gives
    it among the part's sub-shapes of its kind, which the shape read back keeps."""
    places, maps = [], {}
    for sub, rgb in part.sub_colors:
        kind = sub.ShapeType()
        if kind not in maps:
            maps[kind] = _sub_shapes(part.shape, kind)
        index = maps[kind].FindIndex(sub)
        if index:  # else not a sub-shape of the part: nothing to colour
            places.append([int(kind), index, *map(float, rgb)])
    return places


def _sub_shapes(shape, kind):
    from OCP.TopExp import TopExp

    try:  # OCP 8 binds OCCT's collections in a module of their own
        from OCP.collections import IndexedMap_TopoDS_Shape_TopTools_ShapeMapHasher as IndexedMap
    except ImportError:
        from OCP.TopTools import TopTools_IndexedMapOfShape as IndexedMap
    found = IndexedMap()
    TopExp.MapShapes_s(shape, kind, found)
    return found


def unpack_parts(head, body):
    """The Parts of a frame that pack_parts made."""
    from OCP.BinTools import BinTools
    from OCP.TopAbs import TopAbs_ShapeEnum
    from OCP.TopoDS import TopoDS_Iterator, TopoDS_Shape

    from morvik_viewer.scene import Part

    compound = TopoDS_Shape()
    BinTools.Read_s(compound, io.BytesIO(body))
    shapes, children = [], TopoDS_Iterator(compound)
    while children.More():
        shapes.append(children.Value())
        children.Next()
    if len(shapes) != len(head["ids"]):
        raise ValueError(f"a batch of {len(head['ids'])} parts held {len(shapes)} shapes")
    parts = [Part(shape_id, shape, tuple(color))
             for shape_id, shape, color in zip(head["ids"], shapes, head["colors"])]
    for part, places in zip(parts, head.get("subs", ())):
        maps, subs = {}, []
        for kind, index, *rgb in places:
            if kind not in maps:
                maps[kind] = _sub_shapes(part.shape, TopAbs_ShapeEnum(kind))
            if 1 <= index <= maps[kind].Extent():
                subs.append((maps[kind].FindKey(index), tuple(rgb)))
        part.sub_colors = tuple(subs)
    for part, unit in zip(parts, head.get("units", ())):
        part.unit = length_unit(unit)
    return parts


def length_unit(unit):
    """unit when it is a (short name, millimetres in one) pair, else millimetres."""
    if isinstance(unit, (list, tuple)) and len(unit) == 2 and isinstance(unit[0], str) \
            and isinstance(unit[1], (int, float)) and not isinstance(unit[1], bool) \
            and 0 < unit[1] < float("inf"):
        return (unit[0], float(unit[1]))
    return MILLIMETRES


def display_item(part):
    """The item service.display_shapes takes for part: with its sub-shape colours when it
    has any, each colour as the viewer shows it (see viewer.readable_color)."""
    from morvik_viewer.viewer import readable_color

    color = readable_color(part.color)
    if part.sub_colors:
        return (part.shape, part.shape_id, color,
                [(sub, readable_color(rgb)) for sub, rgb in part.sub_colors])
    return (part.shape, part.shape_id, color)


class Reader:
    """A reader for a run without an event loop: started at once, asked once, heard to the end.

    Start it early and its boot overlaps the caller's own; given the paths
    at once, it reads them while the caller still starts. One never heard to
    the end is killed when dropped.

    Given the paths in a process that runs no other thread yet (the command
    line, first thing), the reader is this process forked once OCP is
    loaded: one import of OCP instead of two side by side, which on a busy
    machine halves what starting costs. Elsewhere it is a process of its own.
    """

    def __init__(self, paths=None):
        if paths is not None and _may_fork():
            self._process = _fork(paths)
        else:
            self._process = subprocess.Popen(command(), stdin=subprocess.PIPE,
                                             stdout=subprocess.PIPE)
            # The paths it was asked for, None till then; kept on the process too,
            # which loading.PipedReader drives once detached.
            self._process.asked = None
        self._finalizer = weakref.finalize(self, _discard, self._process)
        self.deflection = None  # what the parts' triangles reach, once read
        if paths is not None and self._process.asked is None:
            self.ask(paths)

    def ask(self, paths):
        """Sends the reader its request for paths, at once (it reads while the caller
        goes on); read() then hears the answer."""
        self._process.asked = [os.fspath(p) for p in paths]
        try:
            self._process.stdin.write(request(paths))
            self._process.stdin.close()
        except BrokenPipeError:
            pass  # it is gone already: its exit status says how

    def read(self, paths):
        """The parts of paths; raises scene.LoadError with a message for the user."""
        from morvik_viewer.scene import LoadError

        process, heard = self._process, Heard(paths)
        if process.asked is None:
            self.ask(paths)
        elif process.asked != heard.paths:
            raise ValueError("this reader was asked for other files")
        parts = []
        try:
            while chunk := process.stdout.read1(1 << 16):
                heard.feed(chunk)
                while heard.batches:
                    parts += unpack_parts(*heard.batches.pop(0))
        except Exception as error:  # noqa: BLE001 - a frame we cannot take ends the read, told
            self._finalizer()
            names = ", ".join(shown(p) for p in heard.paths)
            raise LoadError(f"{names}: could not be read ({type(error).__name__}: "
                            f"{one_line(error)})") from error
        process.stdout.close()
        failure = heard.failure(process.wait())
        self._finalizer.detach()
        if failure is not None:
            raise LoadError(failure)
        self.deflection = heard.deflection
        return parts

    def detach(self):
        """The reader's process, not asked yet, for a caller that drives it itself (and
        ends it: it is no longer killed when this is dropped)."""
        self._finalizer.detach()
        return self._process


def _may_fork():
    # A fork copies one thread only: a lock another thread held would stay locked.
    if not hasattr(os, "fork") or not sys.platform.startswith("linux"):
        return False
    try:
        return len(os.listdir("/proc/self/task")) == 1
    except OSError:
        return False


def _fork(paths):
    """A reader forked from this process once OCP is loaded, reading paths at once."""
    import gc

    import OCP  # noqa: F401 - loaded here once, for both processes

    # OCP's many objects live as long as either process: out of the collector's
    # reach, no collection walks them (and neither does the exit, which otherwise
    # takes over half a second), and the reader's pages stay shared.
    gc.freeze()

    paths = [os.fspath(p) for p in paths]
    parent = os.getpid()
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # the reader: it never returns
        try:
            os.close(read_end)
            _run(parent, io.BytesIO(request(paths)), os.fdopen(write_end, "wb", buffering=0))
        finally:
            os._exit(0)
    os.close(write_end)
    return _Forked(pid, os.fdopen(read_end, "rb"), paths)


class _Forked:
    """A forked reader, driven as subprocess.Popen drives one: its output, poll, wait, kill."""

    def __init__(self, pid, stdout, asked):
        self.pid, self.stdout, self.stdin, self.asked = pid, stdout, None, asked
        self.returncode = None

    def poll(self):
        return self._reap(os.WNOHANG)

    def _reap(self, options):
        if self.returncode is None:
            try:
                pid, status = os.waitpid(self.pid, options)
            except ChildProcessError:  # reaped by someone else: how it ended is lost
                pid, status = self.pid, 0
            if pid:
                self.returncode = os.waitstatus_to_exitcode(status)
        return self.returncode

    def wait(self, timeout=None):
        deadline = None if timeout is None else time.monotonic() + timeout
        while self.poll() is None:
            if deadline is None:
                self._reap(0)
            elif time.monotonic() >= deadline:
                raise subprocess.TimeoutExpired("reader", timeout)
            else:
                time.sleep(0.005)
        return self.returncode

    def kill(self):
        if self.poll() is None:
            os.kill(self.pid, signal.SIGKILL)


def _discard(process):
    if process.poll() is None:
        process.kill()
    for pipe in (process.stdin, process.stdout):
        if pipe is not None and not pipe.closed:
            try:
                pipe.close()
            except BrokenPipeError:
                pass
    process.wait()


# --- the reader process ----------------------------------------------------------


def end_with_parent(parent):
    """Has the kernel kill this process when its parent ends (Linux only; elsewhere a
    reader nobody listens to ends at its next frame). Exits at once when the parent
    is gone already, or went before the request took."""
    if sys.platform.startswith("linux"):
        try:
            libc = ctypes.CDLL(None, use_errno=True)
            libc.prctl(_PR_SET_PDEATHSIG, int(signal.SIGKILL), 0, 0, 0)
        except (OSError, AttributeError):
            pass  # no prctl to be had: the frame channel still ends the reader
    if parent is not None and os.getppid() != parent:
        os._exit(0)


def _console():
    """A file that takes what OCCT prints.

    OCCT writes its reports to standard output and some to standard error:
    both go to an unnamed temporary file, out of the user's terminal, where an
    error can still find OCCT's reason for it. (Frames have a descriptor of
    their own.)"""
    console = tempfile.TemporaryFile()
    for descriptor in (1, 2):
        os.dup2(console.fileno(), descriptor)
    return console


def _serve(ask, channel, console=None):
    # Everything the read needs is imported before the request is awaited.
    from morvik_viewer import meshing, step_reader  # noqa: F401 - loaded now, not at the first file
    from morvik_viewer.scene import LoadError, load_all

    line = ask.readline()
    if not line:
        return  # a reader started ahead and never needed
    from morvik_viewer import tree

    if tree.serves(line, channel):  # the command line's --tree
        return
    reading = []

    def stage(path):
        reading[:] = [path]
        channel.write(encode({"kind": "stage", "file": shown(path)}))

    try:
        paths, trees = json.loads(line)["paths"], []
        parts = load_all(paths, stage, trees)
        for file_tree in trees:  # ahead of the parts: the window lists them as they come
            channel.write(encode(file_tree.head()))
        _send_parts(channel, parts)
    except BrokenPipeError:
        raise
    except LoadError as error:
        reason = occt_reason(reading[0] if reading else None, console)
        message = f"{error} (OCCT: {reason})" if reason else str(error)
        channel.write(encode({"kind": "error", "message": message}))
        return
    except Exception as error:  # noqa: BLE001 - whatever OCCT (or a bug) raises, told as text
        where = f"{shown(reading[0])}: cannot read the file" if reading else "cannot read the files"
        channel.write(encode({"kind": "error",
                              "message": f"{where} ({type(error).__name__}: {one_line(error)})"}))
        return
    channel.write(encode({"kind": "done"}))


def _send_parts(channel, parts):
    """Meshes the parts batch by batch and sends each batch once it is meshed, so that
    the window shows the first ones while the rest are meshed here."""
    from morvik_viewer.meshing import Mesher, model_deflection

    mesher = Mesher(model_deflection(part.shape for part in parts))
    channel.write(encode({"kind": "count", "count": len(parts), "deflection": mesher.deflection}))
    start, size = 0, FIRST_BATCH
    while start < len(parts):
        batch = parts[start:start + size]
        try:
            mesher.mesh([part.shape for part in batch])
        except Exception:  # noqa: BLE001 - what OCCT cannot mesh here, the view meshes itself
            pass
        frame = pack_parts(batch, mesher.reached)
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
    from OCP.STEPControl import STEPControl_Reader

    reader = STEPControl_Reader()
    reader.ReadFile(str(path))
    check = reader.WS().Model().GlobalCheck(True)
    for i in range(1, check.NbFails() + 1):
        text = one_line(check.CFail(i, True))
        if text:
            return text[:MAX_REASON]
    return None


def main(argv=None):
    args = sys.argv[1:] if argv is None else argv
    parent = int(args[1]) if len(args) == 2 and args[0] == "--parent" else None
    _run(parent, sys.stdin.buffer, os.fdopen(os.dup(1), "wb", buffering=0))


def _run(parent, ask, channel):
    """A reader's life: its request from ask, its frames into channel, then its end."""
    end_with_parent(parent)
    # Ctrl+C in the terminal reaches the whole process group: the viewer decides, and
    # this reader ends with it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    console = _console()
    try:
        _serve(ask, channel, console)
    except BrokenPipeError:
        pass  # nobody listens any more: nothing to say, and no one to say it to
    except Exception as error:  # noqa: BLE001 - the readers themselves would not load
        try:
            channel.write(encode({"kind": "error", "message": "cannot read the files "
                                  f"({type(error).__name__}: {one_line(error)})"}))
        except BrokenPipeError:
            pass
    # Ended here: the interpreter's own shutdown, with OCCT's, takes a third of a
    # second and would flush into a pipe that may be gone. Every frame is out.
    try:
        sys.stderr.flush()
    except OSError:
        pass
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
