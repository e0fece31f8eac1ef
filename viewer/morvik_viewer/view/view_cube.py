"""OCCT's view cube in place of the trihedron, its sides and axes named for the up axis."""

import weakref

from OCP.AIS import AIS_KindOfInteractive, AIS_ViewCube
from OCP.TCollection import TCollection_AsciiString
from OCP.V3d import V3d_TypeOfOrientation

from morvik_viewer.model.up_axis import Y_UP, Z_UP

try:  # OCP 8 binds OCCT's collections in a module of their own
    from OCP.collections import List_AIS_InteractiveObject as ObjectList
except ImportError:  # OCP before 8 binds the list under OCCT's own name
    from OCP.AIS import AIS_ListOfInteractive as ObjectList

# Views whose trihedron the view cube replaces. OCCT's trihedron cannot say whether it
# is shown, and Display() is what applies a new scale or new names.
_trihedron_hidden: weakref.WeakSet = weakref.WeakSet()


# The view cube's sides named after the standard views that look at them (the view's
# frame is the service's, Y-up, whatever the models' up axis), and its axes after the
# model axes they show (as the trihedron's are, see view.upright.name_trihedron).
CUBE_SIDES = (("V3d_Xpos", "Right"), ("V3d_Xneg", "Left"), ("V3d_Ypos", "Top"),
              ("V3d_Yneg", "Bottom"), ("V3d_Zpos", "Front"), ("V3d_Zneg", "Back"))
CUBE_AXES = {Z_UP: ("X", "Z", "-Y"), Y_UP: ("X", "Y", "Z")}


def show_view_cube(service, on, up=Z_UP):
    """Shows OCCT's view cube in a corner of the view in place of the trihedron (on), or the
    trihedron alone, the cube's sides and axes named for the up axis; one repaint. Calls
    that name or scale the trihedron anew (up_axis, set_pixel_ratio) show it again: call
    this after them."""
    view = service.get_view()
    service.set_view_cube(bool(on))
    trihedron = view.Trihedron(False)
    if on:
        _trihedron_hidden.add(view)
        if trihedron is not None:
            trihedron.Erase()
        cube = find_view_cube(service.get_context())
        if cube is not None:
            _name_view_cube(cube, up)
            service.get_context().Redisplay(cube, False)
    else:
        _trihedron_hidden.discard(view)
        if trihedron is not None:
            trihedron.Display(view)
    service.redraw()


def find_view_cube(context):
    """The view cube the context shows (the service's), or None.

    Among the objects of no kind alone (the cube, a trihedron; never a shape), walked
    from the front: iterating an OCP list indexes it from its start each step, which
    over every shape of a 20,200-placement scene took 27 s a frame."""
    shown = ObjectList()
    context.DisplayedObjects(AIS_KindOfInteractive.AIS_KindOfInteractive_None, -1, shown)
    while shown.Size():
        item = shown.First()
        shown.RemoveFirst()
        if isinstance(item, AIS_ViewCube):
            return item
    return None


def _name_view_cube(cube, up):
    # Y-up: the cube turns the camera to its sides with +Y up, as the standard views do.
    cube.SetYup(True, False)
    for side, name in CUBE_SIDES:
        cube.SetBoxSideLabel(getattr(V3d_TypeOfOrientation, side),
                             TCollection_AsciiString(name.upper()))
    cube.SetAxesLabels(*(TCollection_AsciiString(name) for name in CUBE_AXES.get(up, "XYZ")))
