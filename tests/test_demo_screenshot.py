"""Offscreen screenshots: what the PNG shows for each display mode and view."""

import json
import os
import resource
import signal
import socket
import subprocess
import sys

import pytest

from morvik.enums import DisplayMode, ViewDirection
from morvik_viewer.app.cli import main
from morvik_viewer.cad.shapes import sample_parts
from morvik_viewer.model.colors import GRADIENT_BOTTOM, GRADIENT_TOP
from morvik_viewer.window.screenshot import render_screenshot
from pictures import Picture, dark, near, srgb8
from sessions import xcb_env

W, H = 320, 240


@pytest.fixture(scope="module")
def shots(tmp_path_factory):
    folder = tmp_path_factory.mktemp("shots")
    pictures = {}
    for name, mode, direction in (("shaded", DisplayMode.SHADED, ViewDirection.ISO),
                                  ("wireframe", DisplayMode.WIREFRAME, ViewDirection.ISO),
                                  ("both", DisplayMode.BOTH, ViewDirection.ISO),
                                  ("top", DisplayMode.SHADED, ViewDirection.TOP)):
        path = render_screenshot(folder / f"{name}.png", sample_parts(), (W, H), mode, direction)
        pictures[name] = Picture(path)
    return pictures


@pytest.mark.parametrize("corner, colour", [
    ((0, 0), GRADIENT_TOP), ((W - 1, 0), GRADIENT_TOP),
    ((0, H - 1), GRADIENT_BOTTOM), ((W - 1, H - 1), GRADIENT_BOTTOM),
])
def test_corners_carry_the_gradient(shots, corner, colour):
    x, y = corner
    got = shots["shaded"].rows[y][x]
    assert near(got, srgb8(colour), 3), (got, srgb8(colour))


def test_shaded_scene_fills_a_plausible_share(shots):
    assert 0.15 < shots["shaded"].shape_share() < 0.7


def differing(first, second):
    """How many pixels two pictures of one size do not share."""
    return sum(a != b for ra, rb in zip(first.rows, second.rows) for a, b in zip(ra, rb))


def test_wireframe_draws_lines_only_and_the_view_option_changes_the_picture(shots):
    shaded, wire = shots["shaded"], shots["wireframe"]
    assert 0.002 < wire.shape_share() < shaded.shape_share() / 4
    assert differing(shaded, wire) > 0.1 * W * H
    assert differing(shaded, shots["top"]) > 0.1 * W * H


def test_both_draws_dark_boundaries_over_shaded_faces(shots):
    shaded, both = shots["shaded"], shots["both"]
    new_dark = sum(1 for x, y, rgb in both.pixels()
                   if dark(rgb) and not dark(shaded.rows[y][x]) and shaded.is_shape(x, y))
    assert new_dark > 0.004 * W * H
    # The faces themselves stay shaded: the coverage hardly changes.
    assert both.shape_share() == pytest.approx(shaded.shape_share(), abs=0.03)


def test_command_line_writes_the_png(tmp_path, capsys):
    out = tmp_path / "cli.png"
    status = main(["--screenshot", str(out), "--size", "200x150", "--mode", "wireframe",
                   "--view", "front", "--projection", "perspective"])
    assert status == 0
    assert Picture(out).size == (200, 150)
    assert str(out) in capsys.readouterr().out


def test_unwritable_target_fails_cleanly(tmp_path, capsys):
    # The folder and the name are sound (else exit status 2), but OCCT has no
    # writer for the image type.
    status = main(["--screenshot", str(tmp_path / "x.unknown-image-type"), "--size", "64x48"])
    assert status == 1
    assert "cannot write" in capsys.readouterr().err


def run_viewer(*args, file_limit=None):
    """The viewer's command line in a process of its own: a hang fails rather than blocks.
    file_limit, in bytes, is the largest file it may write, as a disk that fills up."""
    def limited():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past it fails with EFBIG
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_limit, file_limit))

    return subprocess.run([sys.executable, "-m", "morvik_viewer", *args], capture_output=True,
                          text=True, timeout=60, env=xcb_env(os.environ["XDG_CONFIG_HOME"]),
                          preexec_fn=limited if file_limit is not None else None)


def _special_target(folder, kind):
    path = folder / f"{kind}.png"
    if kind == "fifo":
        os.mkfifo(path)  # read by someone: the first 64 KB go, then the writer waits for good
    elif kind == "full-disk":
        path.symlink_to("/dev/full")  # every write fails
    elif kind == "folder":
        path.mkdir()
    elif kind == "socket":
        listening = socket.socket(socket.AF_UNIX)
        listening.bind(str(path))
    return path


@pytest.mark.parametrize("kind, told", [("fifo", "is a FIFO"), ("full-disk", "is a device"),
                                        ("folder", "is a folder"), ("socket", "is a socket")])
def test_a_screenshot_onto_a_special_file_is_refused_without_opening_it(tmp_path, kind, told):
    path = _special_target(tmp_path, kind)
    before = sorted(os.listdir(tmp_path))
    run = run_viewer("--screenshot", str(path), "--size", "400x300")
    assert run.returncode == 2, run.stderr[-2000:]
    assert run.stderr.splitlines() == [f"morvik-viewer: error: {path}: {told}, not a regular file"]
    assert "wrote" not in run.stdout and sorted(os.listdir(tmp_path)) == before


