"""The Hidden Line display mode and the exploded view: on real OCCT scenes, in state files,
on the command line, and in a real xcb window driven like a user.

Run as a script (`python test_display_extras.py`) this file is the window's session: it
drives the window and reports what it saw (see sessions.py).
"""

import json
from pathlib import Path

import pytest

from conftest import box
from morvik_viewer.model.up_axis import Y_UP, Z_UP, to_view
from sessions import click_at, open_window, report, run_session, run_sessions, settle, wait_until

# Two boxes 3.5 apart along X (as the measure tool's tests place them): the scene's centre
# lies halfway, so at 100% each moves 6.75 away from it along X.
GAP, SIDE = 3.5, 10.0
FULL_MOVE = (SIDE + GAP) / 2
# The model corner an iso view (from +X, -Y, +Z under Z-up) looks past: a box's three
# edges from there are hidden behind its faces; the three from the opposite corner show.
BACK_EDGES = ((5.0, 10.0, 0.0), (0.0, 5.0, 0.0), (0.0, 10.0, 5.0))
FRONT_EDGES = ((10.0, 5.0, 10.0), (5.0, 0.0, 10.0), (10.0, 0.0, 5.0))


# --- hidden lines on a real scene ---------------------------------------------------------


def box_scene(mode="wireframe", kind="solid"):
    """A red box seen iso, Z-up, in a virtual window, set up as the viewer sets its own;
    kind "mesh" gives it as a mesh file would, triangles without surfaces."""
    from morvik.enums import DisplayMode, ViewDirection
    from morvik_viewer.view.fit import fit_view
    from morvik_viewer.view.graphics import create_viewer3d, start_scene
    from morvik_viewer.view.look import style_shapes
    from morvik_viewer.view.upright import turn_shapes

    viewer3d = create_viewer3d(size=(400, 300))
    service = viewer3d.service
    start_scene(service, Z_UP, mode=DisplayMode(mode))
    shape = box(SIDE, SIDE, SIDE) if kind == "solid" else mesh_box()
    service.display_shapes([(shape, "box", (1.0, 0.0, 0.0))], False)
    style_shapes(service)
    turn_shapes(service, Z_UP)
    service.set_projection(ViewDirection.ISO)
    fit_view(service)
    return viewer3d


def mesh_box():
    """The box as one face of its triangles, sharp at its edges, as an STL file reads."""
    import tempfile

    from OCP.BRep import BRep_Builder
    from OCP.BRepMesh import BRepMesh_IncrementalMesh
    from OCP.RWStl import RWStl
    from OCP.StlAPI import StlAPI_Writer
    from OCP.TopoDS import TopoDS_Face

    from morvik_viewer.cad.formats import CREASE_ANGLE

    solid = box(SIDE, SIDE, SIDE)
    BRepMesh_IncrementalMesh(solid, 0.1)
    with tempfile.TemporaryDirectory() as folder:
        StlAPI_Writer().Write(solid, f"{folder}/box.stl")
        face = TopoDS_Face()
        BRep_Builder().MakeFace(face, RWStl.ReadFile_s(f"{folder}/box.stl", CREASE_ANGLE))
    return face


def lines_near(viewer3d, points, radius=2):
    """How many pixels around where each model point shows are the box's red lines."""
    from pictures import view_pixels

    pixels = view_pixels(viewer3d.view).astype(int)
    counts = []
    for point in points:
        x, y = viewer3d.view.Convert(*to_view(Z_UP, point))
        patch = pixels[y - radius:y + radius + 1, x - radius:x + radius + 1]
        counts.append(int((patch[..., 0] - patch[..., 1:].max(axis=2) > 80).sum()))
    return counts


@pytest.mark.parametrize("kind", ["solid", "mesh"])
def test_hidden_lines_leave_out_a_box_s_back_edges_and_come_back(kind):
    from morvik_viewer.view.hidden_line import hide_lines, lines_hidden
    from morvik_viewer.view.look import style_shapes

    # OCCT's hidden-line algorithm draws nothing of a face without a surface: a mesh
    # shows its own lines over its triangles filled in the background's colour.
    viewer3d = box_scene(kind=kind)
    service = viewer3d.service
    assert all(lines_near(viewer3d, BACK_EDGES + FRONT_EDGES)), "wireframe draws every edge"
    assert hide_lines(service, True) and not hide_lines(service, True)  # once
    assert lines_hidden(viewer3d.view)
    assert lines_near(viewer3d, BACK_EDGES) == [0, 0, 0]
    assert all(lines_near(viewer3d, FRONT_EDGES))
    style_shapes(service)  # as a load's later batch, or F5, shows shapes anew
    service.redraw()
    assert lines_near(viewer3d, BACK_EDGES) == [0, 0, 0]
    assert all(lines_near(viewer3d, FRONT_EDGES))
    # The service draws wireframe the while, as the toolbar says.
    assert service.get_display_mode().value == "wireframe"
    assert hide_lines(service, False) and not lines_hidden(viewer3d.view)
    assert all(lines_near(viewer3d, BACK_EDGES))


