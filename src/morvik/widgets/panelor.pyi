"""Viewer toolbar: the Panelor widget and its view-control signals."""

from typing import ClassVar

from PySide6.QtCore import QMetaObject, Signal
import PySide6.QtWidgets

import morvik.enums


class Panelor(PySide6.QtWidgets.QWidget):
    """
    Toolbar component for controlling 3D view settings.

    Signals:
        projection_changed(str): Emitted when view projection changes (top, front, iso, etc.)
        projection_type_changed(str): Emitted when projection type changes (perspective/orthographic)
        display_mode_changed(str): Emitted when display mode changes (shaded/wireframe)
        transparency_changed(float): Emitted when global transparency changes (0.0-1.0)
        fit_all_requested(): Emitted when fit all button is clicked
    """

    projection_changed: ClassVar[Signal] = ...

    projection_type_changed: ClassVar[Signal] = ...

    display_mode_changed: ClassVar[Signal] = ...

    transparency_changed: ClassVar[Signal] = ...

    fit_all_requested: ClassVar[Signal] = ...

    def __init__(self, parent: PySide6.QtWidgets.QWidget | None = None, orientation: str = 'horizontal', show_projection_type: bool = True) -> None:
        """
        Build the toolbar: parent widget (None for a top-level one), "horizontal" or "vertical" layout, and whether to show the projection type selector.
        """

    def set_projection_type(self, proj_type: morvik.enums.ProjectionType) -> None:
        """Select the projection type (a ProjectionType member)."""

    def get_projection_type(self) -> str:
        """The selected projection type, as its value string."""

    def set_display_mode(self, mode: morvik.enums.DisplayMode) -> None:
        """Select the display mode (a DisplayMode member)."""

    def get_display_mode(self) -> str:
        """The selected display mode, as its value string."""

    def set_transparency(self, transparency: float) -> None:
        """Set the transparency (0.0 to 1.0), as the nearest whole percent."""

    def get_transparency(self) -> float:
        """The transparency, 0.0 to 1.0 in steps of 0.01."""

    staticMetaObject: ClassVar[QMetaObject] = ...
