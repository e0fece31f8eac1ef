"""View enumerations shared by the viewer service and the view toolbar.

Stand-in for the host's own module: members are reached by name, and each
member's value is a distinct lower-case string that the toolbar shows and emits.
"""

from enum import Enum

__all__ = ["ViewDirection", "ProjectionType", "DisplayMode"]


class ViewDirection(Enum):
    """One of the seven standard view directions."""

    TOP = "top"
    BOTTOM = "bottom"
    FRONT = "front"
    BACK = "back"
    LEFT = "left"
    RIGHT = "right"
    ISO = "iso"


class ProjectionType(Enum):
    """Camera projection."""

    PERSPECTIVE = "perspective"
    ORTHOGRAPHIC = "orthographic"


class DisplayMode(Enum):
    """How shapes are drawn: lines only, shaded faces, or shaded faces with boundaries."""

    WIREFRAME = "wireframe"
    SHADED = "shaded"
    BOTH = "both"
