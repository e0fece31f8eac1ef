"""The model tree: each file's tree from the reader to the window's dock, check boxes that
show and hide, the search, the selection both ways and the context menu.

The dock itself runs here, over a real service; the window runs in a session of its
own under X (python test_demo_tree.py FOLDER), as test_demo_window.py runs it.
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest
from assemblies import SELF_HOLDING_STEP, write_board

from morvik_viewer.reading import Heard, encode
from morvik_viewer.tree import FileTree

SAMPLE = ["box", "cylinder", "sphere", "cone", "torus"]
# A file's tree: "gone" is not registered, "loose" is registered but in no tree.
ROWS = [[0, "top"], [1, "A"], [2, "a1"], [2, "a2"], [1, "B"], [2, "b1"], [2, "gone"],
        [1, "empty"]]
PARTS = [2, 3, 5, 6]


def listed(tree):
    """(depth, name, check state) of the rows the dock shows (searched, open), depth first."""
    from PySide6.QtCore import QModelIndex, Qt

    rows, pending = [], [(QModelIndex(), -1)]
    while pending:
        parent, depth = pending.pop()
        if parent.isValid():
            rows.append((depth, parent.data(), Qt.CheckState(parent.data(Qt.CheckStateRole))))
            if not tree.view.isExpanded(parent):
                continue
        pending += reversed([(tree.proxy.index(r, 0, parent), depth + 1)
                             for r in range(tree.proxy.rowCount(parent))])
    return rows


def names(tree):
    return [(depth, name) for depth, name, _ in listed(tree)]


def row(tree, name):
    """The view's index of the first row called name."""
    from PySide6.QtCore import Qt

    (index, *_) = tree.proxy.match(tree.proxy.index(0, 0), Qt.DisplayRole, name, 1,
                                   Qt.MatchExactly | Qt.MatchRecursive)
    return index


def selected_in_scene(service):
    context, ids = service.get_context(), []
    context.InitSelected()
    while context.MoreSelected():
        ids.append(service.get_shape_id_for_ais_shape(context.SelectedInteractive()))
        context.NextSelected()
    return ids


@pytest.fixture
def dock(qtbot, service, make_box):
    from morvik_viewer.model_tree import ModelTree

    for i, shape_id in enumerate(["a1", "a2", "b1", "loose"]):
        service.display_shape(make_box(at=(3.0 * i, 0.0, 0.0)), shape_id, None, False)
    tree = ModelTree()
    qtbot.addWidget(tree)
    tree.attach(service)
    tree.show()
    tree.show_scene([FileTree("f.step", "/models/f.step", ROWS, PARTS)],
                    list(service.get_all_shapes()))
    yield tree
    tree.attach(None)  # pytest keeps a fixture's widget: it must not keep the service too


def test_check_boxes_show_and_hide_parts_and_follow_the_service(dock, service):
    from PySide6.QtCore import Qt
    from PySide6.QtTest import QTest

    on, off, partly = Qt.Checked, Qt.Unchecked, Qt.PartiallyChecked
    # Assemblies without a registered part go; registered parts no tree holds follow flat.
    assert listed(dock) == [(0, "f.step", on), (1, "top", on), (2, "A", on), (2, "B", on),
                            (0, "loose", on)]
    dock.proxy.setData(row(dock, "a1"), off, Qt.CheckStateRole)  # as a click on its box does
    assert not service.is_shape_visible("a1") and service.is_shape_visible("a2")
    assert [state for _, _, state in listed(dock)] == [partly, partly, partly, on, on]
    dock.proxy.setData(row(dock, "top"), off, Qt.CheckStateRole)  # the whole assembly
    assert [service.is_shape_visible(i) for i in ("a1", "a2", "b1", "loose")] == [
        False, False, False, True]
    dock.proxy.setData(row(dock, "A"), on, Qt.CheckStateRole)
    assert [state for _, _, state in listed(dock)] == [partly, partly, on, off, on]
    # Shown elsewhere: the boxes follow within one look.
    service.set_shape_visibility("b1", True)
    with_poll = time.perf_counter()
    while dock._states[5] != on:  # B's
        QTest.qWait(20)
        assert time.perf_counter() - with_poll < 2, listed(dock)
    assert [state for _, _, state in listed(dock)] == [on] * 5


