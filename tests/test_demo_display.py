"""Where the viewer finds an X server (the user's, a private Xvfb, or a clear refusal), and
what it draws there: dark parts, frames while the camera moves, display-mode switches."""

import os
import subprocess
import sys

import pytest

from conftest import box
from morvik.enums import DisplayMode, ViewDirection
from morvik_viewer.app import display
from morvik_viewer.app.base import FALLBACK_SCREENSHOT
from morvik_viewer.app.cli import main
from morvik_viewer.model.colors import (
    GRADIENT_BOTTOM,
    GRADIENT_TOP,
    LUMINANCE_FLOOR,
    LUMINANCE_WEIGHTS,
    PALETTE,
    readable_color,
)
from morvik_viewer.scene import mode_switch
from morvik_viewer.view import platform_window
from morvik_viewer.view.fit import fit_view
from morvik_viewer.view.graphics import start_view
from morvik_viewer.view.look import set_camera_moving
from pictures import near, srgb8, view_pixels
from sessions import run_session


def test_without_xvfb_says_what_to_install(monkeypatch):
    monkeypatch.delenv("DISPLAY", raising=False)
    monkeypatch.setattr(display.shutil, "which", lambda name: None)
    with pytest.raises(display.NoDisplay) as error:
        display.start_virtual_display()
    assert "apt-get install xvfb" in str(error.value)


@pytest.mark.parametrize("argv", [[], ["--screenshot", "out.png"]])
@pytest.mark.parametrize("display_, told", [
    (None, ["Xvfb is not installed", "apt-get install xvfb"]),
    (":32761", ["cannot open the X display"]),  # no server listens there
], ids=["none and no Xvfb", "one that does not answer"])
def test_command_fails_cleanly_without_a_usable_display(argv, display_, told, tmp_path,
                                                        monkeypatch, capsys):
    if display_ is None:
        monkeypatch.delenv("DISPLAY", raising=False)
        monkeypatch.setattr(display.shutil, "which", lambda name: None)
    else:
        monkeypatch.setenv("DISPLAY", display_)
    # The window path switches Qt to xcb; keep that from leaking into later tests.
    monkeypatch.setenv("QT_QPA_PLATFORM", os.environ.get("QT_QPA_PLATFORM", "offscreen"))
    monkeypatch.chdir(tmp_path)
    assert main(argv) == 1
    err = capsys.readouterr().err
    assert all(words in err for words in told), err
    assert list(tmp_path.iterdir()) == []


