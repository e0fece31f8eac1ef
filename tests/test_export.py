"""Exports: a STEP assembly written into every kind of file through the command line and read
back by the viewer with what each format holds; a target that cannot be written told in one
line, with nothing left under its name; File ▸ Export Selection in the real window."""

import os
import re
import resource
import subprocess
import sys
from pathlib import Path

import pytest
from OCP.Bnd import Bnd_Box
from OCP.BRepBndLib import BRepBndLib
from OCP.TopAbs import TopAbs_SOLID

from assemblies import write_assembly, write_board
from conftest import explored
from morvik_viewer.cad.formats import MESH_READERS_BOUND, linear_to_srgb, srgb_to_linear
from morvik_viewer.cad.meshing import Mesher, model_deflection, triangle_count
from morvik_viewer.cad.parts import load_all
from sessions import run_session

SESSION = Path(__file__).with_name("export_session.py")
# What the viewer reads back of each target: names, colours (each part's own, or only
# the set of colours: OBJ's materials come back as its parts), solids, triangles; how
# many parts when not the source's ("one": a file of one mesh).
TARGETS = {
    "out.step": {"names", "colours", "solids"},
    "out.stp": {"names", "colours", "solids"},
    "out.igs": {"colours", "solids"},
    "out.brep": {"solids"},
    "out.gltf": {"names", "colours", "triangles"},
    "out.glb": {"names", "colours", "triangles"},
    "out.stl": {"triangles", "one"},
    "out.obj": {"colour set", "triangles"},
    "out.ply": {"triangles", "one"},
    "out.wrl": {"product colours", "triangles"},
}


def shown(parts):
    """(parts, solids, triangles) as the window shows them: meshed to the model's one
    deflection."""
    mesher = Mesher(model_deflection(part.shape for part in parts))
    mesher.mesh([part.shape for part in parts])
    return (len(parts), sum(len(explored(p.shape, TopAbs_SOLID)) for p in parts),
            sum(triangle_count(part.shape) for part in parts))


def export(*args, **run):
    return subprocess.run([sys.executable, "-m", "morvik_viewer", *map(str, args)],
                          capture_output=True, text=True, timeout=300, **run)


def near(a, b, tol=0.01):
    return a is not None and b is not None and all(abs(x - y) <= tol for x, y in zip(a, b))


def through_srgb_bytes(rgb):
    # OBJ's colours are sRGB in bytes: what a linear colour comes back as.
    return tuple(srgb_to_linear(round(255 * linear_to_srgb(c)) / 255) for c in rgb)


def test_every_target_reads_back_with_what_its_format_holds(tmp_path):
    source = tmp_path / "rig.step"
    write_assembly(source, parts=12, row=6)  # a red bolt among grey ones, a row's colour
    parts = load_all([source])
    count, solids, triangles = shown(parts)
    for name, holds in TARGETS.items():
        out = tmp_path / name
        run = export(source, "--export", out)
        assert run.returncode == 0, (name, run.stderr)
        assert run.stdout.startswith(f"morvik-viewer: wrote {out} (") and not run.stderr, name
        if name.endswith(".wrl") and not MESH_READERS_BOUND:
            continue  # written, but OCP 7.8 reads no VRML
        back = load_all([out])
        got = shown(back)
        assert got[0] == (1 if "one" in holds else
                          len({p.color for p in parts}) - 1 if "colour set" in holds
                          else count), name
        assert got[1] == (solids if "solids" in holds else 0), name
        if "triangles" in holds:  # the triangles the window shows, each one
            assert got[2] == triangles, name
        if "names" in holds:
            assert [p.shape_id for p in back] == [p.shape_id for p in parts], name
        if "colours" in holds:
            for was, now in zip(parts, back):
                # The glTF reader gives one product's placements one mesh, and so the first
                # one's colour: the bolts after the red one (the file holds theirs).
                if not (name.endswith((".gltf", ".glb")) and was.shape_id.startswith("bolt#")):
                    assert was.color == now.color or near(was.color, now.color), (name, was)
        if "colour set" in holds:
            colours = [through_srgb_bytes(p.color) for p in parts if p.color is not None]
            assert all(any(near(c, p.color) for p in back) for c in colours), name
        if "product colours" in holds:  # VRML's writer takes products' colours only
            for was, now in zip(parts, back):
                if was.shape_id.startswith(("plate", "pin")):
                    assert near(was.color, now.color), (name, was)
    leftovers = [p.name for p in tmp_path.iterdir() if p.name.startswith(".")]
    assert not leftovers
    assert {p.name for p in tmp_path.iterdir()} == {"rig.step", *TARGETS, "out.bin", "out.mtl"}


def test_several_files_go_as_one_assembly_each(tmp_path):
    rig, board = tmp_path / "rig.step", tmp_path / "board.step"
    write_assembly(rig, parts=10, row=5)
    write_board(board, parts=10, columns=5)
    parts = load_all([rig, board])
    for name in ("both.step", "both.glb"):
        out = tmp_path / name
        run = export(rig, board, "--export", out)
        assert run.returncode == 0, run.stderr
        back = load_all([out])
        ids = [p.shape_id for p in parts]
        if name.endswith(".glb"):
            # A part of no name opens into its solids (the modules' pins, U1-1...), which
            # a mesh holds none of: one part each.
            ids = [re.sub(r"^(U\d)-\d$", r"\1", i) for i in ids]
            ids = [i for n, i in enumerate(ids) if not (re.fullmatch(r"U\d", i) and i in ids[:n])]
        assert [p.shape_id for p in back] == ids, name
        if name.endswith(".step"):
            # All but the colour styled on one usage of a nested instance (the second
            # module's resistor): XCAFDoc_Editor.Extract copies no such style, and that
            # usage shows its product's colour.
            differ = [p.shape_id for p, q in zip(parts, back) if p.color != q.color]
            assert differ == ["R_0603:2#2"], differ
        tree = export("--tree", out).stdout.splitlines()
        # Under the file's root (and, in the Y-up glTF, the assembly that stands the Z-up
        # files upright), each file's own assembly, named after it, side by side.
        rows = [(len(line) - len(line.lstrip()), line.split()[0]) for line in tree if line]
        level = next(indent for indent, name in rows if name == "rig")
        assert [name for indent, name in rows if indent == level] == ["rig", "board"], tree


