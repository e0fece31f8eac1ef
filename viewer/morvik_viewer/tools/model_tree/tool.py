"""The model tree as a tool: its dock, and View ▸ Model Tree (Ctrl+T).

Whether the dock shows is the view state's "model_tree", kept for later runs
when the user chooses: from the menu, the shortcut or the dock's close button;
not as the dock follows the window (it hides as the window closes).
"""

from PySide6.QtCore import QEvent, Qt
from PySide6.QtGui import QKeySequence
from PySide6.QtWidgets import QDockWidget

from morvik_viewer.tools.base import VIEW_MENU, Tool
from morvik_viewer.tools.model_tree.widget import ModelTree


class ModelTreeTool(Tool):
    area = Qt.DockWidgetArea.LeftDockWidgetArea

    def __init__(self, state, parent=None):
        Tool.__init__(self, state, parent)
        self.tree = ModelTree()
        self.tree.setEnabled(False)  # till the view is attached
        self._scene = ([], [])  # the scene's (paths, trees), as listed last
        self._dock = QDockWidget("Model")
        self._dock.setObjectName("model-tree")
        self._dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self._dock.setWidget(self.tree)
        self.action = self._dock.toggleViewAction()
        self.action.setText("Model &Tree")
        self.action.setShortcut(QKeySequence("Ctrl+T"))
        self.action.triggered.connect(lambda shown: setattr(state, "model_tree", shown))
        self._dock.installEventFilter(self)

    def dock_widget(self):
        return self._dock

    def names(self):
        return {"model_tree": self.tree, "tree_dock": self._dock}

    def actions(self):
        return [(VIEW_MENU, self.action)]

    def layout_restored(self):
        self._dock.setVisible(self.state.model_tree)  # the user's choice, over the layout kept

    def eventFilter(self, watched, event):
        # Its close button, the window still up.
        if (watched is self._dock and event.type() == QEvent.Close
                and self._dock.parentWidget() is not None
                and self._dock.parentWidget().isVisible()):
            self.state.model_tree = False
        return Tool.eventFilter(self, watched, event)

    def attach(self, host):
        Tool.attach(self, host)
        tree, view = self.tree, host.view
        tree.attach(host.service)
        tree.setEnabled(True)
        tree.picked.connect(host.selected)
        tree.visibility_changed.connect(host.recount)
        tree.search_done.connect(host.focus_view)
        self._dock.visibilityChanged.connect(host.focus_view)
        view.selection_changed.connect(
            lambda shape_id: tree.select_ids(view.selected_shape_ids(), shape_id))

    def scene_loading(self, load):
        # The rows name shapes the load may erase: off till the new scene is listed, and
        # gone with the old scene.
        self.tree.setEnabled(False)
        load.clearing.connect(self.tree.clear)
        load.finished.connect(self._load_ended)

    def _load_ended(self, outcome):
        paths, trees = self._scene
        if outcome.shown:
            trees = outcome.trees
        self.tree.setEnabled(True)
        if outcome.state in ("failed", "cancelled"):  # no new scene: list what is left
            self._list(paths, trees)

    def scene_changed(self, scene):
        self._list(scene.paths, scene.trees)

    def _list(self, paths, trees):
        """Lists the scene's parts under the trees of its files (paths; none: flat)."""
        self._scene = (paths, trees)
        self.tree.show_scene(trees if paths else [], list(self.host.service.get_all_shapes()))