def test_a_write_the_disk_refuses_fails_and_leaves_the_old_file(tmp_path):
    old = tmp_path / "old.png"
    old.write_bytes(b"the last picture")
    run = run_viewer("--screenshot", str(old), "--size", "400x300", file_limit=4096)
    assert run.returncode == 1, run.stderr[-2000:]
    assert run.stderr.splitlines() == [
        f"morvik-viewer: error: {old}: cannot write the image (File too large)"]
    assert "wrote" not in run.stdout
    assert os.listdir(tmp_path) == ["old.png"] and old.read_bytes() == b"the last picture"
    # Through a link, the file it names is replaced, the link kept.
    link = tmp_path / "link.png"
    link.symlink_to(old)
    assert run_viewer("--screenshot", str(link), "--size", "64x48").returncode == 0
    assert link.is_symlink() and Picture(old).size == (64, 48)


GOOD_STATE = {"format": "morvik.view-state", "version": 1, "display_mode": "shaded",
              "transparency": 0.0, "background": {"color": [0.1, 0.2, 0.3]},
              "camera": {"eye": [1, 1, 1], "target": [0, 0, 0], "up": [0, 0, 1], "scale": 1.0,
                         "projection": "orthographic"}}
HOSTILE_STATES = {
    "deep": "[" * 200_000 + "]" * 200_000,
    "camera-text": json.dumps(dict(GOOD_STATE, camera="from the left")),
    "no-mode": json.dumps({k: v for k, v in GOOD_STATE.items() if k != "display_mode"}),
    "eye-on-target": json.dumps(dict(GOOD_STATE,
                                     camera=dict(GOOD_STATE["camera"], eye=[0, 0, 0]))),
    "far-scale": json.dumps(dict(GOOD_STATE, camera=dict(GOOD_STATE["camera"], scale=1e40))),
}


def _hostile_state(folder, kind):
    path = folder / f"{kind}.json"
    if kind == "device":
        return "/dev/zero"  # endless
    if kind == "fifo":
        os.mkfifo(path)  # no writer: a blocking open waits forever
    elif kind == "huge":
        path.touch()
        os.truncate(path, 4 << 20)
    else:
        path.write_text(HOSTILE_STATES[kind])
    return str(path)


@pytest.mark.parametrize("window", [False, True], ids=["screenshot", "window"])
@pytest.mark.parametrize("kind", ["device", "fifo", "huge", "deep", "camera-text", "no-mode",
                                  "eye-on-target", "far-scale"])
def test_unusable_view_state_files_are_one_line_and_exit_2(tmp_path, kind, window):
    path = _hostile_state(tmp_path, kind)
    before = sorted(os.listdir(tmp_path))
    picture = tmp_path / "x.png"
    run = run_viewer(*([] if window else ["--screenshot", str(picture), "--size", "64x48"]),
                     "--view-state", path)
    assert run.returncode == 2, run.stderr[-2000:]
    (line,) = run.stderr.splitlines()
    assert line.startswith(f"morvik-viewer: error: {path}: "), line
    assert sorted(os.listdir(tmp_path)) == before  # no picture, no state written over


def test_view_state_with_a_name_near_the_limit_is_saved(tmp_path):
    state = tmp_path / ("v" * 245 + ".json")  # 250 bytes: the limit is 255
    picture = tmp_path / "x.png"
    run = run_viewer("--screenshot", str(picture), "--size", "64x48", "--view-state", str(state))
    assert run.returncode == 0, run.stderr[-2000:]
    assert json.loads(state.read_text())["format"] == "morvik.view-state"
    assert sorted(os.listdir(tmp_path)) == sorted([picture.name, state.name])  # nothing left over


def test_parts_from_a_reader_are_drawn_from_their_own_triangles(tmp_path):
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeSphere
    from OCP.BRepTools import BRepTools
    from OCP.gp import gp_Pnt

    from conftest import box
    from morvik_viewer.cad.shapes import compound
    from morvik_viewer.reader.client import Reader
    from test_demo_loading import face_triangles

    # A small ball beside a long slab: alone, OCCT would mesh the ball far finer.
    model = compound([box(200, 10, 2),
                      BRepPrimAPI_MakeSphere(gp_Pnt(0.0, 0.0, 20.0), 1.0).Shape()])
    path = tmp_path / "model.brep"
    assert BRepTools.Write_s(model, str(path))
    reader = Reader([path])
    parts = reader.read([path])
    before = [face_triangles(part.shape) for part in parts]
    assert reader.deflection > 0 and all(None not in triangles for triangles in before)
    render_screenshot(tmp_path / "x.png", parts, (W, H), DisplayMode.BOTH)
    for part, triangles in zip(parts, before):  # no face meshed again
        assert all(a is b for a, b in zip(face_triangles(part.shape), triangles))


# --- the up axis -----------------------------------------------------------------


def test_z_up_board_seen_from_top_shows_its_face_and_from_y_up_its_edge(tmp_path):
    from demo_window_session import board_parts

    share = {up: Picture(render_screenshot(tmp_path / f"{up}.png", board_parts(), (W, H),
                                           direction=ViewDirection.TOP, up=up)).shape_share()
             for up in ("z", "y")}
    assert share["z"] > 0.3 and share["y"] < share["z"] / 5, share


def test_view_state_saved_under_one_up_axis_renders_the_same_picture_under_the_other(tmp_path):
    state, pictures = tmp_path / "view.json", []
    for up, view in (("y", "iso"), ("z", "top")):  # the second run's --view gives way to the state
        out = tmp_path / f"{up}.png"
        assert main(["--screenshot", str(out), "--size", "160x120", "--view", view,
                     "--view-state", str(state), "--up", up]) == 0
        pictures.append(Picture(out))
    assert json.loads(state.read_text())["up_axis"] == "y"  # written once, by the first run
    # The trihedron, lower left, draws the view's axes, which differ; the models do not.
    first, second = pictures
    models = [(x, y) for x, y, _ in first.pixels() if x > 160 // 3 or y < 120 // 3]
    differing = sum(first.rows[y][x] != second.rows[y][x] for x, y in models)
    assert differing < 0.002 * len(models) and first.shape_share() > 0.1
