"""The model tree: each file's tree from the reader to the window's dock, check boxes that
show and hide, the search, the selection both ways and the context menu.

The dock itself runs here, over a real service; the window runs in a session of its
own under X (python test_demo_tree.py FOLDER), as test_demo_window.py runs it.
"""

import json
import sys
from pathlib import Path

import pytest

from assemblies import SELF_HOLDING_STEP, write_board
from morvik_viewer.model.file_tree import FileTree
from morvik_viewer.reader.protocol import Heard, encode, frame
from sessions import click_at, open_window, report, run_session, settle, wait_until

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


def after_looks(tree, count):
    """Waits till the tree has looked at the scene count times more (however slow the
    machine); returns the looks seen."""
    from PySide6.QtTest import QTest

    looks = []

    def looked():
        looks.append(1)

    tree._poll.timeout.connect(looked)
    try:
        while len(looks) < count:
            QTest.qWait(20)
    finally:
        tree._poll.timeout.disconnect(looked)
    return len(looks)


def selected_in_scene(service):
    context, ids = service.get_context(), []
    context.InitSelected()
    while context.MoreSelected():
        ids.append(service.get_shape_id_for_ais_shape(context.SelectedInteractive()))
        context.NextSelected()
    return ids


@pytest.fixture
def make_tree(qtbot, service):
    """make_tree() -> a model tree dock attached to the service."""
    from morvik_viewer.tools.model_tree.widget import ModelTree

    made = []

    def make():
        made.append(ModelTree())
        qtbot.addWidget(made[-1])
        made[-1].attach(service)
        return made[-1]

    yield make
    for tree in made:
        tree.attach(None)  # pytest keeps a fixture's widget: it must not keep the service too


@pytest.fixture
def dock(make_tree, service, make_box):
    for i, shape_id in enumerate(["a1", "a2", "b1", "loose"]):
        service.display_shape(make_box(at=(3.0 * i, 0.0, 0.0)), shape_id, None, False)
    tree = make_tree()
    tree.show()
    tree.show_scene([FileTree("f.step", "/models/f.step", ROWS, PARTS)],
                    list(service.get_all_shapes()))
    return tree


def test_check_boxes_show_and_hide_parts_and_follow_the_service(dock, service):
    from PySide6.QtCore import Qt

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
    # Shown elsewhere: the boxes follow at the next look.
    service.set_shape_visibility("b1", True)
    looks = after_looks(dock, 1)
    assert [state for _, _, state in listed(dock)] == [on] * 5, looks


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


def test_hostile_or_deep_trees_never_break_the_listing(make_tree, service, make_box, tmp_path):
    from PySide6.QtCore import QSettings

    from morvik_viewer.app.settings import MODEL_TREE, load
    from morvik_viewer.tools.model_tree.rows import MAX_LEVELS

    # The dock hides only when the settings say "false" in so many words.
    for text, shown in [("false", False), ("true", True), ("0", True), ("@Size(1 2)", True)]:
        (tmp_path / "viewer.conf").write_text(f"[view]\nmodel_tree={text}\n")
        settings = QSettings(str(tmp_path / "viewer.conf"), QSettings.IniFormat)
        assert load(settings, MODEL_TREE) is shown, text

    heard = Heard([])
    frames = [frame(dict(head, kind="file-tree")) for head in BAD_HEADS]
    good = FileTree("f", "f", [[0, "a"]], [0])
    heard.feed(b"".join(frames) + encode(good))
    assert heard.trees == [good]

    # A hundred thousand levels: listed down to MAX_LEVELS, then side by side.
    levels = 100_000
    rows = [[depth, f"level-{depth}"] for depth in range(levels)] + [[levels, "core"],
                                                                    [levels, "pin"]]
    service.display_shapes([(make_box(), "core"), (make_box(), "pin")], False)
    tree = make_tree()
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


