"""The viewer window's view tools end to end: section plane, view cube, zoom to selection,
isolate and Save Image, driven like a user in a real xcb window (demo_section_session.py);
and the plane's arithmetic and the cube's setting on their own."""

import json
import os
from pathlib import Path

import pytest

from conftest import make_scene
from morvik_viewer.model.up_axis import Y_UP, Z_UP
from morvik_viewer.model.view_state import for_view
from morvik_viewer.tools.section.panel import AXES, controls_for, plane_for
from sessions import new_config, run_session
from test_demo_window import close

SESSION = Path(__file__).with_name("demo_section_session.py")


@pytest.fixture(scope="module")
def config():
    """One settings folder for the session and the window started after it."""
    return new_config()


@pytest.fixture(scope="module")
def session(config):
    return run_session(SESSION, config=config)


@pytest.fixture(scope="module")
def section(session):
    return session.section


def test_section_plane_hides_one_side_of_the_scene_and_flip_the_other(section):
    on, before, flipped = section.on, section.before.halves, section.flipped
    # On, across the model's Z (the height of the Z-up sample), halfway up its box: the
    # torus reaches 6 below the ground and the cylinder 40 above it.
    assert on.shown and on.checked and on.active and AXES[on.axis] == "z"
    assert on.offset == pytest.approx(17.0, abs=0.5) and on.label.startswith("Z = 1")
    # Seen from the front, what lies above the cut is gone and what lies below stays.
    above, below = on.halves
    assert above < 0.01 * before[0] and below > 0.7 * before[1], (on, before)
    # The view's up is the model's Z: the service keeps the side the normal points to.
    assert close(on.plane.normal, [0, -1, 0]) and on.plane.capping
    assert on.plane.origin[1] == pytest.approx(on.offset)
    above, below = flipped.halves
    assert below < 0.01 * before[1] and above > 0.7 * before[0], (flipped, before)
    assert close(flipped.plane.normal, [0, 1, 0])
    # Turned off, the plane goes.
    assert section.before.plane is None


def test_capping_fills_the_cut_with_a_flat_face(section):
    # From the top, the sphere cut across its middle: capped, one flat face of one shade;
    # open, its hollow inside, shaded from rim to bottom.
    spread = section.spread
    assert spread.capped < 2 and spread.open > 8, spread


def test_slider_moves_while_a_frame_draws_move_the_plane_once_to_the_last(section):
    assert section.coalesced == {"planes": 1, "slider": 190, "position": 0.19}


def test_a_saved_view_carries_the_plane_and_restoring_it_shows_the_panel(section):
    restored = section.restored
    # Saved across the model's X, at 30% with capping off; then the panel was turned off
    # and its controls moved.
    assert restored.saved == {"shown": True, "checked": True, "active": True, "axis": 0,
                                 "slider": 300, "flip": False, "capping": False}
    assert section.off.plane is None and not section.off.shown
    assert restored.now == restored.saved
    assert restored.plane == restored.saved_plane
    # F5 keeps the plane and the panel.
    assert section.reloaded == {"now": restored.saved, "plane": restored.saved_plane}
    # A state without a plane turns the panel off.
    without = section.restored_without
    assert not (without.shown or without.checked or without.active)
    assert without.plane is None


@pytest.fixture(scope="module")
def restarted(session, config):
    return run_session(SESSION, "restarted", config=config)


def test_view_cube_replaces_the_trihedron_and_lasts(session, restarted):
    cube = session.view_cube
    # The trihedron's coloured arrows in the lower left corner, then the cube in their place.
    assert cube.off.primary > 20 and cube.off.drawn < 1000, cube.off
    on = cube.on
    assert on.corner.primary == 0 and on.corner.drawn > 3000, on
    assert on.checked and on.remembered == "true"
    assert cube.reloaded == on.corner  # F5
    assert restarted.checked and restarted.corner.primary == 0  # the next run
    assert restarted.corner.drawn > 3000
    # Turned off, the trihedron is back.
    assert cube.back_off.primary > 20 and cube.back_off.drawn < 1000


def test_clicking_a_side_of_the_view_cube_turns_the_camera_to_it(session):
    cube = session.view_cube
    assert cube.sides == ["V3d_Xpos", "V3d_Ypos", "V3d_Zpos"]  # seen from ISO
    for name, click in cube.clicks.items():
        assert close(click.direction, click.expected), (name, click)
        assert click.selection == ["sphere"]  # the click selected nothing
    # Its axes are named after the model's, as the trihedron's are.
    assert {up: seen.axes for up, seen in cube.up_axes.items()} == {
        "y": ["X", "Y", "Z"], "z": ["X", "Z", "-Y"]}
    assert all(seen.corner.primary == 0 for seen in cube.up_axes.values())


