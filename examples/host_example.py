"""A small host: the view toolbar drives the viewer service over a real OCCT view.

It builds a viewer, view and context with an offscreen window, a Scenard over
them and a Panelor, wires the toolbar's signals to the service as a host
would (value strings become enumeration members), then plays a few toolbar
actions and prints what the service holds. Needs an X display (Xvfb will do).

The two modules ship typing stubs, so a type checker follows the host's calls
into them: `mypy examples/host_example.py`.
"""

import sys

from OCP.AIS import AIS_InteractiveContext
from OCP.Aspect import Aspect_DisplayConnection
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox, BRepPrimAPI_MakeSphere
from OCP.OpenGl import OpenGl_GraphicDriver
from OCP.V3d import V3d_Viewer
from OCP.Xw import Xw_Window
from PySide6.QtWidgets import QApplication, QPushButton

from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.services.scenard import Scenard, ShapeInfo
from morvik.widgets.panelor import Panelor


def make_service(connection: Aspect_DisplayConnection) -> tuple[Scenard, Xw_Window]:
    """The OCCT objects a host builds itself and hands to the service; the components make none."""
    viewer = V3d_Viewer(OpenGl_GraphicDriver(connection))
    viewer.SetDefaultLights()
    viewer.SetLightOn()
    context = AIS_InteractiveContext(viewer)
    view = viewer.CreateView()
    window = Xw_Window(connection, "morvik host example", 0, 0, 320, 240)
    window.SetVirtual(True)
    view.SetWindow(window)
    service = Scenard(view, viewer, context)
    service.setup_initial_view()
    return service, window  # the window must outlive the view's use of it


def connect(toolbar: Panelor, service: Scenard) -> None:
    """The host's wiring: the toolbar hands out value strings, the service takes members."""
    toolbar.projection_changed.connect(lambda value: service.set_projection(ViewDirection(value)))
    toolbar.projection_type_changed.connect(
        lambda value: service.set_projection_type(ProjectionType(value)))
    toolbar.display_mode_changed.connect(lambda value: service.set_display_mode(DisplayMode(value)))
    toolbar.transparency_changed.connect(service.set_global_transparency)
    toolbar.fit_all_requested.connect(service.fit_all)


def describe(service: Scenard) -> list[str]:
    lines = []
    for shape_id, info in service.get_all_shapes().items():
        state = "shown" if info.visible else "hidden"
        lines.append(f"{shape_id}: {state}, colour {info.color}")
    return lines


def main() -> int:
    app = QApplication.instance() or QApplication(sys.argv)
    service, window = make_service(Aspect_DisplayConnection())
    toolbar = Panelor(None, "vertical")
    connect(toolbar, service)

    box: str | None = service.display_shape(BRepPrimAPI_MakeBox(10, 20, 30).Shape(), "box",
                                            color=(0.2, 0.5, 0.9))
    service.display_shape(BRepPrimAPI_MakeSphere(8).Shape(), "ball", update=False)
    service.set_shape_visibility("ball", False)

    toolbar.set_display_mode(DisplayMode.BOTH)       # reaches set_display_mode
    toolbar.set_transparency(0.25)                    # reaches set_global_transparency
    toolbar.set_projection_type(ProjectionType.PERSPECTIVE)
    buttons: list[QPushButton] = list(toolbar.findChildren(QPushButton))
    for button in buttons:
        if button.text() == "Fit All":
            button.click()                            # reaches fit_all

    info: ShapeInfo | None = service.get_shape_info("box")
    assert box == "box" and info is not None and info.visible
    print("\n".join(describe(service)))
    print(f"display mode {toolbar.get_display_mode()}, transparency {toolbar.get_transparency()}, "
          f"projection {toolbar.get_projection_type()}")
    del app, window
    return 0


if __name__ == "__main__":
    sys.exit(main())
