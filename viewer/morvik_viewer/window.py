"""The main window: the OCCT view, the view toolbar docked beside it, a status bar."""

from PySide6.QtCore import Qt
from PySide6.QtGui import QAction, QKeySequence
from PySide6.QtWidgets import QDockWidget, QFileDialog, QLabel, QMainWindow, QMessageBox

from morvik_viewer.scene import LoadError, load_parts, show_parts
from morvik_viewer.view_widget import OcctViewWidget
from morvik_viewer.viewer import start_view
from morvik_viewer.wiring import connect_toolbar, push_toolbar_state
from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.widgets.panelor import Panelor

TITLE = "morvik viewer"
MESSAGE_MS = 4000


class ViewerWindow(QMainWindow):
    """Hosts one OCCT view with its service and the toolbar that drives it."""

    def __init__(self, stack, parent=None):
        QMainWindow.__init__(self, parent)
        self.setWindowTitle(TITLE)
        self.stack = stack
        self.service = stack.service

        self.view_widget = OcctViewWidget(stack.service, stack.connection, self)
        self.setCentralWidget(self.view_widget)

        self.toolbar = Panelor(None, "vertical")
        dock = QDockWidget("View", self)
        dock.setObjectName("view-controls")
        dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        dock.setFeatures(QDockWidget.DockWidgetMovable)
        dock.setWidget(self.toolbar)
        self.addDockWidget(Qt.RightDockWidgetArea, dock)
        self.slots = connect_toolbar(self.toolbar, self.service, self.show_message)

        self.selection_label = QLabel()
        self.count_label = QLabel()
        self.statusBar().addPermanentWidget(self.selection_label)
        self.statusBar().addPermanentWidget(self.count_label)
        self.view_widget.selection_changed.connect(self._on_selection_changed)

        self._create_actions()
        self.resize(1100, 720)

    # --- start-up -----------------------------------------------------------

    def start(self, parts, mode=DisplayMode.SHADED, projection=ProjectionType.ORTHOGRAPHIC,
              direction=ViewDirection.ISO):
        """Paints the initial view, shows parts and applies the start-up options."""
        start_view(self.service)
        push_toolbar_state(self.toolbar, self.service)
        show_parts(self.service, parts)
        # Host-side changes go through the toolbar, which then drives the service:
        # the controls stay in step and each change reaches the service once.
        self.toolbar.set_display_mode(mode)
        self.toolbar.set_projection_type(projection)
        self.service.set_projection(direction)
        self.service.fit_all()
        self._update_count()

    # --- actions --------------------------------------------------------------

    def _create_actions(self):
        file_menu = self.menuBar().addMenu("&File")
        self._add_action(file_menu, "&Open…", QKeySequence.Open, self.open_file_dialog)
        self._add_action(file_menu, "&Quit", QKeySequence.Quit, self.close)

        view_menu = self.menuBar().addMenu("&View")
        self._add_action(view_menu, "&Fit All", "F", self.fit_all)
        self._add_action(view_menu, "&Hide Selected", "H", self.hide_selected)
        self._add_action(view_menu, "&Show All", "Shift+H", self.show_all)
        view_menu.addSeparator()
        for text, key, mode in (("&Wireframe", "W", DisplayMode.WIREFRAME),
                                ("S&haded", "S", DisplayMode.SHADED),
                                ("Shaded + &Edges", "B", DisplayMode.BOTH)):
            self._add_action(view_menu, text, key, lambda mode=mode: self.toolbar.set_display_mode(mode))
        self._add_action(view_menu, "Toggle &Perspective", "P", self.toggle_projection_type)

    def _add_action(self, menu, text, shortcut, slot):
        action = QAction(text, self)
        action.setShortcut(QKeySequence(shortcut))
        action.setShortcutContext(Qt.ApplicationShortcut)
        action.triggered.connect(lambda checked=False: slot())
        menu.addAction(action)
        self.addAction(action)
        return action

    def fit_all(self):
        self.service.fit_all()
        self.show_message("Fit all")

    def hide_selected(self):
        shape_id = self.view_widget.selected_shape_id()
        if shape_id is None:
            self.show_message("Nothing selected to hide")
            return
        self.view_widget.clear_selection()
        self.service.set_shape_visibility(shape_id, False)
        self.show_message(f"Hidden: {shape_id}")

    def show_all(self):
        # One viewer update for the lot rather than one per shape.
        for shape_id in list(self.service.get_all_shapes()):
            self.service.set_shape_visibility(shape_id, True, False)
        self.service.get_context().UpdateCurrentViewer()
        self.show_message("All shapes shown")

    def toggle_projection_type(self):
        current = self.toolbar.get_projection_type()
        wanted = (ProjectionType.PERSPECTIVE if current == ProjectionType.ORTHOGRAPHIC.value
                  else ProjectionType.ORTHOGRAPHIC)
        self.toolbar.set_projection_type(wanted)

    def open_file_dialog(self):
        path, _ = QFileDialog.getOpenFileName(
            self, "Open CAD file", "", "CAD files (*.step *.stp *.brep *.brp);;All files (*)")
        if path:
            self.load_file(path)

    def load_file(self, path):
        """Replaces the scene with the solids of a STEP or BREP file."""
        try:
            parts = load_parts(path)
        except LoadError as error:
            QMessageBox.warning(self, TITLE, str(error))
            return False
        self.view_widget.clear_selection()
        self.service.erase_all()
        show_parts(self.service, parts)
        self.service.fit_all()
        self._update_count()
        self.show_message(f"Loaded {path}")
        return True

    # --- status bar -------------------------------------------------------------

    def show_message(self, text):
        self.statusBar().showMessage(text, MESSAGE_MS)

    def _on_selection_changed(self, shape_id):
        self.selection_label.setText(f"Selected: {shape_id}" if shape_id else "")

    def _update_count(self):
        count = self.service.get_shape_count()
        self.count_label.setText(f"{count} shape{'s' if count != 1 else ''}")
