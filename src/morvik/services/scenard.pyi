"""
View service for the OCP viewer.

Handles all view-related operations and geometry display for OCP viewer
"""

from collections.abc import Callable, Iterable, Mapping
import logging
from typing import Any

import OCP.AIS
import OCP.Aspect
import OCP.TopAbs
import OCP.TopoDS
import OCP.V3d

import morvik.enums


logger: logging.Logger = ...

class ShapeInfo:
    """Information about a displayed shape."""

    def __init__(self, shape_id: str, ais_shape: OCP.AIS.AIS_Shape, color: tuple[float, float, float] | None = None, visible: bool = True) -> None: ...

    @property
    def shape_id(self, /) -> str: ...

    @shape_id.setter
    def shape_id(self, value: str, /) -> None: ...

    @property
    def ais_shape(self, /) -> OCP.AIS.AIS_Shape: ...

    @ais_shape.setter
    def ais_shape(self, value: OCP.AIS.AIS_Shape, /) -> None: ...

    @property
    def color(self, /) -> tuple[float, float, float] | None: ...

    @color.setter
    def color(self, value: tuple[float, float, float] | None, /) -> None: ...

    @property
    def visible(self, /) -> bool: ...

    @visible.setter
    def visible(self, value: bool, /) -> None: ...

    def __repr__(self) -> str: ...

