"""The view's state: how the view draws and which tools are on (ViewState), and views that
last: the service's view state in a JSON file, and back into the view.

A state file holds what service.get_view_state() returns: the camera, display
mode, transparency, background and section plane; and what the service never
sees: under keys of the viewer's own, the up axis the camera was saved under
(see up_axis) and the exploded view's percentage (see explosion), and, as its
display mode, the viewer's own hidden-line mode (see display_modes), which the
service draws as wireframe. Files are replaced whole (see writing), so an
interrupted or failed save leaves the old one.
"""

import json
import logging
import math
import os
import stat
from collections.abc import Callable
from dataclasses import dataclass
from numbers import Real
from pathlib import Path
from typing import Any

from PySide6.QtCore import QObject, Signal

from morvik.enums import DisplayMode, ProjectionType
from morvik_viewer.model.display_modes import HIDDEN, choice, split
from morvik_viewer.model.explosion import percent
from morvik_viewer.model.paths import one_line, shown
from morvik_viewer.model.up_axis import AXES, DEFAULT, Y_UP, checked, from_view, to_view
from morvik_viewer.model.writing import WriteError, write_file

# The toolbar names a value after itself, capitalised, but for these two; and the viewer's
# own display mode, which the toolbar does not offer.
_OWN_NAMES = {"both": "Shaded + Wireframe", "iso": "ISO", HIDDEN: "Hidden Line"}


def caption(value):
    """What a value string (or member) of a display mode, projection type or standard view is
    called, as the toolbar calls it: menus and messages use it, so each choice has one name."""
    value = getattr(value, "value", value)
    return _OWN_NAMES.get(value, str(value).capitalize())


def whole_percent(fraction):
    """fraction in whole percent, half away from zero, as the toolbar's slider holds it and
    every message says it."""
    return int(math.copysign(math.floor(abs(fraction) * 100.0 + 0.5), fraction))


def _fraction(value):
    if isinstance(value, bool) or not isinstance(value, Real):
        raise TypeError(f"transparency must be a number from 0 to 1, not {value!r}")
    value = float(value)
    if not 0.0 <= value <= 1.0:  # NaN too
        raise ValueError(f"transparency must be a number from 0 to 1, not {value!r}")
    return value


def _axis(value):
    if checked(value, None) is None:
        raise ValueError(f"up axis must be one of {AXES}, not {value!r}")
    return value


@dataclass(frozen=True)
class Field:
    """One value of the view's state: its name, its default, and take, which gives a value
    in the state's own form or raises (ValueError, TypeError) for one of no such kind."""

    name: str
    default: Any
    take: Callable[[Any], Any] = bool


# Enumerations are held as their value strings, as the toolbar speaks them.
FIELDS = (
    Field("projection_type", ProjectionType.ORTHOGRAPHIC.value,
          lambda value: ProjectionType(value).value),
    Field("display_mode", DisplayMode.SHADED.value, lambda value: DisplayMode(value).value),
    Field("transparency", 0.0, _fraction),
    Field("up_axis", DEFAULT, _axis),  # see up_axis
    Field("view_cube", False),  # OCCT's view cube in place of the trihedron
    Field("section", False),  # the section plane cuts the view
    Field("measure", False),  # clicks pick entities to measure
    Field("model_tree", True),  # the model tree's dock shows
    # Hidden lines taken away, over the wireframe display mode (see display_modes): on, the
    # display mode is wireframe; a display mode of another kind turns it off.
    Field("hidden_line", False),
    Field("explode", 0.0, percent),  # parts moved apart, in percent (see explosion)
)
_FIELDS = {field.name: field for field in FIELDS}


class ViewState(QObject):
    """The view's state, one attribute per field of FIELDS, with one signal for every change.

    Setting a field to a value of its kind changes it and emits changed(name) only
    when the value really changes, so followers that set it back end the chain; a
    value of no such kind raises ValueError or TypeError and changes nothing. The
    toolbar, the menus, the service and the tools follow it. A QObject, so that a
    follower that is a Qt object is let go when Qt deletes it; nothing here needs a
    widget, nor OCP.
    """

    changed = Signal(str)

    def __init__(self, parent=None, **values):
        QObject.__init__(self, parent)
        self._values = {field.name: field.default for field in FIELDS}
        for name, value in values.items():
            self._values[name] = _FIELDS[name].take(value)
        if self._values["hidden_line"]:
            self._values["display_mode"] = DisplayMode.WIREFRAME.value

    def set(self, name, value):
        """Sets the field name to value (as setting the attribute does). A field tied to it
        changes first: hidden lines come off before another display mode than wireframe
        comes in, and the wireframe comes in before hidden lines are taken away."""
        value = _FIELDS[name].take(value)
        if value != self._values[name]:
            for other, tied in _ties(name, value):
                self.set(other, tied)
            self._values[name] = value
            self.changed.emit(name)

    @property
    def display_choice(self):
        """The display mode as the menus offer it (display_modes.CHOICES): HIDDEN while hidden
        lines are taken away, else display_mode."""
        return choice(self.display_mode, self.hidden_line)

    def choose_display_mode(self, value):
        """Shows in the display mode value, a DisplayMode member or a value string of
        display_modes.CHOICES (HIDDEN among them); ValueError for any other."""
        mode, hidden = split(value)
        self.hidden_line = hidden
        self.display_mode = mode

    def take_view(self, state, restored=None):
        """Takes the projection type, display mode and transparency of a view state that
        service.get_view_state() gave; no state (None) changes nothing. restored, the
        state restored (as read from a file, or noted), gives the viewer's own values
        it holds: whether hidden lines are taken away, and the explosion when it says."""
        if not isinstance(state, dict):
            return
        self.set("display_mode", state["display_mode"])
        self.set("projection_type", state["camera"]["projection"])
        self.set("transparency", state["transparency"])
        if isinstance(restored, dict):
            hidden_line, explode = own_values(restored, self.hidden_line, self.explode)
            self.set("hidden_line", hidden_line and self.display_mode == DisplayMode.WIREFRAME.value)
            self.set("explode", explode)

    def noted(self, state):
        """state, one service.get_view_state() gave, with the viewer's own values of this
        view's state noted in it (see noted), as a file keeps it and restore takes it."""
        return noted(state, self.hidden_line, self.explode)