def test_zoom_to_selection_isolate_and_show_all(session):
    tools = session.selection
    assert tools.picked == "Selected: sphere"
    zoom = tools.zoom
    assert zoom.after < 0.5 * zoom.before  # the height shown
    assert all(abs(c) < 0.02 for c in zoom.sphere_from_centre), zoom
    # Each record's flag, the service's answer and the screen agree.
    assert tools.isolated == {shape_id: [shape_id == "sphere"] * 3
                                 for shape_id in tools.isolated}
    assert tools.isolated_count == "5 shapes, 4 hidden"
    assert tools.shown == {shape_id: [True] * 3 for shape_id in tools.shown}
    assert tools.shown_count == tools.isolate_nothing == "5 shapes"


def test_save_image_writes_what_the_view_shows_at_the_size_chosen(session):
    images = session.images
    assert images.sized == [320, 200, True]
    assert images.jpeg == [160, 100, True]
    whole = images.whole
    assert whole.size == whole.view and whole.differing < 0.01, whole
    assert images.dialog_default == images.view_size
    assert images.dialog == [200, 150]  # a name without an ending became a PNG
    told = [refused.told for refused in images.refused]
    assert all(refused.result is None for refused in images.refused)
    assert [len(messages) for messages in told] == [1] * 8
    assert "folder does not exist" in told[0][0] and "PNG" in told[1][0]
    assert "0x10" in told[2][0] and "100000x10" in told[3][0]
    assert "folder does not exist" in told[4][0] and "Not an image size" in told[5][0]
    assert "is a FIFO" in told[6][0] and "is a device" in told[7][0]
    assert images.left == ["fifo.png", "full.png", "small.jpg", "small.png", "typed.png",
                              "whole.png"]  # no temporary left behind
    # The dialog proposes the folder used last, and a name after the file shown.
    assert images.dialog_path == os.path.join(images.folder, "view.png")


def test_save_image_proposes_the_last_folder_and_the_files_name(tmp_path):
    from morvik_viewer.window.save_image import proposed_path

    (tmp_path / "images").mkdir()
    part, gone = str(tmp_path / "part.step"), str(tmp_path / "gone" / "part.step")
    assert proposed_path([part], str(tmp_path / "images")) == str(tmp_path / "images/part.png")
    assert proposed_path([part, "b.brep"], "") == str(tmp_path / "part.png")  # beside the file
    assert proposed_path([gone], "", str(tmp_path)) == str(tmp_path / "part.png")  # open's
    assert proposed_path([], str(tmp_path / "gone")) == str(Path.home() / "view.png")


# --- the plane's arithmetic, and what is kept, without a window ------------------------

BOX = ((-10.0, -20.0, 0.0), (30.0, 20.0, 4.0))


@pytest.mark.parametrize("up", [Z_UP, Y_UP])
@pytest.mark.parametrize("axis", [0, 1, 2])
@pytest.mark.parametrize("flipped", [False, True])
def test_the_panel_reads_back_each_plane_it_gives(up, axis, flipped):
    origin, normal = plane_for(BOX, axis, 0.25, flipped, up)
    assert sorted(abs(c) for c in normal) == [0, 0, 1]
    assert controls_for(BOX, origin, normal, up) == (axis, pytest.approx(0.25), flipped)


@pytest.mark.parametrize("origin, normal, expected", [
    ((0, 0, 0), (0, 0, 0), None),  # no direction
    ((0, 0, 0), (1, 1, 0), None),  # along no model axis
    ((0, 0, 0), (float("nan"), 0, 1), None),
    ("here", (0, 1, 0), None),
    ((0, 0, 0), None, None),
    ((0, 0, 0), (0, 1, 0, 5), None),
    ((0, 99, 0), (0, -2, 0), (2, 1.0, False)),  # past the box: clamped, any length
    ((0, float("nan"), 0), (0, 1, 0), (2, 0.5, True)),
])
def test_a_plane_the_panel_cannot_show_leaves_it_alone(origin, normal, expected):
    assert controls_for(BOX, origin, normal, Z_UP) == expected


def test_a_saved_plane_is_turned_into_the_frame_shown():
    plane = {"origin": [1, 2, 3], "normal": [0, 1, 0], "capping": False}
    state = {"format": "morvik.view-state", "clip_plane": plane, "up_axis": "z"}
    # Saved under Z-up (view Y is the model's Z), shown under Y-up: the same model plane.
    turned = for_view(state, "y")["clip_plane"]
    assert turned == {"origin": [1, -3, 2], "normal": [0, 0, 1], "capping": False}
    assert for_view(dict(state, up_axis="y"), "y")["clip_plane"] == plane
    for odd in (None, "plane", {"origin": "x", "normal": [0, 1]}):
        assert for_view(dict(state, clip_plane=odd), "y")["clip_plane"] == odd


