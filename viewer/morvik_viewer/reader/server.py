"""Reading CAD files in a process of its own: the reader process's life.

No file is read in the viewer's own process. OCCT holds Python's global lock
for a whole read and transfer (tens of seconds for a large assembly), and a
malformed file can crash it outright: a small STEP file whose assembly holds
itself overflows OCCT's stack, a SIGSEGV no Python code can catch. A reader is

    python -m morvik_viewer.reader.server --parent PID

It imports OCP and the readers first, then waits for its request, one JSON
line on its standard input, so it can be started ahead of need and read at
once when asked (starting one costs about a second, mostly OCP's import). It
answers with messages on its standard output (reader.protocol): a stage (the
file's name), each file's tree (model.file_tree.FileTree), the number of
parts with the deflection they are meshed to, the parts in batches
(identifiers, colours and sub-shape colours, and the shapes with their
triangles as one binary BREP compound), then Done or a Failure; any error it
can catch becomes a Failure, with OCCT's own reason when it gave one. Each
batch is meshed (see cad.meshing) just before it is sent, so the window
shows the first parts while the reader meshes the next ones; a batch holds
about BATCH_BYTES, which the window decodes in a few milliseconds, so it
stays free to repaint between batches. What OCCT prints goes to a temporary
file, not to the user's terminal.

A reader ends with the process that started it: on Linux the kernel kills it
when its parent goes (PR_SET_PDEATHSIG; a Python watchdog thread would not
run while OCCT holds the lock), and a reader nobody listens to any more ends
quietly at its next frame. Every reader is driven by reader.client.Reader:
the window keeps one started ahead (reader.pool.ReaderPool), and the command
line starts one before it loads OCP, for its first files or their trees.

Nothing here imports OCP at module level: the command line starts a reader
before it loads OCP itself, so that both imports run side by side. What the
reader answers, and with what, is reader.answers.
"""

import ctypes
import os
import signal
import sys
import tempfile

from morvik_viewer.reader.protocol import Failure, encode, worded

# prctl's request to be sent a signal when the parent ends (linux/prctl.h).
_PR_SET_PDEATHSIG = 1


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
    console = tempfile.TemporaryFile()  # noqa: SIM115 - holds fds 1 and 2 for the process
    for descriptor in (1, 2):
        os.dup2(console.fileno(), descriptor)
    return console


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
        # The readers load OCP as they are imported, and OCCT may print as it loads:
        # imported here, once what it prints goes to the console file, and within this
        # try, which tells the caller when they would not load.
        from morvik_viewer.reader.answers import _serve

        _serve(ask, channel, console)
    except BrokenPipeError:
        pass  # nobody listens any more: nothing to say, and no one to say it to
    except Exception as error:  # noqa: BLE001 - the readers themselves would not load
        try:
            channel.write(encode(Failure(worded(error, "cannot read the files"))))
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
