"""What the command line's steps share: its name, its exit statuses, how it says it
failed, and Ctrl+C held back while Qt's modules load."""

import contextlib
import signal
import sys

from morvik_viewer.model.paths import shown

PROG = "morvik-viewer"
FALLBACK_SCREENSHOT = "morvik-viewer.png"


EXIT_OK, EXIT_FAILURE, EXIT_BAD_INPUT = 0, 1, 2
EXIT_INTERRUPTED = 128 + signal.SIGINT  # as a shell reports a SIGINT death


@contextlib.contextmanager
def _interrupts_held():
    """Holds Ctrl+C back for the block, which imports Qt's modules: a KeyboardInterrupt
    landing while shiboken sets one up aborts the process or leaves the module half made.
    The signal comes once the block is over."""
    held = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def _refused(state_path, reason):
    """The view would not take the state in state_path: the file is at fault, as when read."""
    return _fail(f"{shown(state_path)}: not a usable view state ({reason})", EXIT_BAD_INPUT)


def _fail(error, status):
    print(f"{PROG}: error: {error}", file=sys.stderr)
    return status