def test_search_keeps_the_ancestors_of_matches_open(dock):
    dock.search.setText("A1")
    assert names(dock) == [(0, "f.step"), (1, "top"), (2, "A"), (3, "a1")]
    dock.search.setText("b")  # "B" and "b1", any case
    assert names(dock) == [(0, "f.step"), (1, "top"), (2, "B"), (3, "b1")]
    dock.search.setText("nothing like it")
    assert names(dock) == []
    dock.search.setText("")
    assert names(dock) == [(0, "f.step"), (1, "top"), (2, "A"), (2, "B"), (0, "loose")]


def test_selection_goes_both_ways_and_the_menu_isolates_and_shows(dock, service):
    from PySide6.QtCore import QItemSelectionModel, Qt
    from PySide6.QtTest import QTest

    picked = []
    dock.picked.connect(picked.append)
    select = dock.view.selectionModel()
    select.setCurrentIndex(row(dock, "A"), QItemSelectionModel.ClearAndSelect)
    assert selected_in_scene(service) == ["a1", "a2"] and picked == ["a1"]
    dock.select_ids(["b1"], "b1")  # as the view's selection changed: no echo back
    assert [dock._node(i) for i in select.selectedRows()] == [6] and picked == ["a1"]
    assert dock.view.isExpanded(row(dock, "B"))  # opened to show it
    service.fit_all()
    scale = service.get_view().Scale()
    at = dock.view.visualRect(row(dock, "b1")).center()
    for click in (QTest.mouseClick, QTest.mouseDClick):  # a double click, as Qt gets one
        click(dock.view.viewport(), Qt.LeftButton, Qt.NoModifier, at)
    assert service.get_view().Scale() > 1.5 * scale  # fitted to the one box selected

    menu = dock.context_menu(row(dock, "A"))
    assert [a.text() for a in menu.actions() if a.text()] == ["Isolate", "Hide", "Show All"]
    menu.actions()[0].trigger()
    assert [service.is_shape_visible(i) for i in ("a1", "a2", "b1", "loose")] == [
        True, True, False, False]
    menu = dock.context_menu(row(dock, "B"))
    assert [a.text() for a in menu.actions() if a.text()] == ["Isolate", "Show", "Show All"]
    menu.actions()[-1].trigger()
    assert all(info.visible for info in service.get_all_shapes().values())
    assert {state for _, _, state in listed(dock)} == {Qt.Checked}


# What a reader may send in place of a tree: every one is dropped, and the window lists
# the file's parts flat.
BAD_HEADS = [
    {}, {"file": "f", "path": "f", "rows": [[0, "a"]]},
    {"file": 3, "path": "f", "rows": [[0, "a"]], "parts": [0]},
    {"file": "f", "path": "f", "rows": "rows", "parts": [0]},
    {"file": "f", "path": "f", "rows": [[-1, "a"]], "parts": [0]},
    {"file": "f", "path": "f", "rows": [[True, "a"]], "parts": [0]},
    {"file": "f", "path": "f", "rows": [[0, 7]], "parts": [0]},
    {"file": "f", "path": "f", "rows": [[0, "a", None, 1, 0]], "parts": [0]},
    {"file": "f", "path": "f", "rows": [[0, "a"]], "parts": [1]},
    {"file": "f", "path": "f", "rows": [[0.5, "a"]], "parts": [0]},
]


def test_hostile_or_deep_trees_never_break_the_listing(qtbot, service, make_box, tmp_path):
    from PySide6.QtCore import QSettings

    from morvik_viewer.model_tree import MAX_LEVELS, ModelTree
    from morvik_viewer.settings import remembered_model_tree

    # The dock hides only when the settings say "false" in so many words.
    for text, shown in [("false", False), ("true", True), ("0", True), ("@Size(1 2)", True)]:
        (tmp_path / "viewer.conf").write_text(f"[view]\nmodel_tree={text}\n")
        settings = QSettings(str(tmp_path / "viewer.conf"), QSettings.IniFormat)
        assert remembered_model_tree(settings) is shown, text

    heard = Heard([])
    frames = [encode(dict(head, kind="file-tree")) for head in BAD_HEADS]
    good = FileTree("f", "f", [[0, "a"]], [0])
    heard.feed(b"".join(frames) + encode(good.head()))
    assert heard.trees == [good]

    # A hundred thousand levels: listed down to MAX_LEVELS, then side by side.
    levels = 100_000
    rows = [[depth, f"level-{depth}"] for depth in range(levels)] + [[levels, "core"],
                                                                    [levels, "pin"]]
    service.display_shape(make_box(), "core", None, False)
    service.display_shape(make_box(), "pin", None, False)
    tree = ModelTree()
    qtbot.addWidget(tree)
    tree.attach(service)
    tree.show_scene([FileTree("deep.step", "deep.step", rows, [levels, levels + 1])],
                    ["core", "pin"])
    tree.search.setText("core")
    shown = names(tree)
    assert shown[-1] == (MAX_LEVELS, "core") and len(shown) == MAX_LEVELS + 1
    tree.search.setText("")
    tree.show_scene([FileTree("f", "f", [[0, "U1"], [1, "U1#2"], [0, "R"], [1, "R"], [1, "R2"]],
                              [1, 3, 4])], ["U1#2", "R", "R2"])
    assert names(tree) == [(0, "f"), (1, "U1#2"), (1, "R"), (2, "R"), (2, "R2")]
    tree.show_scene([], ["core", "pin"])  # no tree: flat
    assert names(tree) == [(0, "core"), (0, "pin")]