def triangles(shape):
    from OCP.BRep import BRep_Tool
    from OCP.TopLoc import TopLoc_Location
    from OCP.TopoDS import TopoDS

    from conftest import faces

    as_face = getattr(TopoDS, "Face_s", None) or TopoDS.Face
    found = [BRep_Tool.Triangulation_s(as_face(face), TopLoc_Location()) for face in faces(shape)]
    return sum(0 if mesh is None else mesh.NbTriangles() for mesh in found)


def test_hidden_lines_come_from_the_triangles_the_reader_meshed():
    from OCP.BRepMesh import BRepMesh_IncrementalMesh
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeCylinder
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt

    from morvik_viewer.cad.meshing import keep_triangles
    from morvik_viewer.view.hidden_line import hide_lines

    viewer3d = box_scene()
    # A small part meshed to a large model's deflection, as the reader meshes it, keeps its
    # triangles: its lines are computed from them, not from a mesh fitted to its own size.
    pin = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 0, 0), gp_Dir(0, 0, 1)), 0.5, 2.0).Shape()
    BRepMesh_IncrementalMesh(pin, 0.2, False, 0.5)
    keep_triangles(viewer3d.context, 0.2)
    viewer3d.service.display_shape(pin, "pin", None, False)
    meshed = triangles(pin)
    assert hide_lines(viewer3d.service, True)
    assert triangles(pin) == meshed
    # The box carried none: it is meshed as the shaded mode would, and its lines drawn.
    assert triangles(box_scene_box(viewer3d)) > 0 and all(lines_near(viewer3d, FRONT_EDGES))
    auto = viewer3d.context.DefaultDrawer().IsAutoTriangulation
    assert not auto()
    hide_lines(viewer3d.service, False)
    assert auto()  # as it was: the shaded mode meshes what it must


def box_scene_box(viewer3d):
    return viewer3d.service.get_shape_info("box").ais_shape.Shape()


def test_a_drag_draws_plain_wireframe_only_where_hidden_lines_cost_more_than_a_frame(monkeypatch):
    from morvik_viewer.view import hidden_line
    from morvik_viewer.view.look import set_camera_moving

    viewer3d = box_scene()
    view = viewer3d.view
    hidden_line.hide_lines(viewer3d.service, True)
    # One box computes in far less than the budget: its lines stay hidden through a drag.
    set_camera_moving(view, True)
    assert view.ComputedMode()
    set_camera_moving(view, False)
    # A scene that computes slower than the budget waits for the camera to rest.
    monkeypatch.setattr(hidden_line, "LIVE_BUDGET_S", -1.0)
    set_camera_moving(view, True)
    assert not view.ComputedMode() and hidden_line.lines_hidden(view)
    set_camera_moving(view, False)
    assert view.ComputedMode()
    assert lines_near(viewer3d, BACK_EDGES) == [0, 0, 0]  # computed for the camera there
    # Shown again during a drag, the lines stay shown when it ends.
    set_camera_moving(view, True)
    hidden_line.hide_lines(viewer3d.service, False)
    set_camera_moving(view, False)
    assert not view.ComputedMode() and not hidden_line.lines_hidden(view)
    monkeypatch.undo()
    # Lines chosen while the scene was small are judged at the size it grew to.
    hidden_line.hide_lines(viewer3d.service, True)
    assert not hidden_line.costly(view)
    viewer3d.service.display_shapes([(box(1, 1, 1, (2.0 * i, 0, 20)), f"more-{i}", None)
                                     for i in range(200)], False)
    assert hidden_line.costly(view)


# --- the view state and its files ---------------------------------------------------------


