"""The viewer window end to end: a real xcb window on the X server, driven like a user.

The session runs in its own process (see sessions.py); the tests below read its report.
"""

import math
import os
import signal
import subprocess
import sys
import time
from importlib import metadata
from pathlib import Path

import pytest

from morvik_viewer.model.colors import GRADIENT_BOTTOM, GRADIENT_TOP, PALETTE
from morvik_viewer.model.view_state import UP_KEY, ViewStateError, for_view, read_state
from morvik_viewer.window.main_window import STARTING_TEXT
from pictures import hue_and_level, near, srgb8
from sessions import run_session, xcb_env

SESSION = Path(__file__).with_name("demo_window_session.py")
BOARD = (0.05, 0.45, 0.15)  # the session's board colour


@pytest.fixture(scope="module")
def session():
    return run_session(SESSION)


def unit(v):
    n = math.sqrt(sum(c * c for c in v))
    return [c / n for c in v]


def close(a, b, tol=1e-6):
    return all(abs(x - y) < tol for x, y in zip(a, b))


def test_starts_isometric_and_shaded_as_the_toolbar_shows(session):
    # The camera looks from (1, 1, 1) towards the scene.
    assert close(session.start.direction, unit([-1, -1, -1]))
    assert session.start.orthographic
    assert session.start_toolbar == "shaded"
    assert session.start_display_mode == 1  # the context shades, matching the toolbar
    # The start-up fit waited for the window's final size: fitting again changes nothing.
    again = session.fitted_again
    assert close(again.center, session.start.center, 1e-6)
    assert again.scale == pytest.approx(session.start.scale, rel=1e-6)
    assert session.title == "Sample scene — morvik viewer"


@pytest.mark.parametrize("when", ["corners_at_start", "corners_after_resize"])
def test_view_fills_the_whole_widget(session, when):
    # The background gradient reaches every corner: light at the top, dark at the bottom.
    corners = session[when]
    top, bottom = srgb8(GRADIENT_TOP), srgb8(GRADIENT_BOTTOM)
    assert near(corners.top_left, top, 6) and near(corners.top_right, top, 6), corners
    assert near(corners.bottom_right, bottom, 6), corners


def test_standard_view_button_turns_the_camera(session):
    assert close(session.after_top.direction, [0, -1, 0])  # looking down from +Y
    assert close(session.after_iso.direction, unit([-1, -1, -1]))


@pytest.mark.parametrize("part, colour", [("box", PALETTE[0]), ("cylinder", PALETTE[1])])
def test_faces_seen_face_on_keep_their_colour(session, part, colour):
    # From the top the box's and cylinder's flat tops face the camera and its headlight.
    hue, level = hue_and_level(session.top_faces[part], colour)
    assert hue < 6 and 0.7 < level < 1.1, (session.top_faces[part], hue, level)


def test_transparency_slider_reaches_every_shape(session):
    assert session.after_slider.slider == 10
    assert session.after_slider.box_transparency == pytest.approx(0.1, abs=1e-6)


def test_host_key_moves_the_toolbar_and_emits_once(session):
    after = session.after_key_b
    assert after.toolbar == "both"
    assert after.context == 1 and after.box_boundaries
    # Pressed twice: the second press finds the toolbar already there.
    assert after.emitted == ["both"]


def test_menus_toolbar_and_service_agree_after_each_change(session):
    agree = session.agree
    assert agree.toolbar == {"menus": ["shaded", "orthographic"], "toolbar": [
        "shaded", "orthographic", 0.1], "service": ["shaded", "orthographic", 0.1]}
    assert agree.menu == {"menus": ["shaded", "perspective"], "toolbar": [
        "shaded", "perspective", 0.1], "service": ["shaded", "perspective", 0.1]}
    # The slider shows the nearest percent; the service keeps what was restored.
    assert agree.restore == {"menus": ["wireframe", "orthographic"], "toolbar": [
        "wireframe", "orthographic", 0.26], "service": ["wireframe", "orthographic", 0.255],
        "scale": pytest.approx(123.0)}


