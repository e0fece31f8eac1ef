"""Opens a large assembly in the real viewer window under X, the way a user does, and
reports what it saw (see sessions.py): a complete open with the longest stall of the event
loop, Cancel while reading and while showing, F5 keeping the camera, the
command line's --view-state saved at exit and restored at start, and files
that crash or out-nest a reader, or a fault of ours in each kind of slot.

    python demo_loading_session.py ASSEMBLY.step FOLDER

FOLDER holds the files to trip the reader up (see test_demo_loading.py).
"""

import json
import sys
from pathlib import Path

from OCP.Bnd import Bnd_Box
from OCP.BRepBndLib import BRepBndLib
from PySide6.QtCore import QPoint, Qt, QTimer
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QApplication, QMessageBox, QProgressDialog, QPushButton

from morvik_viewer.app import cli
from morvik_viewer.cad.shapes import sample_parts
from morvik_viewer.reader.protocol import Heard
from morvik_viewer.scene.loading import SceneLoad
from morvik_viewer.window.main_window import ViewerWindow
from sessions import camera, open_window, report, wait_until
from stalls import StallMeter

FORMATS = Path(__file__).with_name("files") / "formats"


def scene(window):
    """What the registry holds and the window says of it."""
    service, context = window.service, window.viewer3d.context
    shapes = service.get_all_shapes()
    return {"ids": list(shapes), "label": window.count_label.text(),
            "all_displayed": all(context.IsDisplayed(info.ais_shape) for info in shapes.values())}


def watch(window):
    """Keeps the outcome of each load as the window hears it (a load that fails at once
    ends inside open_files), and answers the window's message boxes, keeping their text."""
    window.outcomes, window.said = [], []
    hear = window.scenes._on_load_finished

    def heard(outcome, view_state):
        window.outcomes.append(outcome)
        hear(outcome, view_state)

    def answer():
        for box in QApplication.topLevelWidgets():
            if isinstance(box, QMessageBox) and box.isVisible():
                window.said.append(box.text())
                box.done(0)

    window.scenes._on_load_finished = heard
    window.answerer = QTimer(window)
    window.answerer.timeout.connect(answer)
    window.answerer.start(50)


def open_file(window, path, cancel_when=None):
    """Opens path as File > Open would; with cancel_when, clicks the dialog's Cancel once
    cancel_when() holds. Returns the load's outcome."""
    count = len(window.outcomes)
    def ended():
        return len(window.outcomes) > count
    window.open_files([path])
    if cancel_when is not None:
        wait_until(lambda: ended() or (dialog(window) is not None and cancel_when()))
        if not ended():
            cancel = next(b for b in dialog(window).findChildren(QPushButton) if b.text() == "Cancel")
            QTest.mouseClick(cancel, Qt.LeftButton)
    wait_until(ended)
    QTest.qWait(50)
    return window.outcomes[count]


def trips(window, folder):
    """Files that crash or out-nest a reader, then a fault of ours in each kind of slot:
    each open ends with a message and no dialog left up, and the next one works."""

    def ended(path):
        said = len(window.said)
        result = open_file(window, folder / path)
        QTest.qWait(600)  # past the moment the progress dialog would show
        return {"state": result.state, "message": result.message, "said": window.said[said:],
                "dialog_up": dialog(window) is not None, **scene(window)}

    out = {"crash": ended("loop.step"), "after_crash": ended("small.step")}
    out["deep"] = {name: ended(name) for name in ("nested.brep", "nested.step")}
    core = Bnd_Box()
    BRepBndLib.Add_s(window.service.get_shape_info("core").ais_shape.Shape(), core)
    out["deep"]["nested.step"]["core_x"] = core.CornerMin().X()

    def fault(*args):
        raise RuntimeError("injected fault")

    out["faults"] = {}
    for where, owner, name in (("start", SceneLoad, "_start_reader"),
                               ("reader output", Heard, "feed"),
                               ("slice", SceneLoad, "_take")):
        kept = getattr(owner, name)
        setattr(owner, name, fault)
        try:
            out["faults"][where] = ended("small.step")
        finally:
            setattr(owner, name, kept)
        out["faults"][where]["next"] = ended("small.step")["state"]
    # Files of other kinds: a glTF file's Y-up shown Y up, said in the status bar; an STL
    # file's one mesh, under the axis remembered.
    out["formats"] = {}
    for name in ("rig.glb", "rig.stl"):
        opened = ended(FORMATS / name)
        opened.update(up=window.state.up_axis, status=window.statusBar().currentMessage())
        out["formats"][name] = opened
    # Every file went to a reader: this process never loaded OCCT's STEP reader.
    out["step_reader_here"] = "OCP.STEPCAFControl" in sys.modules
    return out


