"""The measure tool: faces, edges and vertices picked in the view, and what they measure.

In measure mode a left click in the view picks a face, an edge or a vertex
(service.pick_detail, under the selection mode the panel chooses) in place of
selecting a shape. One entity gives its own measures (a circle's or a
cylinder's diameter, a straight edge's length, a face's area), two their
minimum distance and, when both are flat faces or both straight edges, their
angle; the picked entities together give their bounding box. Lengths show in
the length unit of the file the entities come from (OCCT reads every file in
millimetres). The highlights, the distance line and the labels are the tool's
own presentations in the context, never registered with the service: they go
when the tool leaves or a new measurement starts.
"""

import math
from dataclasses import dataclass, field

from PySide6.QtCore import QEvent, QObject, Qt
from PySide6.QtGui import QAction, QActionGroup, QGuiApplication, QKeySequence
from PySide6.QtWidgets import (QDockWidget, QHBoxLayout, QLabel, QPlainTextEdit, QPushButton,
                               QToolButton, QVBoxLayout, QWidget)

from morvik_viewer.reading import MILLIMETRES, length_unit

# The window builds the tool before OCP has loaded (it shows first): OCP comes in
# with the first measurement, or the first change of mode.

# What a click picks, as the panel names it, and TopAbs_ShapeEnum's value for it;
# faces first, as a part shows them.
MODES = (("Face", 4), ("Edge", 6), ("Vertex", 7))
FACE, EDGE, VERTEX = (value for _, value in MODES)
SOLID = 2
# TopAbs_ShapeEnum's values, by the name an entity of each kind goes by.
KIND_NAMES = dict(enumerate(("compound", "compsolid", "solid", "shell", "face", "wire", "edge",
                             "vertex")))
# Two points closer than this (millimetres) touch: edges that do are measured from there.
TOUCHING = 1e-7
# Colours of the tool's presentations: the entities picked (far from the part palette and
# from the selection's green and the hover's blue), the distance line, the labels.
PICKED_COLOR = (0.95, 0.1, 0.75)
LINE_COLOR = (1.0, 0.85, 0.0)
LABEL_COLOR = (1.0, 1.0, 1.0)
LABEL_BACKGROUND = (0.1, 0.1, 0.12)
LABEL_HEIGHT = 16
PICKED_WIDTH = 3.0
LINE_WIDTH = 2.0
EMPTY_TEXT = ("Click a face, an edge or a vertex (the mode above says which).\n"
              "A second click measures the distance between the two;\n"
              "Shift+click adds more to the box. Esc leaves.")


# --- what entities measure ------------------------------------------------------

@dataclass
class Value:
    """One measure: amount in millimetres to the power given (1 a length, 2 an area, 3 a
    volume), or in degrees (power 0)."""

    name: str
    amount: float
    power: int = 1


@dataclass
class Measurement:
    """What the picked entities measure, with where the view draws it (model points)."""

    picked: list  # one line per entity: "circular edge of cylinder"
    values: list = field(default_factory=list)  # Value
    size: tuple | None = None  # the entities' bounding box: dx, dy, dz in millimetres
    line: tuple | None = None  # the two closest points a distance runs between
    label_at: tuple | None = None  # where the label of the values shows


def _cast(shape):
    """shape as the TopoDS class of its type (OCP 8 dropped the casts' suffix)."""
    from OCP.TopoDS import TopoDS

    name = {FACE: "Face", EDGE: "Edge", VERTEX: "Vertex"}[int(shape.ShapeType())]
    return (getattr(TopoDS, name + "_s", None) or getattr(TopoDS, name))(shape)


def kind_of(shape):
    """What an entity is, in words: "circular edge", "planar face", "vertex"..."""
    from OCP.BRepAdaptor import BRepAdaptor_Curve, BRepAdaptor_Surface
    from OCP.GeomAbs import GeomAbs_Circle, GeomAbs_Cylinder, GeomAbs_Line, GeomAbs_Plane

    kind = shape.ShapeType()
    if kind == EDGE:
        return {GeomAbs_Circle: "circular edge", GeomAbs_Line: "straight edge"}.get(
            BRepAdaptor_Curve(_cast(shape)).GetType(), "edge")
    if kind == FACE:
        return {GeomAbs_Plane: "planar face", GeomAbs_Cylinder: "cylindrical face"}.get(
            BRepAdaptor_Surface(_cast(shape)).GetType(), "face")
    return KIND_NAMES.get(int(kind), "shape")


