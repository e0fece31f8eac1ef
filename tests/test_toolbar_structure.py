"""The toolbar as built: class, groups in order, separators, controls and texts.

What each arrangement builds is compared with one reference, toolbar_structure.ref.json;
after a change to the toolbar meant to show, write it anew and review the difference:

    QT_QPA_PLATFORM=offscreen python tests/test_toolbar_structure.py
"""

import json
import subprocess
import sys
from pathlib import Path

import pytest
from PySide6.QtWidgets import QApplication, QComboBox, QFrame, QGroupBox, QLabel, QPushButton, QSlider, QWidget

from conftest import controls, groups
from morvik.widgets.panelor import Panelor

pytestmark = pytest.mark.portable

REFERENCE = Path(__file__).with_name("toolbar_structure.ref.json")
# The arrangements, by the constructor's orientation and show_projection_type: only the
# exact word "vertical" stacks.
ARRANGEMENTS = {f"{orientation}, {shown}": (orientation, shown)
                for orientation in ("horizontal", "vertical", "Vertical", "diagonal")
                for shown in ("with projection type", "without")}


def name(value):
    return getattr(value, "name", None) or str(value)


def structure(layout):
    """The toolbar's layout as plain data: its kind, margins and items in order. (Only the
    sizes the toolbar sets: the style's own differ from one platform to the next.)"""
    margins = layout.contentsMargins()
    return {"layout": type(layout).__name__,
            "margins": [margins.left(), margins.top(), margins.right(), margins.bottom()],
            "items": [item(layout.itemAt(i)) for i in range(layout.count())]}


def group(layout):
    return {"layout": type(layout).__name__, "spacing": layout.spacing(),
            "items": [item(layout.itemAt(i)) for i in range(layout.count())]}


def item(entry):
    widget = entry.widget()
    if widget is None:
        return "stretch" if entry.spacerItem() else type(entry).__name__
    if isinstance(widget, QGroupBox):
        return {"group": widget.title(), **(group(widget.layout()) if widget.layout() else {})}
    if isinstance(widget, QComboBox):
        return {"selector": [[widget.itemText(i), widget.itemData(i)] for i in range(widget.count())],
                "current": widget.currentIndex()}
    if isinstance(widget, QPushButton):
        return {"button": widget.text(), "tooltip": widget.toolTip()}
    if isinstance(widget, QLabel):
        return {"label": widget.text(), "alignment": name(widget.alignment())}
    if isinstance(widget, QSlider):
        return {"slider": name(widget.orientation()), "range": [widget.minimum(), widget.maximum()],
                "value": widget.value(), "ticks": name(widget.tickPosition()),
                "interval": widget.tickInterval()}
    if isinstance(widget, QFrame):
        return {"line": name(widget.frameShape()), "shadow": name(widget.frameShadow())}
    return type(widget).__name__


def built(orientation, shown):
    return Panelor(None, orientation, shown == "with projection type")


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


@pytest.mark.parametrize("arrangement", ARRANGEMENTS)
def test_each_arrangement_builds_what_the_reference_shows(qtbot, arrangement):
    # Groups, separators and stretch follow the orientation (only the standard views follow
    # the toolbar's flow); selectors hold value strings behind readable texts; buttons carry
    # their captions and tooltips; a centred percent over a ticked slider.
    toolbar = built(*ARRANGEMENTS[arrangement])
    qtbot.addWidget(toolbar)
    assert structure(toolbar.layout()) == json.loads(REFERENCE.read_text())[arrangement]
    assert hasattr(toolbar, "_proj_type_combo") == ("Projection Type" in groups(toolbar))
    assert controls(groups(toolbar)["Transparency"]) == [toolbar._transparency_label,
                                                         toolbar._transparency_slider]


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
    assert structure(toolbar.layout())["items"][-3:] == [
        {"line": "HLine", "shadow": "Sunken"}, {"group": "Mine"}, "stretch"]


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


if __name__ == "__main__":
    app = QApplication(sys.argv[:1])
    toolbars = {key: built(*given) for key, given in ARRANGEMENTS.items()}
    REFERENCE.write_text(json.dumps({key: structure(toolbar.layout())
                                     for key, toolbar in toolbars.items()}, indent=1) + "\n")
