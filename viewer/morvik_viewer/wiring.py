"""The host's glue: each toolbar signal becomes the matching service operation.

The toolbar speaks in value strings, the service takes enumeration members;
turning the one into the other happens here and nowhere else.
"""

import weakref

from PySide6.QtWidgets import QComboBox, QPushButton

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik_viewer.mode_switch import ModeSwitch


def caption(toolbar, value):
    """The text the toolbar shows for a value string: a display mode, projection type or view.

    Menus and messages use it, so each choice has one name everywhere.
    """
    for combo in toolbar.findChildren(QComboBox):
        index = combo.findData(value)
        if index >= 0:
            return combo.itemText(index)
    for button in toolbar.findChildren(QPushButton):
        if button.text().lower() == value:
            return button.text()
    return value


def connect_toolbar(toolbar, service, report=None, fit=None):
    """Connects the toolbar's five signals to the service.

    report, when given, receives a short text for each change (for a status bar).
    fit, when given, takes the place of service.fit_all for Fit All and the standard views.
    Returns the (signal, slot) pairs, which the caller may keep to disconnect them.
    """
    report = report or (lambda text: None)
    fit = fit or (lambda: service.fit_all())
    # The slots live as long as the connections, which the toolbar holds: a
    # strong reference back would keep a parentless toolbar alive for good.
    toolbar_ref = weakref.ref(toolbar)

    def named(value):
        shown = toolbar_ref()
        return value if shown is None else caption(shown, value)

    def projection_changed(value):
        service.set_projection(ViewDirection(value))
        fit()  # a standard view shows the whole scene
        report(f"View: {named(value)}")

    def projection_type_changed(value):
        service.set_projection_type(ProjectionType(value))
        fit()  # the other projection frames the scene differently; the fit repaints
        report(f"Projection: {named(value)}")

    switch = None  # the display-mode switch running, if any

    def display_mode_changed(value):
        # A large scene switches in slices; a switch still running hands over to this one.
        nonlocal switch
        inherited = switch.cancel() if switch is not None else ()
        text = f"Display mode: {named(value)}"

        def progress(done, total):
            if done < total:
                report(f"{text} ({done} of {total} shapes)")

        switch = ModeSwitch(service, DisplayMode(value), progress, inherited=inherited)
        switch.finished.connect(lambda complete: report(text))
        switch.start()

    def transparency_changed(value):
        service.set_global_transparency(value)
        report(f"Transparency: {round(value * 100)}%")

    def fit_all_requested():
        fit()
        report("Fit all")

    slots = [
        (toolbar.projection_changed, projection_changed),
        (toolbar.projection_type_changed, projection_type_changed),
        (toolbar.display_mode_changed, display_mode_changed),
        (toolbar.transparency_changed, transparency_changed),
        (toolbar.fit_all_requested, fit_all_requested),
    ]
    for signal, slot in slots:
        signal.connect(slot)
    return slots


def push_toolbar_state(toolbar, service):
    """Makes the service match what the toolbar shows, without any signal.

    A fresh toolbar shows "shaded" while a fresh OCCT context draws wireframe
    until its display mode is set, so a host calls this once after connecting.
    """
    service.set_projection_type(ProjectionType(toolbar.get_projection_type()))
    service.set_display_mode(DisplayMode(toolbar.get_display_mode()))
    service.set_global_transparency(toolbar.get_transparency())