BUILD_MS, FILTER_MS = 200, 50


def test_five_thousand_parts_list_and_filter_in_time(qtbot, service, make_box):
    from morvik_viewer.model_tree import ModelTree

    rows, parts = [[0, "plant"]], []
    for group in range(50):
        rows.append([1, f"cell-{group}"])
        for part in range(100):
            parts.append(len(rows))
            rows.append([2, f"part-{group}-{part}"])
    box = make_box()
    service.display_shapes([(box, rows[i][1]) for i in parts], False)
    ids, trees = list(service.get_all_shapes()), [FileTree("plant.step", "p", rows, parts)]
    tree = ModelTree()
    qtbot.addWidget(tree)
    tree.attach(service)
    tree.resize(300, 700)
    tree.show()
    builds, filters = [], []
    for _ in range(5):  # each built, painted, searched and cleared, as a user would see it
        began = time.perf_counter()
        tree.show_scene(trees, ids)
        tree.view.viewport().repaint()
        builds.append(time.perf_counter() - began)
        for text in ("PART-3-1", ""):
            began = time.perf_counter()
            tree.search.setText(text)
            tree.view.viewport().repaint()
            filters.append(time.perf_counter() - began)
    build, search = statistics.median(builds) * 1000, statistics.median(filters) * 1000
    print(f"5,000 parts: built in {build:.1f} ms, searched in {search:.1f} ms (medians)")
    assert build <= BUILD_MS and search <= FILTER_MS, (builds, filters)


# --- the window, in a session of its own ---------------------------------------------------


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tree")
    write_board(folder / "board.step", parts=10, columns=5)
    (folder / "copy.step").write_bytes((folder / "board.step").read_bytes())
    env = dict(os.environ, QT_QPA_PLATFORM="xcb",
               XDG_CONFIG_HOME=tempfile.mkdtemp(dir=os.environ["XDG_CONFIG_HOME"]))
    run = subprocess.run([sys.executable, __file__, str(folder)], env=env, capture_output=True,
                         text=True, timeout=180)
    assert run.returncode == 0, run.stderr[-3000:]
    return json.loads(run.stdout.strip().splitlines()[-1])


def test_window_lists_the_files_it_opens_under_the_ids_it_registered(session):
    assert session["sample"] == [[0, name] for name in SAMPLE]
    opened = session["opened"]
    assert [name for depth, name in opened["rows"] if depth == 0] == ["board.step", "copy.step"]
    # The reader's tree, under the file's row, as --tree prints it but for the assemblies
    # that wrap one part of their name; the copy's parts renamed.
    cli = opened["cli"]
    wrappers = {i for i, (depth, name) in enumerate(cli[:-1]) if cli[i + 1] == [depth + 1, name]
                and (i + 2 == len(cli) or cli[i + 2][0] <= depth)}
    board = opened["rows"][1:opened["rows"].index([0, "copy.step"])]
    assert board == [[depth + 1 - (i - 1 in wrappers), name] for i, (depth, name) in
                     enumerate(cli) if i not in wrappers]
    assert [3, "R1"] not in board and [2, "R1"] in board and [2, "U1"] in board
    assert sorted(opened["part_ids"]) == sorted(opened["registered"])
    assert {"R1", "R1#2", "U1-1", "U1-1#2"} <= set(opened["part_ids"])
    assert session["reloaded"] == opened["rows"] and session["after_crash"] == opened["rows"]
    assert opened["clearing"] == [[]]


def test_window_selection_and_visibility_follow_both_ways(session):
    assert session["tree_picks"] == {"scene": ["R1"], "label": "Selected: R1"}
    assert session["view_picks"] == {"rows": ["sphere"], "label": "Selected: sphere"}
    assert session["escape"] == []
    # Hidden, isolated and shown by the window's own actions: the boxes follow.
    assert session["hidden"] == {"R1": "unchecked", "board.step": "partly"}
    assert session["isolated"] == {"R1": "checked", "PCB": "unchecked"}
    assert session["all_shown"] == {"R1": "checked", "board.step": "checked"}


