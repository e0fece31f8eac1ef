"""The main window: the OCCT view, the view toolbar docked beside it, a status bar.

The window shows before OCP has loaded (about a second of imports): menus,
toolbar and status bar at once, and a page saying the view is starting where
the view goes. attach() puts the OCCT view in that page's place, and start()
shows the first scene. Nothing OCP-bound is imported here at module level.
"""

import os
from pathlib import Path

from PySide6.QtCore import QByteArray, QEvent, Qt, QTimer, Signal
from PySide6.QtGui import QAction, QActionGroup, QKeySequence
from PySide6.QtWidgets import (QApplication, QDialog, QDockWidget, QFileDialog, QLabel,
                               QMainWindow, QMessageBox, QStackedWidget)

from morvik_viewer.file_kinds import OPENABLE
from morvik_viewer.settings import (BYTES, GEOMETRY_KEY, STATE_KEY, RecentFiles, last_folder,
                                    open_settings, remember_folder, remember_up, remember_view_cube,
                                    remembered_up, remembered_view_cube)
from morvik_viewer.settings import read as read_setting
from morvik_viewer.up_axis import Y_UP, Z_UP, checked, turn_shapes, upright
from morvik_viewer.view_settings import ViewSettings, caption
from morvik_viewer.view_state import restore
from morvik_viewer.wiring import connect_service, connect_toolbar
from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.widgets.panelor import Panelor

TITLE = "morvik viewer"
SAMPLE_TITLE = "Sample scene"
STARTING_TEXT = "Starting the 3D view…"
MESSAGE_MS = 4000
UP_CHOICES = ((Z_UP, "&Z Up (most CAD and EDA files)"), (Y_UP, "&Y Up"))
FILE_FILTER = f"CAD files ({' '.join('*' + suffix for suffix in OPENABLE)});;All files (*)"
# The title names at most this many files, then says how many more there are.
TITLE_FILES = 3
# The reader for the next open starts this long after the window shows, once
# the first frame is drawn.
SPARE_READER_AFTER_MS = 300
# A window shown but never painted (minimised, say) says it is painted after this
# long all the same, so that its view still comes.
PAINT_OVERDUE_MS = 1000


def _css(rgb):
    # Qt style sheets take sRGB; the view's colours are linear.
    from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB, Quantity_TOC_sRGB

    srgb = Quantity_Color(*rgb, Quantity_TOC_RGB).Values(Quantity_TOC_sRGB)
    return "rgb({})".format(", ".join(str(round(255 * c)) for c in srgb))


