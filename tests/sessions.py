"""The window sessions, from both sides: the process that drives a real window and the test
that reads what it saw.

A session runs in a process of its own on Qt's xcb platform: the OCCT view renders into
the widget's native X window, which the offscreen platform the rest of the suite uses
cannot give. It reports what it saw as its last line of output (report), which the test
reads back (run_session) as the same objects: records as the classes below, any other
JSON object as a Seen, whose members read as attributes.
"""

import dataclasses
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).parent
WAIT_MS = 60000  # what a stage may take before the session fails rather than hang


# --- what a session reports ----------------------------------------------------------------

class Seen(dict):
    """A JSON object a session reported, its members read as attributes too."""

    def __getattr__(self, name):
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None

    __setattr__ = dict.__setitem__


@dataclasses.dataclass
class Camera:
    """The view's camera: its direction and centre, projection, the view's scale; and,
    to compare two cameras exactly, its eye, up and height."""
    direction: list
    center: list
    orthographic: bool
    scale: float
    eye: list
    up: list
    height: float

    def numbers(self):
        return [*self.eye, *self.center, *self.up, self.height]


RECORDS = {record.__name__: record for record in (Camera,)}


def report(seen):
    """Writes what a session saw as its last line of output; returns the exit status."""
    def record(value):
        return {"record": type(value).__name__, **dataclasses.asdict(value)}

    print(json.dumps(seen, default=record))
    return 0


def read_report(output):
    """What report wrote, as the objects it was given."""
    def revive(members):
        name = members.pop("record", None)
        return RECORDS[name](**members) if name in RECORDS else Seen(members)

    return json.loads(output.strip().splitlines()[-1], object_hook=revive)


# --- the test's side -----------------------------------------------------------------------

def new_config(settings=None):
    """A settings folder of its own under the suite's; settings, when given, is the text of
    the settings file the viewer finds there."""
    config = Path(tempfile.mkdtemp(dir=os.environ["XDG_CONFIG_HOME"]))
    if settings is not None:
        (config / "morvik").mkdir()
        (config / "morvik" / "morvik-viewer.conf").write_text(settings)
    return str(config)


def xcb_env(config=None, settings=None, **extra):
    """The environment of a process that runs Qt on xcb under the suite's X server, keeping
    its settings in config (a new folder, holding settings, unless given)."""
    return dict(os.environ, QT_QPA_PLATFORM="xcb",
                XDG_CONFIG_HOME=str(config or new_config(settings)), **extra)


def run_session(*command, config=None, settings=None, output=False, quiet=False, **env):
    """Runs a session (a script and its arguments, or "-c" and code) on xcb; returns its
    report, with its standard output and error when asked. quiet: it wrote no traceback."""
    run = subprocess.run([sys.executable, *map(str, command)], capture_output=True, text=True,
                         env=xcb_env(config, settings, **env), timeout=300)
    assert run.returncode == 0, run.stderr[-3000:]
    assert not quiet or "Traceback" not in run.stderr, run.stderr[-3000:]
    seen = read_report(run.stdout)
    return (seen, run.stdout, run.stderr) if output else seen


# --- the session's side --------------------------------------------------------------------

def settle(app, ms=50):
    from PySide6.QtTest import QTest

    app.processEvents()
    QTest.qWait(ms)


def wait_until(condition, step_ms=5):
    """Lets the event loop run till condition() holds; a stage that never comes fails."""
    from PySide6.QtTest import QTest

    waited = 0
    while not condition():
        QTest.qWait(step_ms)
        waited += step_ms
        if waited > WAIT_MS:
            raise TimeoutError("the window did not get there")


