"""The viewer window end to end: a real xcb window on the X server, driven like a user.

The session runs in its own process (the suite runs Qt offscreen in-process,
which gives no native window for OCCT to draw into) and reports what it saw as
JSON; the tests below read that report.
"""

import json
import math
import os
import subprocess
import sys
import tempfile
from pathlib import Path

import pytest
from pictures import hue_and_level, near, srgb8

from morvik_viewer.scene import PALETTE
from morvik_viewer.viewer import GRADIENT_BOTTOM, GRADIENT_TOP

SESSION = Path(__file__).with_name("demo_window_session.py")


def run_session(*args, settings=None, **env):
    """Runs the session script; settings, when given, is the text of the settings file it finds."""
    # Each window keeps its settings apart: one with its dock hidden must not hide the next one's.
    config = tempfile.mkdtemp(dir=os.environ["XDG_CONFIG_HOME"])
    if settings is not None:
        (Path(config) / "morvik").mkdir()
        (Path(config) / "morvik" / "morvik-viewer.conf").write_text(settings)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=config, **env)
    run = subprocess.run([sys.executable, str(SESSION), *args], env=env, capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == 0, run.stderr[-3000:]
    return json.loads(run.stdout.strip().splitlines()[-1])


@pytest.fixture(scope="module")
def session():
    return run_session()


def unit(v):
    n = math.sqrt(sum(c * c for c in v))
    return [c / n for c in v]


def close(a, b, tol=1e-6):
    return all(abs(x - y) < tol for x, y in zip(a, b))


def test_runs_on_a_native_x_window(session):
    assert session["platform"] == "xcb"


def test_starts_isometric_and_shaded_as_the_toolbar_shows(session):
    # The camera looks from (1, 1, 1) towards the scene.
    assert close(session["start"]["direction"], unit([-1, -1, -1]))
    assert session["start"]["orthographic"]
    assert session["start_toolbar"] == "shaded"
    assert session["start_display_mode"] == 1  # the context shades, matching the toolbar
    # The start-up fit waited for the window's final size: fitting again changes nothing.
    again = session["fitted_again"]
    assert close(again["center"], session["start"]["center"], 1e-6)
    assert again["scale"] == pytest.approx(session["start"]["scale"], rel=1e-6)
    assert session["title"] == "Sample scene — morvik viewer"


@pytest.mark.parametrize("when", ["corners_at_start", "corners_after_resize"])
def test_view_fills_the_whole_widget(session, when):
    # The background gradient reaches every corner: light at the top, dark at the bottom.
    corners = session[when]
    top, bottom = srgb8(GRADIENT_TOP), srgb8(GRADIENT_BOTTOM)
    assert near(corners["top_left"], top, 6) and near(corners["top_right"], top, 6), corners
    assert near(corners["bottom_right"], bottom, 6), corners


def test_standard_view_button_turns_the_camera(session):
    assert close(session["after_top"]["direction"], [0, -1, 0])  # looking down from +Y
    assert close(session["after_iso"]["direction"], unit([-1, -1, -1]))


@pytest.mark.parametrize("part, colour", [("box", PALETTE[0]), ("cylinder", PALETTE[1])])
def test_faces_seen_face_on_keep_their_colour(session, part, colour):
    # From the top the box's and cylinder's flat tops face the camera and its headlight.
    hue, level = hue_and_level(session["top_faces"][part], colour)
    assert hue < 6 and 0.7 < level < 1.1, (session["top_faces"][part], hue, level)


def test_display_mode_selector_reaches_the_context(session):
    assert session["after_wireframe_combo"] == {"context": 0, "toolbar": "wireframe"}


def test_projection_selector_reaches_the_camera(session):
    assert not session["after_perspective"]["orthographic"]
    assert session["after_iso"]["orthographic"]


def test_transparency_slider_reaches_every_shape(session):
    assert session["after_slider"]["slider"] == 10
    assert session["after_slider"]["box_transparency"] == pytest.approx(0.1, abs=1e-6)


def test_host_key_moves_the_toolbar_and_emits_once(session):
    after = session["after_key_b"]
    assert after["toolbar"] == "both"
    assert after["context"] == 1 and after["box_boundaries"]
    # Pressed twice: the second press finds the toolbar already there.
    assert after["emitted"] == ["both"]


@pytest.mark.parametrize("pick, expected", [
    ("pick_sphere", "Selected: sphere"),
    ("pick_torus", "Selected: torus"),
    ("pick_shift_sphere", "2 selected"),  # Shift adds to the selection...
    ("pick_ctrl_torus", "Selected: sphere"),  # ...and Ctrl takes out again
    ("after_escape", ""),
    ("pick_background", ""),
])
def test_click_reports_the_shape_under_the_cursor(session, pick, expected):
    assert session[pick] == expected


def test_hide_selected_and_show_all(session):
    assert session["after_hide"] == {"sphere_visible": False, "sphere_displayed": False,
                                     "selection": "", "count": "5 shapes, 1 hidden"}
    assert session["after_show_all"] == {"sphere_visible": True, "sphere_displayed": True,
                                         "count": "5 shapes"}


def test_left_drag_rotates_without_selecting(session):
    rotation = session["rotation"]
    assert not close(rotation["before"]["direction"], rotation["after"]["direction"], 1e-3)
    assert rotation["selection"] == ""


def test_middle_drag_pans_without_turning(session):
    pan = session["pan"]
    assert close(pan["before"]["direction"], pan["after"]["direction"])
    assert not close(pan["before"]["center"], pan["after"]["center"], 1e-3)


def test_wheel_zooms_by_one_step_per_notch_about_the_cursor(session):
    zoom = session["zoom"]
    assert zoom["in"] == pytest.approx(zoom["before"] * 1.1, rel=1e-6)
    assert zoom["out"] == pytest.approx(zoom["in"] / 1.1 ** 2, rel=1e-6)
    # The model point under the cursor stays there, however far the wheel turns.
    about = session["zoom_about_sphere"]
    for point in about["seen"] + [about["back"]]:
        assert close(point, about["start"], 1.5), about
    # 160 notches out stop while the scene still shows, whole.
    assert about["far"]["inside"] and min(about["far"]["size"]) >= 10, about


def test_status_bar_counts_the_shapes(session):
    assert session["shape_count_label"] == "5 shapes"


def test_ctrl_c_closes_the_window_keeping_its_geometry(session):
    assert session["interrupted"] == {"status": 130, "window_open": False, "geometry_kept": True}


def test_trihedron_keeps_its_size_at_twice_the_pixel_ratio():
    # Its size, labels included, in device pixels: twice as many at QT_SCALE_FACTOR=2.
    single, double = (run_session("trihedron", QT_SCALE_FACTOR=str(f)) for f in (1, 2))
    assert (single["ratio"], double["ratio"]) == (1.0, 2.0)
    assert double["image"] == [2 * n for n in single["image"]]
    for one, two in zip(single["extent"], double["extent"]):
        assert 1.8 < two / one < 2.2, (single, double)


# Each key the window reads holds a value of some other kind: text or a list where
# geometry bytes belong, a size or a number where state bytes belong, a number, a
# size or bytes where the recent files and the folder belong, and values Qt cannot
# make sense of. (An INI file keeps a plain number as text: @Variant gives a real int.)
HOSTILE_SETTINGS = [
    r"""[window]
geometry=some text
state=@Size(1 2)
[open]
recent=@Variant(\0\0\0\x2\0\0\0\x5)
folder=@Size(3 4)
""",
    r"""[window]
geometry=first, second
state=@Variant(\0\0\0\x2\0\0\0\x7)
[open]
recent=@ByteArray(\xff\xfe)
folder=@Variant(\0\0\0\x2\0\0\0\x9)
""",
    r"""[window]
geometry=@ByteArray(not a geometry at all)
state=@Variant(\0\0\0\x7f\0\0\0\x4junk)
[open]
recent=@Size(1 2), @Rect(1 2 3 4)
folder=@ByteArray(\xff\xfe)
""",
]


@pytest.mark.parametrize("settings", HOSTILE_SETTINGS, ids=["text", "list", "garbage"])
def test_unusable_settings_give_way_to_the_defaults(settings):
    started = run_session("settings", settings=settings)
    assert started["size"] == [1100, 720] and started["dock_visible"]
    assert started["count"] == "5 shapes"
    assert started["recent"] == [] and started["folder"] == ""
    assert "No recent files" in started["recent_menu"]
    assert started["geometry_saved"]


def test_embedding_example_of_the_docs_runs(tmp_path):
    # The example must keep working as the components change: run it for a moment.
    readme = (Path(__file__).parents[1] / "README.md").read_text()
    blocks = [block.split("```", 1)[0] for block in readme.split("```python\n")[1:]]
    (code,) = [block for block in blocks if "return app.exec()" in block]
    stop = ("    from PySide6.QtCore import QTimer\n"
            "    QTimer.singleShot(500, lambda: (print('display mode', context.DisplayMode(),\n"
            "                                          service.get_shape_count()), app.quit()))\n"
            "    return app.exec()")
    assert code.count("    return app.exec()") == 1
    script = tmp_path / "example.py"
    script.write_text(code.replace("    return app.exec()", stop))
    env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    run = subprocess.run([sys.executable, str(script)], env=env, capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stderr[-3000:]
    assert "display mode 1 1" in run.stdout
    assert "Traceback" not in run.stderr and "leaked" not in run.stderr