def test_the_view_state_keeps_hidden_lines_over_wireframe_only(qapp):
    from morvik_viewer.model.view_state import ViewState

    state, changes = ViewState(), []
    state.changed.connect(lambda name: changes.append((name, getattr(state, name))))
    steps = [("hidden", [("display_mode", "wireframe"), ("hidden_line", True)]),
             # Another mode takes the lines back first, and so the service draws them.
             ("shaded", [("hidden_line", False), ("display_mode", "shaded")]),
             ("hidden", [("display_mode", "wireframe"), ("hidden_line", True)]),
             ("wireframe", [("hidden_line", False)]),
             ("hidden", [("hidden_line", True)]), ("hidden", [])]
    for choice, expected in steps:
        state.choose_display_mode(choice)
        assert changes == expected, choice
        assert state.display_choice == choice
        changes.clear()
    state.display_mode = "both"  # the toolbar's choice leaves hidden lines too
    assert changes == [("hidden_line", False), ("display_mode", "both")]
    assert ViewState(hidden_line=True, display_mode="shaded").display_choice == "hidden"
    for value, error in (("glossy", ValueError), (None, ValueError)):
        with pytest.raises(error):
            state.choose_display_mode(value)
    for value, error in ((101, ValueError), (-0.5, ValueError), (float("nan"), ValueError),
                         (True, TypeError), ("40", TypeError)):
        with pytest.raises(error):
            state.explode = value
    assert (state.display_choice, state.explode) == ("both", 0.0)


def test_state_files_keep_hidden_lines_and_the_explosion_and_old_ones_still_read(tmp_path, service, qapp):
    from morvik.enums import DisplayMode
    from morvik_viewer.model.view_state import (
        ViewState,
        ViewStateError,
        for_service,
        for_view,
        noted,
        own_values,
        read_state,
        refusal,
        write_state,
    )

    # Hidden lines go over wireframe alone.
    assert noted(service.get_view_state(), hidden_line=True)["display_mode"] == "shaded"
    service.set_display_mode(DisplayMode.WIREFRAME)
    path = tmp_path / "state.json"
    write_state(path, noted(service.get_view_state(), hidden_line=True, explode=40), Z_UP)
    saved = json.loads(path.read_text())
    assert (saved["display_mode"], saved["explode"]) == ("hidden", 40.0)
    restored = for_view(read_state(path), Z_UP)
    assert own_values(restored) == (True, 40.0)
    assert for_service(restored)["display_mode"] == "wireframe"
    assert "explode" not in for_service(restored)
    assert refusal(service, restored) is None  # the service takes it, in wireframe
    state = ViewState()
    state.take_view(service.get_view_state(), restored)
    assert (state.display_choice, state.explode) == ("hidden", 40.0)
    assert state.noted(service.get_view_state())["display_mode"] == "hidden"

    # A file saved before either: its own display mode, the explosion as given.
    old = tmp_path / "old.json"
    old.write_text(json.dumps({**service.get_view_state(), "display_mode": "shaded"}))
    assert own_values(read_state(old), True, 25.0) == (False, 25.0)
    state.take_view(service.get_view_state(), read_state(old))
    assert (state.hidden_line, state.explode) == (False, 40.0)
    # An explosion of no use is no view state; a display mode nobody knows the service refuses.
    for bad in (150, -1, "40", True, None, float("nan")):
        path.write_text(json.dumps({**service.get_view_state(), "explode": bad}))
        with pytest.raises(ViewStateError, match="explode"):
            read_state(path)
    path.write_text(json.dumps({**service.get_view_state(), "display_mode": "glossy"}))
    assert refusal(service, read_state(path)) is not None
    assert noted(None) is None


# --- the command line ------------------------------------------------------------------------


