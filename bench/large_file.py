"""What one open of a large STEP file costs in the viewer's own window, judged in frames.

The window is the command line's (ViewerWindow), on Qt's xcb platform, on an
Xvfb of its own when DISPLAY is unset, with Mesa's software OpenGL. The file
opens once, from the sample scene; then, on the scene it leaves:

- stall: the longest gap between the ticks of a 5 ms timer over the whole open
  (reading, clearing, showing, the final frame, making the parts pickable), in
  seconds and in frames of the scene as it was. After a gap past 1.2 frames of
  the last frame time known (only when it is the longest yet, or a second after
  the last probe, so that probes stay few) the meter draws the scene twice and
  times the second redraw; the first draws what the load has shown but not yet
  drawn, work the load's own next frame then no longer does. The probes' time
  is no gap. --no-probes opens without them; the gaps are then judged against
  the frame measured after the load (once the window's next reader has
  started), which is also reported either way. Each gap names the load's
  phase as it ended, or the two it spans.
- hover: context.MoveTo detections along a path across the view (as
  bench/viewer_stall.py times them), against the frame.
- rotation: a rotation step (V3d_View.Rotation, which repaints) in the viewer's
  view, dragged as the view widget drags, against a raw V3d_View of the same
  size and camera on a viewer and context of its own (OCCT's default lights, a
  shaded AIS_Shape for each placement, on the shapes the service holds). The
  raw scene doubles the presentations' memory while it lasts.
- modes: shaded -> both -> shaded -> wireframe -> shaded through the toolbar, as
  the window switches them (in slices): the time until the status bar says the
  switch is over, and its longest stall, against the frame of the new mode.

    python bench/large_file.py FILE                  # 4 rounds of rotation drags
    python bench/large_file.py FILE --rounds 2 --output /tmp/large.json
"""

import argparse
import datetime
import os
import statistics
import sys
import time
import types
from pathlib import Path

from scene import ensure_display, machine_facts, progress_printer, write_result

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"
sys.path.insert(0, str(HERE.parent / "tests"))  # the stall meter

# A gap longer than this many frames of the scene is counted as one the user sees.
LATE_FRAMES = 1.2
PROBE_EVERY_S = 1.0
KEPT_GAP_S = 0.01  # shorter gaps are the tick itself
LISTED_GAPS = 100
MODES = ("both", "shaded", "wireframe", "shaded")
SWITCH_TIMEOUT_S = 600
SETTLE_MS = 2000


def settle():
    """Waits out the start of the window's reader for the next open (OCP's import, about a
    second of a core), which the window begins at start-up and after each load."""
    from PySide6.QtTest import QTest

    QTest.qWait(SETTLE_MS)


def frame_time(service, times=3):
    """The median of `times` redraws of the scene as it is, in seconds."""
    frames = []
    for _ in range(times):
        began = time.perf_counter()
        service.redraw()
        frames.append(time.perf_counter() - began)
    return statistics.median(frames)


def judged_meter(window, frame_s, probes):
    """A StallMeter that also keeps every gap over KEPT_GAP_S as (ended at, gap, the load's
    phase, the frame time then), probing the frame time after late gaps (see the module)."""
    from stalls import StallMeter

    class JudgedMeter(StallMeter):
        def start(self):
            self.gaps, self.frame_s, self.probes, self.probe_s = [], frame_s, 0, 0.0
            self._probed_at, self.phase = float("-inf"), None
            StallMeter.start(self)
            self.began = self._last

        def _tick(self):
            last, longest, phase_before = self._last, self.longest, self.phase
            StallMeter._tick(self)
            now = self._last
            gap = now - last
            # The load's phase, for the report only: a gap from one phase into the next names both.
            self.phase = getattr(window.scenes.load, "_phase", "ended")
            if gap <= KEPT_GAP_S:
                return
            if probes and gap > LATE_FRAMES * self.frame_s and (
                    gap > longest or now - self._probed_at > PROBE_EVERY_S):
                window.service.redraw()
                began = time.perf_counter()
                window.service.redraw()
                self.frame_s = time.perf_counter() - began
                self._probed_at = self._last = time.perf_counter()
                self.probes += 1
                self.probe_s += self._last - now
            phase = self.phase if phase_before in (None, self.phase) else f"{phase_before} to {self.phase}"
            self.gaps.append((now - self.began, gap, phase, self.frame_s))

    return JudgedMeter()


