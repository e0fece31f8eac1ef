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
name), the number of parts, the parts in batches (identifiers and colours,
and the shapes as one binary BREP compound), then "done" or "error"; any
error it can catch becomes an "error" frame. Decoding a batch of BATCH parts
takes a few milliseconds, so the window stays free to repaint between batches.

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
import subprocess
import sys
import weakref

from morvik_viewer.paths import one_line, shown

BATCH = 100
_HEADER = struct.Struct("<II")  # sizes of the JSON head and of the binary body
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
        frames = []
        while len(self._buffer) >= _HEADER.size:
            head_size, body_size = _HEADER.unpack_from(self._buffer)
            end = _HEADER.size + head_size + body_size
            if len(self._buffer) < end:
                break
            head = json.loads(self._buffer[_HEADER.size:_HEADER.size + head_size].decode("utf-8"))
            frames.append((head, bytes(self._buffer[_HEADER.size + head_size:end])))
            del self._buffer[:end]
        return frames


class Heard:
    """What a reader has said so far: the file it reads, the parts it announced, the
    batches not decoded yet, and how it ended."""

    def __init__(self, paths):
        self.paths = [os.fspath(p) for p in paths]
        self.file = None  # the file being read, as the reader named it
        self.count = None
        self.batches = []  # (head, body) of parts frames
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
            elif kind == "parts":
                self.batches.append((head, body))
            elif kind == "error":
                self.error = head["message"]
            elif kind == "done":
                self.done = True
            kinds.append(kind)
        return kinds

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


def pack_parts(parts):
    """A frame holding parts: their identifiers and colours, their shapes in one compound."""
    from OCP.BinTools import BinTools, BinTools_FormatVersion
    from OCP.BRep import BRep_Builder
    from OCP.TopoDS import TopoDS_Compound

    builder, compound = BRep_Builder(), TopoDS_Compound()
    builder.MakeCompound(compound)
    for part in parts:
        builder.Add(compound, part.shape)
    body = io.BytesIO()
    # The first binary format, named: OCCT 7.8 cannot read back what its own
    # current format writes for parts placed in an assembly (it fails with
    # NCollection_IndexedMap::FindKey), while the first reads the same on
    # every version and as fast.
    first_format = BinTools_FormatVersion.BinTools_FormatVersion_VERSION_1
    BinTools.Write_s(compound, body, False, False, first_format)
    head = {"kind": "parts", "ids": [p.shape_id for p in parts],
            "colors": [list(p.color) for p in parts]}
    return encode(head, body.getvalue())


def unpack_parts(head, body):
    """The Parts of a frame that pack_parts made."""
    from OCP.BinTools import BinTools
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
    return [Part(shape_id, shape, tuple(color))
            for shape_id, shape, color in zip(head["ids"], shapes, head["colors"])]


class Reader:
    """A reader for a run without an event loop: started at once, asked once, heard to the end.

    Start it early and its boot overlaps the caller's own; one never asked is
    killed when dropped.
    """

    def __init__(self):
        self._process = subprocess.Popen(command(), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self._finalizer = weakref.finalize(self, _discard, self._process)

    def read(self, paths):
        """The parts of paths; raises scene.LoadError with a message for the user."""
        from morvik_viewer.scene import LoadError

        process, heard = self._process, Heard(paths)
        try:
            process.stdin.write(request(paths))
            process.stdin.close()
        except BrokenPipeError:
            pass  # it is gone already: its exit status says how
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
        return parts

    def detach(self):
        """The reader's process, not asked yet, for a caller that drives it itself (and
        ends it: it is no longer killed when this is dropped)."""
        self._finalizer.detach()
        return self._process


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


def _frame_channel():
    # OCCT writes its reports to standard output: frames get a descriptor of their own.
    channel = os.fdopen(os.dup(1), "wb", buffering=0)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)
    return channel


def _serve(ask, channel):
    # Everything the read needs is imported before the request is awaited.
    from morvik_viewer import step_reader  # noqa: F401 - loaded now, not at the first STEP file
    from morvik_viewer.scene import LoadError, load_all

    line = ask.readline()
    if not line:
        return  # a reader started ahead and never needed
    reading = []

    def stage(path):
        reading[:] = [path]
        channel.write(encode({"kind": "stage", "file": shown(path)}))

    try:
        paths = json.loads(line)["paths"]
        parts = load_all(paths, stage)
        channel.write(encode({"kind": "count", "count": len(parts)}))
        for start in range(0, len(parts), BATCH):
            channel.write(pack_parts(parts[start:start + BATCH]))
    except BrokenPipeError:
        raise
    except LoadError as error:
        channel.write(encode({"kind": "error", "message": str(error)}))
        return
    except Exception as error:  # noqa: BLE001 - whatever OCCT (or a bug) raises, told as text
        where = f"{shown(reading[0])}: cannot read the file" if reading else "cannot read the files"
        channel.write(encode({"kind": "error",
                              "message": f"{where} ({type(error).__name__}: {one_line(error)})"}))
        return
    channel.write(encode({"kind": "done"}))


def main(argv=None):
    args = sys.argv[1:] if argv is None else argv
    parent = int(args[1]) if len(args) == 2 and args[0] == "--parent" else None
    end_with_parent(parent)
    # Ctrl+C in the terminal reaches the whole process group: the viewer decides, and
    # this reader ends with it.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    channel = _frame_channel()
    try:
        _serve(sys.stdin.buffer, channel)
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
