"""Toolbar signals: one emission per user action, carrying plain values."""

import pytest
from PySide6.QtCore import Qt
from PySide6.QtWidgets import QPushButton

from conftest import control, controls, groups
from morvik.enums import ViewDirection
from morvik.widgets.panelor import Panelor

pytestmark = pytest.mark.portable

Key = Qt.Key


def button(toolbar, caption):
    return next(b for b in toolbar.findChildren(QPushButton) if b.text() == caption)


@pytest.mark.parametrize("kwargs", [{}, {"orientation": "vertical", "show_projection_type": False}])
def test_building_the_toolbar_emits_nothing(qtbot, emitted, kwargs):
    class Watched(Panelor):
        # Listens before any control exists, so an early connection would show.
        def _setup_ui(self):
            self.log = emitted(self)
            Panelor._setup_ui(self)

    toolbar = Watched(**kwargs)
    qtbot.addWidget(toolbar)
    assert toolbar.log == []


@pytest.mark.parametrize("caption, expected", [
    ("ISO", ("projection_changed", "iso")),  # the direction's value, not the caption
    ("Top", ("projection_changed", "top")),
    ("Front", ("projection_changed", "front")),
    ("Right", ("projection_changed", "right")),
    ("Fit All", ("fit_all_requested",)),
])
def test_each_button_click_emits_once(toolbar, emitted, qtbot, caption, expected):
    log = emitted(toolbar)
    qtbot.mouseClick(button(toolbar, caption), Qt.MouseButton.LeftButton)
    assert log == [expected]
    assert [type(arg) for arg in log[0]] == [str] * len(expected)


@pytest.mark.parametrize("group, key, expected", [
    ("Projection Type", Key.Key_Up, ("projection_type_changed", "perspective")),
    ("Display Mode", Key.Key_Up, ("display_mode_changed", "wireframe")),
    ("Display Mode", Key.Key_Down, ("display_mode_changed", "both")),
])
def test_choosing_a_combo_item_emits_its_value_string(toolbar, emitted, qtbot, group, key, expected):
    log = emitted(toolbar)
    qtbot.keyClick(control(toolbar, group), key)
    assert log == [expected]
    assert type(log[0][1]) is str


@pytest.mark.parametrize("move, percent", [
    (lambda slider: slider.setValue(37), 37),
    (lambda slider: slider.triggerAction(slider.SliderAction.SliderSingleStepAdd), 1),
    (lambda slider: slider.triggerAction(slider.SliderAction.SliderToMaximum), 100),
])
def test_moving_the_slider_emits_a_fraction_and_labels_the_percent(toolbar, emitted, move, percent):
    log = emitted(toolbar)
    label, slider = controls(groups(toolbar)["Transparency"])
    move(slider)
    assert log == [("transparency_changed", percent / 100)]
    assert type(log[0][1]) is float
    assert label.text() == f"{percent}%"


@pytest.mark.parametrize("call, expected", [
    (lambda t: t._on_projection_changed(projection=ViewDirection.TOP), ("projection_changed", "top")),
    # The data at the delivered index, whatever the combo currently shows.
    (lambda t: t._on_projection_type_combo_changed(index=0), ("projection_type_changed", "perspective")),
    (lambda t: t._on_display_mode_combo_changed(index=2), ("display_mode_changed", "both")),
    (lambda t: t._on_transparency_changed(value=50), ("transparency_changed", 0.5)),
    (lambda t: t._on_fit_all_requested(), ("fit_all_requested",)),
])
def test_slots_take_keywords_and_emit_plain_values(toolbar, emitted, call, expected):
    log = emitted(toolbar)
    call(toolbar)
    assert log == [expected]
    assert [type(arg) for arg in log[0]] == [type(arg) for arg in expected]