def open_file(window, path, probes, progress):
    from PySide6.QtTest import QTest

    from viewer_stall import wait_for_load

    before = frame_time(window.service)
    meter = judged_meter(window, before, probes)
    meter.start()
    began = time.perf_counter()
    window.open_files([path])
    wait_for_load(window)
    seconds = time.perf_counter() - began
    QTest.qWait(300)  # the repaint once the dialog is gone
    meter.stop()
    settle()
    after = frame_time(window.service)
    placements = len(window.service.get_all_shapes())
    progress(f"opened {placements} placements in {seconds:.1f} s, longest stall {meter.longest:.3f} s")

    def frames(gap, frame):
        return gap[1] / (frame if frame is not None else gap[3])

    judge = None if probes else after
    longest = max(meter.gaps, key=lambda g: g[1]) if meter.gaps else (0.0, meter.longest, "", after)
    late = sorted((g for g in meter.gaps if frames(g, judge) > LATE_FRAMES), key=lambda g: -g[1])
    phases = {}
    for _, gap, phase, _ in meter.gaps:
        phases[phase] = max(phases.get(phase, 0.0), gap)
    return {
        "placements": placements, "seconds": seconds, "frame_before_s": before, "frame_after_s": after,
        "judged_against": "frame probed after each late gap" if probes else "frame after the load",
        "longest_stall_s": meter.longest, "longest_at_s": longest[0], "longest_phase": longest[2],
        "longest_frame_s": judge or longest[3], "longest_frames": frames(longest, judge),
        "longest_frames_after_load": longest[1] / after,
        "worst_frames": max((frames(g, judge) for g in meter.gaps), default=0.0),
        "late_gaps": len(late), "late_gaps_after_load": sum(g[1] > LATE_FRAMES * after for g in meter.gaps),
        "gaps_over_100ms": meter.gaps_over[0.1], "longest_by_phase_s": phases,
        "probes": meter.probes, "probe_s": meter.probe_s,
        "late": [{"at_s": at, "gap_s": gap, "phase": phase, "frame_s": judge or frame}
                 for at, gap, phase, frame in late[:LISTED_GAPS]],
    }


class QtWindow:
    """The viewer's window as frame_cost.Side maps it: it stays mapped; mapping it waits for
    the repaint the raw window's going leaves, so that none runs during a drag."""

    def Map(self):
        from PySide6.QtTest import QTest

        QTest.qWait(100)

    def Unmap(self):
        pass


def rotation(window, rounds, steps, progress):
    from OCP.AIS import AIS_Shape
    from OCP.Graphic3d import Graphic3d_Camera
    from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

    from frame_cost import Side, mapped_window
    from morvik_viewer.view.graphics import Graphics, create_scene
    from morvik_viewer.view.look import set_camera_moving

    viewer3d, size = window.viewer3d, window.view_widget.device_size()
    graphics = Graphics(viewer3d.connection, viewer3d.driver)
    scene = create_scene(graphics)
    context = scene.context
    # The shapes carry the reader's triangles, shared with the viewer's: meshed again here,
    # the viewer's would change too.
    context.DefaultDrawer().SetAutoTriangulation(False)
    context.SetDisplayMode(1, False)
    began = time.perf_counter()
    for info in window.service.get_all_shapes().values():
        if not info.visible:
            continue
        ais = AIS_Shape(info.ais_shape.Shape())
        if info.ais_shape.HasTransformation():  # the up axis turns the presentations
            ais.SetLocalTransformation(info.ais_shape.LocalTransformation())
        if info.color is not None:
            ais.SetColor(Quantity_Color(*info.color, Quantity_TOC_RGB))
        context.Display(ais, 1, -1, False)  # -1: not pickable, as nothing picks here
    progress(f"raw scene displayed in {time.perf_counter() - began:.1f} s")
    raw = Side("raw", scene, mapped_window(graphics, scene, "raw", size))
    viewer = Side("viewer", types.SimpleNamespace(view=viewer3d.view, context=viewer3d.context),
                  QtWindow(), set_camera_moving)
    home = Graphic3d_Camera()
    home.Copy(viewer3d.view.Camera())

    def drag(side, count):
        side.scene.view.Camera().Copy(home)  # every drag from the same camera, on both sides
        side.show()
        times = side.drag(size, count)
        side.hide()
        return times

    drag(raw, 3)  # the first frames compile shaders and upload the meshes
    steps_ms = {"raw": [], "viewer": []}
    for r in range(rounds):
        for side in (raw, viewer) if r % 2 == 0 else (viewer, raw):
            steps_ms[side.name].extend(drag(side, steps))
    raw.close()
    viewer3d.view.Camera().Copy(home)
    window.service.redraw()
    raw_s, viewer_s = (statistics.median(steps_ms[name]) / 1000 for name in ("raw", "viewer"))
    progress(f"rotation step: viewer {viewer_s * 1000:.1f} ms, raw {raw_s * 1000:.1f} ms")
    return {"window": list(size), "rounds": rounds, "steps": steps,
            "viewer_step_s": viewer_s, "raw_step_s": raw_s, "viewer_fps": 1 / viewer_s,
            "raw_fps": 1 / raw_s, "ratio": viewer_s / raw_s, "steps_ms": steps_ms}


