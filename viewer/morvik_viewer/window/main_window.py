"""The main window: the OCCT view, the view toolbar docked beside it, a status bar.

The window shows before OCP has loaded (about a second of imports): menus,
toolbar and status bar at once, and a page saying the view is starting where
the view goes. attach() puts the OCCT view in that page's place, and start()
shows the first scene. Files opened in the meantime (File ▸ Open, a drop) open
then, in place of the first scene. Nothing OCP-bound is imported here at
module level: what the window calls on its view once OCP has loaded comes
through ocp_side().
"""

from pathlib import Path

from PySide6.QtCore import QEvent, Qt, QTimer, Signal
from PySide6.QtWidgets import QApplication, QDockWidget, QLabel, QMainWindow, QStackedWidget

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.widgets.panelor import Panelor
from morvik_viewer.app.settings import (
    GEOMETRY,
    MODEL_TREE,
    PALETTE,
    STATE,
    UP,
    VIEW_CUBE,
    RecentFiles,
    load,
    open_settings,
    store,
)
from morvik_viewer.model.colors import GRADIENT_BOTTOM, GRADIENT_TOP
from morvik_viewer.model.file_kinds import EXPECTED, openable
from morvik_viewer.model.up_axis import checked, files_up
from morvik_viewer.model.view_state import ViewState
from morvik_viewer.reader.pool import ReaderPool
from morvik_viewer.tools import TOOLS
from morvik_viewer.tools.base import Host
from morvik_viewer.window.commands import Commands
from morvik_viewer.window.menus import Menus
from morvik_viewer.window.scenes import TITLE, Scenes
from morvik_viewer.window.status import Status
from morvik_viewer.window.wiring import connect_service, connect_toolbar

STARTING_TEXT = "Starting the 3D view…"
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


def ocp_side():
    """The OCP-bound half of the window (window.ocp_side): the view widget, the view's look,
    fits and loads, the sample scene. The window shows before OCP has loaded, so this is
    the one place the window's code, and the command line's, import it: once OCP has
    loaded (app.ocp_import imports it on its thread), or, for a saved view state, once
    the command line has loaded OCP itself, before the window shows."""
    # The window's one late import: nothing it imports at module level loads OCP.
    from morvik_viewer.window import ocp_side as side

    return side