def test_five_thousand_parts_list_search_and_clear(make_tree, service, make_box):
    # How long this takes is bench/model_tree.py's to say, against plain Qt.
    rows, parts = [[0, "plant"]], []
    for group in range(50):
        rows.append([1, f"cell-{group}"])
        for part in range(100):
            parts.append(len(rows))
            rows.append([2, f"part-{group}-{part}"])
    service.display_shapes([(make_box(), rows[i][1]) for i in parts], False)
    tree = make_tree()
    tree.show_scene([FileTree("plant.step", "p", rows, parts)], list(service.get_all_shapes()))
    opened = names(tree)
    assert opened[:3] == [(0, "plant.step"), (1, "plant"), (2, "cell-0")]
    assert len(tree._ids) == len(rows) + 1  # every part has its row, shown or not
    tree.search.setText("PART-3-1")  # part-3-1 and part-3-10 to part-3-19, with their ancestors
    assert names(tree) == [(0, "plant.step"), (1, "plant"), (2, "cell-3")] + [
        (3, f"part-3-{n}") for n in [1] + list(range(10, 20))]
    tree.search.setText("")
    assert names(tree) == opened


# --- the window, in a session of its own ---------------------------------------------------


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tree")
    write_board(folder / "board.step", parts=10, columns=5)
    (folder / "copy.step").write_bytes((folder / "board.step").read_bytes())
    write_board(folder / "bracket.step", parts=2, columns=2, system="SolidWorks 2021")
    seen, _, seen.stderr = run_session(__file__, folder, output=True)
    return seen


def test_window_lists_the_files_it_opens_under_the_ids_it_registered(session):
    assert session.sample == [[0, name] for name in SAMPLE]
    opened = session.opened
    assert [name for depth, name in opened.rows if depth == 0] == ["board.step", "copy.step"]
    # The reader's tree, under the file's row, as --tree prints it: an assembly that only
    # wraps one part of its name is the part's row in both; the copy's parts renamed.
    board = opened.rows[1:opened.rows.index([0, "copy.step"])]
    assert board == [[depth + 1, name] for depth, name in opened.cli]
    assert [3, "R1"] not in board and [2, "R1"] in board and [2, "U1"] in board
    assert sorted(opened.part_ids) == sorted(opened.registered)
    assert {"R1", "R1#2", "U1-1", "U1-1#2"} <= set(opened.part_ids)
    assert session.reloaded == opened.rows and session.after_crash == opened.rows
    assert opened.clearing == [[]]


def test_window_selection_and_visibility_follow_both_ways(session):
    assert session.tree_picks == {"scene": ["R1"], "label": "Selected: R1"}
    assert session.view_picks == {"rows": ["sphere"], "label": "Selected: sphere"}
    assert session.escape == []
    # Hidden, isolated and shown by the window's own actions: the boxes follow.
    assert session.hidden == {"R1": "unchecked", "board.step": "partly"}
    assert session.isolated == {"R1": "checked", "PCB": "unchecked"}
    assert session.all_shown == {"R1": "checked", "board.step": "checked"}


def test_window_shows_a_y_up_authors_file_y_up_till_the_user_chooses(session, tmp_path):
    from morvik_viewer.app.cli import main

    assert session.y_up == {"axis": "y", "said": True, "remembered": None}
    # A screenshot too (its view state notes the axis it was rendered under), but for --up.
    write_board(tmp_path / "bracket.step", parts=2, columns=2, system="SOLIDWORKS 2021")
    for given, up in (([], "y"), (["--up", "z"], "z")):
        state = tmp_path / f"state-{up}.json"
        assert main([str(tmp_path / "bracket.step"), "--screenshot", str(tmp_path / "b.png"),
                     "--size", "120x90", "--view-state", str(state), *given]) == 0
        assert json.loads(state.read_text())["up_axis"] == up
    # The user's choice wins, for the files opened next too, and is remembered.
    assert session.chosen == {"axis": "z", "remembered": "z"}
    assert session.palette == {"remembered": "true", "next_window": True}


def test_window_gives_the_keys_back_to_the_view_when_text_is_done(session):
    # Typed text stays the search line's; Enter, Esc and a closing panel hand the keys back.
    assert session["keys"] == {"typed": "r1", "after_enter": "wireframe", "search": "r1",
                               "after_escape": "shaded", "after_panel": "wireframe",
                               "tree_rows_focused": "shaded"}


def test_window_keeps_the_dock_shown_or_hidden_as_the_user_chose(session):
    # Chosen from the menu, and by its close button; closing the window is no choice.
    assert session.dock == {"menu": "Model &Tree", "hidden": True, "remembered": "false",
                               "closed": ["true", False], "close_button": "false",
                               "next_window_shows": False}
    assert "Traceback" not in session.stderr, session.stderr  # nor at exit


