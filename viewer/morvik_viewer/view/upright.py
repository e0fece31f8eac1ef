"""The OCP side of the up axis (see model.up_axis): presentations turned so that the
model's up points up on screen, and the trihedron named after the model's axes.

A presentation's location is its turn after any move in the model's frame (an
exploded view's, see view.explode): turning keeps the move.
"""

import math

from OCP.gp import gp_Ax1, gp_Dir, gp_Pnt, gp_Trsf, gp_Vec
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.TCollection import TCollection_AsciiString
from OCP.TopLoc import TopLoc_Location
from OCP.V3d import V3d_Y, V3d_Z

from morvik_viewer.model.up_axis import Z_UP


def placement(up):
    """The presentation's location under up: a quarter turn about X for Z-up, none for Y-up."""
    turn = gp_Trsf()
    if up == Z_UP:
        turn.SetRotation(gp_Ax1(gp_Pnt(0.0, 0.0, 0.0), gp_Dir(1.0, 0.0, 0.0)), -math.pi / 2)
    return TopLoc_Location(turn)


def move_of(ais):
    """What a presentation is moved by before its turn (a translation in the model's frame,
    as a TopLoc_Location), or None when it is not moved: the shape shows where
    shape.Moved(move) would show unmoved. Read off its location, whose rotation is the
    turn and whose translation is the move, turned."""
    if not ais.HasTransformation():
        return None
    trsf = ais.LocalTransformation()
    shift = gp_Vec(trsf.TranslationPart())
    if shift.SquareMagnitude() == 0.0:
        return None
    # The turn alone, undone: the translation back in the model's frame.
    trsf.SetTranslationPart(gp_Vec(0.0, 0.0, 0.0))
    trsf.Invert()
    move = gp_Trsf()
    move.SetTranslation(shift.Transformed(trsf))
    return TopLoc_Location(move)


def turn_shapes(service, up, shape_ids=None):
    """Places the presentations of registered shapes (all, or those named) for up, each
    keeping the move it has (see move_of); no viewer update. Shapes the service shows
    again later (a new display under the same identifier) come back unturned: turn them
    again."""
    context, location = service.get_context(), placement(up)
    for shape_id in service.get_all_shapes() if shape_ids is None else shape_ids:
        info = service.get_shape_info(shape_id)
        if info is not None:
            move = move_of(info.ais_shape)
            context.SetLocation(info.ais_shape,
                                location if move is None else location.Multiplied(move))


def upright(service, up):
    """Shows the whole scene with up pointing up: every shape turned, the trihedron named
    after the model's axes. No viewer update."""
    turn_shapes(service, up)
    name_trihedron(service.get_view(), up)


def name_trihedron(view, up):
    """Names the view trihedron's arrows after the model axes they show under up, each in
    its axis's colour (the view's Y arrow shows the model's Z under Z-up); no redraw."""
    trihedron = view.Trihedron(False)
    if trihedron is None:
        return
    names = ("X", "Z", "-Y") if up == Z_UP else ("X", "Y", "Z")
    if trihedron.Label(V3d_Y).ToCString() == names[1]:
        return
    trihedron.SetLabels(*(TCollection_AsciiString(name) for name in names))
    # Named anew, the two arrows trade colours, and their labels with them.
    arrows = [trihedron.ArrowAspect(axis) for axis in (V3d_Y, V3d_Z)]
    labels = [trihedron.LabelAspect(axis).Aspect() for axis in (V3d_Y, V3d_Z)]
    for pair in (arrows, labels):
        # Copies: the aspects hand out their own colours.
        first, second = (Quantity_Color(c.Red(), c.Green(), c.Blue(), Quantity_TOC_RGB)
                         for c in (pair[0].Color(), pair[1].Color()))
        pair[0].SetColor(second)
        pair[1].SetColor(first)
    trihedron.Display(view)