def test_menus_and_messages_name_each_choice_as_the_toolbar_does(toolbar):
    from PySide6.QtWidgets import QComboBox, QPushButton

    from morvik.enums import DisplayMode, ProjectionType, ViewDirection
    from morvik_viewer.model.view_state import caption

    shown = {combo.itemData(i): combo.itemText(i)
             for combo in toolbar.findChildren(QComboBox) for i in range(combo.count())}
    views = {direction.value for direction in ViewDirection}
    shown.update((b.text().lower(), b.text()) for b in toolbar.findChildren(QPushButton)
                 if b.text().lower() in views)
    assert {member.value for member in (*DisplayMode, *ProjectionType)} <= shown.keys()
    assert {value: caption(value) for value in shown} == shown


def test_the_view_state_changes_once_per_real_change_and_refuses_what_is_no_value(qapp):
    from morvik.enums import DisplayMode
    from morvik_viewer.model.view_state import FIELDS, ViewState

    state, changes = ViewState(view_cube=True), []
    state.changed.connect(changes.append)
    assert {f.name: getattr(state, f.name) for f in FIELDS} == {
        **{f.name: f.default for f in FIELDS}, "view_cube": True}
    state.display_mode = DisplayMode.BOTH
    state.display_mode = "both"  # the same, as the toolbar says it: no change
    state.transparency = 1
    for name, wrong, error in [("display_mode", "glossy", ValueError), ("up_axis", "x", ValueError),
                               ("transparency", 1.5, ValueError), ("transparency", True, TypeError)]:
        with pytest.raises(error):
            setattr(state, name, wrong)
    state.take_view({"display_mode": "wireframe", "camera": {"projection": "perspective"},
                     "transparency": 1.0})
    state.take_view(None)
    assert changes == ["display_mode", "transparency", "display_mode", "projection_type"]
    assert (state.display_mode, state.projection_type, state.transparency) == (
        "wireframe", "perspective", 1.0)


# What the session saw after each step, as it reported it.
@pytest.mark.parametrize("step, expected", [
    ("platform", "xcb"),  # a native X window
    ("after_wireframe_combo", {"context": 0, "toolbar": "wireframe"}),  # the selector reaches it
    ("pick_sphere", "Selected: sphere"),  # a click names the shape under the cursor
    ("pick_torus", "Selected: torus"),
    ("pick_shift_sphere", "2 selected"),  # Shift adds to the selection...
    ("pick_ctrl_torus", "Selected: sphere"),  # ...and Ctrl takes out again
    ("after_escape", ""),
    ("pick_background", ""),
    ("after_hide", {"sphere_visible": False, "sphere_displayed": False, "selection": "",
                    "count": "5 shapes, 1 hidden"}),
    ("after_show_all", {"sphere_visible": True, "sphere_displayed": True, "count": "5 shapes"}),
    ("shape_count_label", "5 shapes"),
    ("interrupted", {"status": 130, "window_open": False, "geometry_kept": True}),  # Ctrl+C
])
def test_each_step_of_the_session_shows_what_it_should(session, step, expected):
    assert session[step] == expected


def test_left_drag_rotates_without_selecting(session):
    rotation = session.rotation
    assert not close(rotation.before.direction, rotation.after.direction, 1e-3)
    assert rotation.selection == ""
    # Five moves within a frame reach OCCT as two: the first, and the last at the release.
    assert len(rotation.sent) == 2 and rotation.sent[-1] == rotation.end


def test_middle_drag_pans_without_turning(session):
    pan = session.pan
    assert close(pan.before.direction, pan.after.direction)
    assert not close(pan.before.center, pan.after.center, 1e-3)


