"""The open-time benchmark's floor (bench/open_time.py): its plain OCP script reads every kind
the viewer opens, the same model as the viewer reads, and draws it; else its ratios compare
the viewer with a script that did less, or nothing."""

import json
import subprocess
import sys
from pathlib import Path

import pytest
from OCP.TopAbs import TopAbs_FACE

from format_files import FILES, FOLDER
from morvik_viewer.cad.formats import MESH_READERS_BOUND
from morvik_viewer.cad.meshing import triangle_count
from morvik_viewer.cad.parts import load_parts
from morvik_viewer.model.file_kinds import MESH_KINDS, OPENABLE
from morvik_viewer.model.parts import LoadError
from test_formats import TRIANGLES, count

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "bench"))
import open_time  # the benchmark's folder is on the path only from here

FLOOR: dict = {}
exec(open_time.READ, FLOOR)


def test_the_floor_has_a_reader_for_every_suffix_the_viewer_opens():
    assert sorted(FLOOR["READERS"]) == sorted(OPENABLE)


@pytest.mark.parametrize("name", sorted(FILES))
def test_the_floor_reads_what_the_viewer_reads(name):
    kind = FILES[name][0]
    if kind == "VRML" and not MESH_READERS_BOUND:  # OCP 7.8: no reader of it to call
        with pytest.raises(LoadError):
            load_parts(FOLDER / name)
        with pytest.raises(AttributeError):
            FLOOR["read"](str(FOLDER / name))
        return
    shapes = FLOOR["read"](str(FOLDER / name))
    parts = load_parts(FOLDER / name)
    if kind in MESH_KINDS:  # the triangles the file holds, every one of them on faces
        assert sum(triangle_count(shape) for shape in shapes) == TRIANGLES
    else:
        assert sum(count(shape, TopAbs_FACE) for shape in shapes) == \
            sum(count(part.shape, TopAbs_FACE) for part in parts)


@pytest.mark.parametrize("name", ["rig.step", "rig.off"])
def test_the_floor_draws_the_model_and_says_so(name):
    # One of OCCT's readers and the mesh library's way: the line the benchmark reads.
    run = subprocess.run([sys.executable, "-c", open_time.PLAIN, str(FOLDER / name), "320", "240"],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    said = [line for line in run.stdout.splitlines() if line.startswith(open_time.MARK)]
    report = json.loads(said[-1][len(open_time.MARK):])
    assert report["triangles"] > 0 and report["rss_mb"] > 0
    if name == "rig.off":
        assert report["triangles"] == TRIANGLES
