"""What a tool of the window is: its dock (or none), its actions, and what it follows.

The window builds every tool of tools.TOOLS, in that order, given the view's
state (model.view_state.ViewState); places each dock and each action; attaches
the tools once the view has started, lending them a Host; and tells them of each
scene. A tool never reaches into the window: what it needs comes through the
state and the host.
"""

from collections.abc import Callable
from dataclasses import dataclass
from typing import Any, NamedTuple

from PySide6.QtCore import QObject, Qt

# The menus a tool's action may go in; None: the window's own shortcut, in no menu.
VIEW_MENU, TOOLS_MENU = "view", "tools"


@dataclass(frozen=True)
class Host:
    """What the window lends its tools once the view is there."""

    service: Any  # the view's service (morvik.services.scenard.Scenard)
    view: Any  # the view widget (view.widget.OcctViewWidget): its selection and clicks
    report: Callable[[str], None]  # a line in the status bar
    recount: Callable[[], None]  # shapes were shown or hidden: the status bar counts again
    selected: Callable[[Any], None]  # shapes were selected from outside the view (shape_id)
    # The keyboard goes back to the view: connect a dock's visibilityChanged, and its hiding
    # hands it back (focus_view(shown)).
    focus_view: Callable[..., None]
    side: Any  # window.ocp_side: the OCP-bound helpers, loaded by now


class Scene(NamedTuple):
    """A scene just shown: its files (none for parts given), their trees (model.file_tree),
    the unit lengths show in (units.scene_unit), and the service's view state when one was
    restored (else None)."""

    paths: list
    trees: list
    unit: str
    view_state: Any = None


class Tool(QObject):
    """A tool: override what it has. The parent is the window, for the tool's lifetime alone."""

    area = Qt.DockWidgetArea.RightDockWidgetArea  # where its dock first goes

    def __init__(self, state, parent=None):
        QObject.__init__(self, parent)
        self.state = state
        self.host = None  # till attached
        self.needs_view = ()

    def dock_widget(self):
        """Its dock (the window places it), or None."""
        return None

    def actions(self):
        """Its actions, as (menu, action) pairs: VIEW_MENU, TOOLS_MENU or None."""
        return []

    def attach(self, host):
        """The view has started: host is what the tool may use from now on, and the actions
        that need the view are on. Once."""
        self.host = host
        for action in self.needs_view:
            action.setEnabled(True)

    def needs(self, *actions):
        """Keeps actions off till the view is there (needs_view)."""
        self.needs_view = actions
        for action in actions:
            action.setEnabled(False)

    def scene_loading(self, load):
        """A load (scene.loading.SceneLoad) begins: its clearing and finished signals come
        to a tool that connects them here before the window hears the end."""

    def shapes_shown(self, shape_ids):
        """Shapes just displayed (by identifier), styled and turned, not drawn yet: a load
        tells each batch as it shows it."""

    def scene_changed(self, scene):
        """A new scene (a Scene) is on screen, styled and framed."""

    def names(self):
        """Its parts under the names the window's hosts know them by: {name: part}."""
        return {}

    def layout_restored(self):
        """The window has placed every dock and restored the layout it kept."""

    def closing(self):
        """The window closes, before it saves its layout."""
