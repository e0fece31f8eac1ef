"""The OCP side of the exploded view (see model.explosion): each part's move, found once
a scene, set as its presentation's location after the up axis's turn (view.upright).

A part moves in the model's frame, so the location is the turn after the move:
what a presentation shows lies where the turned model would show it, moved.
The context's SetLocation moves its picking and highlighting along; the
section plane cuts in the view's frame, the moved parts as they show; the
measure tool measures what shows (view.upright.move_of).
"""

import math

from OCP.Bnd import Bnd_Box
from OCP.BRepBndLib import BRepBndLib
from OCP.gp import gp_Trsf, gp_Vec
from OCP.TopLoc import TopLoc_Location

from morvik_viewer.model.explosion import FULL, box_centre, direction
from morvik_viewer.model.up_axis import to_view
from morvik_viewer.view.upright import placement

_add_to_box = getattr(BRepBndLib, "Add_s", None) or BRepBndLib.Add


def part_box(shape):
    """The box of a registered shape in the model's frame, from its triangles when it has
    them (an exact box costs ten times as much); None for an empty shape."""
    box = Bnd_Box()
    _add_to_box(shape, box, True)
    if box.IsVoid():
        return None
    low, high = box.CornerMin(), box.CornerMax()
    corners = (low.X(), low.Y(), low.Z()), (high.X(), high.Y(), high.Z())
    # An infinite shape (a plane) has no centre to move from.
    return corners if all(math.isfinite(c) for corner in corners for c in corner) else None


class Explosion:
    """The exploded view of a service's scene: each part's centre found once (learn), the
    parts' moves from the scene's centre made of them, and the presentations placed for a
    percentage (place).

    What it learnt stays till forget(): a new scene forgets, and learns again.
    """

    def __init__(self, service):
        self._service = service
        self._parts = {}  # shape identifier: (presentation, centre), in the order learnt
        self._low = self._high = None  # the box of the parts learnt
        self._moves = {}  # up axis: [(presentation, full move in the view's frame)]

    def forget(self):
        """Lets the parts learnt go (their scene is gone, or going)."""
        self._parts, self._moves = {}, {}
        self._low = self._high = None

    def knows_scene(self):
        """Whether it knows a part for every shape the service registers (and no more)."""
        return len(self._parts) == self._service.get_shape_count()

    def learn(self, shape_ids=None):
        """Finds the centres of registered shapes (those named, else all that it does not
        know yet); the moves are made anew from the scene's centre as it now stands."""
        service = self._service
        if shape_ids is None:
            shape_ids = [i for i in service.get_all_shapes() if i not in self._parts]
        for shape_id in shape_ids:
            info = service.get_shape_info(shape_id)
            box = None if info is None else part_box(info.ais_shape.Shape())
            if box is None:
                self._parts.pop(shape_id, None)
                continue
            self._parts[shape_id] = (info.ais_shape, box_centre(*box))
            self._grow(*box)
        self._moves = {}

    def _grow(self, low, high):
        if self._low is None:
            self._low, self._high = low, high
        else:
            self._low = tuple(map(min, self._low, low))
            self._high = tuple(map(max, self._high, high))

    def centre(self):
        """The scene's centre in the model's frame (that of the box of the parts learnt), or
        None before any."""
        return None if self._low is None else box_centre(self._low, self._high)

    def moves(self, up):
        """[(presentation, its move at FULL in the view's frame under up)], made once per
        scene and axis."""
        if up not in self._moves:
            centre = self.centre()
            self._moves[up] = [(ais, to_view(up, direction(own, centre)))
                               for ais, own in self._parts.values()]
        return self._moves[up]

    def place(self, share, up, shape_ids=None):
        """Places the parts learnt (all, or those named) share percent of their way out
        (0 to FULL), after up's turn: one SetLocation each, no viewer update. At 0 the
        location is the turn alone, exactly as view.upright sets it."""
        context, turn = self._service.get_context(), placement(up)
        moves = self.moves(up)
        if shape_ids is not None:
            wanted = {id(self._parts[i][0]) for i in shape_ids if i in self._parts}
            moves = [move for move in moves if id(move[0]) in wanted]
        if share <= 0.0:
            for ais, _ in moves:
                context.SetLocation(ais, turn)
            return
        # One transformation, the turn's, its translation part set for each part: the
        # location copies it.
        trsf, fraction = gp_Trsf(), share / FULL
        trsf.Multiply(turn.Transformation())
        for ais, (x, y, z) in moves:
            trsf.SetTranslationPart(gp_Vec(x * fraction, y * fraction, z * fraction))
            context.SetLocation(ais, TopLoc_Location(trsf))
