"""The measure tool: faces, edges and vertices picked in the view, and what they measure.

In measure mode a left click in the view picks a face, an edge or a vertex
(service.pick_detail, under the selection mode the panel chooses) in place of
selecting a shape. One entity gives its own measures (a circle's or a
cylinder's diameter, a straight edge's length, a face's area), two their
minimum distance and, when both are flat faces or both straight edges, their
angle; the picked entities together give their bounding box. Lengths show in
the scene's one unit (units.scene_unit: the files' own when they share one;
OCCT reads every file in millimetres), never finer than the entities'
tolerance: what is thinner than that is 0. The highlights, the distance line and the labels are the tool's
own presentations in the context, never registered with the service: they go
when the tool leaves or a new measurement starts. What is measured is what
shows: an exploded view's parts where it moved them (view.upright.move_of), in
the model's axes, measured anew as they move.
"""

from PySide6.QtCore import Qt
from PySide6.QtGui import QAction, QActionGroup, QGuiApplication, QKeySequence
from PySide6.QtWidgets import (
    QDockWidget,
    QHBoxLayout,
    QLabel,
    QPlainTextEdit,
    QPushButton,
    QToolButton,
    QVBoxLayout,
    QWidget,
)

from morvik_viewer.model.units import MILLIMETRES, length_unit
from morvik_viewer.tools.base import TOOLS_MENU, Tool
from morvik_viewer.tools.measure.measures import (
    EDGE,
    FACE,
    MODES,
    TOUCHING,
    VERTEX,
    _distance,
    describe,
    label_text,
    measure,
)

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


