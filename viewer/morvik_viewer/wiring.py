"""The host's glue: each toolbar signal becomes the matching service operation.

The toolbar speaks in value strings, the service takes enumeration members;
turning the one into the other happens here and nowhere else.
"""

from morvik.enums import DisplayMode, ProjectionType, ViewDirection


def connect_toolbar(toolbar, service, report=None):
    """Connects the toolbar's five signals to the service.

    report, when given, receives a short text for each change (for a status bar).
    Returns the (signal, slot) pairs, which the caller may keep to disconnect them.
    """
    report = report or (lambda text: None)

    def projection_changed(value):
        service.set_projection(ViewDirection(value))
        service.fit_all()  # a standard view shows the whole scene
        report(f"View: {value}")

    def projection_type_changed(value):
        service.set_projection_type(ProjectionType(value))
        service.redraw()  # the camera change alone does not repaint
        report(f"Projection: {value}")

    def display_mode_changed(value):
        service.set_display_mode(DisplayMode(value))
        report(f"Display mode: {value}")

    def transparency_changed(value):
        service.set_global_transparency(value)
        report(f"Transparency: {round(value * 100)}%")

    def fit_all_requested():
        service.fit_all()
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
