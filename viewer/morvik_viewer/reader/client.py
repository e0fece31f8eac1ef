"""The client of reader processes (see reader.server): a reader started, asked once and
heard, by a run without an event loop (a screenshot, --tree) as by the window.

A reader is a process and two pipes: the request goes down one, the answer comes up
the other. The answer's end is a plain file descriptor: a run without an event loop
reads it till the reader ends (read, read_trees), the window has Qt watch it and takes
what is there each time it is readable (watch, receive). Either way the messages go into
one protocol.Heard, and the reader's end is its exit status, reaped here.

A run without an event loop has nobody to press Cancel: its reads wait TIME_LIMIT at most
for each file, from the Stage that says the file begins (and for the meshing that follows
the reading, from the Count), and a reader past it is killed (see Reader.hear). A file
that makes OCCT loop, or one whose opening waits on another program for good, then
costs that file, told in one line, not the run.
"""

import io
import math
import os
import select
import signal
import time
import weakref

from morvik_viewer.model.parts import LoadError
from morvik_viewer.model.paths import shown
from morvik_viewer.reader.memory import default_bytes, too_large
from morvik_viewer.reader.protocol import (
    Count,
    Failure,
    Heard,
    Request,
    Stage,
    Tree,
    Writing,
    command,
    may_fork,
    named,
    unpack_parts,
    worded,
)
from morvik_viewer.reader.server import _run

# What one read of the answer's pipe takes at most.
CHUNK = 1 << 16
# Where this process's readers keep their answers for the next read of the same files
# (protocol.Request.cache); None: they keep none. The command line sets it once (see
# app.settings.answer_cache) before it asks its first reader.
CACHE: dict | None = None
# A reader that crashes having held this share of its memory bound ran out of it.
RAN_OUT = 0.9
# The bytes a read may take (protocol.Request.memory): by default half the machine's memory.
MEMORY: int | None = default_bytes() or None
# The cores a read may run on (protocol.Request.cores): None, all of them.
CORES: int | None = None
# The seconds a blocking read (Reader.read, read_trees) waits for each file; None: for
# ever. The command line sets it once for a run without a window (see app.cli); the
# window reads through watch and receive, which never wait, and its user has Cancel.
TIME_LIMIT: float | None = None
# The longest one wait on the answer's pipe: poll takes milliseconds as a C int, and a
# limit of years is still a limit.
_LONGEST_WAIT = 3600.0


class TooLong(LoadError):
    """A file took longer than TIME_LIMIT: its reader was killed. The message names it."""


