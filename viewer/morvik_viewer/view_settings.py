"""How the view draws: projection type, display mode and transparency, held in one place.

The toolbar and the View menu set them; the toolbar's controls, the menu's
check marks, the service and the status bar follow their changes (see
wiring). Values are the enumerations' value strings, as the toolbar speaks
them. Nothing OCP-bound is imported here: the window holds its settings
before OCP loads.
"""

import math
from numbers import Real

from PySide6.QtCore import Property, QObject, Signal

from morvik.enums import DisplayMode, ProjectionType

# The toolbar names a value after itself, capitalised, but for these two.
_OWN_NAMES = {"both": "Shaded + Wireframe", "iso": "ISO"}


def caption(value):
    """What a value string (or member) of a display mode, projection type or standard view is
    called, as the toolbar calls it: menus and messages use it, so each choice has one name."""
    value = getattr(value, "value", value)
    return _OWN_NAMES.get(value, str(value).capitalize())


def whole_percent(fraction):
    """fraction in whole percent, half away from zero, as the toolbar's slider holds it."""
    return int(math.copysign(math.floor(abs(fraction) * 100.0 + 0.5), fraction))


class ViewSettings(QObject):
    """The projection type, display mode and transparency the view shows.

    Each is a Qt property whose setter takes a member or a value string (a
    number from 0 to 1 for the transparency) and emits its changed signal only
    when the value really changes, so followers that set it back end the chain.
    A value of no such kind raises ValueError (TypeError for a transparency that
    is no number) and changes nothing.
    """

    projection_type_changed = Signal(str)
    display_mode_changed = Signal(str)
    transparency_changed = Signal(float)

    def __init__(self, parent=None):
        QObject.__init__(self, parent)
        # As a fresh toolbar shows them.
        self._projection_type = ProjectionType.ORTHOGRAPHIC.value
        self._display_mode = DisplayMode.SHADED.value
        self._transparency = 0.0

    def _get_projection_type(self):
        return self._projection_type

    def set_projection_type(self, value):
        self._change("_projection_type", ProjectionType(value).value, self.projection_type_changed)

    def _get_display_mode(self):
        return self._display_mode

    def set_display_mode(self, value):
        self._change("_display_mode", DisplayMode(value).value, self.display_mode_changed)

    def _get_transparency(self):
        return self._transparency

    def set_transparency(self, value):
        if isinstance(value, bool) or not isinstance(value, Real):
            raise TypeError(f"transparency must be a number from 0 to 1, not {value!r}")
        value = float(value)
        if not 0.0 <= value <= 1.0:  # NaN too
            raise ValueError(f"transparency must be a number from 0 to 1, not {value!r}")
        self._change("_transparency", value, self.transparency_changed)

    def _change(self, field, value, changed):
        if value != getattr(self, field):
            setattr(self, field, value)
            changed.emit(value)

    projection_type = Property(str, _get_projection_type, set_projection_type,
                               notify=projection_type_changed)
    display_mode = Property(str, _get_display_mode, set_display_mode,
                            notify=display_mode_changed)
    transparency = Property(float, _get_transparency, set_transparency,
                            notify=transparency_changed)

    def take_state(self, state):
        """Takes the projection type, display mode and transparency of a view state that
        service.get_view_state() gave; no state (None) changes nothing."""
        if not isinstance(state, dict):
            return
        self.set_display_mode(state["display_mode"])
        self.set_projection_type(state["camera"]["projection"])
        self.set_transparency(state["transparency"])
