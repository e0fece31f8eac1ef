"""The host's glue: the toolbar and the service follow the view state.

The toolbar's projection type, display mode and transparency controls set the
view state (model.view_state.ViewState) and show each change of them; the
service follows them, and the view takes hidden lines away as the state says
(the viewer's own display mode, over the service's wireframe: the toolbar shows
Wireframe the while). Its standard views and Fit All are actions, not settings,
and go straight to the service. The toolbar speaks in value strings, the
service takes enumeration members: turning the one into the other happens here
and nowhere else.
"""

import weakref

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.model.display_modes import HIDDEN
from morvik_viewer.model.view_state import caption, whole_percent
from morvik_viewer.scene.mode_switch import ModeSwitch

# The state's fields the toolbar shows, each with the enumeration its setter takes.
SHOWN = {"projection_type": ProjectionType, "display_mode": DisplayMode, "transparency": float}


def connect_toolbar(toolbar, state):
    """The toolbar's controls set the view state, and show every change of it.

    A control moved by a change emits as the user's move would; its echo finds
    the state already there, which ends the chain.
    """
    # The state holds this slot: a strong reference back would keep a parentless
    # toolbar alive for as long as it lives.
    toolbar_ref = weakref.ref(toolbar)

    def show(name):
        shown = toolbar_ref()
        if shown is not None and name in SHOWN:
            getattr(shown, f"set_{name}")(SHOWN[name](getattr(state, name)))

    def transparency_chosen(value):
        # The slider holds whole percents: a finer value it was set to comes back
        # rounded, which is no change.
        if whole_percent(value) != whole_percent(state.transparency):
            state.transparency = value

    toolbar.projection_type_changed.connect(lambda value: setattr(state, "projection_type", value))
    toolbar.display_mode_changed.connect(lambda value: setattr(state, "display_mode", value))
    toolbar.transparency_changed.connect(transparency_chosen)
    state.changed.connect(show)


def connect_service(service, state, toolbar, report=None, fit=None, hide_lines=None):
    """The service follows the view state and takes the toolbar's standard views and Fit All.

    A value the service shows already, as after restoring a view state, is left
    alone: the restore was the change, and a fit would move its camera.
    report, when given, receives a short text for each change (for a status bar).
    fit, when given, takes the place of service.fit_all for Fit All, the standard
    views and a change of projection type.
    hide_lines(service, on), when given, takes hidden lines away or shows them again
    (view.hidden_line.hide_lines) as the state's hidden_line says.
    Returns the (signal, slot) pairs, which the caller may keep to disconnect them.
    """
    report = report or (lambda text: None)
    fit = fit or (lambda: service.fit_all())

    def projection_changed(value):
        service.set_projection(ViewDirection(value))
        fit()  # a standard view shows the whole scene
        report(f"View: {caption(value)}")

    def projection_type_changed(value):
        if _shown(service)["projection_type"] == value:
            return
        service.set_projection_type(ProjectionType(value))
        fit()  # the other projection frames the scene differently; the fit repaints
        report(f"Projection: {caption(value)}")

    switch = None  # the display-mode switch running, if any

    def display_mode_changed(value):
        # A large scene switches in slices; a switch still running hands over to this one.
        nonlocal switch
        if _shown(service)["display_mode"] == value:
            return
        inherited = switch.cancel() if switch is not None else ()
        text = f"Display mode: {caption(value)}"

        def progress(done, total):
            if done < total:
                report(f"{text} ({done} of {total} shapes)")

        switch = ModeSwitch(service, DisplayMode(value), progress, inherited=inherited)
        switch.finished.connect(lambda complete: report(text))
        switch.start()

    def hidden_line_changed(on):
        if hide_lines is None:
            return
        if on and switch is not None and switch.running:
            # Over the wireframe once every shape draws it: each shape's hidden lines are
            # computed once, for the presentation that stays.
            switch.finished.connect(lambda complete: state.hidden_line and hidden_line_changed(True))
            return
        if hide_lines(service, on):
            report(f"Display mode: {caption(HIDDEN if on else state.display_mode)}")

    def transparency_changed(value):
        if _shown(service)["transparency"] == value:
            return
        service.set_global_transparency(value)
        report(f"Transparency: {whole_percent(value)}%")

    def fit_all_requested():
        fit()
        report("Fit all")

    followers = {"projection_type": projection_type_changed,
                 "display_mode": display_mode_changed, "transparency": transparency_changed,
                 "hidden_line": hidden_line_changed}

    def state_changed(name):
        if name in followers:
            followers[name](getattr(state, name))

    slots = [
        (toolbar.projection_changed, projection_changed),
        (state.changed, state_changed),
        (toolbar.fit_all_requested, fit_all_requested),
    ]
    for signal, slot in slots:
        signal.connect(slot)
    return slots


def _shown(service):
    """What the service draws with, by setting, as a restore leaves it (mode_switch keeps
    the display mode's the same way)."""
    orthographic = service.get_view().Camera().IsOrthographic()
    return {"projection_type": (ProjectionType.ORTHOGRAPHIC if orthographic
                                else ProjectionType.PERSPECTIVE).value,
            "display_mode": getattr(service.get_display_mode(), "value", None),
            "transparency": service.get_global_transparency()}
