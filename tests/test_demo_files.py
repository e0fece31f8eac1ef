"""CAD files in the viewer: STEP and BREP loading, one identifier per solid, clean failures."""

import itertools
import json
import os
import re
import subprocess
import sys
import time

import pytest
from OCP.Bnd import Bnd_Box
from OCP.BRepBndLib import BRepBndLib
from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeFace
from OCP.BRepGProp import BRepGProp
from OCP.BRepPrimAPI import BRepPrimAPI_MakeSphere
from OCP.BRepTools import BRepTools
from OCP.gp import gp_Pln, gp_Pnt
from OCP.GProp import GProp_GProps
from OCP.STEPControl import STEPControl_AsIs, STEPControl_Writer
from OCP.TopAbs import TopAbs_COMPOUND, TopAbs_FACE, TopAbs_SOLID
from OCP.TopExp import TopExp

import assemblies as board
from assemblies import PITCH, SELF_HOLDING_CRASH, SELF_HOLDING_STEP, write_assembly, write_board, write_repeats
from conftest import box
from morvik_viewer.app.cli import main
from morvik_viewer.cad.parts import load_all, load_parts
from morvik_viewer.cad.shapes import compound, top_level_solids
from morvik_viewer.cad.step_labels import ShapeMap, meaningful_name
from morvik_viewer.cad.step_reader import read_step
from morvik_viewer.model.colors import NEUTRAL, PALETTE
from morvik_viewer.model.parts import LoadError, identify
from morvik_viewer.scene.show import display_item


def volume(shape):
    props = GProp_GProps()
    BRepGProp.VolumeProperties_s(shape, props)
    return props.Mass()


def sphere():
    return BRepPrimAPI_MakeSphere(gp_Pnt(50.0, 0.0, 0.0), 5.0).Shape()


def write_step(path, shape):
    writer = STEPControl_Writer()
    writer.Transfer(shape, STEPControl_AsIs)
    writer.Write(str(path))
    return path


@pytest.fixture
def assembly_step(tmp_path):
    # A box and a sphere side by side, the second one nested one compound deeper.
    return write_step(tmp_path / "assembly.step", compound([box(10, 20, 30), compound([sphere()])]))


@pytest.mark.parametrize("files, ids", [
    ({"assembly.step": lambda: compound([box(10, 20, 30), compound([sphere()])])},
     ["assembly-1", "assembly-2"]),  # the second one nested one compound deeper
    ({"bracket.stp": lambda: box(10, 20, 30)}, ["bracket"]),
    ({"pair.brep": lambda: compound([box(10, 20, 30), sphere()])}, ["pair-1", "pair-2"]),
    ({"a/part.step": lambda: box(10, 20, 30), "b/part.step": lambda: box(1, 1, 1)}, ["part", "part#2"]),
], ids=["one per solid", "a single solid takes the file's name", "BREP", "files sharing a name"])
def test_each_solid_is_one_part_named_after_its_file(tmp_path, files, ids):
    written = {tmp_path / name: make() for name, make in files.items()}
    for path, shape in written.items():
        path.parent.mkdir(exist_ok=True)
        assert BRepTools.Write_s(shape, str(path)) if path.suffix == ".brep" else write_step(path, shape)
    parts = load_parts(*written) if len(written) == 1 else load_all(list(written))
    assert [p.shape_id for p in parts] == ids
    assert all(p.shape.ShapeType() == TopAbs_SOLID and p.color is None for p in parts)  # no colours
    assert sum(map(volume, (p.shape for p in parts))) == pytest.approx(
        sum(map(volume, written.values())), rel=1e-6)


def lowest_corner(shape):
    box = Bnd_Box()
    BRepBndLib.Add_s(shape, box)
    corner = box.CornerMin()
    return corner.X(), corner.Y(), corner.Z()