class Reader:
    """One reader process: started at once, asked once, heard to its end or ended.

    Start it early and its boot overlaps the caller's own; given the paths
    at once, it reads them while the caller still starts. One never heard to
    the end is killed when dropped (or ended).

    Given the paths in a process that runs no other thread yet (the command
    line, first thing), the reader is this process forked once OCP is
    loaded: one import of OCP instead of two side by side, which on a busy
    machine halves what starting costs. Elsewhere (or with fork=False) it is
    a process of its own.

    draft: the parts are meshed coarser, as a small picture needs them (a
    thumbnail), and the answer is neither kept nor taken from the cache: a
    file manager asks once for each file, and a draft must never stand in
    for the window's parts.
    """

    def __init__(self, paths=None, trees=False, fork=None, draft=False):
        _reap_ended()
        self.asked = None  # the paths it was asked for, once it has been
        self.heard = Heard(())
        self._memory = None  # the bytes its read may take
        self.forked = paths is not None and (may_fork() if fork is None else fork)
        self._over = False  # the end of its answer was read
        try:
            if self.forked:
                self._process = _fork(_request(paths, trees, draft))
            else:
                self._process = _spawn()
        except OSError:
            self._process = None  # status says so
        self._finalizer = weakref.finalize(self, _end, self._process)
        if paths is not None:
            self.ask(paths, trees, draft)

    def ask(self, paths, trees=False, draft=False, export=None, ids=None):
        """Sends the reader its request, at once (it reads while the caller goes on); with
        export (see protocol.Request.export), the files are written, not sent."""
        self.asked = [os.fspath(p) for p in paths]
        self.heard = Heard(self.asked)
        self._memory = None if trees else MEMORY
        if self._process is None or self._process.ask is None:
            return  # given it as it was forked, or never started
        pipe, self._process.ask = self._process.ask, None
        try:
            pipe.write(_request(paths, trees, draft, export, ids).encode())
        except BrokenPipeError:
            pass  # it is gone already: its exit status says how
        finally:
            pipe.close()

    @property
    def status(self):
        """How it ended: its exit status (a signal's as a negative number), a str when it
        never ran, None while it runs (see protocol.Heard.failure)."""
        return "it could not start" if self._process is None else self._process.status

    @property
    def over(self):
        """Whether it has said all it will: its answer read to the end, or no process."""
        return self._over or self._process is None

    @property
    def running(self):
        """Whether its process is still there (a reader ahead of need may die unasked)."""
        return self._process is not None and self._process.reap(block=False) is None

    @property
    def deflection(self):
        return self.heard.deflection

    @property
    def trees(self):
        return self.heard.trees

    @property
    def pid(self):
        return None if self._process is None else self._process.pid

    def watch(self):
        """The descriptor an event loop watches for the answer; receive() then takes what
        is there without waiting."""
        descriptor = self._process.out.fileno()
        os.set_blocking(descriptor, False)
        return descriptor

    def receive(self):
        """The messages completed by what the reader sent since the last call (waiting for
        some, unless watched); at the end of its answer none, and it is reaped."""
        if self.over:
            return []
        data = self._process.out.read(CHUNK)
        if data is None:  # watched, and nothing there yet
            return []
        if not data:
            # A reader ends right after its last frame, or crashed, or was killed: its
            # exit is a moment away.
            self._over = True
            self._process.reap(block=True)
            return []
        return self.heard.feed(data)

    def failure(self):
        """Why the read failed, in one line, or None (see protocol.Heard.failure). A reader
        that crashed near its memory bound ran out of it: OCCT does not always fail
        cleanly past one (see reader.memory)."""
        bound, process = self._memory, self._process
        if (bound and process is not None and isinstance(process.status, int)
                and process.status < 0 and process.peak >= RAN_OUT * bound):
            return f"{self.heard.file or named(self.asked)}: {too_large(bound)}"
        return self.heard.failure(self.status)

    def hear(self):
        """Each message the reader sends, waited for, till the end of its answer.

        With TIME_LIMIT, each file has that long from its Stage (the first from
        now), and the meshing after the reading that long from the Count (an
        export's writing from its Writing); past
        it the reader is killed, not waited for (a process stuck in the kernel
        may take its time to go), and TooLong raised."""
        limit = TIME_LIMIT
        deadline = _deadline(limit)
        while not self.over:
            if deadline is not None and not _readable(self._process.out, deadline):
                self.end()
                raise TooLong(self._too_long(limit))
            for message in self.receive():
                if isinstance(message, (Stage, Count, Writing)):
                    deadline = _deadline(limit)
                yield message

    def _too_long(self, limit):
        """What a read that ran out of time says: the file being read, or all of them
        once they are read and being meshed (or the export being written)."""
        if self.heard.writing:
            return too_long(self.heard.file, limit, "to write")
        meshing = self.heard.count is not None
        where = self.heard.file if self.heard.file and not meshing else named(self.asked)
        return too_long(where, limit, "to mesh" if meshing else "to read")

    def read(self, paths=None):
        """The parts of paths (by default those asked already); raises model.parts.LoadError
        with a message for the user (TooLong past TIME_LIMIT). The reader has ended when
        it returns."""
        if self.asked is None:
            self.ask(paths)
        elif paths is not None and [os.fspath(p) for p in paths] != self.asked:
            raise ValueError("this reader was asked for other files")
        parts = []
        try:
            for _ in self.hear():
                while self.heard.batches:
                    parts += unpack_parts(self.heard.batches.pop(0), self.heard.shared)
        except TooLong:
            raise  # the reader is killed, and the message says which file
        except Exception as error:  # a frame we cannot take ends the read, told
            self.end()
            raise LoadError(worded(error, "could not be read", named(self.asked))) from error
        self.end()
        failure = self.failure()
        if failure is not None:
            raise LoadError(failure)
        return parts

    def end(self, wait=False):
        """Kills the reader unless it has ended, and lets its pipes go. It is reaped now
        with wait, else as soon as it is gone, or at a later reader's start: waiting would
        cost a window some 20 ms."""
        self._finalizer()
        if wait and self._process is not None:
            self._process.reap(block=True)  # a killed process ends at once


def _request(paths, trees, draft=False, export=None, ids=None):
    kept = not (trees or draft or export)  # an export's answer is a file, not parts
    return Request(paths, trees, CACHE if kept else None, MEMORY, CORES, draft, export, ids)


def too_long(where, limit, what="to read"):
    """The one line that tells that a file (where) took longer than limit seconds."""
    return (f"{where}: took longer than {limit:g} s {what}, and was given up "
            "(--timeout SECONDS sets the limit)")


def _deadline(limit):
    return None if limit is None else time.monotonic() + limit


