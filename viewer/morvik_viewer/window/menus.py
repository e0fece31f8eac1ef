"""The window's menus: File, View and Tools, with their shortcuts; the View menu's check
marks follow the view state (model.view_state.ViewState), as the toolbar does."""

import os
from functools import partial
from pathlib import Path

from PySide6.QtCore import Qt
from PySide6.QtGui import QAction, QActionGroup, QKeySequence
from PySide6.QtWidgets import QFileDialog

from morvik.enums import DisplayMode, ProjectionType
from morvik_viewer.app.settings import last_folder, remember_folder
from morvik_viewer.model.display_modes import HIDDEN
from morvik_viewer.model.file_kinds import OPENABLE
from morvik_viewer.model.up_axis import Y_UP, Z_UP
from morvik_viewer.model.view_state import caption
from morvik_viewer.tools.base import TOOLS_MENU, VIEW_MENU

UP_CHOICES = ((Z_UP, "&Z Up (most CAD and EDA files)"), (Y_UP, "&Y Up"))
FILE_FILTER = f"CAD files ({' '.join('*' + suffix for suffix in OPENABLE)});;All files (*)"


class Menus:
    """Builds window's menus (a ViewerWindow, its commands and tools made); view_actions are
    those off till the view is there."""

    def __init__(self, window, tools):
        self._window = window
        self.view_actions = []
        view = self.view_actions.append
        commands, state = window.commands, window.state
        file_menu = window.menuBar().addMenu("&File")
        # Opening works from the first paint: what is asked for before the view is there waits.
        self.add(file_menu, "&Open…", QKeySequence.Open, self.open_file_dialog)
        self.recent_menu = file_menu.addMenu("Open &Recent")
        self.recent_menu.aboutToShow.connect(self.fill_recent_menu)
        self.fill_recent_menu()
        view(self.add(file_menu, "&Reload", "F5", window.reload))
        view(self.add(file_menu, "Save &Image…", None, window.save_image_dialog))
        view(self.add(file_menu, "&Export…", None, commands.export_dialog))
        view(self.add(file_menu, "Export &Selection…", None, commands.export_selection_dialog))
        file_menu.addSeparator()
        self.add(file_menu, "&Quit", QKeySequence.Quit, window.close)

        view_menu = window.menuBar().addMenu("&View")
        view(self.add(view_menu, "&Fit All", "F", commands.fit_all))
        view(self.add(view_menu, "&Hide Selected", "H", commands.hide_selected))
        view(self.add(view_menu, "&Show All", "Shift+H", commands.show_all))
        # Esc belongs to the window that has focus: a dialog's Esc closes the dialog.
        view(self.add(view_menu, "&Clear Selection", "Esc", commands.escape, Qt.WindowShortcut))
        view(self.add(view_menu, "&Zoom to Selection", "Z", commands.zoom_to_selection))
        view(self.add(view_menu, "&Isolate Selected", "I", commands.isolate_selected))
        view_menu.addSeparator()
        menus = {VIEW_MENU: view_menu}
        for menu, action in (pair for tool in tools for pair in tool.actions()):
            if menu == TOOLS_MENU and TOOLS_MENU not in menus:  # the last menu
                menus[TOOLS_MENU] = window.menuBar().addMenu("&Tools")
            if menu is not None:
                menus[menu].addAction(action)
            window.addAction(action)
        view_menu.addSeparator()
        # Checked items that follow the view state, named as the toolbar names them; Hidden
        # Line, the viewer's own, is Wireframe in the toolbar.
        self.display_mode_actions = self.add_choices(
            view_menu, state.choose_display_mode,
            ((DisplayMode.WIREFRAME, "W"), (HIDDEN, "L"), (DisplayMode.SHADED, "S"),
             (DisplayMode.BOTH, "B")))
        view_menu.addSeparator()
        self.projection_actions = self.add_choices(
            view_menu, partial(setattr, state, "projection_type"),
            ((ProjectionType.ORTHOGRAPHIC, None), (ProjectionType.PERSPECTIVE, None)))
        view(self.add(view_menu, "Toggle &Perspective", "P", self.toggle_projection_type))
        self.view_actions += [*self.display_mode_actions.values(),
                              *self.projection_actions.values()]
        view_menu.addSeparator()
        self.up_actions = self.add_choices(view_menu.addMenu("&Up Axis"), window.set_up_axis,
                                           UP_CHOICES, named=True)
        self.palette_action = self.add(view_menu, "&Palette for Uncoloured Parts", None,
                                       lambda: window.set_palette(self.palette_action.isChecked()))
        self.palette_action.setCheckable(True)
        self.palette_action.setChecked(window.palette)
        state.changed.connect(self.follow)
        self.follow()

    def add(self, menu, text, shortcut, slot, context=Qt.ApplicationShortcut):
        action = QAction(text, self._window)
        if shortcut is not None:
            action.setShortcut(QKeySequence(shortcut))
            action.setShortcutContext(context)
        action.triggered.connect(lambda checked=False: slot())
        menu.addAction(action)
        self._window.addAction(action)
        return action

    def add_choices(self, menu, choose, choices, named=False):
        """One checkable item per choice, exclusive, each calling choose(its value); by value.
        A choice is a (member, key) pair, or (value, text) named."""
        group = QActionGroup(self._window)
        actions = {}
        for value, key in choices:
            text = key if named else caption(value).replace("&", "&&")
            action = self.add(menu, text, None if named else key,
                              lambda value=value: choose(value))
            action.setCheckable(True)
            group.addAction(action)
            actions[getattr(value, "value", value)] = action
        return actions

    def follow(self, name=None):
        state = self._window.state
        for actions, value in ((self.display_mode_actions, state.display_choice),
                               (self.projection_actions, state.projection_type),
                               (self.up_actions, state.up_axis)):
            if value in actions:
                actions[value].setChecked(True)

    def toggle_projection_type(self):
        state = self._window.state
        state.projection_type = (ProjectionType.PERSPECTIVE
                                 if state.projection_type == ProjectionType.ORTHOGRAPHIC.value
                                 else ProjectionType.ORTHOGRAPHIC)

    def open_file_dialog(self):
        window = self._window
        paths, _ = QFileDialog.getOpenFileNames(
            window, "Open CAD files", last_folder(window.settings), FILE_FILTER)
        if paths:
            remember_folder(window.settings, paths[0])
            window.open_files(paths)

    def fill_recent_menu(self):
        menu, recent = self.recent_menu, self._window.recent
        menu.clear()
        paths = recent.paths()
        for number, path in enumerate(paths, 1):
            name = Path(path).name.replace("&", "&&")
            action = menu.addAction(f"&{number} {name}")
            action.setStatusTip(path)
            action.setToolTip(path)
            action.setEnabled(os.path.isfile(path))  # a file gone since stays listed, greyed
            action.triggered.connect(
                lambda checked=False, path=path: self._window.open_files([path]))
        if not paths:
            menu.addAction("No recent files").setEnabled(False)
        menu.addSeparator()
        clear = menu.addAction("&Clear Recent Files")
        clear.setEnabled(bool(paths))
        clear.triggered.connect(lambda checked=False: recent.clear())
