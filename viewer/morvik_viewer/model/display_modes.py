"""The display modes the viewer offers: the host's three (morvik.enums.DisplayMode) and its
own hidden-line mode, which is the host's wireframe with the lines hidden behind faces
taken away (the service draws wireframe the while; see view.hidden_line).

No Qt and no OCP here: the command line checks --mode with it before either loads.
"""

from morvik.enums import DisplayMode

# The viewer's own mode, by the value string the command line, the menus and state files use.
HIDDEN = "hidden"
# Every mode by its value string, in the order the View menu lists them.
CHOICES = (DisplayMode.WIREFRAME.value, HIDDEN, DisplayMode.SHADED.value, DisplayMode.BOTH.value)


def split(value):
    """(the host's DisplayMode the service draws in, whether hidden lines are removed) for a
    mode given as a DisplayMode member or a value string of CHOICES; ValueError for any
    other value."""
    if value == HIDDEN:
        return DisplayMode.WIREFRAME, True
    try:
        return DisplayMode(getattr(value, "value", value)), False
    except (TypeError, ValueError):
        raise ValueError(f"display mode must be one of {', '.join(CHOICES)}, not {value!r}") \
            from None


def choice(mode, hidden):
    """The value string of CHOICES for a DisplayMode (or its value) and the hidden-line flag:
    HIDDEN only over wireframe, which is what hidden-line removal draws over."""
    mode = DisplayMode(getattr(mode, "value", mode))
    return HIDDEN if hidden and mode == DisplayMode.WIREFRAME else mode.value