class MeasureTool(Tool):
    """Measure mode (the view state's "measure"), once attached to the view.

    Tools ▸ Measure (M) enters and leaves it; so does Esc (leave). While on, left clicks
    pick entities, the panel shows what they measure, and the selection mode is the
    panel's; when it leaves, picking selects whole shapes again.
    """

    def __init__(self, state, parent=None):
        Tool.__init__(self, state, parent)
        self.active = False
        self.mode = FACE
        self.entities = []  # (shape identifier, sub-shape) pairs, in the order picked
        self.scene_unit = MILLIMETRES  # what lengths show in (units.scene_unit)
        self.measurement = None
        self.text = ""
        self._drawn = []  # the tool's presentations in the context

        self.action = QAction("&Measure", self)
        self.action.setCheckable(True)
        self.action.setShortcut(QKeySequence("M"))
        self.action.setShortcutContext(Qt.ApplicationShortcut)
        self.action.setStatusTip("Measure distances, diameters, angles and sizes")
        self.action.toggled.connect(self.set_active)
        self.needs(self.action)
        state.changed.connect(self._follow)

        self.panel = QWidget()
        self.dock = QDockWidget("Measure")
        self.dock.setObjectName("measure")
        self.dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        # Closed through the tool only (M, Esc, the menu), so the two never disagree.
        self.dock.setFeatures(QDockWidget.DockWidgetMovable | QDockWidget.DockWidgetFloatable)
        self.dock.setWidget(self.panel)
        self._build_panel()
        self.dock.hide()

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
        copy = QToolButton()
        copy.setDefaultAction(self.copy_action)
        clear = QPushButton("C&lear")
        clear.clicked.connect(self.clear)
        buttons.addWidget(copy)
        buttons.addWidget(clear)
        buttons.addStretch()
        layout.addLayout(buttons)

    # --- the tool -----------------------------------------------------------------

    def names(self):
        return {"measure": self}

    def actions(self):
        # Copy is the window's, while measuring: the view has the focus after a click.
        return [(TOOLS_MENU, self.action), (None, self.copy_action)]

    def dock_widget(self):
        return self.dock

    def _follow(self, name):
        if name == "measure":
            self.set_active(self.state.measure)
        elif name in ("up_axis", "explode"):
            self.show()  # its drawing turns with the shapes, and measures them as they move

    def closing(self):
        # Leaves before the window saves its layout, so the dock is never restored open.
        self.set_active(False)

    def scene_changed(self, scene):
        """A new scene, whose lengths show in scene.unit (units.scene_unit): what was
        picked is gone."""
        self.scene_unit = length_unit(scene.unit)
        self.clear()

    # --- on and off -------------------------------------------------------------

    def set_active(self, on):
        """Enters measure mode (on) or leaves it, restoring whole-shape picking."""
        on = bool(on) and self.host is not None
        if on != self.action.isChecked():
            self.action.setChecked(on)  # comes back here through toggled
            return
        if on == self.active:
            return
        self.active = self.state.measure = on
        widget, service = self.host.view, self.host.service
        if on:
            # The shapes selected are measured first (their box, the distance of two).
            selected = [(shape_id, service.get_shape_info(shape_id).ais_shape.Shape())
                        for shape_id in widget.selected_shape_ids()]
            widget.clear_selection()
            service.set_selection_mode(_shape_kind(self.mode))
            widget.click_handler = self.click
            self.dock.show()
            self.dock.raise_()
            self.host.report("Measure: click faces, edges or vertices; Esc leaves")
            self.pick_shapes(selected)
        else:
            self.clear()
            if service is not None:
                service.set_selection_mode(None)
            if widget is not None:
                widget.click_handler = None
            self.dock.hide()
            self.host.report("Measure off")
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
            self.host.service.set_selection_mode(_shape_kind(mode))

    # --- picking ------------------------------------------------------------------

    def click(self, x, y, toggle=False):
        """What a left click at device point (x, y) does in measure mode: the entity
        there starts a measurement, or joins a lone one (a distance); with toggle it joins
        the picked ones, or leaves them. An empty spot clears, unless toggle."""
        picked = self.host.service.pick_detail(x, y)
        if picked is None:
            if not toggle:
                self.clear()
            # No shape there: the view's own click goes on (the view cube's, say), and
            # selects nothing.
            self.host.view.pick(x, y, toggle)
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

    # --- results --------------------------------------------------------------------

    def unit(self):
        """The unit lengths show in: the scene's, as every length the window shows."""
        return self.scene_unit

    def show(self):
        """Measures what is picked; shows it in the panel and the view."""
        service = self._service()
        if service is not None:  # shapes erased since are forgotten
            self.entities = [e for e in self.entities if service.get_shape_info(e[0]) is not None]
        self.measurement, self.text = None, ""
        if self.entities:
            try:
                self.measurement = measure(self._on_screen())
                self.text = describe(self.measurement, self.unit())
            except Exception as error:  # noqa: BLE001 - OCCT's refusal, told, never a crash
                self.text = f"Cannot measure this: {type(error).__name__}: {error}"
        self.results.setPlainText(self.text)
        self._draw()

    def copy(self):
        """Puts the values shown on the clipboard, as text."""
        if self.text:
            QGuiApplication.clipboard().setText(self.text)
            self.host.report("Measurements copied")

    # --- drawing ------------------------------------------------------------------------

    def _service(self):
        return None if self.host is None else self.host.service

    def _on_screen(self):
        """The picked entities where they show, in the model's frame: each moved as its
        shape's presentation is moved (an exploded view's move; see view.upright)."""
        service, move_of = self._service(), self.host.side.move_of
        shown = []
        for shape_id, shape in self.entities:
            move = move_of(service.get_shape_info(shape_id).ais_shape)
            shown.append((shape_id, shape if move is None else shape.Moved(move)))
        return shown

    def _turn(self):
        """The up axis's turn (a gp_Trsf), which the tool's presentations take as the shapes
        do: they are drawn in the model's frame, where the entities are measured."""
        return self.host.side.placement(self.state.up_axis).Transformation()

    def _draw(self):
        service = self._service()
        if service is None or not (self._drawn or self.entities):
            return  # nothing to take away or to draw: no frame either
        context = service.get_context()
        for presentation in self._drawn:
            context.Remove(presentation, False)
        self._drawn = []
        if self.entities:
            self._draw_entities(service, self._on_screen())
        if self.measurement is not None:
            self._draw_measurement(service)
        context.UpdateCurrentViewer()

    def _show(self, service, presentation, turned=True, mode=0, topmost=True, overlay=False):
        from OCP.Graphic3d import Graphic3d_ZLayerId_Topmost, Graphic3d_ZLayerId_TopOSD

        if turned:
            presentation.SetLocalTransformation(self._turn())
        if topmost:
            # A label goes over everything, the distance line through it included.
            presentation.SetZLayer(Graphic3d_ZLayerId_TopOSD if overlay else
                                   Graphic3d_ZLayerId_Topmost)
        # Selection mode -1: shown, never picked (the next click picks what lies under it).
        service.get_context().Display(presentation, mode, -1, False)
        self._drawn.append(presentation)

    def _draw_entities(self, service, entities):
        from OCP.AIS import AIS_Shape
        from OCP.Aspect import Aspect_TOM_O_POINT
        from OCP.Prs3d import Prs3d_PointAspect

        for _, shape in entities:
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
            self._show(service, presentation, mode=0 if lines else 1, topmost=lines)

    def _draw_measurement(self, service):
        from OCP.AIS import AIS_Shape, AIS_TextLabel
        from OCP.Aspect import Aspect_TODT_SUBTITLE
        from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeEdge
        from OCP.gp import gp_Pnt
        from OCP.Graphic3d import Graphic3d_HTA_CENTER, Graphic3d_VTA_CENTER
        from OCP.TCollection import TCollection_ExtendedString

        measurement = self.measurement
        if measurement.line is not None and _distance(*measurement.line) > TOUCHING:
            edge = BRepBuilderAPI_MakeEdge(gp_Pnt(*measurement.line[0]),
                                           gp_Pnt(*measurement.line[1])).Edge()
            line = AIS_Shape(edge)
            line.SetColor(_color(LINE_COLOR))
            line.SetWidth(LINE_WIDTH)
            self._show(service, line)
        text = label_text(measurement, self.unit())
        if text and measurement.label_at is not None:
            label = AIS_TextLabel()
            label.SetText(TCollection_ExtendedString(text, True))  # UTF-8
            # OCCT places text at its anchor as the view sees it, without the
            # presentation's own transformation: the anchor is turned here instead.
            label.SetPosition(gp_Pnt(*measurement.label_at).Transformed(self._turn()))
            label.SetColor(_color(LABEL_COLOR))
            label.SetColorSubTitle(_color(LABEL_BACKGROUND))
            label.SetDisplayType(Aspect_TODT_SUBTITLE)
            label.SetHeight(LABEL_HEIGHT)
            label.SetHJustification(Graphic3d_HTA_CENTER)
            label.SetVJustification(Graphic3d_VTA_CENTER)
            self._show(service, label, turned=False, overlay=True)


def _color(rgb):
    from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB

    return Quantity_Color(*rgb, Quantity_TOC_RGB)


def _shape_kind(mode):
    from OCP.TopAbs import TopAbs_ShapeEnum

    return TopAbs_ShapeEnum(mode)
