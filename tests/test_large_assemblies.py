"""Assemblies as CAD systems write them, where a few products are placed many times: each
product travels to the window once and is shared by its placements, which are still
hidden, coloured, picked and measured one by one; and what a reader read is kept for the
next open of the same files, never trusted blindly and bounded in size."""

import os
from pathlib import Path

import pytest

from assemblies import write_assembly
from morvik_viewer.reader import cache, client
from morvik_viewer.reader.client import Reader
from morvik_viewer.tools.measure.measures import measure
from racks import GOLD, INSTANCE_RED, write_racks


@pytest.fixture(scope="module")
def racks(tmp_path_factory):
    path = tmp_path_factory.mktemp("racks") / "cabinet.step"
    placed = write_racks(path, racks=2, slots=3, designs=2, components=14, products=6, pins=4)
    return path, placed


def read(paths, folder=None, limit=1 << 30):
    """The parts a reader sends for paths, keeping what it read in folder when given."""
    before = client.CACHE
    client.CACHE = None if folder is None else {"folder": str(folder), "limit": limit}
    try:
        reader = Reader([os.fspath(p) for p in paths], fork=False)
        parts = reader.read()
        return parts, reader.heard.shared.shapes
    finally:
        client.CACHE = before


def test_placements_share_their_products_and_stay_apart_in_the_scene(racks, service):
    from OCP.AIS import AIS_Shape
    from OCP.Quantity import Quantity_Color

    from morvik_viewer.scene.show import show_parts

    path, placed = racks
    parts, shared = read([path])
    assert len(parts) == placed
    # Five levels from the cabinet down: rack, board, module, part.
    assert any(p.shape_id.startswith("U1#") for p in parts)
    # Each product (and each board design's printed board) travels once.
    assert len(shared) == 6 + 2
    def near(a, b):
        return a is not None and a == pytest.approx(b, abs=1e-6)

    assert sum(near(p.color, INSTANCE_RED) for p in parts) >= 2
    assert any(near(rgb, GOLD) for p in parts for _, rgb in p.sub_colors)

    show_parts(service, parts, update=False)
    one, other = [p for p in parts if p.shape.IsPartner(parts[1].shape)][:2]
    context = service.get_context()
    first, second = (service.get_shape_info(p.shape_id).ais_shape for p in (one, other))
    service.set_shape_visibility(one.shape_id, False)
    service.set_shape_color(second, (0.0, 0.0, 1.0))
    assert not service.is_shape_visible(one.shape_id)
    assert service.is_shape_visible(other.shape_id)
    assert not context.IsDisplayed(first) and context.IsDisplayed(second)
    blue, grey = (Quantity_Color() for _ in range(2))
    second.Color(blue)
    first.Color(grey)
    assert (blue.Red(), blue.Blue()) == (0.0, 1.0) and grey.Blue() < 1.0
    assert isinstance(second, AIS_Shape)
    assert service.get_shape_id_for_ais_shape(second) == other.shape_id
    # Each placement measures where it lies: the same size, boxes apart.
    a, b = measure([(one.shape_id, one.shape)]), measure([(other.shape_id, other.shape)])
    assert a.size == pytest.approx(b.size)
    assert one.shape.Location().Transformation().TranslationPart().Subtracted(
        other.shape.Location().Transformation().TranslationPart()).Modulus() > 1.0



