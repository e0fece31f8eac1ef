"""Ctrl+C in the terminal ends the viewer, even while Qt's event loop runs.

Python runs a signal handler only between bytecodes, and Qt's event loop runs
none while it waits. The signal's wake-up byte lands on a socket that Qt
watches, so the loop calls back into Python, which then runs the handler.
"""

import signal
import socket

from PySide6.QtCore import QSocketNotifier

# The status app.exec() returns after Ctrl+C, as a shell reports a SIGINT death.
INTERRUPTED = 128 + signal.SIGINT

_kept: list[tuple[object, ...]] = []


def quit_on_interrupt(app):
    """Makes SIGINT close every window of app (they save their settings) and end app.exec()."""
    receiver, sender = socket.socketpair()
    receiver.setblocking(False)
    sender.setblocking(False)
    signal.set_wakeup_fd(sender.fileno())
    notifier = QSocketNotifier(receiver.fileno(), QSocketNotifier.Read, app)
    # Reading the byte is all the slot does: Python has run the handler on its way in.
    notifier.activated.connect(lambda *_: _drain(receiver))
    _kept.append((notifier, receiver, sender))  # open for the life of the process

    def interrupted(signum, frame):
        app.closeAllWindows()
        app.exit(INTERRUPTED)

    signal.signal(signal.SIGINT, interrupted)
    return notifier


def _drain(receiver):
    try:
        while receiver.recv(64):
            pass
    except BlockingIOError:
        pass
