"""Views that last: the service's view state in a JSON file, and back into the view.

A state file holds what service.get_view_state() returns: the camera, display
mode, transparency and background. Files are replaced whole (written beside
the target, then renamed over it), so an interrupted save leaves the old one.
"""

import json
import logging
import os
from pathlib import Path

from morvik.enums import DisplayMode, ProjectionType

from morvik_viewer.paths import shown

STATE_FORMAT = "morvik.view-state"
SERVICE_LOGGER = "morvik.services.scenard"


class ViewStateError(Exception):
    """A state file that cannot be used; the message names it and says why."""


def read_state(path):
    """The state saved at path, or None when there is no such file; ViewStateError if unusable."""
    path = Path(path)
    try:
        text = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        return None
    except (OSError, UnicodeDecodeError) as error:
        raise ViewStateError(f"{shown(path)}: cannot read the view state "
                             f"({getattr(error, 'strerror', None) or error})") from None
    try:
        state = json.loads(text)
    except ValueError as error:
        raise ViewStateError(f"{shown(path)}: not a view state (bad JSON: {error})") from None
    if not isinstance(state, dict) or state.get("format") != STATE_FORMAT:
        raise ViewStateError(f"{shown(path)}: not a view state (no \"format\": \"{STATE_FORMAT}\")")
    return state


def write_state(path, state):
    """Writes state to path, atomically; ViewStateError when the folder refuses it."""
    path = Path(path)
    # Beside the target, so the rename stays on one file system; created as any
    # new file is (the umask decides who may read it).
    temporary = path.with_name(f".{path.name}.{os.getpid()}.tmp")
    try:
        descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
        try:
            with os.fdopen(descriptor, "w", encoding="utf-8") as out:
                json.dump(state, out, indent=2)
                out.write("\n")
            os.replace(temporary, path)
        except BaseException:
            temporary.unlink(missing_ok=True)
            raise
    except OSError as error:
        raise ViewStateError(f"{shown(path)}: cannot save the view state "
                             f"({error.strerror or error})") from None


class _Refusals(logging.Handler):
    def __init__(self):
        logging.Handler.__init__(self, logging.ERROR)
        self.count = 0

    def emit(self, record):
        self.count += 1


def restore(service, state):
    """Applies state to the service (one viewer update); False when the service refused it.

    The service tells a refusal by its own error record, and then changes nothing.
    """
    refusals, logger = _Refusals(), logging.getLogger(SERVICE_LOGGER)
    logger.addHandler(refusals)
    try:
        service.set_view_state(state)
    finally:
        logger.removeHandler(refusals)
    return refusals.count == 0


def show_in_toolbar(toolbar, state):
    """Makes the toolbar show a state's display mode, projection and transparency, silently:
    the service has them already."""
    was_blocked = toolbar.blockSignals(True)
    try:
        toolbar.set_display_mode(DisplayMode(state["display_mode"]))
        toolbar.set_projection_type(ProjectionType(state["camera"]["projection"]))
        toolbar.set_transparency(state["transparency"])
    finally:
        toolbar.blockSignals(was_blocked)