def test_a_mesh_goes_into_step_as_triangles_and_never_into_iges(tmp_path):
    source = Path(__file__).with_name("files") / "formats" / "rig.glb"
    parts = load_all([source])
    run = export(source, "--export", tmp_path / "rig.step")
    assert run.returncode == 0, run.stderr
    back = load_all([tmp_path / "rig.step"])  # AP242's tessellated shapes
    assert [p.shape_id for p in back] == [p.shape_id for p in parts]
    assert shown(back)[2] == shown(parts)[2]
    run = export(source, "--export", tmp_path / "rig.igs")
    said = (f"morvik-viewer: error: {tmp_path / 'rig.igs'}: cannot write the IGES file "
            "(IGES holds surfaces, and this model is triangles only)")
    assert run.returncode == 1 and run.stderr.splitlines() == [said]
    assert sorted(os.listdir(tmp_path)) == ["rig.step"]


def _full_disk():
    # Files past 16 KB cannot be written: what a disk that is full does to a writer.
    resource.setrlimit(resource.RLIMIT_FSIZE, (16 << 10, resource.RLIM_INFINITY))


@pytest.mark.parametrize("target, status, why", [
    ("folder.step", 2, "is a folder, not a regular file"),
    ("fifo.step", 2, "is a FIFO, not a regular file"),
    ("out.xyz", 2, "unknown export format (expected .step, "),
    ("/dev/full", 2, "unknown export format"),
    ("full.step", 2, "is a device, not a regular file"),  # a link to /dev/full
    ("gone/out.step", 2, "no such folder"),
    ("kept.step", 1, "cannot write the STEP file"),  # the disk full: the old file stays
    ("kept.glb", 1, "cannot write the GLB file"),
    ("kept.obj", 1, "cannot write the OBJ file"),
])
def test_a_target_that_cannot_be_written_is_one_line_and_leaves_nothing(tmp_path, target,
                                                                         status, why):
    source = tmp_path / "rig.step"
    write_assembly(source, parts=40, row=10)
    (tmp_path / "folder.step").mkdir()
    os.mkfifo(tmp_path / "fifo.step")
    (tmp_path / "full.step").symlink_to("/dev/full")
    before = b"the file as it was"
    if target.startswith("kept"):
        (tmp_path / target).write_bytes(before)
    listing = sorted(os.listdir(tmp_path))
    run = export(source, "--export", target, cwd=tmp_path,
                 preexec_fn=_full_disk if target.startswith("kept") else None)
    assert run.returncode == status, run.stderr
    lines = run.stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith(f"morvik-viewer: error: {target}: "), lines
    assert why in lines[0]
    assert not run.stdout
    assert sorted(os.listdir(tmp_path)) == listing  # no temporary, no companion file
    if target.startswith("kept"):
        assert (tmp_path / target).read_bytes() == before


def test_an_unreadable_file_exports_nothing(tmp_path):
    broken = tmp_path / "broken.step"
    broken.write_text("ISO-10303-21;\nnot a STEP file\n")
    run = export(broken, "--export", tmp_path / "out.glb")
    assert run.returncode == 2 and len(run.stderr.splitlines()) == 1, run.stderr
    assert str(broken) in run.stderr
    assert sorted(os.listdir(tmp_path)) == ["broken.step"]


def centre(shape):
    box = Bnd_Box()
    BRepBndLib.Add_s(shape, box)
    low, high = box.CornerMin(), box.CornerMax()
    return [round((a + b) / 2, 3) for a, b in ((low.X(), high.X()), (low.Y(), high.Y()),
                                               (low.Z(), high.Z()))]


def test_export_selection_writes_the_selected_parts_while_the_window_answers(tmp_path):
    source = tmp_path / "rig.step"
    write_assembly(source, parts=12, row=6)
    parts = {part.shape_id: part for part in load_all([source])}
    chosen = ["bolt", "plate-7", "bolt#2"]  # two placements of one product, across rows
    seen = run_session(SESSION, "selection", source, tmp_path / "picked", *chosen)
    assert sorted(seen.selected) == sorted(chosen)
    assert seen.proposed == str(tmp_path / "rig-selection.step")
    assert seen.message == f"Exported to {tmp_path / 'picked.step'}"  # the filter's suffix
    assert seen.ticks >= 3, seen  # the event loop ran all along the export
    back = load_all([tmp_path / "picked.step"])
    assert [p.shape_id for p in back] == seen.selected  # in the selection's order
    for part in back:  # each with its own colour, where it stood
        was = parts[part.shape_id]
        assert near(part.color, was.color), part.shape_id
        assert centre(part.shape) == pytest.approx(centre(was.shape), abs=0.01), part.shape_id
    assert seen.nothing_selected == "Nothing selected to export"