class Scenard:
    """
    Service for managing view operations and geometry display in OCP viewer.
    """

    def __init__(self, view: OCP.V3d.V3d_View, viewer: OCP.V3d.V3d_Viewer, context: OCP.AIS.AIS_InteractiveContext) -> None: ...

    def setup_initial_view(self) -> None:
        """Setup initial view parameters."""

    def set_background_color(self, color: tuple[float, float, float]) -> None:
        """
        Set the background to a solid color, clearing any gradient.

        Args:
            color: RGB tuple (0.0 - 1.0) e.g. (1.0, 1.0, 1.0) for white.
        """

    def set_background_gradient(self, color1: tuple[float, float, float], color2: tuple[float, float, float], method: OCP.Aspect.Aspect_GradientFillMethod = ...) -> None:
        """
        Set the background to a two-color gradient.

        Args:
            color1: First color RGB tuple (0.0 - 1.0), top for vertical gradients.
            color2: Second color RGB tuple (0.0 - 1.0), bottom for vertical gradients.
            method: Aspect_GradientFillMethod (Vertical, Horizontal, Diagonal1/2, Corner1-4).
        """

    def set_view_cube(self, visible: bool) -> None:
        """
        Show or hide the view cube in the lower left corner of the view.

        Clicking a face, edge or corner of the cube turns the camera to look at
        it, in a short animation. The cube belongs to the view: it is no
        registered shape, and erase_all leaves it.

        Args:
            visible: True to show the cube, False to hide it
        """

    def set_projection(self, direction: morvik.enums.ViewDirection) -> None:
        """
        Set view direction.

        Args:
            direction: ViewDirection enum
        """

    def set_projection_type(self, projection_type: morvik.enums.ProjectionType) -> None:
        """
        Set the camera projection type.

        Args:
            projection_type: ProjectionType enum
        """

    def fit_all(self) -> None:
        """Fit all displayed objects in the view."""

    def fit_selected(self) -> None:
        """
        Fit the selected shapes in the view, or all shapes when none is selected.
        """

    def redraw(self) -> None:
        """Redraw the view."""

    def must_be_resized(self) -> None:
        """Notify view that it must be resized."""

    def start_rotation(self, x: int, y: int) -> None:
        """
        Start rotation at given coordinates.

        Args:
            x: X coordinate
            y: Y coordinate
        """

    def rotate(self, x: int, y: int) -> None:
        """
        Rotate view to given coordinates.

        Args:
            x: X coordinate
            y: Y coordinate
        """

    def pan(self, dx: int, dy: int) -> None:
        """
        Pan the view.

        Args:
            dx: Delta X
            dy: Delta Y
        """

    def zoom(self, factor: float) -> None:
        """
        Zoom the view.

        Args:
            factor: Zoom factor
        """

    def get_view(self) -> OCP.V3d.V3d_View:
        """Get the V3d view."""

    def get_viewer(self) -> OCP.V3d.V3d_Viewer:
        """Get the V3d viewer."""

    def get_context(self) -> OCP.AIS.AIS_InteractiveContext:
        """Get the AIS interactive context."""

    def display_shape(self, shape: OCP.TopoDS.TopoDS_Shape, shape_id: str, color: tuple[float, float, float] | None = None, update: bool = True, sub_colors: Iterable[tuple[OCP.TopoDS.TopoDS_Shape, tuple[float, float, float]]] | None = None) -> str | None:
        """
        Display an OCP shape in the viewer.

        Args:
            shape: OCP TopoDS_Shape object
            shape_id: Specific ID for the shape
            color: Tuple of RGB values (0-1) or None for default
            update: Whether to update the display
            sub_colors: (sub_shape, color) pairs: faces, solids or any sub-shapes of
                shape, as TopExp finds them in it, each drawn in its own colour (a
                finer sub-shape's colour wins over a coarser one's); color stays the
                colour of the rest. A pair that is wrong refuses the whole display

        Returns:
            str: Shape ID or None if error
        """

    def display_shapes(self, items: Iterable[tuple[OCP.TopoDS.TopoDS_Shape, str] | tuple[OCP.TopoDS.TopoDS_Shape, str, tuple[float, float, float] | None] | tuple[OCP.TopoDS.TopoDS_Shape, str, tuple[float, float, float] | None, Iterable[tuple[OCP.TopoDS.TopoDS_Shape, tuple[float, float, float]]] | None]], update: bool = True, progress: Callable[[int, int | None], object] | None = None) -> list[str]:
        """
        Display many shapes with one viewer update: the way to show an assembly.

        Each item is displayed as display_shape displays it, and an item that fails
        is logged as display_shape logs it; the others are displayed all the same.

        Args:
            items: Iterable of (shape, shape_id), (shape, shape_id, color) or
                (shape, shape_id, color, sub_colors) tuples
            update: Whether to update the display once, at the end
            progress: Called as progress(done, total) at most every 100 ms, total being
                None when items has no length; returning False stops the display,
                and the shapes displayed so far stay

        Returns:
            list[str]: IDs of the shapes displayed, in order
        """

    def erase_all(self) -> None:
        """Remove all shapes from the display."""

    def erase_shape(self, shape_id: str, update: bool = True) -> None:
        """
        Remove a specific shape from the display.

        Args:
            shape_id: ID of the shape to remove
            update: Whether to update display
        """

    def update_shape(self, ais_shape: OCP.AIS.AIS_Shape, update: bool = True) -> None:
        """
        Update a displayed shape.

        Args:
            ais_shape: AIS_Shape to update
            update: Whether to update the display
        """

    def get_all_shapes(self) -> dict[str, ShapeInfo]:
        """
        Get all registered shapes.

        Returns:
            Dictionary mapping shape IDs to ShapeInfo objects
        """

    def get_shape_info(self, shape_id: str) -> ShapeInfo | None:
        """
        Get information about a specific shape.

        Args:
            shape_id: ID of the shape

        Returns:
            ShapeInfo object or None if not found
        """

    def get_shape_count(self) -> int:
        """
        Get the number of shapes currently managed.

        Returns:
            Number of shapes
        """

    def set_display_mode(self, mode: morvik.enums.DisplayMode) -> None:
        """
        Set the display mode globally for all shapes.

        Args:
            mode: DisplayMode to apply
        """

    def keep_display_mode(self, mode: morvik.enums.DisplayMode) -> None:
        """
        Make mode the display mode of the shapes displayed from now on, leaving the
        shapes shown as they are (for a host that switches them itself).

        Args:
            mode: DisplayMode to keep
        """

    def get_display_mode(self) -> morvik.enums.DisplayMode:
        """
        Get the display mode in force.

        Returns:
            DisplayMode the shapes are drawn in, or None if error
        """

    def get_global_transparency(self) -> float:
        """
        Get the transparency in force for all shapes.

        Returns:
            float from 0 to 1, or None if error
        """

    def set_shape_color(self, ais_shape: OCP.AIS.AIS_Shape, color: tuple[float, float, float], update: bool = True) -> None:
        """
        Set the color of a shape.

        Args:
            ais_shape: AIS_Shape to color
            color: Tuple of RGB values (0-1)
            update: Whether to update the display
        """

    def set_global_transparency(self, transparency: float, update: bool = True) -> None:
        """
        Set transparency for all shapes globally.

        Args:
            transparency: Float 0-1 for transparency (0 = opaque, 1 = fully transparent)
            update: Whether to update the display
        """

    def set_shape_visibility(self, shape_id: str, visible: bool, update: bool = True) -> None:
        """
        Set the visibility of a shape.

        Args:
            shape_id: ID of the shape
            visible: True to show, False to hide
            update: Whether to update the display
        """

    def isolate_shapes(self, shape_ids: Iterable[str]) -> None:
        """
        Show only the given shapes and hide every other registered shape.

        IDs that are not registered are skipped.

        Args:
            shape_ids: IDs of the shapes to keep shown
        """

    def show_all_shapes(self) -> None:
        """Show every registered shape."""

    def is_shape_visible(self, shape_id: str) -> bool:
        """
        Check if a shape is visible.

        Args:
            shape_id: ID of the shape

        Returns:
            True if the shape is visible, False if hidden or not found
        """

    def select_shapes(self, shape_ids: Iterable[str]) -> None:
        """
        Programmatically select multiple shapes by ID, replacing current selection.

        Args:
            shape_ids: List of shape IDs to select, in order
        """

    def select_shape(self, shape_id: str) -> None:
        """
        Programmatically select a shape in the viewer by its ID.

        Args:
            shape_id: ID of the shape to select
        """

    def pick(self, x: int, y: int) -> str | None:
        """
        Find the shape under a point of the view, leaving the selection as it is.

        Args:
            x: X coordinate in device pixels
            y: Y coordinate in device pixels

        Returns:
            ID of the nearest displayed shape under the point, or None
        """

    def pick_detail(self, x: int, y: int) -> tuple[str, OCP.TopoDS.TopoDS_Shape] | None:
        """
        Find the shape and the sub-shape under a point of the view, leaving the
        selection as it is.

        The sub-shape is the face, edge or vertex picked in the selection mode, or
        the whole shape when the mode is None.

        Args:
            x: X coordinate in device pixels
            y: Y coordinate in device pixels

        Returns:
            (shape ID, picked TopoDS_Shape) of the nearest displayed shape under the
            point, or None
        """

    def set_selection_mode(self, mode: OCP.TopAbs.TopAbs_ShapeEnum | None) -> None:
        """
        Choose what a click picks on every shape, shown now or later.

        Args:
            mode: TopAbs_FACE, TopAbs_EDGE or TopAbs_VERTEX to pick sub-shapes of
                that kind, or None to pick whole shapes
        """

    def get_shape_id_for_ais_shape(self, ais_shape: OCP.AIS.AIS_Shape) -> str | None:
        """
        Reverse-lookup: find the shape_id for a given AIS_Shape object.

        Args:
            ais_shape: AIS_Shape to look up

        Returns:
            Shape ID or None if not found
        """

    def get_view_state(self) -> dict[str, Any] | None:
        """
        Get the view's state as plain data, ready for json.

        The state holds the camera (eye, target, up, scale and projection), the
        display mode, the global transparency, the background and the section
        plane, with a format name and version. set_view_state takes back every
        state returned here; a camera outside what the view can draw gives None.

        Returns:
            dict: The view state, or None if error
        """

    def set_view_state(self, state: Mapping[str, Any]) -> bool:
        """
        Restore a view state that get_view_state returned.

        A state that is malformed, of another format, or with a camera the view
        cannot draw, is logged and changes nothing.

        Args:
            state: The view state

        Returns:
            bool: True if the state was applied, False if it was refused
        """

    def set_clip_plane(self, origin: tuple[float, float, float], normal: tuple[float, float, float], capping: bool = True) -> None:
        """
        Cut the view with the service's section plane, moving it if it has one.

        Planes the host added to the view stay as they are.

        Everything behind the plane, against its normal, is hidden; capping fills
        the cut of each solid with the solid's colour. Moving the plane costs
        no more than a redraw, so it can follow a slider.

        Args:
            origin: A point of the plane (x, y, z)
            normal: The plane's normal (x, y, z), pointing to what stays shown
            capping: Whether to fill the cut
        """

    def clear_clip_plane(self) -> None:
        """
        Remove the service's section plane from the view; the host's planes stay.
        """
