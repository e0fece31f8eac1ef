"""Shared test set-up: a virtual X screen, real OCCT viewers and recording doubles.

Rendering tests run on a real X server with Mesa's software OpenGL. When no
display is given, one Xvfb server is started for the whole run. Nothing here
skips: a test that needs the real viewer and cannot get it fails.
"""

import atexit
import logging
import os
import shutil
import tempfile
import types
from contextlib import contextmanager

import pytest
from hypothesis import HealthCheck, settings

from morvik_viewer.app.display import start_virtual_display

# Property tests: a fixed, modest set of examples by default so every run
# checks the same calls; MORVIK_FUZZ_PROFILE=long searches far wider and keeps
# what it finds in .hypothesis/ to replay it.
_SLOW_IS_FINE = [HealthCheck.too_slow, HealthCheck.function_scoped_fixture,
                 HealthCheck.filter_too_much, HealthCheck.data_too_large]
settings.register_profile(
    "ci", derandomize=True, database=None, max_examples=100, stateful_step_count=50,
    deadline=None, print_blob=True, suppress_health_check=_SLOW_IS_FINE)
settings.register_profile(
    "long", max_examples=1500, stateful_step_count=60, deadline=None, print_blob=True,
    suppress_health_check=_SLOW_IS_FINE)
settings.load_profile(os.environ.get("MORVIK_FUZZ_PROFILE", "ci"))


if not os.environ.get("DISPLAY"):
    start_virtual_display()
os.environ.setdefault("LIBGL_ALWAYS_SOFTWARE", "1")
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")


def pytest_configure(config):
    # The viewer keeps its settings through QSettings, under XDG_CONFIG_HOME on Linux: the
    # tests, and the windows they start, get a folder of their own. (A window session that
    # takes a builder from here keeps the folder its test gave it.)
    # And their readers keep what they read in a cache folder of the run's own.
    for name, prefix in (("XDG_CONFIG_HOME", "config"), ("XDG_CACHE_HOME", "cache")):
        os.environ[name] = tempfile.mkdtemp(prefix=f"morvik-test-{prefix}-")
        atexit.register(shutil.rmtree, os.environ[name], True)


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # A skipped test is a test that did not run: count it as failed.
    outcome = yield
    report = outcome.get_result()
    if report.skipped and not hasattr(report, "wasxfail"):
        report.outcome = "failed"
        report.longrepr = f"skipped, which this suite does not allow: {report.longrepr}"


# --- real OCCT objects -------------------------------------------------------

@pytest.fixture(scope="session")
def graphic_driver():
    """One X connection and graphic driver for the whole run."""
    from morvik_viewer.view.graphics import open_graphics

    return open_graphics()


def make_scene(graphic_driver, windowed=True, size=(400, 300)):
    """A fresh viewer, context and view, with an offscreen window when asked."""
    from morvik_viewer.view.graphics import create_scene, open_graphics

    if windowed:
        return create_scene(graphic_driver, size, "morvik-test")
    # OCCT crashes when it removes a view without a window while a view
    # with one lives on the same driver: keep the two kinds apart.
    if not hasattr(graphic_driver, "windowless"):
        graphic_driver.windowless = open_graphics(graphic_driver.connection)
    return create_scene(graphic_driver.windowless)


def interactive_list():
    """An empty list for the context to fill with interactive objects."""
    try:
        from OCP.collections import List_AIS_InteractiveObject as ObjectList
    except ImportError:  # OCP before 8 binds the list under OCCT's own name
        from OCP.AIS import AIS_ListOfInteractive as ObjectList
    return ObjectList()


def explored(shape, kind):
    """The sub-shapes of `kind` in `shape` as TopExp_Explorer meets them, a shared one as
    often as it is met (each edge of a box twice)."""
    from OCP.TopExp import TopExp_Explorer

    explorer, found = TopExp_Explorer(shape, kind), []
    while explorer.More():
        found.append(explorer.Current())
        explorer.Next()
    return found


def faces(shape):
    """The faces of `shape`, in TopExp's order (a box's: -X, +X, -Y, +Y, -Z, +Z)."""
    from OCP.TopAbs import TopAbs_FACE

    return explored(shape, TopAbs_FACE)