def test_command_line_hidden_mode_and_explosion_render_and_keep_their_state(tmp_path, capsys):
    from morvik_viewer.app.cli import main
    from pictures import Picture
    from test_demo_screenshot import run_viewer

    def shot(name, *args):
        out = tmp_path / f"{name}.png"
        run = run_viewer("--screenshot", str(out), "--size", "320x240", *args)
        assert run.returncode == 0, run.stderr[-2000:]
        return Picture(out)

    wire, hidden = shot("wire", "--mode", "wireframe"), shot("hidden", "--mode", "hidden")
    # Lines still, but not the same: back edges go, the round shapes' outlines come.
    assert hidden.shape_share() > 0.005
    assert sum(a != b for ra, rb in zip(wire.rows, hidden.rows) for a, b in zip(ra, rb)) > 0.01 * 320 * 240
    plain, exploded = shot("plain"), shot("exploded", "--explode", "80")
    # Framed whole again, the parts spread over more room show smaller.
    assert exploded.shape_share() < 0.8 * plain.shape_share()
    state = tmp_path / "state.json"
    first = shot("first", "--mode", "hidden", "--explode", "80", "--view-state", str(state))
    saved = json.loads(state.read_text())
    assert (saved["display_mode"], saved["explode"]) == ("hidden", 80.0)
    # The state file wins over the options, as for the camera: the same picture.
    again = shot("again", "--mode", "shaded", "--explode", "0", "--view-state", str(state))
    assert again.rows == first.rows
    capsys.readouterr()
    for bad in (["--explode", "-1"], ["--explode", "101"], ["--explode", "nan"],
                ["--explode", "ten"], ["--mode", "glossy"]):
        with pytest.raises(SystemExit) as exit_status:
            main(["--screenshot", str(tmp_path / "bad.png"), *bad])
        assert exit_status.value.code == 2, bad
    assert not (tmp_path / "bad.png").exists()
    assert "--explode" in capsys.readouterr().err


# --- the explosion on a real scene -------------------------------------------------------


def test_the_explosion_moves_parts_out_keeps_its_moves_through_turns_and_undoes_exactly(service):
    from morvik_viewer.view.explode import Explosion
    from morvik_viewer.view.upright import move_of, placement, turn_shapes

    corners = {"a": (0.0, 0.0, 0.0), "b": (30.0, 0.0, 0.0), "c": (0.0, 0.0, 40.0)}
    service.display_shapes([(box(SIDE, SIDE, SIDE, at), name, None)
                            for name, at in corners.items()], False)
    turn_shapes(service, Z_UP)
    explosion = Explosion(service)
    explosion.learn()
    assert explosion.centre() == pytest.approx((20.0, 5.0, 25.0))  # the scene's box
    centres = {name: tuple(c + SIDE / 2 for c in at) for name, at in corners.items()}
    ais = {name: service.get_shape_info(name).ais_shape for name in corners}

    def moves():
        found = {}
        for name, shape in ais.items():
            move = move_of(shape)
            found[name] = (0.0, 0.0, 0.0) if move is None else \
                move.Transformation().TranslationPart().Coord()
        return found

    for share in (100.0, 50.0, 37.5):
        explosion.place(share, Z_UP)
        for name, move in moves().items():
            expected = [(c - s) * share / 100 for c, s in zip(centres[name], (20.0, 5.0, 25.0))]
            assert move == pytest.approx(expected, abs=1e-9), (share, name)
    # The location is the turn after the move: the box shows where the turned model would, moved.
    shown = ais["b"].LocalTransformation()
    assert shown.TranslationPart().Coord() == pytest.approx(to_view(Z_UP, (5.625, 0.0, -7.5)))
    before = moves()
    for up in (Y_UP, Z_UP):  # the up axis turns, the parts stay moved in the model's frame
        turn_shapes(service, up)
        after = moves()
        assert all(after[name] == pytest.approx(before[name], abs=1e-9) for name in before), up
    explosion.place(0.0, Z_UP)
    turn = placement(Z_UP).Transformation()
    for shape in ais.values():
        located = shape.LocalTransformation()
        assert all(located.Value(r, c) == turn.Value(r, c) for r in (1, 2, 3) for c in (1, 2, 3, 4))
    # A shape shown since is a scene it does not know.
    assert explosion.knows_scene()
    service.display_shape(box(), "d", None, False)
    assert not explosion.knows_scene()


# --- the window --------------------------------------------------------------------------------


@pytest.fixture(scope="module")
def seen():
    return run_session(__file__, quiet=True)


def test_menus_keys_and_toolbar_agree_on_hidden_lines(seen):
    hidden = {"state": ["wireframe", True], "toolbar": "wireframe", "service": "wireframe",
              "computed": True, "checked": ["hidden"]}
    assert seen.menu_hidden == hidden
    # The toolbar's Shaded leaves hidden lines.
    assert seen.toolbar_shaded == {"state": ["shaded", False], "toolbar": "shaded",
                                   "service": "shaded", "computed": False, "checked": ["shaded"]}
    assert seen.key_l == hidden
    assert seen.menu_wireframe == {**hidden, "state": ["wireframe", False], "computed": False,
                                   "checked": ["wireframe"]}
    assert seen.key_b == {"state": ["both", False], "toolbar": "both", "service": "both",
                          "computed": False, "checked": ["both"]}
    assert seen.status == "Display mode: Hidden Line"


