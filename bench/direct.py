"""The floor for every service operation: the same OCCT calls, in the same
order, made straight from Python through OCP, with the least bookkeeping a
Python host needs to find its presentations again (a dict of records and a
reverse dict). Loops are written inline, as a host would write them.
"""

from OCP.AIS import AIS_KindOfInteractive_None, AIS_SelectionModesConcurrency_Single, AIS_Shape, AIS_TypeFilter
from OCP.Aspect import Aspect_TOL_SOLID
from OCP.Prs3d import Prs3d_LineAspect
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.SelectMgr import SelectMgr_OrFilter
from OCP.StdSelect import StdSelect_ShapeTypeFilter

from morvik.enums import DisplayMode


class Record:
    __slots__ = ("shape_id", "ais_shape", "color", "visible")

    def __init__(self, shape_id, ais_shape, color, visible):
        self.shape_id = shape_id
        self.ais_shape = ais_shape
        self.color = color
        self.visible = visible


def configure_edges(ais, enable):
    drawer = ais.Attributes()
    drawer.SetFaceBoundaryDraw(enable)
    if enable:
        black = Quantity_Color(0.0, 0.0, 0.0, Quantity_TOC_RGB)
        drawer.SetFaceBoundaryAspect(Prs3d_LineAspect(black, Aspect_TOL_SOLID, 1.0))
    ais.SetAttributes(drawer)


class DirectScene:
    """A scene driven by plain OCP calls."""

    kind = "direct"

    def __init__(self, scene):
        self.context = scene.context
        self.shapes = {}
        self.reverse = {}
        self.transparency = 0.0
        self.mode = DisplayMode.SHADED
        self.pick_filter = None
        self.pick_mode = None  # an AIS selection mode, or None for whole shapes

    def display(self, items, update):
        ctx, shapes, reverse = self.context, self.shapes, self.reverse
        transparency = self.transparency
        both = self.mode == DisplayMode.BOTH
        pick_mode = self.pick_mode
        for shape_id, shape, color in items:
            ais = AIS_Shape(shape)
            if shape.IsNull():
                raise ValueError("cannot display a null shape")
            r, g, b = color
            ais.SetColor(Quantity_Color(r, g, b, Quantity_TOC_RGB))
            if transparency > 0:
                ais.SetTransparency(transparency)
            ctx.Display(ais, update)
            if pick_mode is not None:
                ctx.SetSelectionModeActive(ais, pick_mode, True, AIS_SelectionModesConcurrency_Single,
                                           False)
            if both:
                configure_edges(ais, True)
                ctx.Redisplay(ais, update)
            shapes[shape_id] = Record(shape_id, ais, color, True)
            reverse[ais] = shape_id

    def set_display_mode(self, mode):
        self.mode = mode
        ctx = self.context
        if mode == DisplayMode.WIREFRAME:
            number, edges = 0, False
        elif mode == DisplayMode.BOTH:
            number, edges = 1, True
        else:
            number, edges = 1, False
        ctx.SetDisplayMode(number, False)
        for record in self.shapes.values():
            ais = record.ais_shape
            configure_edges(ais, edges)
            ctx.Redisplay(ais, False)
        ctx.UpdateCurrentViewer()

    def set_global_transparency(self, transparency):
        self.transparency = transparency
        ctx = self.context
        for record in self.shapes.values():
            ais = record.ais_shape
            ais.SetTransparency(transparency)
            ctx.Redisplay(ais, False)
        ctx.UpdateCurrentViewer()

    def set_selection_mode(self, kind):
        """Sub-shapes of `kind` picked on every shape (and the view cube whole), or whole
        shapes for None."""
        ctx = self.context
        if self.pick_filter is not None:
            ctx.RemoveFilter(self.pick_filter)
            self.pick_filter = None
        self.pick_mode = 0 if kind is None else AIS_Shape.SelectionMode_s(kind)
        if kind is not None:
            self.pick_filter = SelectMgr_OrFilter()
            self.pick_filter.Add(StdSelect_ShapeTypeFilter(kind))
            self.pick_filter.Add(AIS_TypeFilter(AIS_KindOfInteractive_None))
            ctx.AddFilter(self.pick_filter)
        for record in self.shapes.values():
            if record.visible:
                ctx.SetSelectionModeActive(record.ais_shape, self.pick_mode, True,
                                           AIS_SelectionModesConcurrency_Single, False)
        if kind is None:
            self.pick_mode = None

    def select_shapes(self, shape_ids):
        ctx, shapes = self.context, self.shapes
        ctx.ClearSelected(False)
        for shape_id in shape_ids:
            record = shapes.get(shape_id)
            if record is not None:
                ctx.AddOrRemoveSelected(record.ais_shape, False)
        ctx.UpdateCurrentViewer()

    def set_visibility(self, shape_ids, visible):
        ctx, shapes, pick_mode = self.context, self.shapes, self.pick_mode
        for shape_id in shape_ids:
            record = shapes.get(shape_id)
            if record is None or record.visible == visible:
                continue
            if visible:
                ctx.Display(record.ais_shape, False)
                if pick_mode is not None:
                    ctx.SetSelectionModeActive(record.ais_shape, pick_mode, True,
                                               AIS_SelectionModesConcurrency_Single, False)
            else:
                ctx.Erase(record.ais_shape, False)
            record.visible = visible

    def lookup_ids(self, presentations):
        reverse = self.reverse
        for ais in presentations:
            reverse.get(ais)

    def lookup_visible(self, shape_ids):
        shapes = self.shapes
        for shape_id in shape_ids:
            record = shapes.get(shape_id)
            record.visible if record is not None else False  # noqa: B018 - the read is the work timed

    def erase(self, shape_ids, update):
        ctx, shapes, reverse = self.context, self.shapes, self.reverse
        for shape_id in shape_ids:
            record = shapes.get(shape_id)
            if record is None:
                continue
            ctx.Remove(record.ais_shape, update)
            reverse.pop(record.ais_shape, None)
            del shapes[shape_id]

    def presentations(self, shape_ids):
        return [self.shapes[shape_id].ais_shape for shape_id in shape_ids]