def test_a_saved_plane_cuts_the_same_picture_under_either_up_axis(tmp_path):
    from morvik_viewer.app.cli import main
    from pictures import Picture

    state, size = tmp_path / "view.json", ["--size", "320x240"]
    assert main(["--screenshot", str(tmp_path / "whole.png"), *size,
                 "--view-state", str(state)]) == 0  # saved under Z-up, without a plane
    saved = json.loads(state.read_text())
    assert saved["clip_plane"] is None and saved["up_axis"] == "z"
    # What lies above the model's Z = 17 (the view's Y under Z-up) is cut away.
    saved["clip_plane"] = {"origin": [0, 17, 0], "normal": [0, -1, 0], "capping": True}
    state.write_text(json.dumps(saved))
    cut = {}
    for up in ("z", "y"):
        out = tmp_path / f"{up}.png"
        assert main(["--screenshot", str(out), *size, "--view-state", str(state),
                     "--up", up]) == 0
        cut[up] = Picture(out)
    whole = Picture(tmp_path / "whole.png")
    # Away from the trihedron, lower left, which draws the view's own axes.
    models = [(x, y) for x, y, _ in whole.pixels() if x > 120 or y < 240 - 120]
    differing = sum(cut["z"].rows[y][x] != cut["y"].rows[y][x] for x, y in models)
    assert differing < 0.002 * len(models)
    assert cut["z"].shape_share() < 0.85 * whole.shape_share()


@pytest.mark.parametrize("stored, on", [
    (None, False), ("true", True), ("false", False), ("yes", False), ("1", False),
])
def test_the_view_cube_setting_takes_only_its_own_words(tmp_path, stored, on):
    from PySide6.QtCore import QSettings

    from morvik_viewer.app.settings import VIEW_CUBE, load, store

    settings = QSettings(str(tmp_path / "viewer.conf"), QSettings.IniFormat)
    if stored is not None:
        settings.setValue(VIEW_CUBE.key, stored)
    assert load(settings, VIEW_CUBE) is on
    store(settings, VIEW_CUBE, not on)
    assert load(settings, VIEW_CUBE) is (not on)


def _fitted(graphic_driver, parts, direction, cube):
    """How a fit shows parts from direction in a 900x600 view, the view cube on or off:
    the camera's scale, where shapes show, and the corner the cube takes (or would)."""
    from demo_section_session import shape_mask
    from morvik.services.scenard import Scenard
    from morvik_viewer.scene.show import show_parts
    from morvik_viewer.view.fit import cube_corner, fit_view
    from morvik_viewer.view.graphics import start_scene
    from morvik_viewer.view.upright import turn_shapes
    from morvik_viewer.view.view_cube import find_view_cube, show_view_cube
    from pictures import view_pixels

    scene = make_scene(graphic_driver, size=(900, 600))
    service = Scenard(scene.view, scene.viewer, scene.context)
    start_scene(service, Z_UP)
    show_parts(service, parts, update=False)
    turn_shapes(service, Z_UP, [part.shape_id for part in parts])
    show_view_cube(service, True)
    reach = round(cube_corner(scene.view, find_view_cube(scene.context))[2])
    show_view_cube(service, cube)
    service.set_projection(direction)
    fit_view(service)
    service.set_view_cube(False)  # the shapes alone, as the fit left them
    scene.view.TriedronErase()
    mask = shape_mask(view_pixels(scene.view, (900, 600)))
    return scene.view.Camera().Scale(), mask, mask[-reach:, :reach]


def test_a_fit_leaves_the_view_cubes_corner_free(graphic_driver):
    from conftest import box
    from morvik.enums import ViewDirection
    from morvik_viewer.cad.shapes import sample_parts
    from morvik_viewer.model.parts import Part

    # A board seen from above fills the view, its corners too: with the cube, it keeps
    # out of the cube's corner and still fills most of the view.
    board = [Part("board", box(160, 100, 2), (0.1, 0.5, 0.1))]
    _, bare, covered = _fitted(graphic_driver, board, ViewDirection.TOP, False)
    _, shown, corner = _fitted(graphic_driver, board, ViewDirection.TOP, True)
    assert covered.sum() > 1000 and corner.sum() == 0, (covered.sum(), corner.sum())
    assert shown.sum() > 0.5 * bare.sum()
    # A scene clear of the corner already is fitted as without the cube.
    for direction in (ViewDirection.ISO, ViewDirection.FRONT):
        without, *_ = _fitted(graphic_driver, sample_parts(), direction, False)
        with_cube, _, corner = _fitted(graphic_driver, sample_parts(), direction, True)
        assert with_cube == pytest.approx(without) and corner.sum() == 0