def measure(entities):
    """The Measurement of entities, (shape identifier, sub-shape) pairs: one gives its own
    measures, two their distance (and angle), any number their bounding box."""
    shapes = [shape for _, shape in entities]
    result = Measurement([f"{kind_of(shape)} of {shape_id}" for shape_id, shape in entities])
    if len(shapes) == 1:
        _own_measures(shapes[0], result)
    elif len(shapes) == 2:
        _pair_measures(*shapes, result)
    result.size = box_size(shapes)
    return result


def _own_measures(shape, result):
    from OCP.BRep import BRep_Tool
    from OCP.BRepAdaptor import BRepAdaptor_Curve, BRepAdaptor_Surface
    from OCP.BRepGProp import BRepGProp
    from OCP.GeomAbs import GeomAbs_Circle, GeomAbs_Cylinder
    from OCP.GProp import GProp_GProps

    kind = shape.ShapeType()
    if kind == VERTEX:
        point = BRep_Tool.Pnt_s(_cast(shape))
        result.values += [Value(axis, value) for axis, value in zip("XYZ", _xyz(point))]
        result.label_at = _xyz(point)
        return
    props = GProp_GProps()
    if kind == EDGE:
        curve = BRepAdaptor_Curve(_cast(shape))
        BRepGProp.LinearProperties_s(shape, props)
        result.label_at = _xyz(props.CentreOfMass())
        if curve.GetType() == GeomAbs_Circle:
            circle = curve.Circle()
            result.values += [Value("Diameter", 2.0 * circle.Radius()),
                              Value("Radius", circle.Radius())]
            result.label_at = _xyz(circle.Location())
        result.values.append(Value("Length", props.Mass()))
    elif kind == FACE:
        surface = BRepAdaptor_Surface(_cast(shape))
        BRepGProp.SurfaceProperties_s(shape, props)
        result.label_at = _xyz(props.CentreOfMass())
        if surface.GetType() == GeomAbs_Cylinder:
            radius = surface.Cylinder().Radius()
            result.values += [Value("Diameter", 2.0 * radius), Value("Radius", radius)]
        result.values.append(Value("Area", props.Mass(), 2))
    elif kind == SOLID:
        BRepGProp.VolumeProperties_s(shape, props)
        result.values.append(Value("Volume", props.Mass(), 3))
        result.label_at = _xyz(props.CentreOfMass())


def _pair_measures(first, second, result):
    from OCP.BRepExtrema import BRepExtrema_DistShapeShape

    distance = BRepExtrema_DistShapeShape(first, second)
    if distance.IsDone() and distance.NbSolution() > 0:
        ends = _xyz(distance.PointOnShape1(1)), _xyz(distance.PointOnShape2(1))
        result.values.append(Value("Distance", distance.Value()))
        result.line = ends
        result.label_at = tuple((a + b) / 2.0 for a, b in zip(*ends))
    angle = angle_between(first, second, result.line)
    if angle is not None:
        result.values.append(Value("Angle", angle, 0))


def angle_between(first, second, closest=None):
    """Degrees between two planar faces (their outward normals) or two straight edges;
    None for any other pair. Edges that meet are measured from where they meet (0 to
    180); others as lines (0 to 90). closest: the pair's closest points, if known."""
    kinds = first.ShapeType(), second.ShapeType()
    if kinds == (FACE, FACE):
        normals = [_normal(face) for face in (first, second)]
        if None in normals:
            return None
        return _degrees(*normals)
    if kinds == (EDGE, EDGE):
        ends = [_line_ends(edge) for edge in (first, second)]
        if None in ends:
            return None
        meeting = closest[0] if closest and _distance(*closest) <= TOUCHING else None
        if meeting is not None:
            # From where they meet towards each edge's far end: the corner's own angle.
            away = [_minus(max(pair, key=lambda p: _distance(p, meeting)), meeting)
                    for pair in ends]
            if all(_norm(v) > TOUCHING for v in away):
                return _degrees(*away)
        along = [_minus(b, a) for a, b in ends]
        angle = _degrees(*along)
        return min(angle, 180.0 - angle)
    return None


