"""The section plane: a panel that picks an axis, an offset across the scene and the side
cut away, and the service's one clip plane that follows it.

The panel speaks in the model's own axes, the ones the trihedron names (under
Z-up, Z is the height of a board lying face up), and turns them into the
view's frame (see up_axis) only when it hands the plane to the service. The
offset runs across the box of what is shown along that axis. Slider moves are
coalesced: however many arrive while a frame draws, the plane moves once, to
the last one.
"""

from PySide6.QtCore import Qt, QTimer
from PySide6.QtWidgets import QButtonGroup, QCheckBox, QGridLayout, QHBoxLayout, QLabel, QRadioButton, QSlider, QWidget

from morvik_viewer.model.units import MILLIMETRES, quantity
from morvik_viewer.model.up_axis import DEFAULT, from_view, to_view

AXES = ("x", "y", "z")
# Slider positions across the scene's box; a page step is a tenth of it.
STEPS = 1000
# How far a restored normal may lean off an axis and still count as that axis.
AXIS_TOLERANCE = 1e-6


def model_box(view, up):
    """The box of what the view shows, in the model's frame: ((xmin, ymin, zmin),
    (xmax, ymax, zmax)), or None for an empty view. Objects drawn at a fixed place
    on screen (trihedron, view cube) are not part of it."""
    box = view.View().MinMaxValues(False)
    if box.IsVoid():
        return None
    low, high = box.CornerMin(), box.CornerMax()
    corners = [from_view(up, (x, y, z)) for x in (low.X(), high.X())
               for y in (low.Y(), high.Y()) for z in (low.Z(), high.Z())]
    return (tuple(min(c[i] for c in corners) for i in range(3)),
            tuple(max(c[i] for c in corners) for i in range(3)))


def plane_for(box, axis, position, flipped, up):
    """(origin, normal) in the view's frame of the plane square to the model axis
    (an index into AXES) at position (0 to 1 across box). What lies below position
    along the axis stays shown, so the slider shows more as it moves up; flipped,
    what lies above it. (The service keeps the side its normal points to.)"""
    low, high = box
    origin = [(a + b) / 2 for a, b in zip(low, high)]
    origin[axis] = low[axis] + (high[axis] - low[axis]) * position
    normal = [0.0, 0.0, 0.0]
    normal[axis] = 1.0 if flipped else -1.0
    return to_view(up, origin), to_view(up, normal)


def controls_for(box, origin, normal, up):
    """The (axis, position, flipped) that show a plane given in the view's frame; None
    when its normal runs along no model axis or the numbers are not numbers. The
    position is clamped to the box (a saved plane may lie outside a new scene)."""
    try:
        normal = from_view(up, tuple(float(c) for c in normal))
        origin = from_view(up, tuple(float(c) for c in origin))
    except (TypeError, ValueError):
        return None
    length = sum(c * c for c in normal) ** 0.5
    if not length > 0:  # zero or NaN
        return None
    axis = max(range(3), key=lambda i: abs(normal[i]))
    if abs(abs(normal[axis]) / length - 1.0) > AXIS_TOLERANCE:
        return None
    low, high = box
    span = high[axis] - low[axis]
    position = (origin[axis] - low[axis]) / span if span > 0 else 0.5
    position = min(max(position, 0.0), 1.0) if position == position else 0.5
    return axis, position, normal[axis] > 0