def test_headless_run_starts_xvfb_and_writes_a_screenshot(tmp_path):
    # What `scripts/demo` does on a machine without a display.
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    run = subprocess.run([sys.executable, "-m", "morvik_viewer", "--size", "160x120"], cwd=tmp_path,
                         env=env, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "no display" in run.stderr
    assert (tmp_path / FALLBACK_SCREENSHOT).stat().st_size > 0


# --- platforms whose OCP has no X11 windows ---

# Imports every module of the viewer with OCP's platform window modules missing, as
# on a platform whose OCCT has none of them, then shows a view widget on this X
# server, resizes it and reads back its native window: its size and what OCCT drew
# at its corners.
WITHOUT_PLATFORM_WINDOWS = r"""
import importlib, json, pkgutil, sys, time
for name in ("OCP.Xw", "OCP.WNT", "OCP.Cocoa"):
    sys.modules[name] = None  # import fails
import morvik_viewer
names = sorted(m.name for m in pkgutil.walk_packages(morvik_viewer.__path__, "morvik_viewer."))
for name in names:
    importlib.import_module(name)

from PySide6.QtWidgets import QApplication
from morvik_viewer.view.widget import OcctViewWidget
from morvik_viewer.view.graphics import create_viewer3d, start_view

app = QApplication([])
viewer3d = create_viewer3d()
widget = OcctViewWidget(viewer3d.service, viewer3d.connection)
start_view(viewer3d.service)
seen = []
for size in ((320, 200), (203, 151)):  # odd sizes: halves at ratio 1.5
    widget.resize(*size)
    widget.show()
    deadline = time.monotonic() + 120  # a sign awaited: the deadline only stops a hang
    while time.monotonic() < deadline and not (widget.isVisible() and widget.has_final_size()):
        app.processEvents()
    viewer3d.service.redraw()
    image = widget.screen().grabWindow(widget.winId()).toImage()
    w, h = image.width(), image.height()
    seen.append({"widget": list(widget.device_size()), "occt": list(viewer3d.view.Window().Size()),
                 "native": [w, h],
                 "top": list(image.pixelColor(3, 3).getRgb()[:3]),
                 "bottom": list(image.pixelColor(w - 4, h - 4).getRgb()[:3])})
print(json.dumps({"modules": names, "window": type(viewer3d.view.Window()).__name__,
                  "loaded": sorted(n for n in ("OCP.Xw", "OCP.WNT", "OCP.Cocoa") if sys.modules[n]),
                  "platform": app.platformName(), "seen": seen}))
"""


@pytest.mark.parametrize("scale", ["1", "1.5"])
def test_viewer_imports_and_shows_its_view_without_platform_window_modules(tmp_path, scale):
    report = run_session("-c", WITHOUT_PLATFORM_WINDOWS, config=tmp_path, QT_SCALE_FACTOR=scale)
    for module in ("app.cli", "view_widget", "view.graphics", "window.main_window",
                   "window.screenshot", "view.platform_window"):
        assert f"morvik_viewer.{module}" in report.modules
    assert report.window == "Aspect_NeutralWindow" and report.loaded == []
    assert report.platform == "xcb"
    top, bottom = srgb8(GRADIENT_TOP), srgb8(GRADIENT_BOTTOM)
    for seen in report.seen:  # OCCT follows the native window's size and fills it
        assert seen.occt == seen.widget == seen.native, seen
        assert near(seen.top, top, 6) and near(seen.bottom, bottom, 6), seen
    assert report.seen[0].widget != report.seen[1].widget


@pytest.mark.parametrize("x11, chosen, platform", [
    (True, None, "xcb"), (True, "offscreen", "xcb"), (True, "wayland;xcb", "xcb"),
    (True, "xcb:nograb", "xcb:nograb"),  # the user's own xcb options stay
    (False, None, None), (False, "offscreen", "offscreen"), (False, "cocoa", "cocoa"),
])
def test_window_runs_on_x11_only_through_xcb(monkeypatch, x11, chosen, platform):
    # OCCT's X11 build needs an X window, which Qt gives only on xcb; a user's choice of
    # another platform would hand OCCT a handle that is no window and end the process.
    monkeypatch.setattr(platform_window, "X11", x11)
    assert platform_window.qt_platform(chosen) == platform


# --- what the viewer draws there: dark parts, moving frames, display-mode switches ---

def luminance(rgb):
    return sum(w * v for w, v in zip(LUMINANCE_WEIGHTS, rgb))


@pytest.mark.parametrize("rgb", [*PALETTE, (0.5, 0.5, 0.55), (0.8, 0.1, 0.1), (0.9, 0.78, 0.39),
                                 (0.0, 0.0, 1.0), None, (), "red", (0.1, 0.2), (float("nan"),) * 3])
def test_ordinary_colours_and_non_colours_are_shown_as_given(rgb):
    # Not a copy: the docs' pictures and every pixel test of ordinary colours stay as they were.
    assert readable_color(rgb) is rgb


@pytest.mark.parametrize("rgb", [(0.02, 0.02, 0.02), (0.0, 0.0, 0.0), (0.03, 0.01, 0.0),
                                 [0.0, 0.0, 0.3]])
def test_dark_colours_are_lifted_to_the_floor_keeping_their_tint(rgb):
    shown = readable_color(rgb)
    assert luminance(shown) == pytest.approx(LUMINANCE_FLOOR)
    lift = shown[0] - rgb[0]
    assert [b - a for a, b in zip(rgb, shown)] == pytest.approx([lift] * 3)


def box_faces(service, scene, rgb):
    """The 8-bit pixels at the centres of the three faces an isometric view shows of a box."""
    service.display_shape(box(10, 10, 10), "box", rgb, False)
    service.set_projection(ViewDirection.ISO)
    fit_view(service)
    pixels = view_pixels(scene.view)
    faces = []
    for centre in ((10.0, 5.0, 5.0), (5.0, 10.0, 5.0), (5.0, 5.0, 10.0)):
        x, y = scene.view.Convert(*centre)
        faces.append(int(pixels[y, x].mean()))
    return faces


def test_near_black_box_shows_three_faces_of_clearly_different_brightness(scene, service):
    start_view(service)
    service.set_display_mode(DisplayMode.SHADED)
    faces = sorted(box_faces(service, scene, readable_color((0.02, 0.02, 0.02))))
    assert faces[1] - faces[0] >= 8 and faces[2] - faces[1] >= 8, faces
    assert faces[2] < 100, faces  # still a dark part


def test_moving_frames_draw_straight_into_the_window_and_rest_on_the_cached_one(scene):
    view = scene.view.View()
    for moving in (True, True, False, False):
        set_camera_moving(scene.view, moving)
        # OCCT answers with the mode it had: cached (True) unless moving.
        assert view.SetImmediateModeDrawToFront(not moving) is (not moving)


@pytest.fixture
def shapes_shown(scene, service, make_box):
    start_view(service)
    service.set_display_mode(DisplayMode.SHADED)
    service.display_shapes([(make_box(at=(2.0 * i, 0.0, 0.0)), f"b{i}") for i in range(12)])
    return service


def settled(service):
    """What set_display_mode leaves: the service's mode, the context's, and each shape's."""
    context = service.get_context()
    shapes = [service.get_shape_info(i).ais_shape for i in service.get_all_shapes()]
    return (service.get_view_state()["display_mode"], context.DisplayMode(),
            [(ais.Attributes().FaceBoundaryDraw(), ais.HasDisplayMode(),
              context.IsDisplayed(ais)) for ais in shapes])


def switched(service, qtbot, modes, monkeypatch, slice_s=0.0):
    """Runs a switch to each mode in turn, each replacing the one before; waits for the last."""
    monkeypatch.setattr(mode_switch, "SLICE_S", slice_s)  # a shape a slice
    switch, seen, ends = None, [], []
    for mode in modes:
        inherited = switch.cancel() if switch is not None else ()
        switch = mode_switch.ModeSwitch(service, mode, lambda *p: seen.append(p),
                                        inherited=inherited)
        switch.finished.connect(ends.append)
        switch.start()
    qtbot.waitUntil(lambda: not switch.running, timeout=10000)
    return seen, ends


@pytest.mark.parametrize("modes", [
    [DisplayMode.BOTH], [DisplayMode.WIREFRAME], [DisplayMode.BOTH, DisplayMode.SHADED],
    [DisplayMode.WIREFRAME, DisplayMode.BOTH], [DisplayMode.WIREFRAME, DisplayMode.SHADED],
])
def test_sliced_switch_ends_where_the_services_own_call_does(shapes_shown, qtbot, monkeypatch,
                                                              modes, graphic_driver):
    service = shapes_shown
    service.set_shape_visibility("b3", False)  # hidden shapes switch too
    seen, ends = switched(service, qtbot, modes, monkeypatch)
    sliced = settled(service)
    service.set_display_mode(modes[-1])
    assert sliced == settled(service)
    assert ends == [True]  # the replaced switches never finish
    assert seen[-1] == (12, 12) and len(seen) >= 12  # progress after every slice


def test_small_scene_switches_before_the_call_returns(shapes_shown, qtbot):
    ends = []
    switch = mode_switch.ModeSwitch(shapes_shown, DisplayMode.BOTH)
    switch.finished.connect(ends.append)
    switch.start()
    assert ends == [True] and not switch.running
    assert settled(shapes_shown)[:2] == ("both", 1)
