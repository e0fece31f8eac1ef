"""OCP imported on a thread of its own, so that the window's event loop answers while it loads.

OCP is one extension module of 150 MB over 70 shared libraries. Its import is
two stages, measured on this machine at rest: the dynamic linker loading
and relocating the libraries (0.1 s), then the module's init registering its
classes (0.5 s of CPU). Both hold the GIL when Python's import runs them, and
the GUI thread needs the GIL for every event that reaches Python, so an
import on a thread alone would stall the window as long as one on the GUI
thread. Here:

- the libraries are loaded first by calling dlopen through ctypes, which lets
  go of the GIL for a foreign call; Python's import then finds them loaded;
- the init runs Python code now and then, where the interpreter hands the GIL
  to a thread that waits for it (the GUI thread gets it back within 30 ms,
  and 100 ms at worst, on a busy machine). The collector runs at those points
  too, and the oldest generation's collection walks the whole heap the init
  has grown (0.1-0.2 s idle, 0.3-0.6 s busy, the GIL held): it is put off
  till the import is over, and then the heap, OCP's classes and functions
  for the most part, which live as long as the process, is frozen out of
  the collector's walks (gc.freeze()) till the interpreter's exit, whose
  collections must reach it again: a binding's objects left uncollected
  there are reported as leaks on the terminal.

What is left are the init's two longest stretches that run no Python code,
its first and one near its end: 0.11-0.2 s each with both cores busy (load
2), 0.3-0.5 s for the first at load 5 (bench/window_start.py, "stalls").
"""

import atexit
import ctypes
import gc
import glob
import importlib
import importlib.util
import os
import sys
import threading

from PySide6.QtCore import QObject, Signal

# The modules the view needs, imported in this order once the libraries are in: the
# window's OCP-bound half imports the rest (see window.main_window.ocp_side).
VIEW_MODULES = ("OCP.OCP", "morvik.services.scenard", "morvik_viewer.view.graphics",
                "morvik_viewer.window.ocp_side")
# The oldest generation's threshold while the init runs: never reached.
OLDEST_PUT_OFF = 1 << 30


class OcpImport(QObject):
    """Imports VIEW_MODULES on a thread; done (None, or the exception the import raised)
    is emitted on the GUI thread once they are in. Make it on the GUI thread."""

    done = Signal(object)

    def __init__(self, parent=None):
        QObject.__init__(self, parent)
        self._go = threading.Event()
        self._cancelled = False
        self._thread = threading.Thread(target=self._run, name="ocp-import", daemon=True)
        self._thread.start()  # the libraries load at once, beside what the GUI thread does

    def start(self):
        """Lets the modules' init begin (it takes turns with the GUI thread)."""
        self._go.set()

    def running(self):
        return self._thread.is_alive()

    def wait(self):
        """Waits for the thread to end, with no import begun if none has: a process must
        not end while a thread is inside an extension's init (its exit would run the
        libraries' destructors under it, or end the thread inside it)."""
        self._cancelled = True
        self._go.set()
        self._thread.join()

    def _run(self):
        error = None
        try:
            load_libraries()
            self._go.wait()
            if self._cancelled:
                return
            with _oldest_put_off():
                for name in VIEW_MODULES:
                    importlib.import_module(name)
        except BaseException as caught:  # noqa: BLE001 - told on the GUI thread, where it is handled
            error = caught
        try:
            self.done.emit(error)
        except RuntimeError:  # the receiver was deleted (the window closed first)
            pass


def load_libraries():
    """dlopen()s OCP's extension module, and so every library it links, without the GIL.
    Does nothing when the module is imported already or cannot be found."""
    if "OCP.OCP" in sys.modules:
        return
    try:
        spec = importlib.util.find_spec("OCP")  # the package is found, not imported
    except (ImportError, ValueError):
        return
    if spec is None or not spec.submodule_search_locations:
        return
    paths = glob.glob(os.path.join(spec.submodule_search_locations[0], "OCP.*.so"))
    if not paths:
        return
    libc = ctypes.CDLL(None)
    libc.dlopen.restype = ctypes.c_void_p
    libc.dlopen.argtypes = (ctypes.c_char_p, ctypes.c_int)
    # The flags Python's import will use, so that it finds the library as loaded.
    libc.dlopen(os.fsencode(paths[0]), sys.getdlopenflags())  # kept open for good, as imports are


class _oldest_put_off:
    """Within the block, the collector's oldest generation is not collected; after it,
    what the heap holds then is left out of its collections."""

    def __enter__(self):
        self._thresholds = gc.get_threshold()
        gc.set_threshold(*self._thresholds[:2], OLDEST_PUT_OFF)

    def __exit__(self, *exc):
        gc.freeze()  # a cycle made garbage before this stays, a few objects at most
        atexit.register(gc.unfreeze)
        if gc.get_threshold()[2] == OLDEST_PUT_OFF:  # no one set another meanwhile
            gc.set_threshold(*self._thresholds)
        return False