class SectionPanel(QWidget):
    """Axis, offset, flip and capping controls driving the service's clip plane.

    On (set_active(True)) the plane follows the controls; off, the view has none.
    attach(service, state) gives it the service and the view's state, whose up axis it
    reads; unit is what lengths show in (the scene's, see units.scene_unit).
    """

    def __init__(self, parent=None):
        QWidget.__init__(self, parent)
        self._service = None
        self._state = None  # model.view_state.ViewState, once attached
        self.unit = MILLIMETRES
        self._active = False
        self._box = None  # the scene's box in the model frame, while on
        self.applied = 0  # planes handed to the service (the coalescing counts them)

        self.axis_buttons = QButtonGroup(self)
        axis_row = QHBoxLayout()
        for index, name in enumerate(AXES):
            button = QRadioButton(name.upper())
            button.setToolTip(f"Cut square to the model's {name.upper()} axis")
            self.axis_buttons.addButton(button, index)
            axis_row.addWidget(button)
        self.axis_buttons.button(2).setChecked(True)
        self.slider = QSlider(Qt.Horizontal)
        self.slider.setRange(0, STEPS)
        self.slider.setPageStep(STEPS // 10)
        self.slider.setValue(STEPS // 2)
        self.slider.setToolTip("Where the plane cuts, across what is shown")
        self.offset_label = QLabel()
        self.flip = QCheckBox("&Flip")
        self.flip.setToolTip("Show what lies above the plane rather than below")
        self.capping = QCheckBox("&Capping")
        self.capping.setToolTip("Fill the cut with each part's colour")
        self.capping.setChecked(True)

        layout = QGridLayout(self)
        layout.addWidget(QLabel("Axis:"), 0, 0)
        layout.addLayout(axis_row, 0, 1)
        layout.addWidget(self.slider, 1, 0, 1, 2)
        layout.addWidget(self.offset_label, 2, 0, 1, 2)
        layout.addWidget(self.flip, 3, 0)
        layout.addWidget(self.capping, 3, 1)
        layout.setRowStretch(4, 1)

        # Many slider moves may come while one frame draws: the plane moves once, after them.
        self._pending = QTimer(self)
        self._pending.setSingleShot(True)
        self._pending.setInterval(0)
        self._pending.timeout.connect(self.apply)
        self.slider.valueChanged.connect(self._on_offset_moved)
        self.axis_buttons.idToggled.connect(lambda _index, checked: checked and self.apply())
        self.flip.toggled.connect(lambda _checked: self.apply())
        self.capping.toggled.connect(lambda _checked: self.apply())
        self._show_offset()

    def attach(self, service, state):
        self._service, self._state = service, state

    def _up(self):
        return DEFAULT if self._state is None else self._state.up_axis

    # --- state ----------------------------------------------------------------

    def is_active(self):
        return self._active

    def axis(self):
        """The model axis cut across, an index into AXES."""
        return self.axis_buttons.checkedId()

    def position(self):
        """Where the plane cuts, 0 to 1 across the scene's box."""
        return self.slider.value() / STEPS

    def offset(self):
        """Where the plane cuts along its axis, in millimetres; None without a scene."""
        if self._box is None:
            return None
        low, high = self._box
        axis = self.axis()
        return low[axis] + (high[axis] - low[axis]) * self.position()

    def plane(self):
        """(origin, normal) in the view's frame of the plane the controls show, or None."""
        if self._box is None:
            return None
        return plane_for(self._box, self.axis(), self.position(), self.flip.isChecked(),
                         self._up())

    # --- driving the service -------------------------------------------------------

    def set_active(self, on):
        """Turns the plane on (following the controls) or off (the view has none)."""
        on = bool(on)
        if on == self._active:
            return
        self._active = on
        if on:
            self.scene_changed()
        elif self._service is not None:
            self._pending.stop()
            self._service.clear_clip_plane()
            self._box = None

    def scene_changed(self):
        """Measures the scene anew (new shapes, another up axis) and moves the plane there."""
        if not self._active or self._service is None:
            return
        self._box = model_box(self._service.get_view(), self._up())
        self.apply()

    def apply(self):
        """Hands the plane the controls show to the service (at once; slider moves come
        here through the coalescing timer)."""
        self._pending.stop()
        self._show_offset()
        if not self._active or self._service is None:
            return
        plane = self.plane()
        if plane is None:  # nothing shown: nothing to cut
            self._service.clear_clip_plane()
            return
        origin, normal = plane
        self.applied += 1
        self._service.set_clip_plane(origin, normal, self.capping.isChecked())

    def take_state(self, clip_plane):
        """Shows a plane the view has taken (a view state's "clip_plane", in the view's
        frame), without handing it back: the controls move to it and the panel is on;
        None turns the panel off. A plane along no model axis keeps the controls as they
        are. Returns whether the panel is on."""
        if not isinstance(clip_plane, dict) or self._service is None:
            self._active = False
            self._box = None
            return False
        self._active = True
        self._box = model_box(self._service.get_view(), self._up())
        if self._box is None:
            return True
        controls = controls_for(self._box, clip_plane.get("origin"), clip_plane.get("normal"),
                                self._up())
        widgets = (self.slider, self.flip, self.capping, self.axis_buttons)
        for widget in widgets:
            widget.blockSignals(True)
        try:
            if controls is not None:
                axis, position, flipped = controls
                self.axis_buttons.button(axis).setChecked(True)
                self.slider.setValue(round(position * STEPS))
                self.flip.setChecked(flipped)
            self.capping.setChecked(clip_plane.get("capping") is not False)
        finally:
            for widget in widgets:
                widget.blockSignals(False)
        self._show_offset()
        return True

    def _on_offset_moved(self, _value):
        self._show_offset()
        if self._active and not self._pending.isActive():
            self._pending.start()

    def _show_offset(self):
        offset = self.offset()
        axis = AXES[self.axis()].upper()
        self.offset_label.setText(f"{axis} = {quantity(offset, self.unit)}"
                                  if offset is not None else f"{axis}: no scene")