def test_window_keeps_the_dock_shown_or_hidden(session):
    assert session["dock"] == {"menu": "Model &Tree", "hidden": True, "remembered": "false",
                               "next_window_shows": False}


# --- the session ----------------------------------------------------------------------------


def _run(folder):
    from PySide6.QtCore import QItemSelectionModel, Qt, QTimer
    from PySide6.QtTest import QTest
    from PySide6.QtWidgets import QApplication

    from demo_window_session import click_at_model_point, settle
    from morvik_viewer.scene import sample_parts
    from morvik_viewer.settings import MODEL_TREE_KEY, open_settings
    from morvik_viewer.tree import tree_rows
    from morvik_viewer.viewer import create_viewer3d
    from morvik_viewer.window import ViewerWindow

    app = QApplication.instance() or QApplication(["demo-tree-session"])
    window = ViewerWindow(create_viewer3d())
    window.resize(1000, 650)
    window.show()
    window.start(sample_parts())
    QTest.qWaitForWindowExposed(window)
    settle(app, 200)
    tree, out = window.model_tree, {}
    out["sample"] = names(tree)

    click_at_model_point(window, (45.0, 18.0, 0.0))  # the sphere
    out["view_picks"] = {"rows": [tree._ids[tree._node(i)] for i in
                                  tree.view.selectionModel().selectedRows()],
                         "label": window.selection_label.text()}
    QTest.keyClick(window.view_widget, Qt.Key_Escape)
    out["escape"] = [i.data() for i in tree.view.selectionModel().selectedRows()]

    def wait_load():
        while window._load is not None:
            QTest.qWait(20)
        settle(app)

    board, copy = str(Path(folder) / "board.step"), str(Path(folder) / "copy.step")
    window.open_files([board, copy])
    while_clearing = []  # the rows listed once the old scene starts going
    window._load.clearing.connect(lambda: while_clearing.append(names(tree)))
    wait_load()
    tree.view.expandAll()
    out["opened"] = {"rows": names(tree), "cli": tree_rows(board), "clearing": while_clearing,
                     "part_ids": [i for i in tree._ids if i is not None],
                     "registered": list(window.service.get_all_shapes())}
    out["opened"]["cli"] = [[depth, name] for depth, name, *_ in out["opened"]["cli"]]

    def state(name):
        words = {Qt.Checked: "checked", Qt.Unchecked: "unchecked",
                 Qt.PartiallyChecked: "partly"}
        return words[Qt.CheckState(row(tree, name).data(Qt.CheckStateRole))]

    def after_look(*watched):
        QTest.qWait(2 * 300 + 100)  # the boxes follow within a look or two
        return {name: state(name) for name in watched}

    tree.view.selectionModel().setCurrentIndex(row(tree, "R1"), QItemSelectionModel.ClearAndSelect)
    out["tree_picks"] = {"scene": window.view_widget.selected_shape_ids(),
                         "label": window.selection_label.text()}
    window.hide_selected()  # H
    out["hidden"] = after_look("R1", "board.step")
    window.service.isolate_shapes(["R1"])  # as the window's Isolate or a script does
    out["isolated"] = after_look("R1", "PCB")
    window.show_all()  # Shift+H
    out["all_shown"] = after_look("R1", "board.step")

    window.reload()
    wait_load()
    tree.view.expandAll()
    out["reloaded"] = names(tree)
    answer = QTimer(window)  # the message saying so waits for its OK
    answer.timeout.connect(lambda: [box.close() for box in app.topLevelWidgets()
                                    if box.isVisible() and box.inherits("QMessageBox")])
    answer.start(50)
    window.open_files([str(SELF_HOLDING_STEP)])  # the reader crashes: the scene stays
    wait_load()
    tree.view.expandAll()
    out["after_crash"] = names(tree)

    action = window.tree_dock.toggleViewAction()
    action.trigger()
    settle(app)
    out["dock"] = {"menu": action.text(), "hidden": not window.tree_dock.isVisible(),
                   "remembered": open_settings().value(MODEL_TREE_KEY),
                   "next_window_shows": not ViewerWindow().tree_dock.isHidden()}
    window.close()
    print(json.dumps(out))
    return 0


if __name__ == "__main__":
    sys.exit(_run(sys.argv[1]))