def test_slider_moves_are_coalesced_and_move_each_part_away_from_the_centre(seen):
    assert seen.dock and seen.coalesced["label"] == "100%"
    assert 1 <= seen.coalesced["steps"] <= 3, seen.coalesced  # twenty moves in one turn
    assert seen.moved == {"left": pytest.approx([-FULL_MOVE, 0, 0], abs=1e-9),
                          "right": pytest.approx([FULL_MOVE, 0, 0], abs=1e-9)}


def test_picking_and_measuring_follow_the_moved_parts(seen):
    # The right box's top where it moved to; where it stood, nothing now.
    assert seen.picks == ["Selected: right", "Selected: left", ""]
    assert seen.measured["full"] == pytest.approx(GAP + 2 * FULL_MOVE, abs=1e-9)
    assert seen.measured["half"] == pytest.approx(GAP + FULL_MOVE, abs=1e-9)  # measured anew
    assert "Distance: 17 mm" in seen.measured["text"]


def test_a_slider_drag_waits_to_compute_costly_hidden_lines_where_it_ends(seen):
    assert seen.slider_drag == {"paused": True, "computed": True, "explode": 60.0}


def test_reload_keeps_hidden_lines_and_the_explosion_and_zero_undoes_it_exactly(seen):
    assert seen.reloaded == {"explode": 50.0, "hidden": True, "computed": True,
                             "moved": pytest.approx([FULL_MOVE / 2, 0, 0], abs=1e-9)}
    assert seen.back_exactly is True


def test_parts_a_load_shows_take_the_explosion_from_the_final_centre(seen):
    # Three boxes of one file at (0, 0, 0), (20, 0, 0) and (0, 20, 0): centre (15, 15, 5).
    moves = sorted([round(c, 9) + 0.0 for c in move] for move in seen.loaded)
    assert moves == [[-10, -10, 0], [-10, 10, 0], [10, -10, 0]]


def test_the_start_options_show_hidden_lines_and_the_explosion(seen):
    assert seen.started == {"choice": "hidden", "computed": True, "explode": 40.0,
                            "moved": pytest.approx([FULL_MOVE * 0.4, 0, 0], abs=1e-9)}


# --- the session ---------------------------------------------------------------------------------


def _parts():
    from morvik_viewer.model.colors import PALETTE
    from morvik_viewer.model.parts import Part

    return [Part("left", box(SIDE, SIDE, SIDE), PALETTE[0]),
            Part("right", box(SIDE, SIDE, SIDE, at=(SIDE + GAP, 0, 0)), PALETTE[1])]


def _moved(service, shape_id):
    from morvik_viewer.view.upright import move_of

    move = move_of(service.get_shape_info(shape_id).ais_shape)
    return [0.0, 0.0, 0.0] if move is None else list(move.Transformation().TranslationPart().Coord())


def _shown(window):
    state, view = window.state, window.viewer3d.view
    return {"state": [state.display_mode, state.hidden_line],
            "toolbar": window.toolbar.get_display_mode(),
            "service": window.service.get_display_mode().value,
            "computed": bool(view.ComputedMode()),
            "checked": [v for v, a in window.display_mode_actions.items() if a.isChecked()]}


def _three_boxes(folder):
    from OCP.BRepTools import BRepTools

    from morvik_viewer.cad.shapes import compound

    path = Path(folder) / "three.brep"
    BRepTools.Write_s(compound([box(SIDE, SIDE, SIDE, at) for at in
                                ((0, 0, 0), (20, 0, 0), (0, 20, 0))]), str(path))
    return path


