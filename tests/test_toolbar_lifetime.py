"""Toolbar lifetime: connections never keep it alive, Qt deleting it leaves no
crash, and building and destroying toolbars over and over leaves nothing behind."""

import gc
import subprocess
import sys
import weakref

import pytest
import shiboken6
from PySide6.QtCore import QCoreApplication, QEvent, QTimer
from PySide6.QtWidgets import QApplication, QPushButton, QWidget

from census import MEMORY_SLACK, baseline_objects, grown, live_objects, live_widgets, memory_in_use
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


# --- long runs -----------------------------------------------------------------

CYCLES = 2_000
WARM_UP = 50


def parentless(parent, i):
    toolbar = Panelor(orientation="vertical" if i % 2 else "horizontal")
    toolbar._transparency_slider.setValue(i % 101)
    del toolbar


def parent_goes_with_it(parent, i):
    host = QWidget()
    toolbar = Panelor(host, show_projection_type=bool(i % 2))
    toolbar.findChildren(QPushButton)[i % 5].click()
    del toolbar, host


def run_event_loop_once():
    # Deferred deletions happen in the event loop. (Flushing them with
    # sendPostedEvents outside a loop leaves Qt's bookkeeping behind.)
    QTimer.singleShot(0, QApplication.instance().quit)
    QApplication.instance().exec()


def deleted_later_under_a_living_parent(parent, i):
    toolbar = Panelor(parent)
    toolbar._display_mode_combo.setCurrentIndex(i % 3)
    toolbar.deleteLater()
    del toolbar
    if i % 50 == 49:
        run_event_loop_once()


def deleted_by_qt_under_a_living_parent(parent, i):
    toolbar = Panelor(parent)
    toolbar.set_transparency((i % 11) / 10)
    shiboken6.delete(toolbar)


def let_go_of_what_earlier_tests_left():
    # Widgets held only by reference cycles, then deferred deletions: some Qt
    # releases run those posted from an event handler outside any event loop
    # only on an explicit flush, the others in the next loop.
    gc.collect()
    QCoreApplication.sendPostedEvents(None, QEvent.Type.DeferredDelete)
    run_event_loop_once()


@pytest.fixture
def parent(qapp):
    """The host widget the runs' toolbars live under; Qt deletes it, and them,
    even when the test fails, so no later test counts them."""
    widget = QWidget()
    yield widget
    shiboken6.delete(widget)


@pytest.mark.parametrize("cycle", [
    parentless, parent_goes_with_it, deleted_later_under_a_living_parent,
    deleted_by_qt_under_a_living_parent,
])
def test_toolbar_create_destroy_cycles_come_back_to_baseline(parent, emitted, cycle):
    log = emitted(Panelor(parent))  # a toolbar that stays, with a host's connections
    for i in range(WARM_UP):
        cycle(parent, i)
    let_go_of_what_earlier_tests_left()
    # Counted before the census: wrapping Qt's internal children the first
    # time makes PySide build Python types it keeps for good.
    widgets, children = live_widgets(), len(parent.children())
    objects, memory = baseline_objects(), memory_in_use()

    for i in range(CYCLES):
        cycle(parent, i)

    run_event_loop_once()
    gc.collect()
    assert live_widgets() - widgets == set()  # none of the runs' widgets is left
    assert len(parent.children()) == children
    assert grown(objects, live_objects()) == {}
    assert memory_in_use() < memory * MEMORY_SLACK, f"memory in use grew from {memory} to {memory_in_use()}"
    assert log == []