def _ties(name, value):
    """The (field, value) pairs that must change before name takes value, so that the
    state never holds hidden lines taken away over anything but wireframe."""
    if name == "display_mode" and value != DisplayMode.WIREFRAME.value:
        return [("hidden_line", False)]
    if name == "hidden_line" and value:
        return [("display_mode", DisplayMode.WIREFRAME.value)]
    return []


def _field(name):
    return property(lambda self: self._values[name], lambda self, value: self.set(name, value),
                    doc=f"The {name.replace('_', ' ')} (see FIELDS).")


for _name in _FIELDS:
    setattr(ViewState, _name, _field(_name))

STATE_FORMAT = "morvik.view-state"
SERVICE_LOGGER = "morvik.services.scenard"
# The viewer's own key: the up axis of the frame the camera was saved in. A file
# without it was saved before the viewer turned Z-up models, when views were Y-up.
UP_KEY = "up_axis"
# The viewer's own key: the exploded view's percentage. A file without it leaves the
# explosion as it is (none, unless --explode says).
EXPLODE_KEY = "explode"
# The service's key of the display mode, which a file may give as the viewer's own HIDDEN.
MODE_KEY = "display_mode"
# The service's keys whose points and directions live in the view's frame.
CAMERA_KEY, CLIP_PLANE_KEY = "camera", "clip_plane"
# A real state takes under 2 KB; anything far larger is no state, and is not read whole.
SIZE_LIMIT = 1 << 20


class ViewStateError(Exception):
    """A state file that cannot be used; the message names it and says why."""


class StateRefused(ViewStateError):
    """The service would not take a state (the message says so, without naming a file)."""


def read_state(path):
    """The state saved at path, or None when there is no such file; ViewStateError if unusable.

    Only a regular file of at most SIZE_LIMIT bytes is read. Whether the view
    can take what it holds is the service's to say (see refusal).
    """
    path = Path(path)
    try:
        data = _read_file(path)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise ViewStateError(f"{shown(path)}: cannot read the view state "
                             f"({error.strerror or error})") from None
    try:
        state = json.loads(data.decode("utf-8"))
    except UnicodeDecodeError:
        raise ViewStateError(f"{shown(path)}: not a view state (not UTF-8 text)") from None
    except RecursionError:  # nested deeper than the parser goes
        raise ViewStateError(f"{shown(path)}: not a view state (bad JSON: nested too deep)") \
            from None
    except ValueError as error:
        raise ViewStateError(f"{shown(path)}: not a view state (bad JSON: {error})") from None
    if not isinstance(state, dict) or state.get("format") != STATE_FORMAT:
        raise ViewStateError(f"{shown(path)}: not a view state (no \"format\": \"{STATE_FORMAT}\")")
    if UP_KEY in state and checked(state[UP_KEY], None) is None:
        axes = " or ".join(f'"{axis}"' for axis in AXES)
        raise ViewStateError(f"{shown(path)}: not a view state (\"{UP_KEY}\" must be {axes})")
    if EXPLODE_KEY in state:
        try:
            percent(state[EXPLODE_KEY])
        except (TypeError, ValueError):
            raise ViewStateError(f"{shown(path)}: not a view state (\"{EXPLODE_KEY}\" must be "
                                 "a number from 0 to 100)") from None
    return state


def for_view(state, up):
    """A state read from a file, as the service takes it while models show with up
    pointing up: without the up axis it was saved under, and its camera and section plane
    turned from that frame, so that it shows the same picture. Points and directions that
    are not three numbers are left as they are, for the service to judge. The viewer's
    other own values stay, for the view state to take (see restore)."""
    if not isinstance(state, dict):
        return state
    state = dict(state)
    saved = checked(state.pop(UP_KEY, Y_UP), Y_UP)
    if saved != up:
        for part, keys in ((CAMERA_KEY, ("eye", "target", "up")),
                           (CLIP_PLANE_KEY, ("origin", "normal"))):
            if isinstance(state.get(part), dict):
                state[part] = _turned(state[part], keys, saved, up)
    return state