def test_wheel_zooms_by_one_step_per_notch_about_the_cursor(session):
    zoom = session.zoom
    assert zoom["in"] == pytest.approx(zoom.before * 1.1, rel=1e-6)
    assert zoom.out == pytest.approx(zoom["in"] / 1.1 ** 2, rel=1e-6)
    # The model point under the cursor stays there, however far the wheel turns.
    about = session.zoom_about_sphere
    for point in about.seen + [about.back]:
        assert close(point, about.start, 1.5), about
    # 160 notches out stop while the scene still shows, whole.
    assert about.far.inside and min(about.far.size) >= 10, about


def test_trihedron_keeps_its_size_at_twice_the_pixel_ratio():
    # Its size, labels included, in device pixels: twice as many at QT_SCALE_FACTOR=2.
    single, double = (run_session(SESSION, "trihedron", QT_SCALE_FACTOR=str(f)) for f in (1, 2))
    assert (single.ratio, double.ratio) == (1.0, 2.0)
    assert double.image == [2 * n for n in single.image]
    for one, two in zip(single.extent, double.extent):
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
[view]
up=x
""",
    r"""[window]
geometry=first, second
state=@Variant(\0\0\0\x2\0\0\0\x7)
[open]
recent=@ByteArray(\xff\xfe)
folder=@Variant(\0\0\0\x2\0\0\0\x9)
[view]
up=y, z
""",
    r"""[window]