def test_placements_are_picked_one_by_one_over_their_products_shared_triangles(
        racks, service, qtbot):
    """A load makes each placement pickable over its product's triangles, shared by every
    placement and computed once: each is picked on its own, where it lies, as the whole
    shape it places, and not once hidden."""
    from OCP.Select3D import Select3D_SensitivePrimitiveArray

    from morvik_viewer.scene.loading import SceneLoad

    path, placed = racks
    ended = []
    load = SceneLoad(service, [path])
    load.finished.connect(ended.append)
    load.start()
    qtbot.waitUntil(lambda: len(ended) == 1, timeout=120000)
    assert ended[0].state == "done" and len(ended[0].shown) == placed
    infos = [service.get_shape_info(i) for i in ended[0].shown]
    product = infos[-1].ais_shape.Shape()
    same = [info for info in infos if info.ais_shape.Shape().IsPartner(product)]
    assert len(same) >= 2
    view, context = service.get_view(), service.get_context()
    for info in same[:2]:
        service.isolate_shapes([info.shape_id])
        service.fit_all()
        centre = [v // 2 for v in view.Window().Size()]
        shape_id, picked = service.pick_detail(*centre)
        assert shape_id == info.shape_id
        assert picked.IsEqual(info.ais_shape.Shape())
        context.MoveTo(*centre, view, False)  # what the pick went by: the shared triangles
        assert isinstance(context.MainSelector().PickedEntity(1), Select3D_SensitivePrimitiveArray)
        service.set_shape_visibility(info.shape_id, False)
        assert service.pick(*centre) is None


def entries(folder):
    return sorted(folder.glob(f"*{cache.SUFFIX}"), key=lambda p: p.stat().st_mtime)


def summary(parts):
    from morvik_viewer.cad.meshing import triangle_count

    return [(p.shape_id, p.color, len(p.sub_colors), triangle_count(p.shape)) for p in parts]


def test_a_file_read_again_comes_from_the_cache_till_it_changes(tmp_path, racks):
    folder, path = tmp_path / "answers", tmp_path / "rig.step"
    write_assembly(path, 12, 6)
    first, _ = read([path], folder)
    (entry,) = entries(folder)
    # A file read before: the same parts, with the triangles the reader made then.
    os.utime(entry, (1, 1))
    again, _ = read([path], folder)
    assert summary(again) == summary(first)
    assert entry.stat().st_mtime > 1  # used now: the last to go
    # Changed under the same name: read again, and kept apart.
    write_assembly(path, 7, 6)
    changed, _ = read([path], folder)
    assert len(changed) == 7 and len(entries(folder)) == 2
    # Switched off, nothing is kept or read.
    plain, _ = read([racks[0]], None)
    assert len(plain) == racks[1] and len(entries(folder)) == 2


def test_a_damaged_or_foreign_entry_is_dropped_and_the_file_read(tmp_path):
    from morvik_viewer.reader.protocol import Count, Parts, encode

    folder, path = tmp_path / "answers", tmp_path / "rig.step"
    write_assembly(path, 6, 6)
    expected = summary(read([path], folder)[0])
    (entry,) = entries(folder)
    sound = entry.read_bytes()
    name = entry.name.removesuffix(cache.SUFFIX)

    def foreign(frames):
        """An entry with a head and digest of its own that holds frames."""
        written = cache.Cache(folder, 1 << 30).writer(name)
        for frame in frames:
            written.add(frame)
        written.finish()

    damaged = [sound[:len(sound) // 2],  # cut short
               sound[:300] + bytes([sound[300] ^ 1]) + sound[301:],  # one bit turned
               b"not an entry at all"]
    for data in damaged:
        entry.write_bytes(data)
        assert summary(read([path], folder)[0]) == expected
        assert entry.read_bytes() == sound  # the file read again, and kept anew
    shapes = b"\x00" * 64 + os.urandom(4096)  # no BREP data OCCT could read
    made_up = [[encode(Count(1)), encode(Parts(["x"], [None], places=[[1, 0]], body=shapes))],
               [encode(Count(2)), encode(Parts(["x"], [None], places=[[1, 0]]))],  # counts off
               [encode(Count(1)), encode(Parts(["x"], [None], places=[[7, 0]]))]]  # no shape 7
    for frames in made_up:
        foreign(frames)
        assert summary(read([path], folder)[0]) == expected
        assert entry.read_bytes() == sound


def test_the_cache_keeps_to_its_size_dropping_what_was_used_longest_ago(tmp_path):
    folder = tmp_path / "answers"
    paths = [tmp_path / f"rig-{n}.step" for n in range(4)]
    for n, path in enumerate(paths):
        write_assembly(path, 6, 6 - n)  # as large as one another, give or take a row
    read([paths[0]], folder)
    (oldest,) = entries(folder)
    size = oldest.stat().st_size
    limit = int(2.2 * size)
    for path in paths[1:]:
        read([path], folder, limit)
        assert sum(p.stat().st_size for p in entries(folder)) <= limit
    kept = {p.name for p in entries(folder)}
    assert len(kept) == 2 and oldest.name not in kept
    # An answer larger than the whole cache is not kept, and leaves no piece behind.
    big = tmp_path / "big.step"
    write_assembly(big, 40, 10)
    read([big], folder, size // 2)
    assert {p.name for p in folder.iterdir()} <= kept


def test_an_entry_is_written_whole_or_not_at_all(tmp_path, monkeypatch):
    folder = tmp_path / "answers"
    written = cache.Cache(folder, 1 << 20).writer("0" * 40)
    written.add(b"frame")
    assert not entries(folder)  # under a name of its own till finished
    written.drop()
    assert not list(folder.iterdir())
    # A folder that cannot be made keeps nothing, and the read goes on.
    blocked = tmp_path / "file"
    blocked.write_text("")
    assert cache.Cache(blocked / "answers", 1 << 20).writer("0" * 40) is None
    path = tmp_path / "rig.step"
    write_assembly(path, 3, 3)
    assert len(read([path], blocked / "answers")[0]) == 3
    assert Path(blocked).read_text() == ""


def test_a_read_past_the_readers_memory_bound_is_told_as_too_large(racks, monkeypatch):
    from morvik_viewer.model.parts import LoadError

    monkeypatch.setattr(client, "MEMORY", 1 << 20)
    with pytest.raises(LoadError, match=r"cabinet\.step: too large to read within the "
                                        r"reader's memory bound of 1 MB \(the settings'"):
        read([racks[0]])
    monkeypatch.setattr(client, "MEMORY", 1 << 30)
    assert len(read([racks[0]])[0]) == racks[1]
    # Kept to one core, as the settings' reader/cores can ask, from its first word on.
    monkeypatch.setattr(client, "CORES", 1)
    reader = Reader([os.fspath(racks[0])], fork=False)
    assert reader.receive() and len(os.sched_getaffinity(reader.pid)) == 1
    assert len(reader.read()) == racks[1]


def test_the_settings_say_what_readers_keep_and_may_take(monkeypatch):
    from morvik_viewer.app import start
    from morvik_viewer.app.settings import CACHE, CACHE_MB, READER_CORES, READER_MB, open_settings, store

    monkeypatch.setattr(client, "CACHE", None)
    monkeypatch.setattr(client, "MEMORY", 7 << 30)
    monkeypatch.setattr(client, "CORES", None)
    settings = open_settings()
    try:
        store(settings, CACHE_MB, 5)
        store(settings, READER_MB, 100)
        start.use_settings()
        assert client.CACHE["limit"] == 5 << 20
        assert Path(client.CACHE["folder"]).parts[-2:] == ("morvik-viewer", "answers")
        assert (client.MEMORY, client.CORES) == (100 << 20, None)
        store(settings, READER_CORES, 1)
        start.use_settings(no_cache=True)
        assert (client.CACHE, client.CORES) == (None, 1)
        start.use_settings(cores=3)  # the command line's --reader-cores
        assert client.CORES == 3
        # Switched off, and a bound that is no number: nothing kept, the default bound.
        store(settings, CACHE, False)
        settings.setValue(READER_MB.key, "lots")
        client.MEMORY = 7 << 30
        start.use_settings()
        assert (client.CACHE, client.MEMORY) == (None, 7 << 30)
    finally:
        for row in (CACHE, CACHE_MB, READER_MB, READER_CORES):
            settings.remove(row.key)