def test_assembly_parts_keep_their_names_colours_and_places(tmp_path):
    # Two rows of six: repeated names, instance and product colours, a row's
    # colour for its uncoloured parts, none at all for others.
    path = tmp_path / "rig.step"
    expected = write_assembly(path, parts=12, row=6)
    parts = load_parts(path)
    assert [p.shape_id for p in parts] == [shape_id for shape_id, _ in expected]
    assert {"bolt#2", "spacer#2"} <= {p.shape_id for p in parts}
    for i, (part, (shape_id, rgb)) in enumerate(zip(parts, expected)):
        assert part.color == (None if rgb is None else pytest.approx(rgb, abs=1e-3)), shape_id
        # Locations compose down the tree: the row's, then the part's in its row.
        row, column = divmod(i, 6)
        x, _, z = lowest_corner(part.shape)
        assert z == pytest.approx(row * PITCH, abs=1e-3), shape_id
        assert column * PITCH - 1.5 - 1e-3 <= x <= column * PITCH + 1e-3, shape_id


def found_in(shape, sub):
    """Whether sub is a sub-shape of shape exactly as TopExp finds it there."""
    shapes = ShapeMap()
    TopExp.MapShapes_s(shape, sub.ShapeType(), shapes)
    index = shapes.FindIndex(sub)
    return index > 0 and shapes.FindKey(index).IsEqual(sub)


def rgb(color):
    return pytest.approx(color, abs=1e-3)


def test_board_parts_take_the_files_names_and_colours(tmp_path):
    path = tmp_path / "controller.step"
    expected = write_board(path, parts=10, columns=5)
    parts = load_parts(path)
    assert [p.shape_id for p in parts] == [shape_id for shape_id, _ in expected]
    by_id = {p.shape_id: p for p in parts}
    for _i, (part, (shape_id, color)) in enumerate(zip(parts, expected)):
        assert part.color == (None if color is None else rgb(color)), shape_id
        # Every sub-colour lies on the placed part, as TopExp finds it there.
        assert all(found_in(part.shape, sub) for sub, _ in part.sub_colors), shape_id
        # Z up: every part lies on the board, the board from z = 0.
        assert lowest_corner(part.shape)[2] >= (0.0 if shape_id == "PCB" else
                                                board.BOARD_THICKNESS) - 1e-6, shape_id

    contacts = by_id["J1"].sub_colors
    assert len(contacts) == board.CONTACT_FACES
    assert {sub.ShapeType() for sub, _ in contacts} == {TopAbs_FACE}
    assert all(color == rgb(board.CONTACT_COLOUR) for _, color in contacts)
    assert all(lowest_corner(sub)[2] >= board.BOARD_THICKNESS + 2.0 - 1e-6 for sub, _ in contacts)

    # Solids first, then the finer face that wins over its solid's colour.
    switch = by_id["SW1"].sub_colors
    assert [sub.ShapeType() for sub, _ in switch] == [TopAbs_SOLID] * 3 + [TopAbs_FACE]
    assert [c for _, c in switch] == [rgb(c) for c in board.SWITCH_COLOURS + (board.LEAD_COLOUR,)]

    assert [c for _, c in by_id["R1"].sub_colors] == [rgb(board.LEAD_COLOUR)] * 2
    assert by_id["C1"].sub_colors == ()  # a face coloured as the whole part is left out
    # An unnamed compound opens into its solids, each with its own colours.
    assert [c for _, c in by_id["U1-1"].sub_colors] == [rgb(board.CONTACT_COLOUR)]
    assert by_id["U1-2"].sub_colors == ()
    # A style set on one usage of a nested instance colours that usage only.
    assert by_id["R_0603:2#2"].color == rgb(board.MARKED_COLOUR)
    assert by_id["R_0603:2"].color == rgb(board.BODY_COLOUR)


@pytest.mark.parametrize("text, top, name", [
    ("R1", None, "R1"), (" C12 ", None, "C12"), ("bolt-2", None, "bolt-2"),
    ("Body1:1", None, "Body1:1"), ("Solid bracket", None, "Solid bracket"),
    ("faceplate", None, "faceplate"), ("pcb 1", "pcb 1", "pcb 1"), ("1048", None, "1048"),
    ("NAUO-frame", None, "NAUO-frame"),
    ("SOLID", None, None), ("compound", None, None), ("Solid1", None, None),
    ("SHELL 2", None, None), ("CompSolid_3", None, None), ("FACE", None, None),
    ("=>[0:1:1:3]", None, None), ("NAUO12", None, None), ("", None, None), ("  ", None, None),
    (None, None, None), ("Open CASCADE STEP translator 7.8 1", None, None),
    ("pcb 1.27.1", "pcb 1", None),
])
def test_names_that_say_nothing_do_not_count(text, top, name):
    assert meaningful_name(text, top) == name
    # An instance's bare number is only its place among its siblings.
    assert meaningful_name(text, top, instance=True) == (None if text == "1048" else name)