geometry=@ByteArray(not a geometry at all)
state=@Variant(\0\0\0\x7f\0\0\0\x4junk)
[open]
recent=@Size(1 2), @Rect(1 2 3 4)
folder=@ByteArray(\xff\xfe)
[view]
up=@Variant(\0\0\0\x2\0\0\0\x9)
""",
]


@pytest.mark.parametrize("settings", HOSTILE_SETTINGS, ids=["text", "list", "garbage"])
def test_unusable_settings_give_way_to_the_defaults(settings):
    started = run_session(SESSION, "settings", settings=settings)
    assert started.size == [1100, 720] and started.dock_visible
    assert started.count == "5 shapes"
    assert started.recent == [] and started.folder == "" and started.up == "z"
    assert "No recent files" in started.recent_menu
    assert started.geometry_saved


def test_recent_files_are_newest_first_each_once_and_few(tmp_path, monkeypatch):
    from PySide6.QtCore import QSettings

    from morvik_viewer.app.settings import RECENT_LIMIT, RecentFiles

    store = tmp_path / "viewer.conf"
    store.write_text("[open]\nrecent=/models/only.step\n")  # INI reads one item back as a str
    settings = QSettings(str(store), QSettings.IniFormat)
    recent = RecentFiles(settings)
    assert recent.paths() == ["/models/only.step"]
    monkeypatch.chdir(tmp_path)
    names = [f"{n}.step" for n in range(RECENT_LIMIT + 1)]
    for name in names:
        recent.add([name])
    recent.add([f"sub/../{names[2]}"])  # the same file, written otherwise, goes to the top
    recent.add(["b.step", "a.step"])  # opened together: the first one first
    kept = ["b.step", "a.step", names[2], *names[:2:-1]][:RECENT_LIMIT]
    assert recent.paths() == [str(tmp_path / name) for name in kept]
    recent.clear()
    recent.add(["last.step"])
    settings.sync()
    again = RecentFiles(QSettings(str(store), QSettings.IniFormat))
    assert again.paths() == [str(tmp_path / "last.step")]


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
    run = subprocess.run([sys.executable, str(script)], env=xcb_env(os.environ["XDG_CONFIG_HOME"]),
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr[-3000:]
    assert "display mode 1 1" in run.stdout
    assert "Traceback" not in run.stderr and "leaked" not in run.stderr


def test_window_shows_before_occt_loads_and_only_the_viewers_own_output_reaches_the_terminal():
    started, out, err = run_session(SESSION, "startup", output=True)
    # At its first paint: menus, the toolbar (off till the view is there), the status bar
    # and a page saying the view is starting; OCP not loaded yet.
    assert not started.ocp_loaded
    assert started.menus == ["&File", "&View", "&Tools"]
    assert started.dock_visible and started.status_bar and not started.toolbar_enabled
    assert started.page == STARTING_TEXT
    # Then the view and the scene, as before.
    assert started.shapes == 5 and started.toolbar_enabled_later
    assert started.title == "Sample scene — morvik viewer" and started.status == 0
    assert "own-out-message" in out
    assert "own-err-message" in err and "own-log-message" in err
    for noise in ("occt-noise", "native-out-noise", "native-err-noise", "Fontconfig"):
        assert noise not in out + err, noise


def ocp_release():
    """The (major, minor) of the OCP distribution installed, or (0, 0)."""
    for distribution in ("cadquery-ocp-novtk", "cadquery-ocp"):
        try:
            return tuple(int(part) for part in metadata.version(distribution).split(".")[:2])
        except (metadata.PackageNotFoundError, ValueError):
            pass
    return (0, 0)


@pytest.mark.parametrize("then", ["drop", "quit"])
def test_the_window_answers_while_occt_loads_and_takes_a_file_or_a_quit_meanwhile(then):
    seen, out, err = run_session(SESSION, "loading", then, output=True)
    assert "Traceback" not in out + err and "leaked" not in err
    if ocp_release() < (8, 0):
        # OCP 7.8's init runs no Python code (seen: not one turn of the loop in it), so no
        # other thread gets the GIL there: the window answers before and after it only.
        assert seen.status == 0
        return
    # The event loop went round while OCP's init ran, before the view was there.
    assert seen.answers_while_loading >= 2 and not seen.view_then
    if then == "drop":  # taken at once, opened once the view is in, in place of the sample
        assert seen.drop_accepted and seen.paths == ["plate.step"]
        assert seen.title == "plate.step — morvik viewer" and seen.status == 0
    else:  # Ctrl+Q ends the run at once, cleanly, with OCP's import let finish
        assert seen.status == 0 and seen.ocp_loaded and "paths" not in seen
    assert "Traceback" not in out + err and "leaked" not in err


# Started with Ctrl+C at its default (a shell's background job would ignore it).
VIEWER_WITH_CTRL_C = ("import os, signal, sys; signal.signal(signal.SIGINT, signal.SIG_DFL); "
                      "os.execv(sys.executable, [sys.executable, '-m', 'morvik_viewer'])")


# Each stage of the start, by the library whose loading shows it has begun: Qt's modules,
# the window (Qt's X11 platform), OCP behind it, the 3D view (OCCT's OpenGL driver).
START_STAGES = {"qt": "/libQt6Core.", "window": "/libqxcb.", "occt": "/libTKernel",
                "view": "/libTKOpenGl"}


def loaded(pid, library):
    try:
        with open(f"/proc/{pid}/maps") as maps:
            return library in maps.read()
    except (FileNotFoundError, ProcessLookupError):
        return False


@pytest.mark.parametrize("stage", list(START_STAGES))
def test_ctrl_c_at_any_moment_of_the_start_ends_the_run_quietly(stage):
    # The signal goes once the stage has begun, however slow the machine: sent before the
    # viewer's own code runs, it gets the interpreter's own traceback, which is not ours.
    process = subprocess.Popen([sys.executable, "-c", VIEWER_WITH_CTRL_C], env=xcb_env(),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    began = time.monotonic()
    while not loaded(process.pid, START_STAGES[stage]):
        if process.poll() is not None or time.monotonic() - began > 300:  # never: fail, not hang
            process.kill()
            pytest.fail(f"the start never reached {stage}: {process.communicate()}")
        time.sleep(0.002)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=120)
    assert (process.returncode, out, err) == (130, "", "")


@pytest.fixture(scope="module")
def upright():
    return run_session(SESSION, "upright")


def test_z_up_board_shows_its_face_from_top_and_its_front_from_front(upright):
    assert upright.up_at_start == "z"
    assert upright.trihedron == ["X", "Z", "-Y"]  # the model axes its arrows show
    top = upright.top
    assert close(top.looks, [0, 0, -1]) and close(top.up, [0, 1, 0])
    hue, level = hue_and_level(top.face, BOARD)
    assert hue < 8 and 0.6 < level < 1.2, (top.face, hue, level)
    # The chip lies right of the spot on the board and behind it: right and up on screen.
    assert top.chip[0] > top.board[0] and top.chip[1] < top.board[1]
    front = upright.front
    assert close(front.looks, [0, 1, 0]) and close(front.up, [0, 0, 1])
    assert front.header_top[1] < front.header_foot[1]
    assert upright.pick_chip == "Selected: chip"


def test_switching_the_up_axis_turns_the_shapes_shown_and_is_remembered(upright):
    switched = upright.switched
    # The same presentations, turned back in place: nothing was read again.
    assert switched.same_presentations and switched.turned == [False] * 3
    assert not switched.loading and switched.checked
    assert switched.remembered == switched.next_window == "y"
    assert switched.trihedron == ["X", "Y", "Z"]
    # "Front", the view in force, now looks down on the board as a Y-up model.
    assert close(switched.looks, [0, 0, -1])


def test_view_saved_under_one_up_axis_shows_the_same_picture_under_the_other(upright):
    state = upright.state
    assert state.saved_up == "z" and state.restored
    assert state.moved != state.before  # the switch itself changed the picture
    for after, before in zip(state.after, state.before):
        assert close(after, before, 1.01), state


def test_files_opened_under_z_up_are_turned_as_they_show(upright):
    opened = upright.opened
    assert opened.count == 3 and opened.turned
    assert close(opened.looks, [0, 1, 0])  # still "Front", the board's front edge


GOOD_CAMERA = {"eye": [0, 10, 0], "target": [0, 0, 0], "up": [0, 0, -1], "scale": 5.0,
               "projection": "orthographic"}


@pytest.mark.parametrize("saved, up, camera", [
    ("z", "z", GOOD_CAMERA),  # saved as shown: taken as it is
    ("y", "y", GOOD_CAMERA),
    (None, "y", GOOD_CAMERA),  # saved before the viewer turned models: Y-up
    ("z", "y", dict(GOOD_CAMERA, eye=[0, 0, 10], up=[0, 1, 0])),  # turned back
    (None, "z", dict(GOOD_CAMERA, eye=[0, 0, -10], up=[0, -1, 0])),
    ("y", "z", dict(GOOD_CAMERA, eye=[0, 0, -10], up=[0, -1, 0])),
])
def test_a_saved_camera_is_turned_into_the_frame_shown(saved, up, camera):
    state = {"format": "morvik.view-state", "camera": GOOD_CAMERA, "display_mode": "shaded"}
    if saved is not None:
        state[UP_KEY] = saved
    taken = for_view(state, up)
    assert UP_KEY not in taken and taken["display_mode"] == "shaded"
    assert taken["camera"] == camera
    assert for_view(dict(taken, up_axis=up), saved or "y")["camera"] == GOOD_CAMERA


@pytest.mark.parametrize("camera", [
    "from the left", None, {"eye": [1, 2]}, {"eye": [True, 0, 0]}, {"eye": "xyz"},
])
def test_a_camera_of_any_other_shape_is_left_for_the_service_to_judge(camera):
    taken = for_view({"format": "morvik.view-state", "camera": camera, UP_KEY: "y"}, "z")
    assert taken["camera"] == camera and UP_KEY not in taken


@pytest.mark.parametrize("value", ['"x"', "3", "null", '["z"]'])
def test_a_state_file_naming_no_up_axis_is_refused(tmp_path, value):
    path = tmp_path / "view.json"
    path.write_text(f'{{"format": "morvik.view-state", "{UP_KEY}": {value}}}')
    with pytest.raises(ViewStateError) as error:
        read_state(path)
    assert str(error.value).startswith(f"{path}: not a view state")
