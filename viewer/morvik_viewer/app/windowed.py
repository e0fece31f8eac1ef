"""A window run: the window shown before OCP loads, its view brought up once OCP has,
and the view state written back at the end (see app.start).

Nothing here loads OCP: what the view needs comes through window.main_window.ocp_side
once OCP has loaded (see app.ocp_import).
"""

from PySide6.QtCore import QTimer

from morvik_viewer.app.base import EXIT_FAILURE, _fail, _refused
from morvik_viewer.app.interrupt import quit_on_interrupt
from morvik_viewer.model.view_state import ViewStateError, refusal, write_state
from morvik_viewer.view.platform_window import DisplayUnavailable
from morvik_viewer.window.main_window import ViewerWindow, ocp_side


def run(app, files, mode, projection, direction, view_state, state_path, reader, up, ocp,
        up_given=False, palette=False, explode=0.0):
    """Shows the window and runs it to its end; the exit status. ocp, an OcpImport, loads
    OCP for the view unless view_state is given: OCP is loaded already then. mode and
    explode are as ViewerWindow.start takes them."""
    viewer3d = None
    if view_state is not None:
        # The service judges the state before any window shows (the view has none
        # yet, so taking it draws nothing); the window puts it in place again later.
        try:
            viewer3d = ocp_side().create_viewer3d()
        except DisplayUnavailable as error:
            return _fail(error, EXIT_FAILURE)
        reason = refusal(viewer3d.service, view_state)
        if reason is not None:
            return _refused(state_path, reason)
    # A view state holds a camera in the frame of up: the files' own axis gives way too.
    window = ViewerWindow(viewer3d, up=up if up_given or view_state is not None else None,
                          palette=palette)
    failed = []

    def bring_up_steps():
        # Each step under 0.1 s idle (creating the view, attaching it, its first frames);
        # the event loop answers between them.
        if window.viewer3d is None:
            try:
                viewer3d = ocp_side().create_viewer3d()
            except DisplayUnavailable as error:
                failed.append(error)
                app.exit(EXIT_FAILURE)
                return
            yield
            window.attach(viewer3d)
            yield
            window.start_view()
            yield
        if reader is not None:  # the first open's reader, booted beside this process
            window.readers.adopt(reader)
        window.start(ocp_side().sample_parts() if not files else (), mode, projection, direction,
                     files, view_state, explode)

    def bring_up(steps=None):
        steps = steps or bring_up_steps()
        if not window.isVisible():  # closed meanwhile
            return
        if next(steps, StopIteration) is not StopIteration:
            QTimer.singleShot(0, lambda: bring_up(steps))

    def imported(error):
        if error is not None:
            failed.append(f"cannot load OCP: {error!r}")
            app.exit(EXIT_FAILURE)
        else:
            bring_up()

    if viewer3d is None:  # OCP's init runs once the window is on screen
        ocp.done.connect(imported)
        window.painted.connect(ocp.start)
    window.show()
    if viewer3d is not None:
        bring_up()
    # Ctrl+C in the terminal closes the window and ends the run: from here on, since
    # app.exit() before the loop runs is lost (Python's own KeyboardInterrupt till then).
    quit_on_interrupt(app)
    status = app.exec()
    window.close()
    if failed:
        return _fail(failed[0], EXIT_FAILURE)
    if state_path and window.service is not None:
        try:
            # With the viewer's own values (hidden lines, the explosion) noted in it.
            write_state(state_path, window.state.noted(window.service.get_view_state()),
                        window.state.up_axis)
        except ViewStateError as error:
            return _fail(error, EXIT_FAILURE)
    return status