def test_products_keep_their_names_and_roots_lose_the_number_after_the_files(tmp_path):
    # A part number names a product; OCCT's writer numbers the usages "1", "2".
    path = tmp_path / "pins.step"
    write_repeats(path, 2, product="1048", top="pins 1")
    assert [p.shape_id for p in load_parts(path)] == ["1048", "1048#2"]
    assert capsys_lines(path) == ["pins  -  2 solids", "  1048  -  1 solid",
                                  "  1048#2  -  1 solid"]
    # Not a number after the file's name: the name stays.
    write_repeats(path, 1, top="pins 1.1")
    assert capsys_lines(path)[0] == "pins 1.1  -  1 solid"


def capsys_lines(path):
    from morvik_viewer.model.file_tree import text_lines
    from morvik_viewer.reader.client import read_trees

    ((rows, error),) = read_trees([str(path)])
    assert error is None
    return list(text_lines(rows))


def test_parts_sharing_a_name_are_numbered_in_linear_time(tmp_path):
    """Thousands of placements of one product: each numbered, at a cost in proportion."""
    count = 2000
    found = {}
    for product in (None, "bolt"):
        path = tmp_path / f"{product or 'row'}.step"
        write_repeats(path, count, product=product)
        found[product] = read_step(str(path))
    # Unnamed: called after the file, each numbered; named: the name, then #2, #3...
    assert [p.shape_id for p in identify(tmp_path / "row.step", found[None])] == [
        f"row-{n}" for n in range(1, count + 1)]
    assert [p.shape_id for p in identify(tmp_path / "bolt.step", found["bolt"])] == [
        "bolt"] + [f"bolt#{n}" for n in range(2, count + 1)]
    bolts = [p.shape_id for p in load_all([tmp_path / "bolt.step", tmp_path / "bolt.step"])]
    assert len(set(bolts)) == 2 * count and bolts[count] == f"bolt#{count + 1}"

    def cost(parts):  # in CPU time, which a busy machine does not stretch
        best = float("inf")
        for _ in range(5):
            began = time.process_time()
            for _ in range(10):
                identify(tmp_path / "bolt.step", parts)
            best = min(best, time.process_time() - began)
        return best

    # Four times the parts: four times the cost (a search of the names taken: sixteen).
    small, large = cost(found["bolt"][:count // 4]), cost(found["bolt"])
    assert large / small < 8, (small, large)


def test_uncoloured_parts_show_grey_unless_a_palette_is_asked_for(tmp_path):
    parts = load_parts(write_step(tmp_path / "pair.step", compound([box(10, 20, 30), sphere()])))
    assert [display_item(p)[2] for p in parts] == [NEUTRAL, NEUTRAL]
    shades = [display_item(p, palette=True)[2] for p in parts]
    assert all(shade in PALETTE for shade in shades) and shades[0] != shades[1]
    assert [display_item(p, palette=True)[2] for p in load_parts(tmp_path / "pair.step")] == shades
    # The file's own colours stay whatever is asked.
    (bolt,) = [p for p in load_parts(write_board(tmp_path / "b.step", parts=1) and
                                     tmp_path / "b.step") if p.shape_id == "PCB"]
    assert display_item(bolt, palette=True)[2] == display_item(bolt)[2] != NEUTRAL


def test_tree_shows_names_colours_and_solids_as_text_and_json(tmp_path, capsys):
    path = tmp_path / "controller.step"
    write_board(path, parts=5, columns=5)
    ids = [p.shape_id for p in load_parts(path)]
    assert main(["--tree", str(path)]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == "controller  -  22 solids  44 coloured sub-shapes"
    # A component its export wraps in an assembly of its own name is listed once.
    assert "  R1  #505050  1 solid  2 coloured sub-shapes" in lines
    assert not [line for above, line in itertools.pairwise(lines) if line.strip() and
                line.split()[0] == above.split()[0]]
    assert "  PCB  #3fa06c  1 solid" in lines  # linear 0.05, 0.35, 0.15 in sRGB
    assert "  J1  #505050  1 solid  30 coloured sub-shapes" in lines
    # An unnamed compound of the module opens into its solids, named as the viewer names them.
    at = lines.index("  U1  -  6 solids  5 coloured sub-shapes")
    assert lines[at + 4:at + 8] == ["    U1  -  3 solids  1 coloured sub-shape",
                                    "      U1-1  #dada7c  1 solid  1 coloured sub-shape",
                                    "      U1-2  #7cdada  1 solid", "      U1-3  #da7cda  1 solid"]

    assert main(["--tree", "--json", str(path)]) == 0
    (line,) = capsys.readouterr().out.splitlines()
    root = json.loads(line)
    assert (root["file"], root["name"], root["color"]) == (str(path), "controller", None)
    leaves, pending = [], [root]
    while pending:
        node = pending.pop()
        assert set(node) >= {"name", "color", "solids", "sub_colors", "children"}
        if node["children"]:
            assert node["solids"] == sum(child["solids"] for child in node["children"])
        else:
            leaves.append(node["name"])
        pending.extend(reversed(node["children"]))
    assert leaves == ids  # every part the viewer shows, once, in its order


def test_tree_reads_without_display_qt_or_occt_and_survives_bad_files(tmp_path):
    """A crash on one file costs that file only; every bad one is told in one line."""
    good = tmp_path / "pair.brep"
    assert BRepTools.Write_s(compound([box(10, 20, 30), compound([sphere()])]), str(good))
    script = ("import sys; from morvik_viewer.app.cli import main; status = main(sys.argv[1:]); "
              "print(sorted({m.split('.')[0] for m in sys.modules} & {'OCP', 'PySide6'})); "
              "sys.exit(status)")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    run = subprocess.run([sys.executable, "-c", script, "--tree", str(SELF_HOLDING_STEP),
                          str(tmp_path / "nowhere.step"), str(good)],
                         capture_output=True, text=True, timeout=120, env=env)
    assert run.returncode == 2
    crashed, missing = run.stderr.splitlines()
    assert told(crashed, SELF_HOLDING_STEP, SELF_HOLDING_CRASH), crashed
    assert missing == f"morvik-viewer: error: {tmp_path / 'nowhere.step'}: no such file"
    # The last line lists the OCP and Qt modules the command line loaded: none.
    assert run.stdout.splitlines() == [
        f"{good}:", "pair  -  2 solids", "  pair-1  -  1 solid", "  (compound)  -  1 solid",
        "    pair-2  -  1 solid", "[]"]


def test_loose_faces_stay_together_beside_the_solids():
    face = BRepBuilderAPI_MakeFace(gp_Pln(), 0.0, 1.0, 0.0, 1.0).Face()
    shapes = top_level_solids(compound([box(10, 20, 30), compound([face, face]), sphere()]))
    assert [s.ShapeType() for s in shapes] == [TopAbs_SOLID, TopAbs_SOLID, TopAbs_COMPOUND]


@pytest.fixture
def bad_files(tmp_path):
    (tmp_path / "garbage.step").write_text("this is not ISO 10303-21\n")
    (tmp_path / "garbage.brep").write_text("nor is this a BREP file\n")
    (tmp_path / "empty.step").write_text("")
    (tmp_path / "model.obj").write_text("v 0 0 0\n")
    (tmp_path / "notes.txt").write_text("a shopping list\n")
    (tmp_path / "garbage.ply").write_text("ply\nformat nonsense\n")
    (tmp_path / "garbage.glb").write_bytes(b"glTF" + bytes(40))
    (tmp_path / "garbage.stl").write_bytes(b"solid x\n" + bytes(10))
    (tmp_path / "garbage.igs").write_text("not an IGES file\n")
    (tmp_path / "folder.step").mkdir()
    # What a clone without git-lfs holds in place of a model.
    pointer = ("version https://git-lfs.github.com/spec/v1\n"
               f"oid sha256:{'4d7a2146' * 8}\nsize 1234567\n")
    for name in ("pointer.step", "pointer.brep", "pointer.stl", "pointer.glb"):
        (tmp_path / name).write_text(pointer)
    return tmp_path


@pytest.mark.parametrize("name, reason", [
    ("missing.step", "no such file"),
    ("garbage.step", "not a readable STEP file"),
    ("empty.step", "not a readable STEP file"),
    ("garbage.brep", "not a readable BREP file"),
    ("model.obj", "the OBJ file holds no triangles"),
    ("notes.txt", "unknown file type"),
    ("garbage.ply", "cannot read PLY data (trimesh: "),
    ("garbage.glb", "not a readable glTF file"),
    ("garbage.stl", "not a readable STL file"),
    ("garbage.igs", "not a readable IGES file"),
    ("folder.step", "not a file"),
    ("pointer.step", "a Git LFS pointer, not the STEP file itself"),
    ("pointer.brep", "a Git LFS pointer, not the BREP file itself"),
    ("pointer.stl", "a Git LFS pointer, not the STL file itself"),
    ("pointer.glb", "a Git LFS pointer, not the glTF file itself"),
])
def test_unusable_file_is_refused_with_a_reason(bad_files, name, reason):
    with pytest.raises(LoadError) as error:
        load_parts(bad_files / name)
    message = str(error.value)
    assert message.startswith(f"{bad_files / name}: ") and reason in message


def test_command_line_renders_a_step_file(assembly_step, tmp_path):
    out = tmp_path / "assembly.png"
    assert main([str(assembly_step), "--screenshot", str(out), "--size", "120x90"]) == 0
    assert out.stat().st_size > 0


@pytest.fixture
def unusable_paths(tmp_path, assembly_step):
    """Names the system or OCCT cannot take, each with the reason the viewer gives."""
    not_utf8 = os.fsdecode(bytes(tmp_path) + b"/part\xff.step")
    os.rename(assembly_step, not_utf8)  # a readable STEP file under that name
    long_name = str(tmp_path / ("x" * 300 + ".step"))
    return {"input, too long": ([long_name], "File name too long"),
            "input, not UTF-8": ([not_utf8], "the name is not valid UTF-8"),
            "output, too long": (["--screenshot", long_name[:-5] + ".png"], "File name too long"),
            "output, not UTF-8": (["--screenshot", not_utf8[:-5] + ".png"], "not valid UTF-8"),
            "output, no folder": (["--screenshot", str(tmp_path / "nowhere/x.png")], "no such folder")}


@pytest.mark.parametrize("case", ["input, too long", "input, not UTF-8", "output, too long",
                                  "output, not UTF-8", "output, no folder"])
def test_unusable_path_exits_2_with_one_line_naming_it(unusable_paths, case, capsys):
    argv, reason = unusable_paths[case]
    assert main(argv + ["--size", "80x60"]) == 2
    (line,) = capsys.readouterr().err.splitlines()
    path = argv[-1]
    assert line.startswith(f"morvik-viewer: error: {os.fsencode(path).decode('utf-8', 'replace')}: ")
    assert reason in line


def told(line, path, why):
    """Whether line is the command line's one error line on path, saying why (a pattern)."""
    return re.fullmatch(re.escape(f"morvik-viewer: error: {path}: ") + why.pattern, line)


@pytest.mark.parametrize("name, why", [
    ("nowhere.step", re.compile("no such file")),
    (SELF_HOLDING_STEP, SELF_HOLDING_CRASH),
], ids=["missing", "crashes its reader"])
def test_unreadable_file_exits_2_with_a_message_and_no_traceback(tmp_path, name, why):
    path = tmp_path / name
    run = subprocess.run([sys.executable, "-m", "morvik_viewer", str(path), "--screenshot",
                          str(tmp_path / "x.png")], capture_output=True, text=True, timeout=120,
                         env=dict(os.environ))
    assert run.returncode == 2
    (line,) = run.stderr.splitlines()
    assert told(line, path, why), line
    assert not (tmp_path / "x.png").exists()