class ViewerWindow(QMainWindow):
    """Hosts one OCCT view with its service, and the toolbar and menus that drive it.

    Given a viewer3d (viewer.create_viewer3d), the view is in place at once;
    without one, the window can show before OCP loads, and attach(viewer3d)
    puts the view in later (painted says when the window is on screen).
    """

    # The window's first frame is on screen, before any view is attached (once).
    painted = Signal()

    def __init__(self, viewer3d=None, parent=None, up=None):
        """up, an up_axis axis, overrides the one remembered for this window only."""
        QMainWindow.__init__(self, parent)
        self.setWindowTitle(TITLE)
        self.viewer3d = None
        self.service = None
        self.view_widget = None
        self.readers = None  # the next open's reader, started ahead (once attached)

        # The view is a native window that Qt does not paint, so what shows in
        # its place (starting, or an empty scene) is a page of its own rather
        # than a label over it.
        self.starting = QLabel(STARTING_TEXT)
        self.starting.setAlignment(Qt.AlignCenter)
        self.starting.installEventFilter(self)
        self._painted = False
        open_keys = QKeySequence(QKeySequence.Open).toString(QKeySequence.NativeText)
        self.empty_hint = QLabel(f"Open a STEP or BREP file:\nFile ▸ Open ({open_keys}) "
                                 "or drop it here")
        self.empty_hint.setAlignment(Qt.AlignCenter)
        self.central = QStackedWidget()
        self.central.addWidget(self.starting)
        self.central.addWidget(self.empty_hint)
        self.setCentralWidget(self.central)
        self.setAcceptDrops(True)

        self.toolbar = Panelor(None, "vertical")
        # How the view draws, in one place: the toolbar, the menus and the service follow it.
        self.view_settings = ViewSettings(self)
        connect_toolbar(self.toolbar, self.view_settings)
        self.dock = QDockWidget("View", self)
        self.dock.setObjectName("view-controls")
        self.dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self.dock.setFeatures(QDockWidget.DockWidgetMovable)
        self.dock.setWidget(self.toolbar)
        self.addDockWidget(Qt.RightDockWidgetArea, self.dock)
        self.direction = ViewDirection.ISO  # the standard view a new scene is fitted from
        self._fit_when_sized = False

        self.selection_label = QLabel()
        self.count_label = QLabel()
        self.statusBar().addPermanentWidget(self.selection_label)
        self.statusBar().addPermanentWidget(self.count_label)

        self.paths = []  # the files shown; none for parts given to start()
        self._start_parts = []
        self._load = None  # the SceneLoad running, if any

        self.settings = open_settings()
        self.recent = RecentFiles(self.settings)
        self.up_axis = checked(up, remembered_up(self.settings))
        self._view_actions = []  # what needs the view, off till it is attached
        self._create_actions()
        self.resize(1100, 720)
        # Bytes another Qt or a hand edit spoilt are turned down here, and the default stays.
        self.restoreGeometry(read_setting(self.settings, GEOMETRY_KEY, BYTES, QByteArray()))
        self.restoreState(read_setting(self.settings, STATE_KEY, BYTES, QByteArray()))
        self._enable_view_controls(False)
        if viewer3d is not None:
            self.attach(viewer3d)

    # --- start-up -----------------------------------------------------------

    def attach(self, viewer3d):
        """Puts the OCCT view of viewer3d (see viewer.create_viewer3d) in the window, in place
        of the starting page, and its service to follow the view settings; start() follows.
        Once."""
        if self.viewer3d is not None:
            raise RuntimeError("the window has its view already")
        # OCP-bound: loaded now, once the window has shown.
        from morvik_viewer.loading import ReaderPool
        from morvik_viewer.view_widget import OcctViewWidget
        from morvik_viewer.viewer import GRADIENT_BOTTOM, GRADIENT_TOP

        self.viewer3d, self.service = viewer3d, viewer3d.service
        self.view_widget = OcctViewWidget(viewer3d.service, viewer3d.connection, self.central)
        self.central.addWidget(self.view_widget)
        self.central.setCurrentWidget(self.view_widget)
        self.empty_hint.setStyleSheet(
            "QLabel { color: white; font-size: 13pt; background: qlineargradient("
            f"x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 {_css(GRADIENT_TOP)}, "
            f"stop: 1 {_css(GRADIENT_BOTTOM)}); }}")
        self.central.removeWidget(self.starting)
        self.starting.deleteLater()
        self.starting = None

        self.slots = connect_service(self.service, self.view_settings, self.toolbar,
                                     self.show_message, self.fit)
        self.toolbar.projection_changed.connect(self._on_direction_chosen)
        self.view_widget.view_resized.connect(self._on_view_resized)
        self.view_widget.selection_changed.connect(self._on_selection_changed)
        self.view_widget.hover.switched.connect(self._on_hover_switched)
        self._attach_model_tree()
        self.readers = ReaderPool(self)
        self._enable_view_controls(True)
        self._show_view_settings()

    def _enable_view_controls(self, on):
        self.dock.widget().setEnabled(on)
        for action in self._view_actions:
            action.setEnabled(on)

    def eventFilter(self, watched, event):
        if watched is self.starting and event.type() == QEvent.Paint:
            # Once this paint has gone out: its flush follows the paint events.
            QTimer.singleShot(0, self._on_painted)
        return QMainWindow.eventFilter(self, watched, event)

    def showEvent(self, event):
        QMainWindow.showEvent(self, event)
        if self.viewer3d is None:
            QTimer.singleShot(PAINT_OVERDUE_MS, self._on_painted)

    def _on_painted(self):
        if self._painted:
            return
        self._painted = True
        QApplication.sync()  # the X server has drawn it before anything long starts
        self.painted.emit()

    def start(self, parts=(), mode=DisplayMode.SHADED, projection=ProjectionType.ORTHOGRAPHIC,
              direction=ViewDirection.ISO, files=(), view_state=None):
        """Paints the initial view, applies the start-up options, then shows parts or opens files.

        view_state, a state that service.get_view_state() gave, is restored
        once the scene is shown, in place of fitting the view to it.
        """
        from morvik_viewer.viewer import start_scene

        settings = self.view_settings
        start_scene(self.service, self.up_axis, settings.projection_type, settings.display_mode,
                    settings.transparency)
        self._start_view_tools()
        # The options come as changes of the settings, which the toolbar, the menus, the
        # service and the status bar follow, as they follow the user's.
        settings.display_mode = mode
        settings.projection_type = projection
        self.service.set_projection(direction)
        self.direction = direction
        self._start_parts = list(parts)
        if files:
            self.open_files(files, view_state)
        else:
            self.show_scene(self._start_parts, view_state)
        # The next open's reader starts once the first frame is drawn.
        QTimer.singleShot(SPARE_READER_AFTER_MS, self._prepare_reader)

    def show_scene(self, parts, view_state=None):
        """Replaces the scene with parts at hand (a few: they are shown at once)."""
        from morvik_viewer.scene import show_parts

        self.view_widget.clear_selection()
        self.service.erase_all()
        show_parts(self.service, parts, update=False)
        self.measure.scene_changed({part.shape_id: part.unit for part in parts})
        self._shown([part.shape_id for part in parts])
        # One viewer update: the restored view's, or the fit's.
        if view_state is None or not restore(self.service, view_state):
            self.frame_scene()
        self._scene_changed([], view_state)

    def open_files(self, paths, view_state=None):
        """Replaces the scene with the solids of STEP or BREP files, behind a progress dialog.

        Reading, then clearing and showing, keep the window answering; Cancel
        while reading keeps the scene as it was. Returns False when another
        load is still running.
        """
        from morvik_viewer.loading import SceneLoad

        if self._still_loading():
            return False
        # The load frames the scene itself, and styles and turns the shapes as it shows them.
        self._load = SceneLoad(self.service, paths, view_state, fit=self.frame_scene,
                               shown=self._shown, parent=self, readers=self.readers)
        self._tree_follows_load(self._load)  # before the window hears the end
        self._load.finished.connect(lambda outcome: self._on_load_finished(outcome, view_state))
        self._load.start(self)
        return True

    def _shown(self, shape_ids):
        """Gives shapes just displayed, not drawn yet, the application's look and the up axis."""
        from morvik_viewer.viewer import style_shapes

        style_shapes(self.service, shape_ids)
        turn_shapes(self.service, self.up_axis, shape_ids)

    def load_file(self, path):
        """Replaces the scene with the solids of a STEP or BREP file (see open_files)."""
        return self.open_files([path])

    def reload(self):
        """Reads the open files again, or shows the parts given at start again; the camera stays."""
        if self._still_loading():
            return
        state = self.service.get_view_state()
        if self.paths:
            self.open_files(self.paths, state)
        else:
            self.show_scene(self._start_parts, state)

    def _still_loading(self):
        if self._load is not None:
            self.show_message("Still opening the last files")
        return self._load is not None

    def _on_load_finished(self, outcome, view_state):
        load, self._load = self._load, None
        if load is not None:
            load.deleteLater()
        self.readers.prepare()  # that load used its reader up
        if outcome.state in ("failed", "cancelled"):
            self._update_count()  # the scene is as it was: empty at start, the hint shows
        if outcome.state == "failed":
            QMessageBox.warning(self, TITLE, outcome.message)
            return
        if outcome.state == "cancelled":
            self.show_message("Opening cancelled: the scene is as it was")
            return
        self.view_widget.clear_selection()
        self.measure.scene_changed(outcome.units)
        if outcome.shown:  # else stopped while the old scene went: what is left is of the old files
            self.paths = outcome.paths
        self._scene_changed(self.paths, view_state)
        if outcome.state == "stopped":
            self.show_message(f"Opening stopped: {len(outcome.shown)} shapes shown")

    def _scene_changed(self, paths, view_state):
        # The scene is styled and framed by now.
        if view_state is not None:  # the service took it: the settings follow
            self.view_settings.take_state(self.service.get_view_state())
        self._update_count()
        self.view_widget.hover.scene_changed()
        self._section_follows(view_state)
        self._show_model_tree(paths)
        self.loaded(paths)

    def loaded(self, paths):
        """Called once a new scene is on screen: paths are its files (none for given parts).

        The one place to follow what the window shows (status, title, recent files).
        """
        if paths:
            self.show_message(f"Loaded {', '.join(os.fspath(p) for p in paths)}")
            self.recent.add(paths)
        self._show_title(paths)

    # --- actions --------------------------------------------------------------

    def _create_actions(self):
        file_menu = self.menuBar().addMenu("&File")
        view = self._view_actions.append
        view(self._add_action(file_menu, "&Open…", QKeySequence.Open, self.open_file_dialog))
        self.recent_menu = file_menu.addMenu("Open &Recent")
        self.recent_menu.aboutToShow.connect(self._fill_recent_menu)
        self._fill_recent_menu()
        view(self.recent_menu.menuAction())
        view(self._add_action(file_menu, "&Reload", "F5", self.reload))
        self._create_image_actions(file_menu)
        file_menu.addSeparator()
        self._add_action(file_menu, "&Quit", QKeySequence.Quit, self.close)

        view_menu = self.menuBar().addMenu("&View")
        view(self._add_action(view_menu, "&Fit All", "F", self.fit_all))
        view(self._add_action(view_menu, "&Hide Selected", "H", self.hide_selected))
        view(self._add_action(view_menu, "&Show All", "Shift+H", self.show_all))
        # Esc belongs to the window that has focus: a dialog's Esc closes the dialog.
        view(self._add_action(view_menu, "&Clear Selection", "Esc", self._on_escape,
                              Qt.WindowShortcut))
        self._create_view_tools(view_menu)
        self._create_model_tree(view_menu)
        view_menu.addSeparator()
        # Checked items that follow the view settings, named as the toolbar names them.
        settings = self.view_settings
        self.display_mode_actions = self._add_choices(
            view_menu, settings.set_display_mode,
            ((DisplayMode.WIREFRAME, "W"), (DisplayMode.SHADED, "S"), (DisplayMode.BOTH, "B")))
        view_menu.addSeparator()
        self.projection_actions = self._add_choices(
            view_menu, settings.set_projection_type,
            ((ProjectionType.ORTHOGRAPHIC, None), (ProjectionType.PERSPECTIVE, None)))
        view(self._add_action(view_menu, "Toggle &Perspective", "P", self.toggle_projection_type))
        self._view_actions += [*self.display_mode_actions.values(),
                               *self.projection_actions.values()]
        view_menu.addSeparator()
        up_menu = view_menu.addMenu("&Up Axis")
        group = QActionGroup(self)
        self.up_actions = {}
        for up, text in UP_CHOICES:
            action = self._add_action(up_menu, text, None, lambda up=up: self.set_up_axis(up))
            action.setCheckable(True)
            group.addAction(action)
            self.up_actions[up] = action
        self.up_actions[self.up_axis].setChecked(True)
        self._create_tools_menu()
        settings.display_mode_changed.connect(self._show_view_settings)
        settings.projection_type_changed.connect(self._show_view_settings)
        self._show_view_settings()

    def _add_action(self, menu, text, shortcut, slot, context=Qt.ApplicationShortcut):
        action = QAction(text, self)
        if shortcut is not None:
            action.setShortcut(QKeySequence(shortcut))
            action.setShortcutContext(context)
        action.triggered.connect(lambda checked=False: slot())
        menu.addAction(action)
        self.addAction(action)
        return action

    def _add_choices(self, menu, choose, members):
        """One checkable item per member, exclusive, each calling choose(member); by value."""
        group = QActionGroup(self)
        actions = {}
        for member, key in members:
            text = caption(member).replace("&", "&&")
            action = self._add_action(menu, text, key, lambda member=member: choose(member))
            action.setCheckable(True)
            group.addAction(action)
            actions[member.value] = action
        return actions

    def _show_view_settings(self, *_):
        mode = self.view_settings.display_mode
        for actions, value in ((self.display_mode_actions, mode),
                               (self.projection_actions, self.view_settings.projection_type)):
            if value in actions:
                actions[value].setChecked(True)
        if self.service is not None:
            from morvik_viewer.viewer import highlight_faces

            highlight_faces(self.service.get_context(), mode != DisplayMode.WIREFRAME.value)

    # --- files --------------------------------------------------------------------

    def open_file_dialog(self):
        paths, _ = QFileDialog.getOpenFileNames(
            self, "Open CAD files", last_folder(self.settings), FILE_FILTER)
        if paths:
            remember_folder(self.settings, paths[0])
            self.open_files(paths)

    def _fill_recent_menu(self):
        menu = self.recent_menu
        menu.clear()
        paths = self.recent.paths()
        for number, path in enumerate(paths, 1):
            name = Path(path).name.replace("&", "&&")
            action = menu.addAction(f"&{number} {name}")
            action.setStatusTip(path)
            action.setToolTip(path)
            action.setEnabled(os.path.isfile(path))  # a file gone since stays listed, greyed
            action.triggered.connect(lambda checked=False, path=path: self.open_files([path]))
        if not paths:
            menu.addAction("No recent files").setEnabled(False)
        menu.addSeparator()
        clear = menu.addAction("&Clear Recent Files")
        clear.setEnabled(bool(paths))
        clear.triggered.connect(lambda checked=False: self.recent.clear())

    def _show_title(self, paths):
        names = [Path(path).name for path in paths]
        if len(names) > TITLE_FILES:
            names = names[:TITLE_FILES - 1] + [f"{len(names) - TITLE_FILES + 1} more"]
        self.setWindowTitle(f"{', '.join(names) if names else SAMPLE_TITLE} — {TITLE}")

    def _dropped_files(self, mime):
        if self.service is None:
            return []  # nothing opens before the view is there
        return [url.toLocalFile() for url in mime.urls()
                if url.isLocalFile() and Path(url.toLocalFile()).suffix.lower() in OPENABLE]

    def _prepare_reader(self):
        if self._load is None:  # else the load's end prepares it, without slowing the load
            self.readers.prepare()

    def dragEnterEvent(self, event):
        if self._dropped_files(event.mimeData()):
            event.acceptProposedAction()

    def dragMoveEvent(self, event):
        if self._dropped_files(event.mimeData()):
            event.acceptProposedAction()

    def dropEvent(self, event):
        paths = self._dropped_files(event.mimeData())
        if paths:
            event.acceptProposedAction()
            # Opened once the drop is over: the source waits for its answer.
            QTimer.singleShot(0, lambda: self.open_files(paths))

    def closeEvent(self, event):
        self.settings.setValue(GEOMETRY_KEY, self.saveGeometry())
        self.settings.setValue(STATE_KEY, self.saveState())
        self.settings.sync()
        QMainWindow.closeEvent(self, event)

    # --- view ---------------------------------------------------------------------

    def fit(self):
        """Fits the view to the scene, with a margin."""
        from morvik_viewer.viewer import fit_view

        fit_view(self.service)

    def frame_scene(self):
        """Fits a new scene as seen from the standard view in force, and again once the
        view has its final size (a window just shown may not have it yet)."""
        self.service.set_projection(self.direction)
        self.fit()
        self._fit_when_sized = not self.view_widget.has_final_size()

    def _on_view_resized(self):
        if self._fit_when_sized:
            self._fit_when_sized = False
            self.fit()

    def _on_direction_chosen(self, value):
        self.direction = ViewDirection(value)

    def fit_all(self):
        self.fit()
        self.show_message("Fit all")

    def hide_selected(self):
        shape_ids = self.view_widget.selected_shape_ids()
        if not shape_ids:
            self.show_message("Nothing selected to hide")
            return
        self.view_widget.clear_selection()
        for shape_id in shape_ids:
            self.service.set_shape_visibility(shape_id, False, False)
        self.service.get_context().UpdateCurrentViewer()
        self._update_count()
        self.show_message(f"Hidden: {shape_ids[0]}" if len(shape_ids) == 1
                          else f"Hidden: {len(shape_ids)} shapes")

    def show_all(self):
        self.service.show_all_shapes()
        self._update_count()
        self.show_message("All shapes shown")

    def set_up_axis(self, up, remember=True):
        """Shows models with up (up_axis.Z_UP or Y_UP) pointing up: the shapes shown turn at
        once, without being read again, and the view frames them anew from the standard
        view in force. Remembered for later runs unless remember is False."""
        up = checked(up, self.up_axis)
        if remember:
            remember_up(self.settings, up)
        self.up_actions[up].setChecked(True)
        if up == self.up_axis:
            return
        self.up_axis = up
        if self.service is not None:
            upright(self.service, up)  # a load running turns what it shows next itself
            self.frame_scene()
            self._view_tools_follow_up()
            self.measure.show()  # its drawing turns with the shapes
        self.show_message(f"Up axis: {up.upper()}")

    def toggle_projection_type(self):
        settings = self.view_settings
        settings.projection_type = (
            ProjectionType.PERSPECTIVE
            if settings.projection_type == ProjectionType.ORTHOGRAPHIC.value
            else ProjectionType.ORTHOGRAPHIC)

    # --- section plane, view cube, zoom to selection, isolate, images ------------------

    def _create_image_actions(self, file_menu):
        self._view_actions.append(
            self._add_action(file_menu, "Save &Image…", None, self.save_image_dialog))

    def _create_view_tools(self, view_menu):
        from morvik_viewer.section import SectionPanel

        view = self._view_actions.append
        view(self._add_action(view_menu, "&Zoom to Selection", "Z", self.zoom_to_selection))
        view(self._add_action(view_menu, "&Isolate Selected", "I", self.isolate_selected))
        view_menu.addSeparator()
        # The panel is on while its dock shows: closing the dock takes the plane away.
        self.section = SectionPanel()
        self.section_dock = QDockWidget("Section", self)
        self.section_dock.setObjectName("section-plane")
        self.section_dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self.section_dock.setWidget(self.section)
        self.addDockWidget(Qt.RightDockWidgetArea, self.section_dock)
        self.section_dock.hide()
        self.section_action = self.section_dock.toggleViewAction()
        self.section_action.setText("S&ection Plane")
        self.section_action.toggled.connect(self.section.set_active)
        view_menu.addAction(self.section_action)
        view(self.section_action)
        self.view_cube_action = self._add_action(
            view_menu, "View &Cube", None,
            lambda: self.set_view_cube(self.view_cube_action.isChecked()))
        self.view_cube_action.setCheckable(True)
        self.view_cube_action.setChecked(remembered_view_cube(self.settings))
        view(self.view_cube_action)

    def _start_view_tools(self):
        # The service's set-up has just shown the trihedron.
        self.section.attach(self.service, lambda: self.up_axis)
        self.set_view_cube(self.view_cube_action.isChecked(), remember=False)

    def _view_tools_follow_up(self):
        # Naming the trihedron anew shows it; the plane's axis is the model's.
        self.set_view_cube(self.view_cube_action.isChecked(), remember=False)
        self.section.scene_changed()

    def _section_follows(self, view_state):
        """A restored state's plane shows in the panel; else the panel's plane moves
        across the new scene."""
        if view_state is None:
            self.section.scene_changed()
            return
        state = self.service.get_view_state()
        on = self.section.take_state(state.get("clip_plane") if isinstance(state, dict) else None)
        self.section_dock.setVisible(on)

    def set_view_cube(self, on, remember=True):
        """Shows OCCT's view cube in place of the trihedron (on), or the trihedron; kept in
        the settings unless remember is False."""
        on = bool(on)
        if remember:
            remember_view_cube(self.settings, on)
        self.view_cube_action.setChecked(on)
        if self.service is not None:
            from morvik_viewer.viewer import show_view_cube

            show_view_cube(self.service, on, self.up_axis)
            self.view_widget.view_cube_shown = on

    def zoom_to_selection(self):
        selected = self.view_widget.selected_shape_ids()
        self.service.fit_selected()
        self.show_message("Zoomed to the selection" if selected else "Nothing selected: fit all")

    def isolate_selected(self):
        shape_ids = self.view_widget.selected_shape_ids()
        if not shape_ids:
            self.show_message("Nothing selected to isolate")
            return
        self.service.isolate_shapes(shape_ids)
        self._update_count()
        self.show_message(f"Isolated: {shape_ids[0]}" if len(shape_ids) == 1
                          else f"Isolated: {len(shape_ids)} shapes")

    def save_image_dialog(self):
        from morvik_viewer.save_image import SaveImageDialog

        dialog = SaveImageDialog(self.view_widget.device_size(), last_folder(self.settings), self)
        if dialog.exec() == QDialog.Accepted:
            self.save_image(dialog.path(), dialog.image_size())

    def save_image(self, path, size=None):
        """Saves what the view shows to a PNG or JPEG file at size (the view's device size by
        default); returns the path written, or None once the user has been told why not."""
        from morvik_viewer.paths import shown
        from morvik_viewer.save_image import ImageError, save_view_image

        try:
            written = save_view_image(self.viewer3d.view, path,
                                      size or self.view_widget.device_size())
        except ImageError as error:
            QMessageBox.warning(self, TITLE, str(error))
            return None
        self.show_message(f"Saved {shown(written)}")
        return written

    # --- measuring ----------------------------------------------------------------------

    def _create_tools_menu(self):
        from morvik_viewer.measure import MeasureTool

        tools_menu = self.menuBar().addMenu("&Tools")
        self.measure = MeasureTool(self)
        tools_menu.addAction(self.measure.action)
        self.addAction(self.measure.action)
        self._view_actions.append(self.measure.action)

    def _on_escape(self):
        # Esc leaves measure mode first; it clears the selection otherwise.
        if self.measure.active:
            self.measure.set_active(False)
        else:
            self.view_widget.clear_selection()

    # --- model tree -------------------------------------------------------------

    def _create_model_tree(self, view_menu):
        from morvik_viewer.model_tree import ModelTree
        from morvik_viewer.settings import remember_model_tree, remembered_model_tree

        self.model_tree = ModelTree()
        self.model_tree.setEnabled(False)  # till the view is attached
        self._trees = []  # the open files' trees (tree.FileTree)
        self.tree_dock = QDockWidget("Model", self)
        self.tree_dock.setObjectName("model-tree")
        self.tree_dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self.tree_dock.setWidget(self.model_tree)
        self.addDockWidget(Qt.LeftDockWidgetArea, self.tree_dock)
        self.tree_dock.setVisible(remembered_model_tree(self.settings))
        action = self.tree_dock.toggleViewAction()
        action.setText("Model &Tree")
        action.setShortcut(QKeySequence("Ctrl+T"))
        action.toggled.connect(lambda shown: remember_model_tree(self.settings, shown))
        view_menu.addAction(action)

    def _attach_model_tree(self):
        tree, widget = self.model_tree, self.view_widget
        tree.attach(self.service)
        tree.setEnabled(True)
        tree.picked.connect(self._on_selection_changed)
        tree.visibility_changed.connect(self._update_count)
        widget.selection_changed.connect(
            lambda shape_id: tree.select_ids(widget.selected_shape_ids(), shape_id))

    def _tree_follows_load(self, load):
        # The rows name shapes the load may erase: off till the new scene is listed, and
        # gone with the old scene.
        self.model_tree.setEnabled(False)
        load.clearing.connect(self.model_tree.clear)
        load.finished.connect(self._take_trees)

    def _take_trees(self, outcome):
        if outcome.shown:
            self._trees = outcome.trees
        self.model_tree.setEnabled(True)
        if outcome.state in ("failed", "cancelled"):  # no _scene_changed: list what is left
            self._show_model_tree(self.paths)

    def _show_model_tree(self, paths):
        """Lists the scene's parts under the trees of its files (paths; none: flat)."""
        self.model_tree.show_scene(self._trees if paths else [],
                                   list(self.service.get_all_shapes()))

    # --- status bar -------------------------------------------------------------

    def show_message(self, text):
        self.statusBar().showMessage(text, MESSAGE_MS)

    def _on_selection_changed(self, shape_id):
        count = len(self.view_widget.selected_shape_ids())
        if count > 1:
            self.selection_label.setText(f"{count} selected")
        else:
            self.selection_label.setText(f"Selected: {shape_id}" if shape_id else "")

    def _on_hover_switched(self, on):
        self.show_message("Hover highlighting back on" if on
                          else "Hover highlighting off: the scene is too large")

    def _update_count(self):
        """Shape count (and hidden ones) in the status bar; the hint in place of an empty view."""
        shapes = self.service.get_all_shapes()
        count, hidden = len(shapes), sum(not info.visible for info in shapes.values())
        text = f"{count} shape{'s' if count != 1 else ''}"
        self.count_label.setText(f"{text}, {hidden} hidden" if hidden else text)
        # Before the window is shown the view stays: Qt hides only a native
        # window it has shown, and OCCT maps the view's own at once.
        empty = count == 0 and self.isVisible()
        self.central.setCurrentWidget(self.empty_hint if empty else self.view_widget)
