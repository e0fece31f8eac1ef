"""The model tree: the open files' assemblies and parts, each with a check box that shows
or hides it, a search line, the selection shared with the view (a double click fits the
view to it) and a context menu.

A QStandardItemModel behind a QSortFilterProxyModel. Items are cloned from one
prototype a check state and appended a parent at a time into a model not yet
shown, so a 5,000-part tree builds in well under 200 ms; the search runs in
Qt's own code (recursive filtering keeps the ancestors of a match), in a few
milliseconds where a model written in Python would answer the view's calls
one Python call a row. The tree's shape is kept beside the items in flat
lists, depth first, so that a row's parts are one slice and check states are
worked out in one pass, without a Qt call a row.

The service tells no one when a shape is shown or hidden (the window's
actions, other tools and the console all do it), so the check boxes follow
by looking: every POLL_MS while the tree shows, one is_shape_visible a part
(2 to 3 ms for 5,000 parts).

Nothing here imports OCP: the window builds this before OCP has loaded.
"""

from PySide6.QtCore import QEvent, QItemSelection, QItemSelectionModel, QSortFilterProxyModel, Qt, QTimer, Signal
from PySide6.QtGui import QFont, QStandardItem, QStandardItemModel
from PySide6.QtWidgets import QAbstractItemView, QLineEdit, QMenu, QTreeView, QVBoxLayout, QWidget

from morvik_viewer.tools.model_tree.rows import CHECKED, PARTIAL, UNCHECKED, check_states, outline, shape

# An item's place in the tree's lists.
NODE_ROLE = Qt.ItemDataRole.UserRole + 1


# Levels open when a tree is shown: the files and their top assemblies.
OPEN_LEVELS = 1
POLL_MS = 300
SEARCH_TEXT = "Search names"