def _normal(face):
    from OCP.BRepAdaptor import BRepAdaptor_Surface
    from OCP.GeomAbs import GeomAbs_Plane
    from OCP.TopAbs import TopAbs_REVERSED

    surface = BRepAdaptor_Surface(_cast(face))
    if surface.GetType() != GeomAbs_Plane:
        return None
    d = surface.Plane().Axis().Direction()
    sign = -1.0 if face.Orientation() == TopAbs_REVERSED else 1.0
    return (sign * d.X(), sign * d.Y(), sign * d.Z())


def _line_ends(edge):
    from OCP.BRep import BRep_Tool
    from OCP.BRepAdaptor import BRepAdaptor_Curve
    from OCP.GeomAbs import GeomAbs_Line
    from OCP.TopExp import TopExp

    edge = _cast(edge)
    if BRepAdaptor_Curve(edge).GetType() != GeomAbs_Line:
        return None
    first, last = TopExp.FirstVertex_s(edge), TopExp.LastVertex_s(edge)
    if first.IsNull() or last.IsNull():
        return None
    return _xyz(BRep_Tool.Pnt_s(first)), _xyz(BRep_Tool.Pnt_s(last))


def box_size(shapes):
    """dx, dy, dz of the shapes' bounding box, exact (BRepBndLib's optimal box, neither
    triangles nor tolerances), in the shapes' axes; None when it is void."""
    from OCP.Bnd import Bnd_Box
    from OCP.BRepBndLib import BRepBndLib

    box = Bnd_Box()
    for shape in shapes:
        BRepBndLib.AddOptimal_s(shape, box, False, False)
    if box.IsVoid():
        return None
    low, high = _xyz(box.CornerMin()), _xyz(box.CornerMax())
    return tuple(h - l for l, h in zip(low, high))


def _xyz(point):
    return (point.X(), point.Y(), point.Z())


def _minus(a, b):
    return tuple(x - y for x, y in zip(a, b))


def _norm(v):
    return math.sqrt(sum(c * c for c in v))


def _distance(a, b):
    return _norm(_minus(a, b))


def _degrees(u, v):
    cosine = sum(a * b for a, b in zip(u, v)) / (_norm(u) * _norm(v))
    return math.degrees(math.acos(max(-1.0, min(1.0, cosine))))


# --- as text, in the file's unit ----------------------------------------------------

def number(x):
    """x with up to four decimals, trailing zeros dropped; small values to four digits."""
    if x != 0.0 and abs(x) < 1e-3:
        return f"{x:.4g}"
    text = f"{x:.4f}".rstrip("0").rstrip(".")
    return "0" if text == "-0" else text


def amount(value, unit):
    """A Value as text in unit, (short name, millimetres in one): "30 mm", "90°"."""
    name, millimetres = unit
    if value.power == 0:
        return f"{number(value.amount)}°"
    power = {2: "²", 3: "³"}.get(value.power, "")
    return f"{number(value.amount / millimetres ** value.power)} {name}{power}"


def describe(measurement, unit):
    """The measurement as lines of text in unit, as the panel shows and Copy copies."""
    name, millimetres = unit
    lines = [f"Picked: {', '.join(measurement.picked)}"]
    lines += [f"{value.name}: {amount(value, unit)}" for value in measurement.values]
    if measurement.size is not None:
        sides = " × ".join(number(side / millimetres) for side in measurement.size)
        whose = "the picked entity" if len(measurement.picked) == 1 else "the picked entities"
        lines.append(f"Box of {whose} (dx × dy × dz, file axes): {sides} {name}")
    return "\n".join(lines)


def label_text(measurement, unit):
    """The short text the view shows beside what was measured."""
    shown = [v for v in measurement.values if v.name in ("Diameter", "Distance", "Angle")]
    if not shown:
        shown = [v for v in measurement.values if v.name in ("Length", "Area", "Volume")]
    return "  ".join(("Ø " if v.name == "Diameter" else "") + amount(v, unit) for v in shown)