def open_window(parts=None, size=(900, 600), files=(), focus=False, dock=True):
    """The viewer's window on the screen, showing parts (the sample scene unless given) and
    files, once it has them all, at size (unless None, which leaves the one the settings
    keep); with focus, the view has the keyboard."""
    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QApplication, QDockWidget

    from morvik_viewer.cad.shapes import sample_parts
    from morvik_viewer.view.graphics import create_viewer3d
    from morvik_viewer.window.main_window import ViewerWindow

    app = QApplication.instance() or QApplication(["morvik-session"])
    window = ViewerWindow(create_viewer3d())
    window.app = app
    if not dock:
        window.findChild(QDockWidget).hide()
    if size is not None:
        window.resize(*size)
    window.show()
    window.start(sample_parts() if parts is None else parts, files=files)
    QTest.qWaitForWindowExposed(window)
    wait_until(lambda: window.scenes.load is None, 20)
    if focus:
        window.activateWindow()  # the keys are the window's shortcuts
        window.view_widget.setFocus()
    settle(app, 200)
    return app, window


def camera(view):
    cam = view.Camera()
    d, c, e, u = cam.Direction(), cam.Center(), cam.Eye(), cam.Up()
    def xyz(p):
        return [round(v, 9) for v in (p.X(), p.Y(), p.Z())]
    return Camera(xyz(d), xyz(c), cam.IsOrthographic(), view.Scale(), xyz(e), xyz(u), cam.Scale())


def on_screen(app, widget):
    """What the screen shows of the widget, in device pixels."""
    from PySide6.QtCore import QPoint

    top_left = widget.mapToGlobal(QPoint(0, 0))
    shot = app.primaryScreen().grabWindow(0, top_left.x(), top_left.y(), widget.width(),
                                          widget.height())
    return shot.toImage()


def colours_at(app, window, points):
    """Colours on screen where the model points show, by name."""
    image = on_screen(app, window.view_widget)
    return {name: list(image.pixelColor(*window.viewer3d.view.Convert(*xyz)).getRgb()[:3])
            for name, xyz in points.items()}


def click_at(window, xyz, modifiers=None, settle_ms=0):
    """Clicks the view where the shown point xyz is; returns the status text."""
    from PySide6.QtCore import QPoint, Qt
    from PySide6.QtTest import QTest

    widget = window.view_widget
    px, py = window.viewer3d.view.Convert(*xyz)
    ratio = widget.devicePixelRatioF()
    QTest.mouseClick(widget, Qt.LeftButton, Qt.NoModifier if modifiers is None else modifiers,
                     QPoint(int(px / ratio), int(py / ratio)))
    if settle_ms:
        settle(window.app, settle_ms)
    return window.selection_label.text()


def drop_files(window, paths):
    """Drags paths onto the window and drops them there, as a file manager does; returns
    whether the window took the drag."""
    from PySide6.QtCore import QMimeData, QPoint, QPointF, Qt, QUrl
    from PySide6.QtGui import QDragEnterEvent, QDropEvent
    from PySide6.QtWidgets import QApplication

    mime = QMimeData()
    mime.setUrls([QUrl.fromLocalFile(str(path)) for path in paths])
    enter = QDragEnterEvent(QPoint(50, 50), Qt.CopyAction, mime, Qt.LeftButton, Qt.NoModifier)
    QApplication.sendEvent(window, enter)
    QApplication.sendEvent(window, QDropEvent(QPointF(50, 50), Qt.CopyAction, mime,
                                              Qt.LeftButton, Qt.NoModifier))
    return enter.isAccepted()


def run_viewer(watch):
    """Runs the viewer's command line with no arguments, watch(app) called on the
    application it makes as soon as it is made; returns its exit status."""
    from PySide6 import QtWidgets

    from morvik_viewer.app import cli

    base = QtWidgets.QApplication

    class WatchedApplication(base):
        def __init__(self, *args):
            base.__init__(self, *args)
            watch(self)

    QtWidgets.QApplication = WatchedApplication  # the command line makes its application
    return cli.main([])


def run_sessions(sessions, main):
    """Runs the session named by the first argument, main without one; exits with its status."""
    sys.path.insert(0, str(HERE))
    name, *args = sys.argv[1:] or [None]
    sys.exit(sessions[name](*args) if name else main())
