"""Real OCCT scenes for the benchmarks: a virtual X screen, viewers that render
into an offscreen window, box solids, and a context that counts viewer updates.
"""

import os
import platform
import types

from morvik_viewer.app.display import NoDisplay, start_virtual_display


def ensure_display(qt_platform=None, cpu_time=True):
    """Starts an Xvfb server when there is no display; software OpenGL either way.

    With cpu_time, Mesa rasterises on the calling thread, so that the process's
    CPU time counts the drawing and no idle worker threads. Qt gets
    qt_platform, or offscreen unless the environment names one.
    """
    os.environ.setdefault("LIBGL_ALWAYS_SOFTWARE", "1")
    if cpu_time:
        os.environ.setdefault("LP_NUM_THREADS", "0")
    if qt_platform:
        os.environ["QT_QPA_PLATFORM"] = qt_platform
    else:
        os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    if not os.environ.get("DISPLAY"):
        try:
            start_virtual_display()
        except NoDisplay as error:
            raise SystemExit(str(error)) from error


def graphic_driver():
    """An X connection and a graphic driver of its own."""
    from morvik_viewer.view.graphics import open_graphics

    return open_graphics()


def make_scene(driver, size=(400, 300)):
    """A viewer, context and view rendering into an offscreen window."""
    from morvik_viewer.view.graphics import create_scene

    return create_scene(driver, size, "morvik-bench")


def make_boxes(count, size=1.0, spacing=2.0, columns=25):
    """`count` unit boxes on a grid, each at its own position."""
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
    from OCP.gp import gp_Pnt

    def corner(i):
        return gp_Pnt(
            (i % columns) * spacing,
            (i // columns % columns) * spacing,
            (i // (columns * columns)) * spacing,
        )

    return [BRepPrimAPI_MakeBox(corner(i), size, size, size).Shape() for i in range(count)]


# Context calls whose last argument asks OCCT to update the viewer at once.
UPDATING_CALLS = frozenset({
    "Display", "Erase", "Remove", "RemoveAll", "Redisplay", "SetDisplayMode",
    "ClearSelected", "AddOrRemoveSelected",
})
# Calls that redraw by themselves, on the context, the viewer or the view. (The
# context's Update(object, flag) recomputes one object and redraws only when its
# flag says so: it is counted as an updating call when it has arguments.)
REDRAWING_CALLS = frozenset({"UpdateCurrentViewer", "Update", "Redraw", "RedrawImmediate"})


class Counting:
    """Forwards every call to a real OCCT object and counts the viewer updates
    it asks for: each redrawing call, and each updating call whose flag is true.
    Wrappers of one scene share one counter."""

    @staticmethod
    def counter():
        return types.SimpleNamespace(updates=0)

    def __init__(self, target, counter):
        self._target = target
        self._counter = counter

    def __getattr__(self, name):
        target = getattr(self._target, name)
        if name not in REDRAWING_CALLS and name not in UPDATING_CALLS:
            return target
        counter = self._counter

        def counted(*args):
            redraws = name in REDRAWING_CALLS and not (name == "Update" and args)
            if redraws or (args and args[-1] is True):
                counter.updates += 1
            return target(*args)

        return counted


def machine_facts(load_before, drawn=False, **more):
    """What a result was measured on: the machine, the Python, the host's bindings; with
    drawn, the OpenGL the frames were drawn by."""
    import OCP
    import PySide6

    return {
        "cpus": os.cpu_count(),
        "platform": platform.platform(),
        "python": platform.python_version(),
        "ocp": getattr(OCP, "__version__", "unknown"),
        "pyside6": PySide6.__version__,
        **({"opengl": "Mesa software (LIBGL_ALWAYS_SOFTWARE=1)"
            if os.environ.get("LIBGL_ALWAYS_SOFTWARE") == "1" else "as the display gives it"}
           if drawn else {}),
        **more,
        "load_average_before": load_before,
        "load_average_after": os.getloadavg(),
    }


def write_result(output, report):
    """Writes a benchmark's report as JSON to output (a Path), and says where."""
    import json

    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(json.dumps(report, indent=2) + "\n")
    print(f"written to {output}")


def progress_printer(began):
    """A progress(message) that writes message to stderr after the seconds since began."""
    import sys
    import time

    def progress(message):
        print(f"[{time.perf_counter() - began:6.1f} s] {message}", file=sys.stderr, flush=True)

    return progress
