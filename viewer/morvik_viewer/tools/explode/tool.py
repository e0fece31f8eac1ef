"""The exploded view as a tool: View ▸ Exploded View (E) shows a panel whose slider moves
the parts apart, from 0 (the assembly as it is) to 100% (each part twice as far from the
scene's centre; see model.explosion).

How far is the view state's "explode": the slider, a restored state and --explode set
it, and the parts follow it (view.explode.Explosion, through the host's OCP side). Slider
moves are coalesced, as the hover's detections are: the parts move at most once a frame,
to the slider's last place, each with one SetLocation, and the view draws once. Each
part's way out is found once a scene; parts a load shows later take the explosion in
force as they come, and the scene's end sets every part's way from its final centre.
While the slider is dragged the view draws as during a drag of its camera
(view.look.set_camera_moving: hidden lines too costly to compute for each step are
computed once it is let go). Closing the panel leaves the parts where they are.
"""

import math
import time

from PySide6.QtCore import Qt, QTimer
from PySide6.QtGui import QKeySequence
from PySide6.QtWidgets import QDockWidget, QGridLayout, QLabel, QPushButton, QSlider, QWidget

from morvik_viewer.model.explosion import FULL
from morvik_viewer.model.view_state import whole_percent
from morvik_viewer.tools.base import VIEW_MENU, Tool
from morvik_viewer.view.hover import FRAME_MS


class ExplodePanel(QWidget):
    """The slider (whole percents) and what it says."""

    def __init__(self, parent=None):
        QWidget.__init__(self, parent)
        self.slider = QSlider(Qt.Horizontal)
        self.slider.setRange(0, int(FULL))
        self.slider.setPageStep(10)
        self.slider.setTickPosition(QSlider.TicksBelow)
        self.slider.setTickInterval(25)
        self.slider.setToolTip("How far the parts move apart from the assembly's centre")
        self.label = QLabel()
        self.reset = QPushButton("&Assemble")
        self.reset.setToolTip("Put every part back in its place")
        self.reset.clicked.connect(lambda: self.slider.setValue(0))
        layout = QGridLayout(self)
        layout.addWidget(QLabel("Spread:"), 0, 0)
        layout.addWidget(self.label, 0, 1, Qt.AlignRight)
        layout.addWidget(self.slider, 1, 0, 1, 2)
        layout.addWidget(self.reset, 2, 1, Qt.AlignRight)
        layout.setRowStretch(3, 1)
        self.show_percent(0)

    def show_percent(self, value):
        self.label.setText(f"{value}%")


class ExplodeTool(Tool):
    def __init__(self, state, parent=None):
        Tool.__init__(self, state, parent)
        self.explosion = None  # view.explode.Explosion, once attached
        self.steps = 0  # the moves done (the coalescing counts them)
        self.panel = ExplodePanel()
        self._dock = QDockWidget("Exploded View")
        self._dock.setObjectName("explode")
        self._dock.setAllowedAreas(Qt.LeftDockWidgetArea | Qt.RightDockWidgetArea)
        self._dock.setWidget(self.panel)
        self._dock.hide()
        self.action = self._dock.toggleViewAction()
        self.action.setText("E&xploded View")
        self.action.setShortcut(QKeySequence("E"))
        self.action.setShortcutContext(Qt.ApplicationShortcut)
        self.action.setStatusTip("Move the parts apart, to see inside the assembly")
        self.needs(self.action)
        # The slider's moves, the last one kept, taken at most once a frame.
        self._pending = QTimer(self)
        self._pending.setSingleShot(True)
        self._pending.timeout.connect(self._take_slider)
        self._taken_at = float("-inf")
        self.panel.slider.valueChanged.connect(self._slider_moved)
        state.changed.connect(self._follow)
        self._show_state()

    def dock_widget(self):
        return self._dock

    def names(self):
        return {"explode": self}

    def actions(self):
        return [(VIEW_MENU, self.action)]

    def attach(self, host):
        Tool.attach(self, host)
        self.explosion = host.side.Explosion(host.service)
        self._dock.visibilityChanged.connect(host.focus_view)
        # A drag of the slider moves the scene as a drag of the view moves its camera.
        self.panel.slider.sliderPressed.connect(lambda: self._moving(True))
        self.panel.slider.sliderReleased.connect(lambda: self._moving(False))
        if self.state.explode:
            self.place()

    def scene_loading(self, load):
        # The old scene's presentations go: none is kept alive past it.
        load.clearing.connect(self._forget)

    def shapes_shown(self, shape_ids):
        if self.explosion is not None and self.state.explode:
            self.explosion.learn(shape_ids)
            self.explosion.place(self.state.explode, self.state.up_axis, shape_ids)

    def scene_changed(self, scene):
        """Every part's way out from the new scene's centre, its explosion in place."""
        self._forget()
        if self.state.explode:
            self.place()

    def _forget(self):
        if self.explosion is not None:
            self.explosion.forget()

    # --- the slider --------------------------------------------------------------

    def _slider_moved(self, value):
        self.panel.show_percent(value)
        if not self._pending.isActive():
            since_ms = min(FRAME_MS, (time.perf_counter() - self._taken_at) * 1000.0)
            self._pending.start(math.ceil(FRAME_MS - since_ms))

    def _moving(self, moving):
        if not moving and self._pending.isActive():
            self._take_slider()  # where the drag ended, before the view draws at rest
        self.host.side.set_camera_moving(self.host.service.get_view(), moving)

    def _take_slider(self):
        self._pending.stop()
        value = self.panel.slider.value()
        if _whole(self.state.explode) != value:  # else it shows that already
            self.state.explode = value
        self._taken_at = time.perf_counter()

    # --- the state's follower ------------------------------------------------------

    def _follow(self, name):
        if name == "explode":
            self._show_state()
            self.place()
            if self.host is not None:
                self.host.report(f"Exploded view: {_whole(self.state.explode)}%")

    def _show_state(self):
        slider = self.panel.slider
        value = _whole(self.state.explode)
        self.panel.show_percent(value)
        if slider.value() != value and not self._pending.isActive():
            slider.blockSignals(True)  # the state is there already
            slider.setValue(value)
            slider.blockSignals(False)

    def place(self):
        """Moves every part as far as the state says and draws the view once. A scene not
        learnt yet (the first explosion since it showed) is learnt first; none needs
        learning to be put back."""
        explosion = self.explosion
        if explosion is None:
            return
        share = self.state.explode
        if share and not explosion.knows_scene():
            explosion.forget()
            explosion.learn()
        explosion.place(share, self.state.up_axis)
        self.steps += 1
        self.host.service.redraw()


def _whole(percent):
    """A percentage as the slider holds it: whole, half away from zero."""
    return whole_percent(percent / FULL)
