"""The toolbar as built: class, groups in order, separators, controls and texts."""

import subprocess
import sys

import pytest
from PySide6.QtCore import Qt
from PySide6.QtWidgets import QFrame, QGroupBox, QHBoxLayout, QSlider, QVBoxLayout, QWidget

from conftest import control, controls, groups
from morvik.enums import DisplayMode
from morvik.widgets.panelor import Panelor

pytestmark = pytest.mark.portable

SUNKEN = QFrame.Shadow.Sunken


def arrangement(layout):
    """A layout's items as group titles, (shape, shadow) of separators, or "stretch"."""
    items = []
    for i in range(layout.count()):
        widget = layout.itemAt(i).widget()
        if isinstance(widget, QGroupBox):
            items.append(widget.title())
        elif isinstance(widget, QFrame):
            items.append((widget.frameShape(), widget.frameShadow()))
        else:
            items.append("stretch" if layout.itemAt(i).spacerItem() else widget)
    return items


def combo_items(combo):
    return [(combo.itemText(i), combo.itemData(i)) for i in range(combo.count())], combo.currentIndex()


def test_class_is_a_widget_declaring_five_signals_in_order():
    assert issubclass(Panelor, QWidget)
    assert (Panelor.__module__, Panelor.__qualname__) == ("morvik.widgets.panelor", "Panelor")
    meta = Panelor.staticMetaObject
    assert [meta.method(i).methodSignature().data().decode()
            for i in range(meta.methodOffset(), meta.methodCount())] == [
        "projection_changed(QString)", "projection_type_changed(QString)",
        "display_mode_changed(QString)", "transparency_changed(double)", "fit_all_requested()"]
    assert Panelor.__doc__.startswith("Toolbar component for controlling 3D view settings.")
    for meaning in ("Emitted when view projection changes (top, front, iso, etc.)",
                    "Emitted when projection type changes (perspective/orthographic)",
                    "Emitted when display mode changes (shaded/wireframe)",
                    "Emitted when global transparency changes (0.0-1.0)",
                    "Emitted when fit all button is clicked"):
        assert meaning in Panelor.__doc__


@pytest.mark.parametrize("show_projection_type", [True, False])
@pytest.mark.parametrize("orientation, flow, line", [
    ("horizontal", QHBoxLayout, QFrame.Shape.VLine),
    ("vertical", QVBoxLayout, QFrame.Shape.HLine),
    ("Vertical", QHBoxLayout, QFrame.Shape.VLine),  # only the exact word stacks
    ("diagonal", QHBoxLayout, QFrame.Shape.VLine),
])
def test_groups_separators_and_stretch_follow_the_orientation(
        make_toolbar, orientation, flow, line, show_projection_type):
    toolbar = make_toolbar(None, orientation, show_projection_type)
    main = toolbar.layout()
    assert type(main) is flow
    margins = main.contentsMargins()
    assert (margins.left(), margins.top(), margins.right(), margins.bottom()) == (5, 5, 5, 5)
    assert arrangement(main) == ["Projection Type"] * show_projection_type + [
        "Display Mode", "Transparency", (line, SUNKEN), "Standard Views", (line, SUNKEN),
        "Actions", "stretch"]
    assert hasattr(toolbar, "_proj_type_combo") == show_projection_type
    # Only the standard views follow the toolbar's flow; every group spaces by 5.
    for title, box in groups(toolbar).items():
        assert type(box.layout()) is (flow if title == "Standard Views" else QVBoxLayout)
        assert box.layout().spacing() == 5


def test_constructor_takes_keywords_and_keeps_its_arguments_as_given(qtbot):
    parent = QWidget()
    qtbot.addWidget(parent)
    toolbar = Panelor(show_projection_type=0, orientation="vertical", parent=parent)
    assert toolbar.parentWidget() is parent
    assert (toolbar._orientation, toolbar._show_projection_type) == ("vertical", 0)
    assert "Projection Type" not in groups(toolbar)
    with pytest.raises(TypeError):
        Panelor(None, "horizontal", True, "surplus")


def test_a_subclass_may_replace_a_group_builder(qtbot):
    class Custom(Panelor):
        def _create_actions_group(self):
            return QGroupBox("Mine")

    toolbar = Custom(orientation="vertical")
    qtbot.addWidget(toolbar)
    assert arrangement(toolbar.layout())[-3:] == [(QFrame.Shape.HLine, SUNKEN), "Mine", "stretch"]


def test_selectors_hold_value_strings_behind_readable_texts(toolbar):
    assert combo_items(control(toolbar, "Projection Type")) == (
        [("Perspective", "perspective"), ("Orthographic", "orthographic")], 1)
    assert combo_items(control(toolbar, "Display Mode")) == (
        [("Wireframe", "wireframe"), ("Shaded", "shaded"),
         ("Shaded + Wireframe", DisplayMode.BOTH.value)], 1)


def test_buttons_carry_their_captions_and_tooltips(toolbar):
    found = groups(toolbar)
    assert [(b.text(), b.toolTip()) for b in controls(found["Standard Views"])] == [
        ("ISO", "Isometric view"), ("Top", "Top view (Z+)"),
        ("Front", "Front view (Y-)"), ("Right", "Right view (X+)")]
    assert [(b.text(), b.toolTip()) for b in controls(found["Actions"])] == [
        ("Fit All", "Fit all objects in view")]


def test_transparency_group_shows_a_centred_percent_over_a_ticked_slider(toolbar):
    label, slider = controls(groups(toolbar)["Transparency"])
    assert (label, slider) == (toolbar._transparency_label, toolbar._transparency_slider)
    assert (label.text(), label.alignment()) == ("0%", Qt.AlignmentFlag.AlignCenter)
    assert (slider.orientation(), slider.minimum(), slider.maximum(), slider.value(),
            slider.tickPosition(), slider.tickInterval()) == (
        Qt.Orientation.Horizontal, 0, 100, 0, QSlider.TickPosition.TicksBelow, 10)


@pytest.mark.parametrize("module, name", [
    ("morvik.enums", "DisplayMode"), ("PySide6.QtWidgets", "QSlider"), ("PySide6.QtCore", "Signal"),
    ("morvik.enums", "DisplayMode.BOTH")])  # reached through its class
def test_module_refuses_to_load_without_a_name_it_binds(module, name):
    # A fresh interpreter whose module lacks the name (or whose class lacks
    # the member): the import must fail, saying which. PySide6 itself is
    # loaded whole first.
    probe = f"""
import importlib, sys, types
import PySide6.QtWidgets
real = importlib.import_module({module!r})
owner, _, missing = {name!r}.rpartition(".")
stand_in = types.ModuleType({module!r})
stand_in.__dict__.update((key, getattr(real, key)) for key in dir(real) if key != missing)
if owner:
    real_owner = getattr(real, owner)
    setattr(stand_in, owner, type(owner, (), {{key: getattr(real_owner, key)
        for key in dir(real_owner) if key != missing and not key.startswith("__")}}))
sys.modules[{module!r}] = stand_in
try:
    import morvik.widgets.panelor
except ImportError as error:
    print("refused:", error.__cause__)
"""
    result = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, timeout=60)
    missing = name.rpartition(".")[2]
    assert "refused:" in result.stdout and repr(missing) in result.stdout, result.stderr
