"""Every format the viewer reads: one model written in each (tests/format_files.py), read
with what its format keeps, told by content where its name is wrong, and through the reader
process; a mesh file's parts are faces that carry triangles and no surface."""

import json
import shutil
import subprocess
import sys

import pytest
from OCP.BRep import BRep_Tool
from OCP.TopAbs import TopAbs_FACE, TopAbs_SOLID
from OCP.TopExp import TopExp_Explorer

from format_files import BLUE, FILES, FOLDER, PARTS, RED
from morvik_viewer.cad.formats import MESH_READERS_BOUND, linear_to_srgb
from morvik_viewer.cad.meshing import Mesher, _face, model_deflection, triangle_count
from morvik_viewer.cad.parts import load_parts
from morvik_viewer.model.file_kinds import MESH_KINDS, MESH_LIBRARY_KINDS, kind_of
from morvik_viewer.model.parts import LoadError
from pictures import Picture

# The model's triangles as OCCT meshed it for the files that hold triangles only.
TRIANGLES = 212
# What each kind holds of the three parts: files of one mesh hold one; an OBJ file, as
# trimesh writes it, one a material.
PART_COUNTS = {"STL": 1, "PLY": 1, "OFF": 1, "OBJ": 2}
UNITS = {"glTF": "m", "VRML": "m"}
UP = {"glTF": "y", "VRML": "y", "3MF": "z"}


def count(shape, kind):
    explorer, found = TopExp_Explorer(shape, kind), 0
    while explorer.More():
        found += 1
        explorer.Next()
    return found


def shown_color(kind, rgb):
    # OBJ's colours are sRGB, as it shows them; trimesh wrote the document's linear ones
    # there unchanged, so the viewer shows what the file says: the same numbers in sRGB.
    if kind in MESH_LIBRARY_KINDS:
        return tuple(linear_to_srgb(c) for c in rgb)
    return rgb


@pytest.mark.parametrize("name", sorted(FILES))
def test_each_format_reads_with_what_it_keeps(name):
    kind, keeps = FILES[name]
    path = FOLDER / name
    assert kind_of(path) == kind
    if kind == "VRML" and not MESH_READERS_BOUND:
        with pytest.raises(LoadError, match=r"reading VRML files needs OCP 7\.9 or newer"):
            load_parts(path)
        return
    header = []
    parts = load_parts(path, [], header)
    assert len(parts) == PART_COUNTS.get(kind, 3)
    assert {part.unit[0] for part in parts} == {UNITS.get(kind, "mm")}
    if header:
        assert header[0].up == UP.get(kind)
    if "names" in keeps:
        assert sorted(part.shape_id for part in parts) == sorted(PARTS)
    if "colours" in keeps:
        # Within what 8 bits a channel keep, through sRGB where the file has it.
        for part in parts:
            shown = shown_color(kind, part.color)
            assert any(all(abs(a - b) < 0.02 for a, b in zip(shown, color))
                       for color in (RED, BLUE)), (part.shape_id, shown)
    solids = sum(count(part.shape, TopAbs_SOLID) for part in parts)
    assert solids == (3 if "solids" in keeps else 0)
    if kind in MESH_KINDS:
        # Faces that carry their triangles and no surface, shown as the file has them.
        assert sum(triangle_count(part.shape) for part in parts) == TRIANGLES
        explorer = TopExp_Explorer(parts[0].shape, TopAbs_FACE)
        assert BRep_Tool.Surface_s(_face(explorer.Current())) is None
    else:
        mesher = Mesher(model_deflection(part.shape for part in parts))
        mesher.mesh([part.shape for part in parts])
        assert all(triangle_count(part.shape) > 0 for part in parts)


@pytest.mark.parametrize("name, copy", [
    ("rig.step", "rig.stl"),  # named wrongly: the content decides
    ("rig.glb", "rig"),       # no suffix at all
    ("rig.stl", "scan.dat"),  # a binary STL, told by its size
    ("rig.ply", "rig.txt"),
    ("rig-ascii.stl", "rig"),
    ("rig.igs", "rig"),
    ("rig.obj", "rig"),
])
def test_a_kind_is_told_by_content_where_the_name_is_wrong(tmp_path, name, copy):
    target = tmp_path / copy
    shutil.copyfile(FOLDER / name, target)
    assert kind_of(target) == FILES[name][0]
    assert len(load_parts(target)) == len(load_parts(FOLDER / name))


def test_mesh_files_without_the_mesh_library_say_how_to_get_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "trimesh", None)  # import trimesh fails
    for name in ("rig.ply", "rig.obj", "rig.3mf", "rig.off"):
        with pytest.raises(LoadError) as error:
            load_parts(FOLDER / name)
        kind = FILES[name][0]
        assert str(error.value) == (f"{FOLDER / name}: reading {kind} files needs the mesh library "
                                    "trimesh (pip install 'morvik-viewer[meshes]')")
    assert len(load_parts(FOLDER / "rig.stl")) == 1  # the other kinds need none