@pytest.fixture
def scene(graphic_driver):
    """Real viewer, context and view, with a virtual window so rendering works."""
    return make_scene(graphic_driver)


@pytest.fixture
def service(scene):
    """A Scenard over the real scene."""
    from morvik.services.scenard import Scenard

    return Scenard(scene.view, scene.viewer, scene.context)


@pytest.fixture
def recorded(scene):
    """A service whose context records every call and forwards it to the real one."""
    from doubles import Recorder
    from morvik.services.scenard import Scenard

    context = Recorder(target=scene.context)
    return types.SimpleNamespace(
        context=context, real=scene.context, service=Scenard(scene.view, scene.viewer, context))


def box(dx=1.0, dy=1.0, dz=1.0, at=(0.0, 0.0, 0.0)):
    """A real box solid of sides dx, dy, dz, its lowest corner at `at`."""
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
    from OCP.gp import gp_Pnt

    return BRepPrimAPI_MakeBox(gp_Pnt(*at), dx, dy, dz).Shape()


@pytest.fixture
def make_box():
    """The box builder, for tests that take it as a fixture."""
    return box


SERVICE_LOGGER = "morvik.services.scenard"


class ServiceLog(logging.Handler):
    """The records the service writes, at every level from DEBUG."""

    def __init__(self):
        logging.Handler.__init__(self, logging.DEBUG)
        self.records = []

    def emit(self, record):
        self.records.append(record)

    def clear(self):
        self.records = []

    @contextmanager
    def collect(self):
        """The records written inside the block, and no others."""
        self.records = block = []
        yield block
        self.records = []

    def one(self, level, template, traceback=True):
        """The one record written: at level, with template, and with the traceback of the
        error it names or (traceback=False) without any. Returns that error."""
        assert len(self.records) == 1, [(r.levelname, r.getMessage()) for r in self.records]
        (record,) = self.records
        assert (record.name, record.levelname, record.msg) == (SERVICE_LOGGER, level, template)
        error = record.args[0]
        if traceback:
            assert record.exc_info and record.exc_info[1] is error and record.exc_info[2] is not None
        else:
            assert not record.exc_info
        return error

    def one_error(self, template):
        return self.one("ERROR", template)


@pytest.fixture
def errors():
    """What the service logs during the test (a ServiceLog)."""
    log, logger = ServiceLog(), logging.getLogger(SERVICE_LOGGER)
    saved = logger.level, logger.propagate
    logger.addHandler(log)
    logger.setLevel(logging.DEBUG)
    # Not propagated: pytest's own capture would keep every record, and the tracebacks
    # of thousands (the fuzz) would keep every scene of the run alive.
    logger.propagate = False
    yield log
    logger.removeHandler(log)
    logger.setLevel(saved[0])
    logger.propagate = saved[1]


# --- the view toolbar --------------------------------------------------------

TOOLBAR_SIGNALS = (
    "projection_changed",
    "projection_type_changed",
    "display_mode_changed",
    "transparency_changed",
    "fit_all_requested",
)


def groups(toolbar):
    """The toolbar's group boxes by title."""
    from PySide6.QtWidgets import QGroupBox

    return {box.title(): box for box in toolbar.findChildren(QGroupBox)}


def controls(group):
    """A group's widgets in layout order."""
    return [group.layout().itemAt(i).widget() for i in range(group.layout().count())]


def control(toolbar, title):
    """The last widget of the group named `title`: its selector or its slider, as a user finds it."""
    return controls(groups(toolbar)[title])[-1]


@pytest.fixture
def make_toolbar(qtbot):
    """Builds Panelor(*args, **kwargs); Qt deletes it after the test."""
    from morvik.widgets.panelor import Panelor

    def make(*args, **kwargs):
        toolbar = Panelor(*args, **kwargs)
        qtbot.addWidget(toolbar)
        return toolbar

    return make


@pytest.fixture
def toolbar(make_toolbar):
    """A toolbar built with the default arguments."""
    return make_toolbar()


@pytest.fixture
def emitted():
    """emitted(toolbar) -> a list that receives (signal name, *args) per emission.

    The receivers hold only the list, never the toolbar.
    """

    def watch(toolbar):
        log = []
        for name in TOOLBAR_SIGNALS:
            getattr(toolbar, name).connect(lambda *args, name=name: log.append((name, *args)))
        return log

    return watch