# --- the session ----------------------------------------------------------------------------


def _run(folder):
    from PySide6.QtCore import QItemSelectionModel, Qt, QTimer
    from PySide6.QtTest import QTest

    from morvik_viewer.app.settings import MODEL_TREE, open_settings
    from morvik_viewer.cad.tree_rows import tree_rows
    from morvik_viewer.window.main_window import ViewerWindow

    app, window = open_window(size=(1000, 650))
    tree, out = window.model_tree, {}
    out["sample"] = names(tree)

    click_at(window, (45.0, 18.0, 0.0))  # the sphere
    out["view_picks"] = {"rows": [tree._ids[tree._node(i)] for i in
                                  tree.view.selectionModel().selectedRows()],
                         "label": window.selection_label.text()}
    QTest.keyClick(window.view_widget, Qt.Key_Escape)
    out["escape"] = [i.data() for i in tree.view.selectionModel().selectedRows()]

    def wait_load():
        wait_until(lambda: window.scenes.load is None, 20)
        settle(app)

    board, copy = str(Path(folder) / "board.step"), str(Path(folder) / "copy.step")
    window.open_files([board, copy])
    while_clearing = []  # the rows listed once the old scene starts going
    window.scenes.load.clearing.connect(lambda: while_clearing.append(names(tree)))
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
        after_looks(tree, 2)  # the boxes follow within a look or two
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

    from morvik_viewer.app.settings import PALETTE, UP

    def mode():
        return window.state.display_mode

    def key(letter):  # pressed wherever the focus is
        QTest.keyClick(app.focusWidget() or window, letter)
        settle(app, 50)

    window.activateWindow()
    QTest.qWaitForWindowActive(window)
    tree.search.setFocus()
    QTest.keyClicks(tree.search, "r1")
    keys = {"typed": tree.search.text()}
    QTest.keyClick(tree.search, Qt.Key_Return)
    key(Qt.Key_W)
    keys["after_enter"], keys["search"] = mode(), tree.search.text()
    tree.search.setFocus()
    QTest.keyClick(tree.search, Qt.Key_Escape)
    key(Qt.Key_S)
    keys["after_escape"] = mode()
    window.section_action.trigger()  # the panel opens, takes the keyboard, and closes
    window.section.setFocus()
    window.section_action.trigger()
    settle(app)
    key(Qt.Key_W)
    keys["after_panel"] = mode()
    tree.view.setFocus()  # a list of rows takes no text: the view's keys work there
    key(Qt.Key_S)
    keys["tree_rows_focused"] = mode()
    out["keys"] = keys
    tree.search.clear()

    settings = open_settings()
    window.open_files([str(Path(folder) / "bracket.step")])
    wait_load()
    out["y_up"] = {"axis": window.state.up_axis, "remembered": settings.value(UP.key),
                   "said": "Y up" in window.statusBar().currentMessage()}
    window.up_actions["z"].trigger()
    window.open_files([str(Path(folder) / "bracket.step")])
    wait_load()
    out["chosen"] = {"axis": window.state.up_axis, "remembered": settings.value(UP.key)}
    window.palette_action.trigger()  # the files are read again, uncoloured parts in colours
    wait_load()
    out["palette"] = {"remembered": settings.value(PALETTE.key),
                      "next_window": ViewerWindow().palette_action.isChecked()}

    def remembered():
        return open_settings().value(MODEL_TREE.key)

    action = window.tree_dock.toggleViewAction()
    action.trigger()
    settle(app)
    out["dock"] = {"menu": action.text(), "hidden": not window.tree_dock.isVisible(),
                   "remembered": remembered()}
    action.trigger()  # shown again, then the window closes: the choice stays
    window.close()
    out["dock"]["closed"] = [remembered(), ViewerWindow().tree_dock.isHidden()]
    second = ViewerWindow()  # left open till the interpreter ends, as a host's may be
    second.show()
    QTest.qWaitForWindowExposed(second)
    second.tree_dock.close()  # its close button
    out["dock"]["close_button"] = remembered()
    out["dock"]["next_window_shows"] = not ViewerWindow().tree_dock.isHidden()
    return report(out)


if __name__ == "__main__":
    sys.exit(_run(sys.argv[1]))