def test_every_format_goes_through_the_reader_process(tmp_path):
    # One --tree run over them all: each file read by a reader, its tree printed.
    names = sorted(name for name in FILES if MESH_READERS_BOUND or FILES[name][0] != "VRML")
    run = subprocess.run([sys.executable, "-m", "morvik_viewer", "--tree", "--json",
                          *(str(FOLDER / name) for name in names)],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    trees = [json.loads(line) for line in run.stdout.splitlines()]
    assert [tree["file"] for tree in trees] == [str(FOLDER / name) for name in names]
    for name, tree in zip(names, trees):
        leaves, pending = [], [tree]
        while pending:
            node = pending.pop()
            pending += node["children"]
            if not node["children"]:
                leaves.append(node)
        assert len(leaves) == PART_COUNTS.get(FILES[name][0], 3), name


def test_a_mesh_file_renders_upright_as_its_format_defines(tmp_path):
    # glTF is Y-up, STEP here Z-up: seen from the front, both show the rig 30 mm wide
    # and 30 mm high (the bracket 10, the pins 20 on it), not 20 mm deep.
    shapes = {}
    for name in ("rig.glb", "rig.step"):
        out = tmp_path / f"{name}.png"
        run = subprocess.run([sys.executable, "-m", "morvik_viewer", str(FOLDER / name),
                              "--screenshot", str(out), "--size", "200x200", "--view", "front"],
                             capture_output=True, text=True, timeout=300)
        assert run.returncode == 0, run.stderr
        picture = Picture(out)
        # Away from the trihedron in the lower left corner.
        hits = [(x, y) for x, y, _ in picture.pixels() if x > 60 or y < 130
                if picture.is_shape(x, y)]
        xs, ys = [x for x, _ in hits], [y for _, y in hits]
        shapes[name] = (max(ys) - min(ys)) / (max(xs) - min(xs))
    # (Lying on its side, the glTF rig would show 20 mm high: two thirds of that.)
    assert shapes["rig.glb"] == pytest.approx(shapes["rig.step"], rel=0.05), shapes
    assert shapes["rig.step"] > 0.9, shapes


def test_a_mesh_is_measured_by_its_triangles():
    from morvik_viewer.tools.measure.measures import measure

    parts = {part.shape_id: part for part in load_parts(FOLDER / "rig.glb")}
    bracket, pin_a, pin_b = (parts[name] for name in PARTS)

    def face(part):
        return TopExp_Explorer(part.shape, TopAbs_FACE).Current()

    own = measure([("bracket", face(bracket))])
    assert [(v.name, round(v.amount, 6)) for v in own.values] == [("Area", 2200.0)]
    assert own.size == pytest.approx((30.0, 10.0, 20.0))  # Y-up: 10 mm high
    # Two pins 16 mm apart, 4 mm in radius: 8 mm between them, and no diameter, which
    # only a surface has.
    pair = measure([("pin-a", face(pin_a)), ("pin-b", face(pin_b))])
    assert [(v.name, round(v.amount, 6)) for v in pair.values] == [("Distance", 8.0)]
    assert all(v.name != "Diameter" for v in measure([("pin-a", face(pin_a))]).values)


# Targets that hold a model's parts as they are; the others hold one mesh (STL, PLY), a
# mesh a material (OBJ) or what their writer makes of them (BREP, IGES, VRML).
KEEP_PARTS = {"STEP", "glTF", "GLB"}
UP_INDEX = {"y": 1, "z": 2}


def shown(parts):
    """(parts, solids, triangles) of parts as the window shows them, meshed to the
    model's one deflection."""
    mesher = Mesher(model_deflection(part.shape for part in parts))
    mesher.mesh([part.shape for part in parts])
    return (len(parts), sum(count(part.shape, TopAbs_SOLID) for part in parts),
            sum(triangle_count(part.shape) for part in parts))


def test_every_format_converts_to_every_other_and_reads_back(tmp_path):
    from morvik_viewer.cad.export import ExportError, read_model, write
    from morvik_viewer.model.exports import MESH_TARGETS, TARGETS
    from morvik_viewer.tools.measure.measures import box_size

    for name, (kind, keeps) in FILES.items():
        if kind == "VRML" and not MESH_READERS_BOUND:
            continue
        source = load_parts(FOLDER / name)
        parts, solids, triangles = shown(source)
        height = box_size([part.shape for part in source])[UP_INDEX[UP.get(kind, "z")]]
        for target, suffixes in TARGETS.items():
            out = tmp_path / f"{name}{suffixes[0]}"
            if target == "IGES" and kind in MESH_KINDS:
                # IGES holds surfaces only: a mesh is refused, in words.
                with pytest.raises(ExportError, match="IGES holds surfaces"):
                    write(read_model([FOLDER / name]), target, str(out))
                continue
            write(read_model([FOLDER / name]), target, str(out))
            if target == "VRML" and not MESH_READERS_BOUND:
                continue  # written, but OCP 7.8 reads no VRML
            read = load_parts(out)
            back = shown(read)
            # Upright in the target as the viewer showed the source: glTF and VRML Y-up.
            up = UP_INDEX["y" if target in ("glTF", "GLB", "VRML") else "z"]
            assert box_size([part.shape for part in read])[up] == pytest.approx(height, abs=1e-3), \
                (name, target)
            if target in MESH_TARGETS:  # the triangles the window shows, each one
                assert back[2] == triangles, (name, target, back)
            if target in KEEP_PARTS:
                assert back[0] == parts, (name, target, back)
            if target in ("STL", "PLY"):
                assert back[0] == 1, (name, target, back)
            if "solids" in keeps and target in ("STEP", "BREP", "IGES"):
                assert back[1] == solids, (name, target, back)
