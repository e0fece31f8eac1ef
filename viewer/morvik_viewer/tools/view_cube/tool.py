"""OCCT's view cube in place of the trihedron, as a tool: View ▸ View Cube.

Its on/off is the view state's "view_cube": the menu's check mark, the
settings kept and the view follow it.
"""

from PySide6.QtGui import QAction

from morvik_viewer.tools.base import VIEW_MENU, Tool


class ViewCubeTool(Tool):
    def __init__(self, state, parent=None):
        Tool.__init__(self, state, parent)
        self.action = QAction("View &Cube", self)
        self.action.setCheckable(True)
        self.action.setChecked(state.view_cube)
        self.needs(self.action)
        self.action.triggered.connect(lambda on: setattr(state, "view_cube", on))
        state.changed.connect(self._follow)

    def names(self):
        return {"view_cube_action": self.action}

    def actions(self):
        return [(VIEW_MENU, self.action)]

    def attach(self, host):
        # The service's set-up has just shown the trihedron.
        Tool.attach(self, host)
        self.show()

    def show(self):
        """Shows the cube, or the trihedron alone, as the state says, named for its up axis."""
        self.action.setChecked(self.state.view_cube)
        if self.host is not None:
            self.host.side.show_view_cube(self.host.service, self.state.view_cube,
                                          self.state.up_axis)
            self.host.view.view_cube_shown = self.state.view_cube

    def _follow(self, name):
        # Naming the trihedron anew (another up axis) shows it: the cube goes back over it.
        if name in ("view_cube", "up_axis"):
            self.show()
