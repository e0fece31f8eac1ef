"""How soon the viewer's window shows, and how soon its 3D view draws, from process start.

Each run starts `morvik-viewer` (the sample scene, or the files given) in a
process of its own and notes, on the clock the two processes share, when the
main window first paints, when the OCCT view widget first paints, and when
the scene is in (the load over, shapes shown); then the window closes. From
the window's first paint till the view's, a 5 ms timer notes how late the
event loop answers it: "gap" is the longest the loop went without answering
(0.005 s is a loop that never stalled), "gap_at" when that gap began, and
"stalls" lists every gap over 50 ms as [start, length].
Medians of REPEATS runs. The window runs on Qt's xcb platform, on an Xvfb of
its own when DISPLAY is unset, with Mesa's software OpenGL.

    python bench/window_start.py [--repeats 5] [--viewer-path DIR] [FILE ...]

--viewer-path puts another copy of the viewer package first on the path (to
time an older version against this one on the same machine, in the same run).
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from scene import ensure_display

# Runs in the viewer's process: the viewer's own command line, with the
# application class swapped for one that watches paints.
CHILD = r"""
import json, os, sys, time
from PySide6 import QtWidgets
from PySide6.QtCore import QEvent, QObject, Qt, QTimer

start, out = float(os.environ["START_T"]), os.environ["START_OUT"]
marks = {}

class Probe(QTimer):
    # Ticks every 5 ms from the window's first paint till the view's first frame.
    def __init__(self):
        QTimer.__init__(self)
        self.setTimerType(Qt.PreciseTimer)
        self.setInterval(5)
        self.timeout.connect(self.tick)
        self.last = time.monotonic()
        marks["gap"], marks["gap_at"] = 0.0, self.last - start
        self.start()

    def tick(self):
        now = time.monotonic()
        if now - self.last > marks["gap"]:
            marks["gap"], marks["gap_at"] = now - self.last, self.last - start
        if now - self.last > 0.05:
            marks.setdefault("stalls", []).append([round(self.last - start, 3),
                                                   round(now - self.last, 3)])
        self.last = now
        if "view" in marks:
            self.stop()

class Watch(QObject):
    def eventFilter(self, obj, event):
        if event.type() == QEvent.Paint and isinstance(obj, QtWidgets.QWidget):
            now = time.monotonic() - start
            if "window" not in marks and isinstance(obj.window(), QtWidgets.QMainWindow):
                marks["window"] = now
                self.probe = Probe()
            if "view" not in marks and type(obj).__name__ == "OcctViewWidget":
                marks["view"] = now
                self.probe.tick()  # a stall just before this frame counts
                QTimer.singleShot(10, lambda: loaded(obj.window()))
        return False

def loaded(window):
    # The scene is in: the window's load is over and its service holds shapes.
    service = getattr(window, "service", None)
    # (the load is window.scenes.load; window._load in the flat layout of before).
    scenes = getattr(window, "scenes", None)
    load = getattr(window, "_load", True) if scenes is None else getattr(scenes, "load", True)
    if load is None and service and service.get_shape_count():
        marks["scene"] = time.monotonic() - start
        QTimer.singleShot(300, QtWidgets.QApplication.instance().closeAllWindows)
    else:
        QTimer.singleShot(10, lambda: loaded(window))

Base = QtWidgets.QApplication

class App(Base):
    def __init__(self, *args):
        Base.__init__(self, *args)
        self._watch = Watch()
        self.installEventFilter(self._watch)

QtWidgets.QApplication = App
from morvik_viewer.__main__ import main  # the entry point of any layout of the package
status = main(sys.argv[1:])
marks["status"] = status
with open(out, "w") as f:
    json.dump(marks, f)
"""


def one_run(args, viewer_path, config):
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as f:
        out = f.name
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", START_OUT=out, XDG_CONFIG_HOME=config)
    if viewer_path:
        env["PYTHONPATH"] = os.pathsep.join([viewer_path, env.get("PYTHONPATH", "")])
    env["START_T"] = repr(time.monotonic())
    subprocess.run([sys.executable, "-c", CHILD, *args], env=env, timeout=120,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    try:
        return json.loads(Path(out).read_text())
    finally:
        os.unlink(out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("files", nargs="*")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--viewer-path", action="append", default=[],
                        help="a folder holding another morvik_viewer package (repeatable)")
    args = parser.parse_args(argv)
    ensure_display("xcb", cpu_time=False)
    config = tempfile.mkdtemp(prefix="window-start-")
    variants = args.viewer_path or [None]
    runs = {variant: [] for variant in variants}
    for _ in range(args.repeats):  # alternate, so load on the machine falls on every variant
        for variant in variants:
            runs[variant].append(one_run(args.files, variant, config))
    for variant, marks in runs.items():
        summary = {key: round(statistics.median(m[key] for m in marks), 3)
                   for key in ("window", "view", "scene", "gap") if all(key in m for m in marks)}
        print(json.dumps({"viewer": variant or "installed", "files": args.files,
                          "median_s": summary, "runs": marks}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
