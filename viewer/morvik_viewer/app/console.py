"""Native libraries' console output, kept off the user's terminal while the window runs.

OCCT (and Mesa and Fontconfig under it) writes its notes and warnings straight
to the process's standard output and error: "TKOpenGl | Type: Other...",
"Fontconfig warning: ...". They mean nothing to a user. Descriptors 1 and 2
go to the null device for the while; Python's own streams (the viewer's
messages, its log, tracebacks) move to copies of the terminal's descriptors
and keep reaching it. Nothing is piped, so no amount of output can block.
"""

import contextlib
import logging
import os
import sys

_STREAMS = ((1, "stdout"), (2, "stderr"))


@contextlib.contextmanager
def native_output_hidden():
    """Within the block, native writes to standard output and error are dropped while
    Python's sys.stdout, sys.stderr and the log handlers on them still print."""
    try:
        null = os.open(os.devnull, os.O_WRONLY | os.O_CLOEXEC)
    except OSError:
        yield  # no null device: the noise stays, the viewer runs on
        return
    moved = []  # (descriptor, its copy, stream name, old stream, new stream or None)
    handlers = []  # (log handler, its old stream)
    try:
        for descriptor, name in _STREAMS:
            old = getattr(sys, name)
            _flush(old)
            try:
                saved = os.dup(descriptor)
            except OSError:
                continue  # closed: nothing reaches a terminal through it anyway
            new = _stream_on(saved, old, descriptor)
            os.dup2(null, descriptor)
            moved.append((descriptor, saved, name, old, new))
            if new is not None:
                setattr(sys, name, new)
                handlers += [(h, old) for h in _log_handlers() if h.stream is old]
                for handler, _ in handlers:
                    if handler.stream is old:
                        handler.setStream(new)
        yield
    finally:
        for handler, old in handlers:
            handler.setStream(old)
        for descriptor, saved, name, old, new in reversed(moved):
            if new is not None:
                _flush(new)
                if getattr(sys, name) is new:
                    setattr(sys, name, old)
                new.close()
            os.dup2(saved, descriptor)
            os.close(saved)
        os.close(null)


def _stream_on(saved, old, descriptor):
    """A text stream like old, writing to the copy saved; None when old does not write to
    descriptor (a test's capture, say), which then needs no move."""
    try:
        if old is None or old.fileno() != descriptor:
            return None
    except (AttributeError, OSError, ValueError):  # io.UnsupportedOperation is an OSError
        return None
    stream = open(saved, "w", encoding=getattr(old, "encoding", None) or "utf-8",  # noqa: SIM115 - kept open
                  errors=getattr(old, "errors", None) or "strict", buffering=1, closefd=False)
    stream.reconfigure(write_through=True)  # a message shows as it is written, as stderr's do
    return stream


def _log_handlers():
    loggers = [logging.getLogger()] + [logger for logger in
                                       logging.Logger.manager.loggerDict.values()
                                       if isinstance(logger, logging.Logger)]
    return [handler for logger in loggers for handler in logger.handlers
            if isinstance(handler, logging.StreamHandler)]


def _flush(stream):
    try:
        stream.flush()
    except (AttributeError, OSError, ValueError):
        pass