class ViewerWindow(QMainWindow):
    """Hosts one OCCT view with its service, the toolbar, the menus and the tools (tools.TOOLS).

    Given a viewer3d (view.graphics.create_viewer3d), the view is in place at once;
    without one, the window can show before OCP loads, and attach(viewer3d)
    puts the view in later (painted says when the window is on screen).
    """

    # The window's first frame is on screen, before any view is attached (once).
    painted = Signal()

    def __init__(self, viewer3d=None, parent=None, up=None, palette=None):
        """up, an up_axis axis, overrides the one remembered, and the files' own, for this
        window only; palette, a bool, whether uncoloured parts take the palette's colours,
        the one remembered."""
        QMainWindow.__init__(self, parent)
        self.setWindowTitle(TITLE)
        self.viewer3d = self.service = self.view_widget = None
        self.readers = None  # the next open's reader, started ahead (once attached)
        # The view is a native window that Qt does not paint, so what shows in
        # its place (starting, or an empty scene) is a page of its own rather
        # than a label over it.
        self.starting = QLabel(STARTING_TEXT)
        self.starting.setAlignment(Qt.AlignCenter)
        self.starting.installEventFilter(self)
        self._painted = False
        self.central = QStackedWidget()
        self.central.addWidget(self.starting)
        self.status = Status(self, self.central)
        self.show_message, self.empty_hint = self.status.show_message, self.status.empty_hint
        self.selection_label, self.count_label = self.status.selection_label, self.status.count_label
        self.setCentralWidget(self.central)
        self.setAcceptDrops(True)

        self.settings = open_settings()
        self.recent = RecentFiles(self.settings)
        # How the view draws and which tools are on, in one place: the toolbar, the menus,
        # the service, the tools and the settings kept follow it.
        self.state = ViewState(self, up_axis=checked(up, load(self.settings, UP)),
                               view_cube=load(self.settings, VIEW_CUBE),
                               model_tree=load(self.settings, MODEL_TREE))
        self.state.changed.connect(self._follow)  # before the tools: the shapes turn first
        # The user's choice of axis (--up, or View ▸ Up Axis) wins over what files say.
        self._up_chosen = checked(up, None) is not None
        self.palette = load(self.settings, PALETTE) if palette is None else bool(palette)
        self.toolbar = Panelor(None, "vertical")
        connect_toolbar(self.toolbar, self.state)
        self.dock = QDockWidget("View", self)
        self.dock.setObjectName("view-controls")
        self.dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self.dock.setFeatures(QDockWidget.DockWidgetMovable)
        self.dock.setWidget(self.toolbar)
        self.addDockWidget(Qt.RightDockWidgetArea, self.dock)
        self.direction = ViewDirection.ISO  # the standard view a new scene is fitted from
        self._fit_when_sized = False

        self.scenes = Scenes(self, ocp_side)
        self.show_scene, self.open_files = self.scenes.show, self.scenes.open
        self.reload = self.scenes.reload
        self._view_started = False

        self.tools = [make(self.state, self) for make in TOOLS]
        for tool in self.tools:
            if tool.dock_widget() is not None:
                self.addDockWidget(tool.area, tool.dock_widget())
            for name, part in tool.names().items():
                setattr(self, name, part)
        self.commands = Commands(self, ocp_side)
        for name in ("fit_all", "hide_selected", "show_all", "zoom_to_selection",
                     "isolate_selected", "save_image_dialog", "save_image", "export"):
            setattr(self, name, getattr(self.commands, name))
        self.menus = Menus(self, self.tools)
        self.recent_menu, self.up_actions = self.menus.recent_menu, self.menus.up_actions
        self.display_mode_actions = self.menus.display_mode_actions
        self.projection_actions = self.menus.projection_actions
        self.palette_action = self.menus.palette_action
        self.resize(1100, 720)
        # Bytes another Qt or a hand edit spoilt are turned down here, and the default stays.
        self.restoreGeometry(load(self.settings, GEOMETRY))
        self.restoreState(load(self.settings, STATE))
        for tool in self.tools:
            tool.layout_restored()
        self._enable_view_controls(False)
        if viewer3d is not None:
            self.attach(viewer3d)

    # --- start-up -----------------------------------------------------------

    def attach(self, viewer3d):
        """Puts the OCCT view of viewer3d (see view.graphics.create_viewer3d) in the window, in
        place of the starting page, and its service to follow the view state; start()
        follows. Once."""
        if self.viewer3d is not None:
            raise RuntimeError("the window has its view already")
        self.viewer3d, self.service = viewer3d, viewer3d.service
        self.view_widget = ocp_side().OcctViewWidget(viewer3d.service, viewer3d.connection,
                                                     self.central)
        self.status.view = self.view_widget
        self.central.addWidget(self.view_widget)
        self.central.setCurrentWidget(self.view_widget)
        self.empty_hint.setStyleSheet(
            "QLabel { color: white; font-size: 13pt; background: qlineargradient("
            f"x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 {_css(GRADIENT_TOP)}, "
            f"stop: 1 {_css(GRADIENT_BOTTOM)}); }}")
        self.central.removeWidget(self.starting)
        self.starting.deleteLater()
        self.starting = None

        self.slots = connect_service(self.service, self.state, self.toolbar,
                                     self.show_message, self.fit, ocp_side().hide_lines)
        self.toolbar.projection_changed.connect(
            lambda value: setattr(self, "direction", ViewDirection(value)))
        self.view_widget.view_resized.connect(self._on_view_resized)
        self.view_widget.selection_changed.connect(self.status.selection)
        self.view_widget.hover.switched.connect(self.status.hover_switched)
        self.readers = ReaderPool(self)
        self._enable_view_controls(True)
        self._follow("display_mode")

    def _enable_view_controls(self, on):
        self.dock.widget().setEnabled(on)
        for action in self.menus.view_actions:
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

    def start_view(self):
        """Paints the initial view, empty (its first frame), and attaches the tools: start()
        does it first unless this did; called apart, the event loop can answer between
        the two. Once."""
        self._view_started = True
        state = self.state
        ocp_side().start_scene(self.service, state.up_axis, state.projection_type,
                               state.display_mode, state.transparency)
        host = Host(self.service, self.view_widget, self.show_message, self.recount,
                    self.status.selection, self.focus_view, ocp_side())
        for tool in self.tools:
            tool.attach(host)

    def start(self, parts=(), mode=DisplayMode.SHADED, projection=ProjectionType.ORTHOGRAPHIC,
              direction=ViewDirection.ISO, files=(), view_state=None, explode=0.0):
        """Paints the initial view, applies the start-up options, then shows parts or opens files.

        mode is a DisplayMode or a value string of display_modes.CHOICES (the
        viewer's own hidden-line mode among them); explode, the exploded view's
        percentage. view_state, a state that service.get_view_state() gave, is
        restored once the scene is shown, in place of fitting the view to it.
        """
        if not self._view_started:
            self.start_view()
        # The options come as changes of the state, which the toolbar, the menus, the
        # service and the status bar follow, as they follow the user's.
        self.state.choose_display_mode(mode)
        self.state.projection_type, self.state.explode = projection, explode
        self.service.set_projection(direction)
        self.direction = direction
        self.scenes.start_parts = list(parts)
        queued, self.scenes.queued = self.scenes.queued, None
        if queued is not None:  # asked for while the view started: the user's word is the last
            files, view_state = queued
        if files:
            self.open_files(files, view_state)
        else:
            self.show_scene(self.scenes.start_parts, view_state)
        # The next open's reader, once the first frame is drawn: a bound method, as a pending
        # lambda would keep the window and its service alive into the interpreter's shutdown.
        QTimer.singleShot(SPARE_READER_AFTER_MS, self._prepare_reader)

    def _prepare_reader(self):
        if self.scenes.load is None:  # else the load's end prepares it, without slowing the load
            self.readers.prepare()

    def load_file(self, path):
        """Replaces the scene with the solids of a STEP or BREP file (see open_files)."""
        return self.open_files([path])

    def recount(self):
        self.status.count(self.service)

    # --- the state's followers, the view ------------------------------------------------

    def _follow(self, name):
        state = self.state
        if name in ("view_cube", "model_tree"):  # kept for later runs
            store(self.settings, VIEW_CUBE if name == "view_cube" else MODEL_TREE, getattr(state, name))
        elif name == "display_mode" and self.service is not None:
            ocp_side().highlight_faces(self.service.get_context(),
                                       state.display_mode != DisplayMode.WIREFRAME.value)
        elif name == "up_axis" and self.service is not None:
            # A load running turns what it shows next itself.
            ocp_side().upright(self.service, state.up_axis)
            self.frame_scene()

    def set_up_axis(self, up, remember=True):
        """Shows models with up (up_axis.Z_UP or Y_UP) pointing up: the shapes shown turn at
        once, without being read again, and the view frames them anew from the standard
        view in force. Remembered for later runs unless remember is False."""
        up = checked(up, self.state.up_axis)
        if remember:
            store(self.settings, UP, up)
            self._up_chosen = True
        if up == self.state.up_axis:
            return
        self.state.up_axis = up
        self.show_message(f"Up axis: {up.upper()}")

    def up_from_files(self, paths):
        """Files that all say their up axis (a header naming an authoring system that models
        Y-up, a format that defines one) show it, said in the status bar; other files the
        axis remembered. The user's choice wins."""
        trees = self.scenes.trees if paths else []
        if self._up_chosen or not trees:
            return
        said = files_up(trees)
        up = said or load(self.settings, UP)
        if up == self.state.up_axis:
            return
        self.set_up_axis(up, remember=False)
        if said is not None:
            self.show_message(f"Shown {up.upper()} up, as {trees[0].source or 'its authoring system'} "
                              "models (View ▸ Up Axis to choose)")

    def set_palette(self, on):
        """Shows the parts files leave uncoloured in the palette's colours (on) or in one
        grey; remembered, and the files shown read again."""
        self.palette = bool(on)
        store(self.settings, PALETTE, self.palette)
        self.palette_action.setChecked(self.palette)
        if self.scenes.paths and self.service is not None:
            self.reload()

    def set_view_cube(self, on):
        """Shows OCCT's view cube in place of the trihedron (on), or the trihedron; kept in
        the settings."""
        self.state.view_cube = bool(on)

    def fit(self):
        """Fits the view to the scene, with a margin."""
        ocp_side().fit_view(self.service)

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

    def focus_view(self, shown=False):
        """Gives the keyboard to the view, whose shortcuts then take every key; a panel that
        shows (shown) keeps it. A panel that closes with the focus would hand it to the next
        widget (the search line, which would take the view's keys as text): the view takes
        it first, as the panel hides. Not as the window itself goes."""
        if not shown and self.view_widget is not None and self.isVisible():
            self.view_widget.setFocus(Qt.OtherFocusReason)

    # --- drops, closing ---------------------------------------------------------

    def dragEnterEvent(self, event):
        # Every local file is taken, so that one of a kind not opened is told, not ignored;
        # one dropped before the view is there opens once it is (see open_files).
        if any(url.isLocalFile() for url in event.mimeData().urls()):
            event.acceptProposedAction()

    dragMoveEvent = dragEnterEvent

    def dropEvent(self, event):
        paths, others = openable([url.toLocalFile() for url in event.mimeData().urls()
                                  if url.isLocalFile()])
        if paths or others:
            event.acceptProposedAction()
        if others:
            names = ", ".join(Path(p).name for p in others)
            self.show_message(f"Not opened, of a kind not supported ({EXPECTED}): {names}")
        if paths:
            # Opened once the drop is over: the source waits for its answer.
            QTimer.singleShot(0, lambda: self.open_files(paths))

    def closeEvent(self, event):
        for tool in self.tools:
            tool.closing()
        store(self.settings, GEOMETRY, self.saveGeometry())
        store(self.settings, STATE, self.saveState())
        self.settings.sync()
        QMainWindow.closeEvent(self, event)