class ModelTree(QWidget):
    """The search line above the tree. show_scene() lists a scene, attach() gives it the
    service its check boxes, selection and menu act on."""

    # The user selected rows; the identifier of the part the current row stands for (or
    # its first part), or None when no shown part is selected.
    picked = Signal(object)
    # The tree showed or hid parts.
    visibility_changed = Signal()
    # The user is done with the search line (Enter or Esc there): the keys are the view's again.
    search_done = Signal()

    def __init__(self, parent=None):
        QWidget.__init__(self, parent)
        self.search = QLineEdit()
        self.search.setPlaceholderText(SEARCH_TEXT)
        self.search.setClearButtonEnabled(True)
        self.proxy = QSortFilterProxyModel(self)
        self.proxy.setRecursiveFilteringEnabled(True)
        self.proxy.setFilterCaseSensitivity(Qt.CaseInsensitive)
        self.view = QTreeView()
        self.view.setHeaderHidden(True)
        self.view.setUniformRowHeights(True)  # no size asked of each row
        self.view.setSelectionMode(QAbstractItemView.ExtendedSelection)
        self.view.setEditTriggers(QAbstractItemView.NoEditTriggers)
        self.view.setContextMenuPolicy(Qt.CustomContextMenu)
        self.view.setModel(self.proxy)
        layout = QVBoxLayout(self)
        layout.setContentsMargins(0, 0, 0, 0)
        layout.addWidget(self.search)
        layout.addWidget(self.view)

        self._service = None
        self._model = None
        self._count = 0  # shapes registered when the tree was built
        self._selected = []  # the parts selected in the scene, as far as the tree knows
        self._syncing = False  # the tree follows the scene: its own signals are not the user's
        self._set_rows([])
        self.search.textChanged.connect(self._filter)
        self.search.returnPressed.connect(self.search_done)
        self.search.installEventFilter(self)
        self.view.selectionModel().selectionChanged.connect(self._on_rows_selected)
        self.view.customContextMenuRequested.connect(self._on_context_menu)
        self.view.doubleClicked.connect(self._on_double_clicked)
        self._poll = QTimer(self)
        self._poll.setInterval(POLL_MS)
        self._poll.timeout.connect(self._follow_visibility)

    def eventFilter(self, watched, event):
        # Esc in the search line is the line's (else the window's Esc shortcut takes it).
        if watched is self.search and event.type() in (QEvent.ShortcutOverride,
                                                       QEvent.KeyPress) \
                and event.key() == Qt.Key_Escape and event.modifiers() == Qt.NoModifier:
            event.accept()
            if event.type() == QEvent.KeyPress:
                self.search_done.emit()
            return True
        return QWidget.eventFilter(self, watched, event)

    def attach(self, service):
        """The service whose shapes the tree lists, shows and hides, and selects (None:
        none, and the tree lets go of the last one)."""
        self._service = service
        if service is None:
            self._poll.stop()
        else:
            self._poll.start()

    # --- building ------------------------------------------------------------

    def show_scene(self, trees, shape_ids):
        """Lists the parts of shape_ids, the identifiers registered, under the files'
        trees (model.file_tree.FileTree); parts no tree holds are listed flat after them."""
        rows = outline(trees, shape_ids)
        self._count = len(shape_ids)
        self.view.setUpdatesEnabled(False)
        self._syncing = True
        try:
            self._set_rows(rows)
            self._states = check_states(self._ids, self._parents, self._visibility())
            model = self._make_model(rows)
            old, self._model = self._model, model
            self.proxy.setSourceModel(model)
            if old is not None:
                old.itemChanged.disconnect(self._on_item_changed)
            model.itemChanged.connect(self._on_item_changed)
            self._selected = []
            self._open()
        finally:
            self._syncing = False
            self.view.setUpdatesEnabled(True)

    def clear(self):
        self.show_scene([], [])

    def _set_rows(self, rows):
        self._ids = [row[2] for row in rows]
        self._parents, self._ends = shape(rows)
        self._states = [CHECKED] * len(rows)
        self._items = []
        self._rows_of = {}  # identifier -> the rows that stand for it
        for i, shape_id in enumerate(self._ids):
            if shape_id is not None:
                self._rows_of.setdefault(shape_id, []).append(i)

    def _make_model(self, rows):
        prototypes = {}
        for state in (CHECKED, UNCHECKED, PARTIAL):
            item = prototypes[state] = QStandardItem()
            item.setFlags(Qt.ItemIsEnabled | Qt.ItemIsSelectable | Qt.ItemIsUserCheckable)
            item.setCheckState(state)
        items, bold = self._items, QFont(self.view.font())
        bold.setBold(True)
        for i, ((_, name, _, tooltip), state) in enumerate(zip(rows, self._states)):
            item = prototypes[state].clone()
            item.setText(name)
            item.setData(i, NODE_ROLE)
            if tooltip is not None:  # a file's row
                item.setToolTip(tooltip)
                item.setFont(bold)
            items.append(item)
        # Each row's children in one append, before any view watches the model. A parent
        # joins the model before its children do: Qt before 6.7 leaves the grandchildren
        # of a subtree built apart without their model, and their check boxes silent.
        children, tops = {}, []
        for i, parent in enumerate(self._parents):
            (children.setdefault(parent, []) if parent >= 0 else tops).append(items[i])
        model = QStandardItemModel()
        for item in tops:  # the model's own rows: owned by the model in every PySide6
            model.appendRow(item)
        for parent, inside in children.items():  # parents come before their children
            items[parent].appendRows(inside)
        return model

    def _open(self):
        """The levels a new tree or an empty search shows; a search shows every match."""
        if self.search.text():
            self.view.expandAll()
        else:
            self.view.collapseAll()
            self.view.expandToDepth(OPEN_LEVELS)

    # --- visibility -------------------------------------------------------------

    def _visibility(self):
        if self._service is None:
            return [True] * len(self._ids)
        visible = self._service.is_shape_visible
        return [shape_id is not None and visible(shape_id) for shape_id in self._ids]

    def sync_checks(self):
        """Check boxes as the service's shapes show now."""
        states = check_states(self._ids, self._parents, self._visibility())
        self._syncing = True
        try:
            for item, old, new in zip(self._items, self._states, states):
                if old != new:
                    item.setCheckState(new)
        finally:
            self._syncing = False
        self._states = states

    def _follow_visibility(self):
        if self._service is None or not self._items or not self.isVisible():
            return
        if self._service.get_shape_count() != self._count:
            return  # the scene is being replaced: the tree is built anew at the end
        self.sync_checks()

    def _on_item_changed(self, item):
        if self._syncing or self._service is None:
            return
        node = item.data(NODE_ROLE)
        if not isinstance(node, int) or not 0 <= node < len(self._states):
            return
        state = item.checkState()
        if state != self._states[node]:  # a check box the user clicked
            self.set_visible(self.parts_of([node]), state != UNCHECKED)

    def set_visible(self, shape_ids, visible):
        """Shows or hides the parts shape_ids, with one viewer update."""
        for shape_id in shape_ids:
            self._service.set_shape_visibility(shape_id, visible, False)
        self._service.get_context().UpdateCurrentViewer()
        self._changed()

    def isolate(self, shape_ids):
        self._service.isolate_shapes(shape_ids)
        self._changed()

    def show_all(self):
        self._service.show_all_shapes()
        self._changed()

    def _changed(self):
        self.sync_checks()
        self.visibility_changed.emit()

    # --- selection --------------------------------------------------------------

    def parts_of(self, nodes):
        """The parts the rows nodes stand for or hold, each once, in the tree's order."""
        found = {}
        for node in nodes:
            found.update(dict.fromkeys(shape_id for shape_id in self._ids[node:self._ends[node]]
                                       if shape_id is not None))
        return list(found)

    def _node(self, index):
        node = self.proxy.mapToSource(index).data(NODE_ROLE)
        return node if isinstance(node, int) and 0 <= node < len(self._ids) else None

    def selected_nodes(self):
        nodes = (self._node(index) for index in self.view.selectionModel().selectedRows())
        return sorted(node for node in nodes if node is not None)

    def _on_rows_selected(self, *_):
        if self._syncing or self._service is None:
            return
        visible = self._service.is_shape_visible
        shape_ids = [shape_id for shape_id in self.parts_of(self.selected_nodes())
                     if visible(shape_id)]  # a hidden shape cannot be selected in the view
        self._selected = shape_ids
        self._service.select_shapes(shape_ids)
        current = self._node(self.view.currentIndex())
        primary = next((shape_id for shape_id in self.parts_of([current]) if shape_id in
                        shape_ids), None) if current is not None else None
        self.picked.emit(primary or (shape_ids[-1] if shape_ids else None))

    def _on_double_clicked(self, *_):
        if self._service is not None:
            self._service.fit_selected()  # the rows the first click selected

    def select_ids(self, shape_ids, primary=None):
        """Selects the rows of shape_ids, as the scene's selection now is; the row of primary
        (else the last one) becomes current and is scrolled to."""
        self._selected = list(shape_ids)
        selection, current, last = QItemSelection(), None, None
        for shape_id in self._selected:
            for node in self._rows_of.get(shape_id, ()):
                index = self.proxy.mapFromSource(self._items[node].index())
                if index.isValid():  # else filtered out by the search
                    selection.select(index, index)
                    last = index
                    if shape_id == primary and current is None:
                        current = index
        current = last if current is None else current
        self._syncing = True
        try:
            model = self.view.selectionModel()
            model.select(selection, QItemSelectionModel.ClearAndSelect | QItemSelectionModel.Rows)
            if current is not None:
                model.setCurrentIndex(current, QItemSelectionModel.NoUpdate)
                self.view.scrollTo(current)  # opening its assemblies
        finally:
            self._syncing = False

    # --- search -----------------------------------------------------------------

    def _filter(self, text):
        self.view.setUpdatesEnabled(False)
        self._syncing = True  # rows leaving the view leave its selection, not the scene's
        try:
            self.proxy.setFilterFixedString(text.strip())
            self._open()
        finally:
            self._syncing = False
            self.view.setUpdatesEnabled(True)
        self.select_ids(self._selected)

    # --- context menu -----------------------------------------------------------

    def context_menu(self, index):
        """The menu for the row at index (of the view): Isolate, Hide or Show its parts
        (the selected rows' when it is one of them), Show All."""
        menu = QMenu(self)
        node = self._node(index) if index.isValid() else None
        if self._service is None:
            return menu
        if node is not None:
            selected = self.selected_nodes()
            shape_ids = self.parts_of(selected if node in selected else [node])
            if shape_ids:
                visible = [self._service.is_shape_visible(shape_id) for shape_id in shape_ids]
                menu.addAction("Isolate", lambda: self.isolate(shape_ids))
                if any(visible):
                    menu.addAction("Hide", lambda: self.set_visible(shape_ids, False))
                if not all(visible):
                    menu.addAction("Show", lambda: self.set_visible(shape_ids, True))
                menu.addSeparator()
        menu.addAction("Show All", self.show_all)
        return menu

    def _on_context_menu(self, position):
        menu = self.context_menu(self.view.indexAt(position))
        menu.exec(self.view.viewport().mapToGlobal(position))
        menu.deleteLater()