def _turned(points, keys, saved, up):
    points = dict(points)
    for key in keys:
        if _is_vector(points.get(key)):
            points[key] = list(to_view(up, from_view(saved, points[key])))
    return points


def _is_vector(value):
    return (isinstance(value, list) and len(value) == 3
            and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in value))


def _read_file(path):
    # Non-blocking, so a FIFO cannot hold the viewer; the descriptor's own fstat
    # decides, so the file cannot be swapped between the look and the read.
    descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOCTTY | os.O_CLOEXEC)
    with os.fdopen(descriptor, "rb", buffering=0) as file:
        info = os.fstat(descriptor)
        if not stat.S_ISREG(info.st_mode):
            raise OSError(0, "not a regular file")
        if info.st_size > SIZE_LIMIT:
            raise OSError(0, f"larger than a view state can be ({SIZE_LIMIT} bytes)")
        chunks, size = [], 0
        while size <= SIZE_LIMIT:  # the size seen may change while reading: stop past the limit
            chunk = file.read(SIZE_LIMIT + 1 - size)
            if not chunk:
                break
            chunks.append(chunk)
            size += len(chunk)
        if size > SIZE_LIMIT:
            raise OSError(0, f"larger than a view state can be ({SIZE_LIMIT} bytes)")
        return b"".join(chunks)


def write_state(path, state, up=None):
    """Writes state to path, atomically, noting up (the axis models showed up with) when
    given; ViewStateError when the folder refuses it, or when there is no state (the
    service gives None for a view it cannot describe): the file keeps what it held."""
    path = Path(path)
    if not isinstance(state, dict):
        raise ViewStateError(f"{shown(path)}: cannot save the view state (the view gave none)")
    if up is not None:
        state = {**state, UP_KEY: up}
    data = (json.dumps(state, indent=2) + "\n").encode("utf-8")
    try:
        write_file(path, data, "the view state")
    except WriteError as error:
        raise ViewStateError(str(error)) from None


class _LastRecord(logging.Handler):
    def __init__(self):
        logging.Handler.__init__(self, logging.ERROR)
        self.error = None

    def emit(self, record):
        error = record.args[0] if isinstance(record.args, tuple) and record.args else None
        self.error = error if error is not None else record.getMessage()


def refusal(service, state):
    """Applies state to the service, as restore does; None when it took the state, else
    why not, in one line. The service's own record of a refusal stays off the terminal:
    the caller says it once, naming the file."""
    last, logger = _LastRecord(), logging.getLogger(SERVICE_LOGGER)
    logger.addHandler(last)
    propagate, logger.propagate = logger.propagate, False
    try:
        taken = restore(service, state)
    finally:
        logger.propagate = propagate
        logger.removeHandler(last)
    return None if taken else one_line(last.error or "the view did not take it")


def restore(service, state):
    """Applies state to the service (one viewer update); False when the service refused it.

    The service answers True when it applied the state; anything else (a
    refusal, which it logs, and which changes nothing) counts as refused. The
    viewer's own values a state holds (see noted) are the view state's to take
    (ViewState.take_view): the service gets the rest (see for_service).
    """
    return service.set_view_state(for_service(state)) is True


def noted(state, hidden_line=False, explode=0.0):
    """state, one service.get_view_state() gave, with the viewer's own values noted in it, as
    a file keeps them: its wireframe display mode as HIDDEN when hidden lines are taken
    away, and the explosion's percentage. No state (None) stays none."""
    if not isinstance(state, dict):
        return state
    state = {**state, EXPLODE_KEY: percent(explode)}
    if hidden_line and state.get(MODE_KEY) == DisplayMode.WIREFRAME.value:
        state[MODE_KEY] = HIDDEN
    return state


def own_values(restored, hidden_line=False, explode=0.0):
    """(hidden_line, explode): the viewer's own values as a state restored (read from a
    file, or noted) gives them: its display mode says whether hidden lines are taken
    away, its explosion (a file may have none, or none of use) stands unless missing;
    those given stand for what it does not say."""
    if not isinstance(restored, dict):
        return hidden_line, explode
    try:
        explode = percent(restored.get(EXPLODE_KEY, explode))
    except (TypeError, ValueError):  # read_state refuses it in a file
        pass
    return restored.get(MODE_KEY) == HIDDEN, explode


def for_service(state):
    """A state as the service takes it: without the viewer's own values (see noted), its
    HIDDEN display mode the wireframe the service draws it in. Any other display mode
    stays as it is, for the service to judge (it refuses one it does not know)."""
    if not isinstance(state, dict):
        return state
    state = {key: value for key, value in state.items() if key != EXPLODE_KEY}
    if state.get(MODE_KEY) == HIDDEN:
        state[MODE_KEY] = DisplayMode.WIREFRAME.value
    return state
