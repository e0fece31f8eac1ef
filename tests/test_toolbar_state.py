"""Toolbar state read and set from code, through the controls themselves."""

import pytest

from conftest import control, controls, groups
from morvik.enums import DisplayMode, ProjectionType, ViewDirection

pytestmark = pytest.mark.portable

INF = float("inf")


def test_a_fresh_toolbar_reports_its_initial_state(toolbar):
    state = (toolbar.get_projection_type(), toolbar.get_display_mode(), toolbar.get_transparency())
    assert state == ("orthographic", "shaded", 0.0)
    assert type(state[2]) is float


@pytest.mark.parametrize("setter, getter, keyword, signal, members", [
    ("set_display_mode", "get_display_mode", "mode", "display_mode_changed",
     [DisplayMode.SHADED, DisplayMode.WIREFRAME, DisplayMode.SHADED, DisplayMode.BOTH]),
    ("set_projection_type", "get_projection_type", "proj_type", "projection_type_changed",
     [ProjectionType.ORTHOGRAPHIC, ProjectionType.PERSPECTIVE, ProjectionType.ORTHOGRAPHIC]),
])
def test_setters_select_the_member_and_emit_only_on_change(
        toolbar, emitted, setter, getter, keyword, signal, members):
    log = emitted(toolbar)
    for member in members:
        before = getattr(toolbar, getter)()
        del log[:]
        getattr(toolbar, setter)(member)
        expected = [] if member.value == before else [(signal, member.value)]
        assert (getattr(toolbar, getter)(), log) == (member.value, expected)
        getattr(toolbar, setter)(**{keyword: member})  # already selected: nothing
        assert log == expected
    # A member matching no item leaves the selection alone, silently.
    getattr(toolbar, setter)(ViewDirection.TOP)
    assert (getattr(toolbar, getter)(), log) == (members[-1].value, expected)


# The flag is a truth value, as bool() reads it: settings files give back "true" or 1.
@pytest.mark.parametrize("flag, shown", [
    (False, False), (0, False), ("", False), (None, False), ("np.False_", False),
    (1, True), ("true", True), ("false", True), ("np.True_", True),
])
def test_the_projection_selector_follows_the_flags_truth(make_toolbar, emitted, flag, shown):
    import numpy

    numpy_flags = {"np.False_": numpy.False_, "np.True_": numpy.True_}
    toolbar = make_toolbar(show_projection_type=numpy_flags.get(flag, flag))
    log = emitted(toolbar)
    toolbar.set_projection_type(ProjectionType.PERSPECTIVE)
    value = "perspective" if shown else "orthographic"
    assert (toolbar.get_projection_type(), "Projection Type" in groups(toolbar)) == (value, shown)
    assert log == ([("projection_type_changed", value)] if shown else [])


@pytest.mark.parametrize("transparency, percent", [
    (0.5, 50), (0.29, 29), (0.57, 57), (0.58, 58),  # truncation would give 28, 56, 57
    (0.125, 13), (0.004, 0), (-0.005, 0), (1, 100),  # half away from zero, ints welcome
    (2.0, 100), (-0.2, 0), (1e300, 100), (INF, 100), (-INF, 0),  # bounded by the slider
])
def test_set_transparency_takes_the_nearest_percent_bounded_by_the_slider(
        toolbar, emitted, transparency, percent):
    log = emitted(toolbar)
    toolbar.set_transparency(transparency=transparency)
    label, slider = controls(groups(toolbar)["Transparency"])
    assert (slider.value(), label.text()) == (percent, f"{percent}%")
    assert toolbar.get_transparency() == percent / 100
    assert log == ([("transparency_changed", percent / 100)] if percent else [])


def test_feeding_transparency_back_never_moves_the_slider(toolbar, emitted):
    log = emitted(toolbar)
    # The host answers every change by setting the value it was told.
    toolbar.transparency_changed.connect(lambda value: toolbar.set_transparency(value))
    slider = control(toolbar, "Transparency")
    for percent in range(101):
        slider.setValue(percent)
        toolbar.set_transparency(toolbar.get_transparency())
        assert slider.value() == percent
    assert log == [("transparency_changed", percent / 100) for percent in range(1, 101)]


@pytest.mark.parametrize("bad, error", [
    (float("nan"), ValueError), ("0.5", TypeError), (None, TypeError), (10**400, OverflowError)])
def test_set_transparency_refuses_what_has_no_percent(toolbar, emitted, bad, error):
    toolbar.set_transparency(0.3)
    log = emitted(toolbar)
    with pytest.raises(error):
        toolbar.set_transparency(bad)
    assert control(toolbar, "Transparency").value() == 30 and log == []