def _readable(pipe, deadline):
    """Whether pipe has something to read (data, or its end) before deadline, a
    time.monotonic() value; False once that has passed."""
    poller = select.poll()  # select() cannot watch a descriptor past 1023
    poller.register(pipe, select.POLLIN)
    while (left := deadline - time.monotonic()) > 0:
        # Interrupted by a signal, poll goes on for what is left (PEP 475).
        if poller.poll(math.ceil(min(left, _LONGEST_WAIT) * 1000)):
            return True
    return False


def read_trees(paths):
    """(rows, None) or (None, message) for the model tree of each path, in order (the
    command line's --tree). A reader that crashes, or that takes longer than TIME_LIMIT
    on a file, costs that file only: a new one reads the rest."""
    results = [None] * len(paths)
    start = 0
    while start < len(paths):
        reader, reading, late = Reader(paths[start:], trees=True, fork=False), None, False
        try:
            for message in reader.hear():
                if isinstance(message, Stage):
                    reading = message.index
                elif isinstance(message, Tree):
                    results[start + message.index] = (message.rows, None)
                elif isinstance(message, Failure) and message.index is not None:
                    results[start + message.index] = (None, message.message)
        except TooLong:
            late = True  # on the first file without an answer: the one it was reading
        status = reader.status
        reader.end()
        done = start
        while done < len(paths) and results[done] is not None:
            done += 1
        if done < len(paths):
            # The reader stopped on this file (or before any): say so, and go on after it.
            if late:
                results[done] = (None, too_long(shown(paths[done]), TIME_LIMIT))
            else:
                heard = Heard([paths[done]])
                if reading is not None and start + reading == done:
                    heard.file = shown(paths[done])
                results[done] = (None, heard.failure(status))
            done += 1
        start = done
    return results


class _Process:
    """A reader's process: its id, its pipes (the request's, None once sent; the
    answer's), and its exit status once reaped."""

    def __init__(self, pid, ask, out):
        self.pid, self.ask, self.out = pid, ask, out
        self.status = None
        self.peak = 0  # its largest resident size in bytes, once reaped

    def reap(self, block):
        if self.status is None:
            try:
                pid, status, usage = os.wait4(self.pid, 0 if block else os.WNOHANG)
            except ChildProcessError:  # reaped by someone else: how it ended is lost
                pid, status, usage = self.pid, 0, None
            if pid and usage is not None:
                self.peak = usage.ru_maxrss * 1024  # kilobytes on Linux
            if pid:
                self.status = os.waitstatus_to_exitcode(status)
        return self.status


# Readers killed and not reaped yet: each later reader's start reaps those gone.
_ENDED: list["_Process"] = []


def _end(process):
    if process is None:
        return
    if process.reap(block=False) is None:
        try:
            os.kill(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    for pipe in (process.ask, process.out):
        if pipe is not None:
            try:
                pipe.close()
            except OSError:
                pass  # a request it never took
    if process.reap(block=False) is None:
        _ENDED.append(process)


def _reap_ended():
    _ENDED[:] = [process for process in _ENDED if process.reap(block=False) is None]


def _spawn():
    """A reader started as a process of its own, waiting for its request."""
    ask_read, ask_write = os.pipe()
    out_read, out_write = os.pipe()
    program, *arguments = command()
    try:
        # Signals this process ignores stay ignored across exec: a reader starts with
        # the defaults, as subprocess would start it. Its standard error is this one's.
        pid = os.posix_spawn(program, [program, *arguments], os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, ask_read, 0),
                                           (os.POSIX_SPAWN_DUP2, out_write, 1)],
                             setsigdef=(signal.SIGPIPE, signal.SIGXFSZ), setsigmask=())
    except OSError:
        for descriptor in (ask_write, out_read):
            os.close(descriptor)
        raise
    finally:
        os.close(ask_read)
        os.close(out_write)
    return _Process(pid, os.fdopen(ask_write, "wb", buffering=0),
                    os.fdopen(out_read, "rb", buffering=0))


def _fork(request):
    """A reader forked from this process once OCP is loaded, given request at once."""
    import gc

    import OCP  # noqa: F401 - loaded here once, for both processes

    # OCP's many objects live as long as either process: out of the collector's
    # reach, no collection walks them (and neither does the exit, which otherwise
    # takes over half a second), and the reader's pages stay shared.
    gc.freeze()

    parent = os.getpid()
    out_read, out_write = os.pipe()
    pid = os.fork()
    if pid == 0:  # the reader: it never returns
        try:
            os.close(out_read)
            _run(parent, io.BytesIO(request.encode()), os.fdopen(out_write, "wb", buffering=0))
        finally:
            os._exit(0)
    os.close(out_write)
    return _Process(pid, None, os.fdopen(out_read, "rb", buffering=0))
