"""Toolbar lifetime: connections never keep it alive, and Qt deleting it leaves no crash."""

import gc
import subprocess
import sys
import weakref

import pytest
import shiboken6
from PySide6.QtWidgets import QPushButton, QWidget

from morvik.enums import DisplayMode, ProjectionType
from morvik.widgets.panelor import Panelor


def use_every_control(toolbar):
    for button in toolbar.findChildren(QPushButton):
        button.click()
    toolbar._transparency_slider.setValue(40)
    toolbar._display_mode_combo.setCurrentIndex(0)
    toolbar.set_projection_type(ProjectionType.PERSPECTIVE)


@pytest.mark.parametrize("kwargs", [{}, {"orientation": "vertical", "show_projection_type": False}])
def test_parentless_toolbar_is_collected_after_del(qapp, emitted, kwargs):
    toolbar = Panelor(**kwargs)
    log = emitted(toolbar)
    use_every_control(toolbar)
    assert log
    gone = weakref.ref(toolbar)
    del toolbar
    gc.collect()
    assert gone() is None


def test_parented_toolbar_lives_as_long_as_its_parent(qtbot, emitted):
    parent = QWidget()
    qtbot.addWidget(parent)
    toolbar = Panelor(parent)
    log = emitted(toolbar)
    alive = weakref.ref(toolbar)
    del toolbar
    gc.collect()
    assert alive() is not None
    alive().findChildren(QPushButton)[-1].click()
    assert log == [("fit_all_requested",)]


@pytest.mark.parametrize("deleted", ["toolbar", "parent"])
def test_qt_deleting_the_toolbar_leaves_the_host_handles_harmless(qapp, emitted, deleted):
    parent = QWidget()
    toolbar = Panelor(parent)
    log = emitted(toolbar)
    slider, combo = toolbar._transparency_slider, toolbar._display_mode_combo
    fit = toolbar.findChildren(QPushButton)[-1]
    shiboken6.delete(toolbar if deleted == "toolbar" else parent)
    for action in (fit.click, lambda: slider.setValue(5), lambda: combo.setCurrentIndex(0),
                   lambda: toolbar.set_transparency(0.5), toolbar.get_transparency,
                   lambda: toolbar.set_display_mode(DisplayMode.WIREFRAME)):
        with pytest.raises(RuntimeError):  # Qt's objects are gone; nothing crashes
            action()
    assert log == []


@pytest.mark.parametrize("end", ["collected", "deleted by Qt"])
def test_a_control_moved_out_reaches_nothing_once_the_toolbar_is_gone(qtbot, emitted, end):
    host = QWidget()
    qtbot.addWidget(host)
    toolbar = Panelor()
    log = emitted(toolbar)
    slider, combo = toolbar._transparency_slider, toolbar._display_mode_combo
    buttons = toolbar.findChildren(QPushButton)
    for control in (slider, combo, *buttons):
        control.setParent(host)
    if end == "collected":
        del toolbar
        gc.collect()
    else:
        shiboken6.delete(toolbar)
    # pytest-qt fails the test if a slot raises inside Qt's signal delivery.
    slider.setValue(60)
    combo.setCurrentIndex(0)
    for button in buttons:
        button.click()
    assert log == []


def test_toolbars_come_and_go_for_the_life_of_the_process():
    # A fresh interpreter, so no earlier toolbar is alive while later ones are built.
    probe = """
import gc
from PySide6.QtWidgets import QApplication
from morvik.widgets.panelor import Panelor
app = QApplication([])
for _ in range(3):
    toolbar = Panelor()
    received = []
    toolbar.transparency_changed.connect(received.append)
    toolbar._transparency_slider.setValue(25)
    assert received == [0.25], received
    del toolbar
    gc.collect()
print("done")
"""
    result = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True, timeout=60)
    assert result.stdout.strip() == "done" and result.stderr == "", result.stderr
