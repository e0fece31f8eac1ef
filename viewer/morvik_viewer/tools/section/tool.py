"""The section plane as a tool: its panel in a dock, and View ▸ Section Plane.

The plane is on while its dock shows (the view state's "section"): closing the
dock takes the plane away, and a restored view state's plane opens it.
"""

from PySide6.QtCore import Qt
from PySide6.QtWidgets import QDockWidget

from morvik_viewer.tools.base import VIEW_MENU, Tool
from morvik_viewer.tools.section.panel import SectionPanel


class SectionTool(Tool):
    def __init__(self, state, parent=None):
        Tool.__init__(self, state, parent)
        self.panel = SectionPanel()
        self._dock = QDockWidget("Section")
        self._dock.setObjectName("section-plane")
        self._dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self._dock.setWidget(self.panel)
        self._dock.hide()
        self.action = self._dock.toggleViewAction()
        self.action.setText("S&ection Plane")
        self.needs(self.action)
        self.action.toggled.connect(lambda on: setattr(state, "section", on))
        state.changed.connect(self._follow)

    def dock_widget(self):
        return self._dock

    def names(self):
        return {"section": self.panel, "section_action": self.action, "section_dock": self._dock}

    def actions(self):
        return [(VIEW_MENU, self.action)]

    def attach(self, host):
        Tool.attach(self, host)
        self.panel.attach(host.service, self.state)
        self._dock.visibilityChanged.connect(host.focus_view)

    def scene_changed(self, scene):
        """A restored state's plane shows in the panel; else the panel's plane moves
        across the new scene."""
        self.panel.unit = scene.unit
        if scene.view_state is None:
            self.panel.scene_changed()
            return
        state = self.host.service.get_view_state()
        self.state.section = self.panel.take_state(
            state.get("clip_plane") if isinstance(state, dict) else None)
        self._dock.setVisible(self.state.section)

    def _follow(self, name):
        if name == "section":
            self._dock.setVisible(self.state.section)
            self.panel.set_active(self.state.section)
        elif name == "up_axis":
            self.panel.scene_changed()  # the plane's axis is the model's
