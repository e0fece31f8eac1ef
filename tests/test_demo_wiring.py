"""The host's wiring: each toolbar action becomes one service call with an enumeration member."""

import pytest
from PySide6.QtCore import Qt
from PySide6.QtWidgets import QComboBox, QPushButton, QSlider

from doubles import Recorder
from morvik.demo.wiring import connect_toolbar, push_toolbar_state
from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.widgets.panelor import Panelor


@pytest.fixture
def toolbar(qtbot):
    widget = Panelor(None, "vertical")
    qtbot.addWidget(widget)
    return widget


@pytest.fixture
def wired(toolbar):
    service, reports = Recorder(), []
    connect_toolbar(toolbar, service, reports.append)
    return service, reports


def click(toolbar, caption):
    button = next(b for b in toolbar.findChildren(QPushButton) if b.text() == caption)
    button.click()


def choose(toolbar, value):
    combo = next(c for c in toolbar.findChildren(QComboBox) if c.findData(value) >= 0)
    combo.setCurrentIndex(combo.findData(value))


@pytest.mark.parametrize("caption, direction", [
    ("ISO", ViewDirection.ISO), ("Top", ViewDirection.TOP),
    ("Front", ViewDirection.FRONT), ("Right", ViewDirection.RIGHT),
])
def test_view_buttons_set_the_direction_then_fit(toolbar, wired, caption, direction):
    service, reports = wired
    click(toolbar, caption)
    assert service.calls == [("set_projection", (direction,)), ("fit_all", ())]
    assert reports == [f"View: {direction.value}"]


@pytest.mark.parametrize("value, expected", [
    ("wireframe", [("set_display_mode", (DisplayMode.WIREFRAME,))]),
    ("both", [("set_display_mode", (DisplayMode.BOTH,))]),
    ("perspective", [("set_projection_type", (ProjectionType.PERSPECTIVE,)), ("redraw", ())]),
])
def test_selectors_pass_members_not_strings(toolbar, wired, value, expected):
    service, _ = wired
    choose(toolbar, value)
    assert service.calls == expected


def test_slider_sets_the_global_transparency(toolbar, wired):
    service, reports = wired
    toolbar.findChild(QSlider).setValue(37)
    assert service.calls == [("set_global_transparency", (0.37,))]
    assert reports == ["Transparency: 37%"]


def test_fit_all_button_fits(toolbar, wired):
    service, _ = wired
    click(toolbar, "Fit All")
    assert service.names() == ["fit_all"]


def test_toolbar_setter_reaches_the_service_once(toolbar, wired):
    service, _ = wired
    toolbar.set_display_mode(DisplayMode.WIREFRAME)
    toolbar.set_display_mode(DisplayMode.WIREFRAME)
    assert service.calls == [("set_display_mode", (DisplayMode.WIREFRAME,))]


def test_pushing_the_state_of_a_fresh_toolbar(toolbar):
    service = Recorder()
    push_toolbar_state(toolbar, service)
    assert service.calls == [("set_projection_type", (ProjectionType.ORTHOGRAPHIC,)),
                             ("set_display_mode", (DisplayMode.SHADED,)),
                             ("set_global_transparency", (0.0,))]


def test_pushed_state_makes_a_new_context_shade(toolbar, scene, service):
    # A new context draws wireframe although the toolbar shows shaded.
    assert scene.context.DisplayMode() == 0
    push_toolbar_state(toolbar, service)
    assert scene.context.DisplayMode() == 1
