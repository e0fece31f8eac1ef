"""Offscreen screenshots: what the PNG shows for each display mode and view."""

import pytest
from pictures import Picture, dark, near, srgb8

from morvik_viewer.cli import main
from morvik_viewer.scene import sample_parts
from morvik_viewer.screenshot import render_screenshot
from morvik_viewer.viewer import GRADIENT_BOTTOM, GRADIENT_TOP
from morvik.enums import DisplayMode, ViewDirection

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


def test_wireframe_draws_lines_only(shots):
    shaded, wire = shots["shaded"], shots["wireframe"]
    assert 0.002 < wire.shape_share() < shaded.shape_share() / 4
    differing = sum(a != b for ra, rb in zip(shaded.rows, wire.rows) for a, b in zip(ra, rb))
    assert differing > 0.1 * W * H


def test_both_draws_dark_boundaries_over_shaded_faces(shots):
    shaded, both = shots["shaded"], shots["both"]
    new_dark = sum(1 for x, y, rgb in both.pixels()
                   if dark(rgb) and not dark(shaded.rows[y][x]) and shaded.is_shape(x, y))
    assert new_dark > 0.004 * W * H
    # The faces themselves stay shaded: the coverage hardly changes.
    assert both.shape_share() == pytest.approx(shaded.shape_share(), abs=0.03)


def test_view_option_changes_the_picture(shots):
    iso, top = shots["shaded"], shots["top"]
    differing = sum(a != b for ra, rb in zip(iso.rows, top.rows) for a, b in zip(ra, rb))
    assert differing > 0.1 * W * H


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