def streamed():
    """Notes, for the loads to come, how far the reader was when each began to show and
    how many shapes were shown before it had sent its last part."""
    seen = {"began_before_done": [], "shown_before_done": []}
    start, show = SceneLoad._start_showing, SceneLoad._show_slice

    def start_showing(load):
        seen["began_before_done"].append(not load._heard.done)
        start(load)

    def show_slice(load):
        show(load)
        if not load._read:
            seen["shown_before_done"].append(len(load._shown))

    SceneLoad._start_showing, SceneLoad._show_slice = start_showing, show_slice
    return seen


def dialog(window):
    found = [d for d in window.findChildren(QProgressDialog) if d.isVisible()]
    return found[0] if found else None


def command_line_run(app, session_window, state_file, act, files=()):
    """Runs the viewer's command line with --view-state and files, calls act(window) once
    its window is up and done loading, then quits. Returns the exit status and what act
    returned."""
    seen = []

    def when_up():
        windows = [w for w in app.topLevelWidgets()
                   if isinstance(w, ViewerWindow) and w is not session_window and w.isVisible()
                   and w.scenes.load is None and w.service is not None and w.service.get_shape_count()]
        if not windows:
            QTimer.singleShot(50, when_up)
            return
        seen.append(act(windows[0]))
        windows[0].close()
        app.quit()

    QTimer.singleShot(200, when_up)
    status = cli.main(["--view-state", str(state_file), *map(str, files)])
    return status, seen[0] if seen else None


def main(path, folder):
    app, window = open_window()
    watch(window)
    view, out = window.viewer3d.view, {}

    meter = StallMeter()
    stream = streamed()
    meter.start()
    out["complete"] = {"state": open_file(window, path).state}
    meter.stop()
    out["complete"].update(scene(window), longest_stall=meter.longest,
                           began_before_done=stream["began_before_done"][-1],
                           shown_before_done=max(stream["shown_before_done"], default=0))

    widget = window.view_widget
    middle = QPoint(widget.width() // 2, widget.height() // 2)
    QTest.mousePress(widget, Qt.LeftButton, Qt.NoModifier, middle)
    for i in range(1, 6):
        QTest.mouseMove(widget, middle + QPoint(12 * i, 5 * i))
    QTest.mouseRelease(widget, Qt.LeftButton, Qt.NoModifier, middle + QPoint(60, 25))
    QTest.qWait(50)
    before = {"camera": camera(view), "bolt": window.service.get_shape_info("bolt").ais_shape}
    window.activateWindow()  # from the progress dialog, gone now
    widget.setFocus()
    QTest.qWaitForWindowActive(window)
    QTest.keyClick(widget, Qt.Key_F5)
    wait_until(lambda: window.scenes.load is None)
    QTest.qWait(50)
    out["reload"] = {"camera_before": before["camera"], "camera_after": camera(view),
                     "new_presentations": window.service.get_shape_info("bolt").ais_shape
                     is not before["bolt"], **scene(window)}

    window.show_scene(sample_parts())
    before = scene(window)
    state = open_file(window, path, cancel_when=lambda: True).state  # while reading
    out["cancel_reading"] = {"state": state, "before": before, "after": scene(window)}

    # Once parts show and while the reader still sends more.
    reader = {}

    def showing():
        load = window.scenes.load
        if load is None or load._reader is None or not window.service.get_shape_count():
            return False
        reader["pid"] = load._reader.pid
        return "Showing" in dialog(window).labelText()

    state = open_file(window, path, cancel_when=showing).state
    QTest.qWait(100)
    out["cancel_showing"] = {"state": state, **scene(window), "reader": reader.get("pid")}

    # Before the command line's runs: once their windows are gone, a later open in this
    # one corrupts the heap (glibc aborts), with or without these files.
    out.update(trips(window, Path(folder)))

    state_file = Path(folder) / "view.json"
    def top(w):
        return (QTest.mouseClick(next(b for b in w.toolbar.findChildren(QPushButton)
                                               if b.text() == "Top"), Qt.LeftButton),
                         camera(w.viewer3d.view))[1]
    first = command_line_run(app, window, state_file, top)
    saved = json.loads(state_file.read_text())
    # Its file read by the reader the command line started before it loaded OCP.
    second = command_line_run(app, window, state_file,
                              lambda w: (camera(w.viewer3d.view), list(w.service.get_all_shapes())),
                              files=[Path(folder) / "small.step"])
    out["view_state"] = {"statuses": [first[0], second[0]], "set": first[1],
                         "restored": second[1][0], "shown": second[1][1],
                         "saved_up": saved["camera"]["up"]}
    window.close()
    return report(out)


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