def mode_switches(window, progress):
    from PySide6.QtTest import QTest

    from morvik.enums import DisplayMode
    from stalls import StallMeter

    if window.state.display_mode != DisplayMode.SHADED.value:
        raise SystemExit("the scene should be shaded before the display-mode switches")
    messages = []
    bar = window.statusBar()
    bar.messageChanged.connect(messages.append)
    rows = []
    for mode in MODES:
        messages.clear()
        meter = StallMeter()
        meter.start()
        began = time.perf_counter()
        window.toolbar.set_display_mode(DisplayMode(mode))
        # The switch's last word names the mode without a count of shapes.
        while not any(m.startswith("Display mode") and "shapes)" not in m for m in messages):
            if time.perf_counter() - began > SWITCH_TIMEOUT_S:
                raise SystemExit(f"the switch to {mode} did not end in {SWITCH_TIMEOUT_S} s")
            QTest.qWait(1)
        seconds = time.perf_counter() - began
        QTest.qWait(50)
        meter.stop()
        frame = frame_time(window.service)  # of the scene in its new mode
        rows.append({"to": mode, "seconds": seconds, "frames": seconds / frame,
                     "longest_stall_s": meter.longest, "longest_stall_frames": meter.longest / frame,
                     "frame_s": frame})
        progress(f"to {mode}: {seconds:.2f} s, longest stall {meter.longest:.3f} s")
    bar.messageChanged.disconnect(messages.append)
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", type=Path, help="a STEP file")
    parser.add_argument("--rounds", type=int, default=4, help="rotation drags on each side")
    parser.add_argument("--steps", type=int, default=8, help="rotation steps a drag")
    parser.add_argument("--no-probes", action="store_true",
                        help="judge the open's gaps against the frame after the load, drawing nothing meanwhile")
    parser.add_argument("--output", type=Path, help="JSON file (default bench/results/large-file-<date>.json)")
    args = parser.parse_args(argv)
    if not args.file.is_file():
        parser.error(f"no such file: {args.file}")
    today = datetime.date.today().isoformat()
    output = args.output or RESULTS / f"large-file-{today}.json"
    began = time.perf_counter()
    progress = progress_printer(began)

    # OCCT draws into the widget's X window; the stall is wall-clock time.
    ensure_display(qt_platform="xcb", cpu_time=False)
    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QApplication

    from morvik_viewer.cad.shapes import sample_parts
    from morvik_viewer.view.graphics import create_viewer3d
    from morvik_viewer.window.main_window import ViewerWindow
    from viewer_stall import hover_costs

    app = QApplication.instance() or QApplication(["large-file"])
    window = ViewerWindow(create_viewer3d())
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle()
    load_before = os.getloadavg()
    opened = open_file(window, args.file.resolve(), not args.no_probes, progress)
    frame = opened["frame_after_s"]
    hover = hover_costs(app, window)
    hover.update(frame_ms=frame * 1000, detection_median_frames=hover["detection_median_ms"] / 1000 / frame,
                 detection_max_frames=hover["detection_max_ms"] / 1000 / frame)
    turning = rotation(window, args.rounds, args.steps, progress)
    modes = mode_switches(window, progress)
    window.close()

    report = {
        "date": today,
        "machine": machine_facts(load_before, drawn=True),
        "file": str(args.file), "file_mb": args.file.stat().st_size / 1e6,
        "settings": {"tick_ms": 5, "late_frames": LATE_FRAMES, "probes": not args.no_probes,
                     "window": [window.width(), window.height()]},
        "open": opened, "hover": hover, "rotation": turning, "mode_switch": modes,
        "seconds": time.perf_counter() - began,
    }
    print(f"{opened['placements']} placements, opened in {opened['seconds']:.1f} s; "
          f"frame {frame * 1000:.0f} ms after the load")
    print(f"  longest stall   {opened['longest_stall_s']:7.3f} s = {opened['longest_frames']:5.1f} frames "
          f"of {opened['longest_frame_s'] * 1000:.0f} ms ({opened['longest_phase']}; "
          f"{opened['longest_frames_after_load']:.1f} of the final frame); "
          f"{opened['late_gaps']} gaps over {LATE_FRAMES} frames")
    print(f"  hover detection median {hover['detection_median_ms']:.2f} ms, max {hover['detection_max_ms']:.2f} ms "
          f"({hover['detection_max_frames']:.2f} frames; first {hover['first_detection_ms']:.1f} ms)")
    print(f"  rotation step   viewer {turning['viewer_step_s'] * 1000:.1f} ms ({turning['viewer_fps']:.1f} fps), "
          f"raw {turning['raw_step_s'] * 1000:.1f} ms ({turning['raw_fps']:.1f} fps): {turning['ratio']:.2f}x")
    for row in modes:
        print(f"  to {row['to']:>9}    {row['seconds']:6.2f} s = {row['frames']:5.1f} frames, longest stall "
              f"{row['longest_stall_s']:.3f} s = {row['longest_stall_frames']:.1f} frames "
              f"of {row['frame_s'] * 1000:.0f} ms")
    write_result(output, report)
    return 0


if __name__ == "__main__":
    sys.exit(main())