# --- the tool ---------------------------------------------------------------------------

class MeasureTool(QObject):
    """Measure mode of a window (a ViewerWindow: its service, view widget and status bar).

    Tools ▸ Measure (M) enters and leaves it; so does Esc (leave). While on, left clicks
    pick entities, the panel shows what they measure, and the selection mode is the
    panel's; when it leaves, picking selects whole shapes again.
    """

    def __init__(self, window):
        QObject.__init__(self, window)
        self._window = window
        self.active = False
        self.mode = FACE
        self.entities = []  # (shape identifier, sub-shape) pairs, in the order picked
        self.units = {}  # the length unit of each shape not in millimetres, by identifier
        self.measurement = None
        self.text = ""
        self._drawn = []  # the tool's presentations in the context

        self.action = QAction("&Measure", window)
        self.action.setCheckable(True)
        self.action.setShortcut(QKeySequence("M"))
        self.action.setShortcutContext(Qt.ApplicationShortcut)
        self.action.setStatusTip("Measure distances, diameters, angles and sizes")
        self.action.toggled.connect(self.set_active)

        self.panel = QWidget()
        self.dock = QDockWidget("Measure", window)
        self.dock.setObjectName("measure")
        self.dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        # Closed through the tool only (M, Esc, the menu), so the two never disagree.
        self.dock.setFeatures(QDockWidget.DockWidgetMovable | QDockWidget.DockWidgetFloatable)
        self.dock.setWidget(self.panel)
        self._build_panel()
        window.addDockWidget(Qt.RightDockWidgetArea, self.dock)
        self.dock.hide()
        # Leaves before the window saves its layout, so the dock is never restored open.
        window.installEventFilter(self)

    def _build_panel(self):
        layout = QVBoxLayout(self.panel)
        modes = QHBoxLayout()
        modes.addWidget(QLabel("Pick:"))
        self.mode_buttons = {}
        group = QActionGroup(self)
        for text, mode in MODES:
            button = QToolButton()
            action = QAction(text, self)
            action.setCheckable(True)
            action.setChecked(mode == self.mode)
            action.triggered.connect(lambda checked=False, mode=mode: self.set_mode(mode))
            group.addAction(action)
            button.setDefaultAction(action)
            modes.addWidget(button)
            self.mode_buttons[mode] = action
        modes.addStretch()
        layout.addLayout(modes)
        self.results = QPlainTextEdit()
        self.results.setReadOnly(True)
        self.results.setMinimumSize(260, 120)
        self.results.setPlaceholderText(EMPTY_TEXT)
        layout.addWidget(self.results)
        buttons = QHBoxLayout()
        self.copy_action = QAction("&Copy", self)
        self.copy_action.setShortcut(QKeySequence.Copy)
        # The window's, while measuring: the view has the focus after a click.
        self.copy_action.setShortcutContext(Qt.WindowShortcut)
        self.copy_action.setEnabled(False)
        self.copy_action.triggered.connect(self.copy)
        self._window.addAction(self.copy_action)
        copy = QToolButton()
        copy.setDefaultAction(self.copy_action)
        clear = QPushButton("C&lear")
        clear.clicked.connect(self.clear)
        buttons.addWidget(copy)
        buttons.addWidget(clear)
        buttons.addStretch()
        layout.addLayout(buttons)

    # --- on and off -------------------------------------------------------------

    def set_active(self, on):
        """Enters measure mode (on) or leaves it, restoring whole-shape picking."""
        window = self._window
        on = bool(on) and window.service is not None
        if on != self.action.isChecked():
            self.action.setChecked(on)  # comes back here through toggled
            return
        if on == self.active:
            return
        self.active = on
        widget, service = window.view_widget, window.service
        if on:
            # The shapes selected are measured first (their box, the distance of two).
            selected = [(shape_id, service.get_shape_info(shape_id).ais_shape.Shape())
                        for shape_id in widget.selected_shape_ids()]
            widget.clear_selection()
            service.set_selection_mode(_shape_kind(self.mode))
            widget.click_handler = self.click
            self.dock.show()
            self.dock.raise_()
            window.show_message("Measure: click faces, edges or vertices; Esc leaves")
            self.pick_shapes(selected)
        else:
            self.clear()
            if service is not None:
                service.set_selection_mode(None)
            if widget is not None:
                widget.click_handler = None
            self.dock.hide()
            window.show_message("Measure off")
        self.copy_action.setEnabled(on)

    def set_mode(self, mode):
        """Picks faces, edges or vertices (FACE, EDGE, VERTEX: TopAbs_FACE... or their
        values) from the next click; what is picked already stays."""
        try:
            mode = int(mode)
        except (TypeError, ValueError):
            return
        if mode not in self.mode_buttons:
            return
        self.mode = mode
        self.mode_buttons[mode].setChecked(True)
        if self.active:
            self._window.service.set_selection_mode(_shape_kind(mode))

    def eventFilter(self, watched, event):
        if watched is self._window and event.type() == QEvent.Close:
            self.set_active(False)
        return False

    # --- picking ------------------------------------------------------------------

    def click(self, x, y, toggle=False):
        """What a left click at device point (x, y) does in measure mode: the entity
        there starts a measurement, or joins a lone one (a distance); with toggle it joins
        the picked ones, or leaves them. An empty spot clears, unless toggle."""
        picked = self._window.service.pick_detail(x, y)
        if picked is None:
            if not toggle:
                self.clear()
            # No shape there: the view's own click goes on (the view cube's, say), and
            # selects nothing.
            self._window.view_widget.pick(x, y, toggle)
            return
        entity = (picked[0], picked[1])
        same = [e for e in self.entities if e[0] == entity[0] and e[1].IsSame(entity[1])]
        if toggle:
            self.entities = ([e for e in self.entities if e not in same] if same
                             else self.entities + [entity])
        elif len(self.entities) == 1 and not same:
            self.entities.append(entity)
        else:
            self.entities = [entity]
        self.show()

    def pick_shapes(self, entities):
        """Measures entities, (shape identifier, sub-shape) pairs, as if clicked."""
        self.entities = list(entities)
        self.show()

    def clear(self):
        """Forgets the picked entities and removes what the tool drew."""
        self.entities = []
        self.show()

    def scene_changed(self, units=None):
        """A new scene: what was picked is gone. units, when given, is the length unit of
        each shape (scene.Part.unit) by identifier; others are in millimetres."""
        self.units = dict(units or {})
        self.clear()

    # --- results --------------------------------------------------------------------

    def unit(self):
        """The unit lengths show in: the file's of the entities picked, millimetres when
        they come from files in several units."""
        units = {length_unit(self.units.get(shape_id, MILLIMETRES))
                 for shape_id, _ in self.entities}
        return units.pop() if len(units) == 1 else MILLIMETRES

    def show(self):
        """Measures what is picked; shows it in the panel and the view."""
        service = self._window.service
        if service is not None:  # shapes erased since are forgotten
            self.entities = [e for e in self.entities if service.get_shape_info(e[0]) is not None]
        self.measurement, self.text = None, ""
        if self.entities:
            try:
                self.measurement = measure(self.entities)
                self.text = describe(self.measurement, self.unit())
            except Exception as error:  # noqa: BLE001 - OCCT's refusal, told, never a crash
                self.text = f"Cannot measure this: {type(error).__name__}: {error}"
        self.results.setPlainText(self.text)
        self._draw()

    def copy(self):
        """Puts the values shown on the clipboard, as text."""
        if self.text:
            QGuiApplication.clipboard().setText(self.text)
            self._window.show_message("Measurements copied")

    # --- drawing ------------------------------------------------------------------------

    def _draw(self):
        service = self._window.service
        if service is None or not (self._drawn or self.entities):
            return  # nothing to take away or to draw: no frame either
        context = service.get_context()
        for presentation in self._drawn:
            context.Remove(presentation, False)
        self._drawn = []
        if self.entities:
            self._draw_entities(service)
        if self.measurement is not None:
            self._draw_measurement(service)
        context.UpdateCurrentViewer()

    def _placement(self, service, shape_id):
        # The registered shape's presentation may be turned (up_axis): the entities are
        # in the shape's own coordinates, so the tool's presentations turn alike.
        info = None if shape_id is None else service.get_shape_info(shape_id)
        return None if info is None else info.ais_shape.LocalTransformation()

    def _show(self, service, presentation, shape_id, mode=0, topmost=True, overlay=False):
        from OCP.Graphic3d import Graphic3d_ZLayerId_TopOSD, Graphic3d_ZLayerId_Topmost

        trsf = self._placement(service, shape_id)
        if trsf is not None and shape_id is not None:
            presentation.SetLocalTransformation(trsf)
        if topmost:
            # A label goes over everything, the distance line through it included.
            presentation.SetZLayer(Graphic3d_ZLayerId_TopOSD if overlay else
                                   Graphic3d_ZLayerId_Topmost)
        # Selection mode -1: shown, never picked (the next click picks what lies under it).
        service.get_context().Display(presentation, mode, -1, False)
        self._drawn.append(presentation)

    def _draw_entities(self, service):
        from OCP.AIS import AIS_Shape
        from OCP.Aspect import Aspect_TOM_O_POINT
        from OCP.Prs3d import Prs3d_PointAspect

        for shape_id, shape in self.entities:
            presentation = AIS_Shape(shape)
            presentation.SetColor(_color(PICKED_COLOR))
            presentation.SetWidth(PICKED_WIDTH)
            if shape.ShapeType() == VERTEX:
                drawer = presentation.Attributes()
                drawer.SetPointAspect(Prs3d_PointAspect(Aspect_TOM_O_POINT, _color(PICKED_COLOR),
                                                        2.0))
            lines = shape.ShapeType() in (EDGE, VERTEX)
            # Faces (and whole shapes) are shaded over their own, in the shapes' layer;
            # edges and vertices show through whatever hides them.
            self._show(service, presentation, shape_id, 0 if lines else 1, topmost=lines)

    def _draw_measurement(self, service):
        from OCP.AIS import AIS_Shape, AIS_TextLabel
        from OCP.Aspect import Aspect_TODT_SUBTITLE
        from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeEdge
        from OCP.Graphic3d import Graphic3d_HTA_CENTER, Graphic3d_VTA_CENTER
        from OCP.TCollection import TCollection_ExtendedString
        from OCP.gp import gp_Pnt

        measurement, shape_id = self.measurement, self.entities[0][0]
        if measurement.line is not None and _distance(*measurement.line) > TOUCHING:
            edge = BRepBuilderAPI_MakeEdge(gp_Pnt(*measurement.line[0]),
                                           gp_Pnt(*measurement.line[1])).Edge()
            line = AIS_Shape(edge)
            line.SetColor(_color(LINE_COLOR))
            line.SetWidth(LINE_WIDTH)
            self._show(service, line, shape_id)
        text = label_text(measurement, self.unit())
        if text and measurement.label_at is not None:
            label = AIS_TextLabel()
            label.SetText(TCollection_ExtendedString(text, True))  # UTF-8
            # OCCT places text at its anchor as the view sees it, without the
            # presentation's own transformation: the anchor is turned here instead.
            anchor = gp_Pnt(*measurement.label_at)
            placement = self._placement(service, shape_id)
            label.SetPosition(anchor if placement is None else anchor.Transformed(placement))
            label.SetColor(_color(LABEL_COLOR))
            label.SetColorSubTitle(_color(LABEL_BACKGROUND))
            label.SetDisplayType(Aspect_TODT_SUBTITLE)
            label.SetHeight(LABEL_HEIGHT)
            label.SetHJustification(Graphic3d_HTA_CENTER)
            label.SetVJustification(Graphic3d_VTA_CENTER)
            self._show(service, label, None, overlay=True)


def _color(rgb):
    from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

    return Quantity_Color(*rgb, Quantity_TOC_RGB)


def _shape_kind(mode):
    from OCP.TopAbs import TopAbs_ShapeEnum

    return TopAbs_ShapeEnum(mode)
