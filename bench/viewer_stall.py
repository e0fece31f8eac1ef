"""How long the viewer window goes unanswered while it opens a large STEP assembly.

A timer asks every 5 ms; the longest gap between its ticks over the whole open
(reading, clearing, showing, the final frame) is the stall. Each size opens
REPEATS times from the sample scene, then reloads (F5) with the camera kept;
the hover detection is timed in the open scene. The assemblies (named,
coloured parts in rows: see tests/assemblies.py) are written first. The window
runs on Qt's xcb platform, on an Xvfb of its own when DISPLAY is unset, with
Mesa's software OpenGL.

    python bench/viewer_stall.py                    # 300 and 5,000 solids, 3 opens each
    python bench/viewer_stall.py --sizes 300 --repeats 1
"""

import argparse
import datetime
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

from scene import ensure_display, machine_facts, progress_printer, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the assembly writer and the stall meter

# The open of TARGET_SIZE solids is held to this stall, in seconds.
TARGET_STALL_S = 0.1
TARGET_SIZE = 5000
HOVER_POINTS = 60


def wait_for_load(window):
    from PySide6.QtTest import QTest

    while window.scenes.load is not None:
        QTest.qWait(5)


def measured(app, window, action):
    """Runs action() and waits for the load it starts; returns (longest stall, gaps over
    100 ms, seconds, the load average then, one frame of the scene), the stall counted
    until the window has drawn its last frame."""
    from PySide6.QtTest import QTest

    from stalls import StallMeter

    load = os.getloadavg()[0]
    meter = StallMeter()
    meter.start()
    began = time.perf_counter()
    action()
    wait_for_load(window)
    seconds = time.perf_counter() - began
    QTest.qWait(300)  # the repaint once the dialog is gone
    meter.stop()
    frames = []
    for _ in range(3):
        began = time.perf_counter()
        window.service.redraw()
        frames.append(time.perf_counter() - began)
    return meter.longest, meter.gaps_over[0.1], seconds, load, statistics.median(frames)


def hover_costs(app, window):
    """Detection and highlight repaint, timed apart along a path across the view, and
    whether the window's own hover highlighting stayed on under the same path."""
    from PySide6.QtCore import QPoint
    from PySide6.QtTest import QTest

    widget, context = window.view_widget, window.viewer3d.context
    view, viewer = window.viewer3d.view, window.viewer3d.viewer
    ratio = widget.devicePixelRatioF()
    path = [(int(widget.width() * (0.1 + 0.8 * i / HOVER_POINTS)),
             int(widget.height() * (0.3 + 0.4 * (i % 9) / 8))) for i in range(HOVER_POINTS)]
    detections, repaints, owner = [], [], None
    for x, y in path:
        began = time.perf_counter()
        context.MoveTo(int(x * ratio), int(y * ratio), view, False)
        detections.append(time.perf_counter() - began)
        now = context.DetectedOwner() if context.HasDetected() else None
        if now is not owner:
            owner = now
            began = time.perf_counter()
            viewer.RedrawImmediate()
            repaints.append(time.perf_counter() - began)
    context.ClearDetected(True)
    widget.hover.scene_changed()
    for x, y in path:
        QTest.mouseMove(widget, QPoint(x, y))
        QTest.qWait(20)
    return {"first_detection_ms": detections[0] * 1000,
            "detection_median_ms": statistics.median(detections[1:]) * 1000,
            "detection_max_ms": max(detections[1:]) * 1000,
            "repaint_median_ms": statistics.median(repaints) * 1000 if repaints else None,
            "repaints": len(repaints), "window_hover_on": widget.hover.enabled}


def run_size(app, window, path, solids, repeats, progress):
    from PySide6.QtCore import Qt
    from PySide6.QtTest import QTest

    from morvik_viewer.cad.shapes import sample_parts

    opens, reloads, hovers = [], [], []
    for _ in range(repeats):
        window.show_scene(sample_parts())
        QTest.qWait(200)
        opens.append(measured(app, window, lambda: window.open_files([path])))
        progress(f"{solids} solids: opened in {opens[-1][2]:.1f} s, "
                 f"longest stall {opens[-1][0] * 1000:.0f} ms")
        hovers.append(hover_costs(app, window))
        window.activateWindow()
        window.view_widget.setFocus()
        QTest.qWaitForWindowActive(window)
        reloads.append(measured(app, window, lambda: QTest.keyClick(window.view_widget, Qt.Key_F5)))
        progress(f"{solids} solids: reloaded in {reloads[-1][2]:.1f} s, "
                 f"longest stall {reloads[-1][0] * 1000:.0f} ms")

    def summary(runs):
        stalls = [r[0] * 1000 for r in runs]
        return {"longest_stall_ms": stalls, "worst_ms": max(stalls),
                "median_ms": statistics.median(stalls), "gaps_over_100ms": [r[1] for r in runs],
                "seconds": [r[2] for r in runs], "load_average_1min": [r[3] for r in runs],
                # The floor: one redraw of the scene once it is open.
                "frame_ms": [r[4] * 1000 for r in runs]}

    return {"solids": solids, "file_mb": os.path.getsize(path) / 1e6, "open": summary(opens),
            "reload": summary(reloads), "hover": hovers}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[300, TARGET_SIZE])
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--output", type=Path,
                        help="JSON file (default bench/results/viewer-stall-<date>.json)")
    args = parser.parse_args(argv)
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"viewer-stall-{today}.json"
    began = time.perf_counter()

    progress = progress_printer(began)

    # OCCT draws into the widget's X window; the stall is wall-clock time.
    ensure_display(qt_platform="xcb", cpu_time=False)
    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QApplication

    from assemblies import write_assembly
    from morvik_viewer.cad.shapes import sample_parts
    from morvik_viewer.view.graphics import create_viewer3d
    from morvik_viewer.window.main_window import ViewerWindow

    folder = Path(tempfile.mkdtemp(prefix="viewer-stall-"))
    files = {}
    for solids in args.sizes:
        files[solids] = folder / f"rig-{solids}.step"
        write_assembly(files[solids], solids)
        progress(f"wrote {files[solids].name}")

    app = QApplication.instance() or QApplication(["viewer-stall"])
    window = ViewerWindow(create_viewer3d())
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    QTest.qWait(300)
    load_before = os.getloadavg()
    rows = [run_size(app, window, files[n], n, args.repeats, progress) for n in args.sizes]
    window.close()

    target = [r for r in rows if r["solids"] == TARGET_SIZE]
    report = {
        "date": today,
        "machine": machine_facts(load_before, drawn=True),
        "settings": {"sizes": args.sizes, "repeats": args.repeats, "tick_ms": 5,
                     "window": [window.width(), window.height()],
                     "target_stall_ms": TARGET_STALL_S * 1000, "target_size": TARGET_SIZE},
        "rows": rows,
        "target_met": (all(r["open"]["worst_ms"] <= TARGET_STALL_S * 1000 for r in target)
                       if target else None),
        "seconds": time.perf_counter() - began,
    }
    for row in rows:
        print(f"{row['solids']:>6} solids: open {statistics.median(row['open']['seconds']):.1f} s, "
              f"longest stall {row['open']['worst_ms']:.0f} ms (median {row['open']['median_ms']:.0f}; "
              f"one frame {statistics.median(row['open']['frame_ms']):.0f} ms); "
              f"reload longest stall {row['reload']['worst_ms']:.0f} ms; hover detection "
              f"{statistics.median(h['detection_median_ms'] for h in row['hover']):.2f} ms")
    write_result(output, report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