def main():
    import tempfile

    from PySide6.QtCore import Qt
    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QComboBox

    from morvik_viewer.view import hidden_line
    from morvik_viewer.view.graphics import create_viewer3d
    from morvik_viewer.view.upright import placement
    from morvik_viewer.window.main_window import ViewerWindow

    app, window = open_window(_parts(), (1000, 700), focus=True)
    widget, state, out = window.view_widget, window.state, {}

    def computed():
        return bool(window.viewer3d.view.ComputedMode())

    window.display_mode_actions["hidden"].trigger()
    wait_until(computed)
    out["menu_hidden"], out["status"] = _shown(window), window.statusBar().currentMessage()
    display = next(c for c in window.toolbar.findChildren(QComboBox) if c.findData("shaded") >= 0)
    QTest.keyClick(display, Qt.Key_Down)  # wireframe -> shaded, as a user would
    wait_until(lambda: window.service.get_display_mode().value == "shaded")
    out["toolbar_shaded"] = _shown(window)
    widget.setFocus()
    QTest.keyClick(widget, Qt.Key_L)
    wait_until(computed)
    out["key_l"] = _shown(window)
    window.display_mode_actions["wireframe"].trigger()
    settle(app)
    out["menu_wireframe"] = _shown(window)
    QTest.keyClick(widget, Qt.Key_L)
    wait_until(computed)
    QTest.keyClick(widget, Qt.Key_B)
    wait_until(lambda: window.service.get_display_mode().value == "both")
    out["key_b"] = _shown(window)
    QTest.keyClick(widget, Qt.Key_S)
    wait_until(lambda: window.service.get_display_mode().value == "shaded")

    QTest.keyClick(widget, Qt.Key_E)
    settle(app)
    tool = window.explode
    out["dock"] = tool.dock_widget().isVisible()
    steps = tool.steps
    for value in range(5, 101, 5):  # twenty moves before the event loop turns
        tool.panel.slider.setValue(value)
    wait_until(lambda: state.explode == 100.0)
    settle(app)
    out["coalesced"] = {"steps": tool.steps - steps, "label": tool.panel.label.text()}
    out["moved"] = {name: _moved(window.service, name) for name in ("left", "right")}
    widget.setFocus()
    top = SIDE
    out["picks"] = [click_at(window, to_view(Z_UP, (SIDE + GAP + FULL_MOVE + 5, 5, top)), settle_ms=30),
                    click_at(window, to_view(Z_UP, (5 - FULL_MOVE, 5, top)), settle_ms=30),
                    click_at(window, to_view(Z_UP, (SIDE + GAP + 2, 5, top)), settle_ms=30)]
    QTest.keyClick(widget, Qt.Key_M)
    settle(app)
    click_at(window, to_view(Z_UP, (2 - FULL_MOVE, 5, top)), settle_ms=30)
    click_at(window, to_view(Z_UP, (SIDE + GAP + FULL_MOVE + 8, 5, top)), settle_ms=30)

    def distance():
        return next(v.amount for v in window.measure.measurement.values if v.name == "Distance")

    measured = {"full": distance(), "text": window.measure.text}
    state.explode = 50.0
    measured["half"] = distance()
    out["measured"] = measured
    QTest.keyClick(widget, Qt.Key_Escape)
    settle(app)

    state.choose_display_mode("hidden")
    wait_until(computed)
    budget, hidden_line.LIVE_BUDGET_S = hidden_line.LIVE_BUDGET_S, -1.0  # lines costlier than a frame
    slider = tool.panel.slider
    slider.setSliderDown(True)
    paused = not computed()
    slider.setValue(60)
    slider.setSliderDown(False)
    out["slider_drag"] = {"paused": paused, "computed": computed(), "explode": state.explode}
    hidden_line.LIVE_BUDGET_S = budget
    state.explode = 50.0
    QTest.keyClick(widget, Qt.Key_F5)  # the parts shown again, as they were
    settle(app, 200)
    out["reloaded"] = {"explode": state.explode, "hidden": state.hidden_line, "computed": computed(),
                       "moved": _moved(window.service, "right")}
    state.explode = 0.0
    turn = placement(Z_UP).Transformation()
    out["back_exactly"] = all(
        located.Value(r, c) == turn.Value(r, c) for name in ("left", "right")
        for located in [window.service.get_shape_info(name).ais_shape.LocalTransformation()]
        for r in (1, 2, 3) for c in (1, 2, 3, 4))

    state.explode = 100.0
    window.open_files([_three_boxes(tempfile.mkdtemp())])
    wait_until(lambda: window.scenes.load is None and window.service.get_shape_count() == 3, 20)
    settle(app)
    out["loaded"] = [_moved(window.service, name) for name in window.service.get_all_shapes()]
    window.close()

    second = ViewerWindow(create_viewer3d())
    second.resize(800, 600)
    second.show()
    second.start(_parts(), mode="hidden", explode=40.0)
    QTest.qWaitForWindowExposed(second)
    wait_until(lambda: bool(second.viewer3d.view.ComputedMode()))
    settle(app)
    out["started"] = {"choice": second.state.display_choice,
                      "computed": bool(second.viewer3d.view.ComputedMode()),
                      "explode": second.state.explode, "moved": _moved(second.service, "right")}
    second.close()
    return report(out)


if __name__ == "__main__":
    run_sessions({}, main)
