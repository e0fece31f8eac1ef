"""Service lifetime: long display/erase runs leave nothing behind, an erased
presentation is let go by the service (and by the context), and a service
caught in a reference cycle is collected.
"""

import gc
import sys
import weakref

import pytest

from census import MEMORY_SLACK, baseline_objects, grown, live, live_objects, memory_in_use
from morvik.services.scenard import Scenard, ShapeInfo

CYCLES = 20_000
WARM_UP = 500


@pytest.fixture
def boxes(make_box):
    return [make_box(1, 1 + i % 3, 1, at=(2.0 * i, 0, 0)) for i in range(6)]


# --- long runs -----------------------------------------------------------------

def display_then_erase(service, shapes, i):
    shape_id = f"shape-{i % 5}"
    service.display_shape(shapes[i % len(shapes)], shape_id, (0.1, 0.2, 0.3) if i % 2 else None, False)
    service.erase_shape(shape_id, False)


def display_twice_hide_then_erase(service, shapes, i):
    # The second display replaces the first presentation. erase_all redraws
    # the viewer each time, so it takes one cycle in a hundred.
    service.display_shape(shapes[i % len(shapes)], "same", None, False)
    service.display_shape(shapes[(i + 1) % len(shapes)], "same", [0.5, 0.5, 0.5], False)
    service.set_shape_visibility("same", False, False)
    if i % 100 == 0:
        service.erase_all()
    else:
        service.erase_shape("same", False)


@pytest.mark.parametrize("cycle", [display_then_erase, display_twice_hide_then_erase])
def test_display_erase_cycles_come_back_to_baseline(service, boxes, cycle):
    for i in range(WARM_UP):
        cycle(service, boxes, i)
    objects, memory = baseline_objects(), memory_in_use()
    shape_refs = [sys.getrefcount(shape) for shape in boxes]

    for i in range(CYCLES):
        cycle(service, boxes, i)

    assert service.get_shape_count() == 0
    assert len(service._ais_to_id) == 0
    assert grown(objects, live_objects()) == {}
    assert [sys.getrefcount(shape) for shape in boxes] == shape_refs
    assert memory_in_use() < memory * MEMORY_SLACK, f"memory in use grew from {memory} to {memory_in_use()}"


# --- an erased presentation is let go ---------------------------------------

def erase_one(service):
    service.erase_shape("box")


def erase_everything(service):
    service.erase_all()


def display_again(service):
    service.display_shape(service.get_shape_info("box").ais_shape.Shape(), "box")


@pytest.mark.parametrize("erase", [erase_one, erase_everything, display_again])
@pytest.mark.parametrize("before", ["shown", "hidden", "selected", "both-mode"])
def test_erased_presentation_is_no_longer_referenced(service, make_box, erase, before):
    from morvik.enums import DisplayMode

    if before == "both-mode":
        service.set_display_mode(DisplayMode.BOTH)
    service.display_shape(make_box(), "box", (1.0, 0.0, 0.0))
    if before == "hidden":
        service.set_shape_visibility("box", False)
    if before == "selected":
        service.select_shapes(["box"])
    ais = service.get_shape_info("box").ais_shape
    held = sys.getrefcount(ais)

    erase(service)

    # Only this frame holds it now: neither the registry, its record, the
    # reverse index nor the context (the C++ handle count) keeps it.
    assert sys.getrefcount(ais) == held - 2
    assert not [r for r in gc.get_referrers(ais) if r is not sys._getframe()]
    assert ais.GetRefCount() == 1
    assert service.get_shape_id_for_ais_shape(ais) is None


# --- reference cycles ----------------------------------------------------------

class Host:
    """A host object that holds the service and is reachable from it."""


class HostContext:
    """A context double that points back at its host."""

    def __init__(self, host, context):
        self.host = host
        self._context = context

    def __getattr__(self, name):
        return getattr(self._context, name)


class HostColour(list):
    pass


class HostId(str):
    pass


def cycle_through_context(host, shape):
    pass  # the context it was given is the cycle (see the test)


def cycle_through_record(host, shape):
    colour = HostColour([0.2, 0.4, 0.6])
    colour.host = host
    assert host.service.display_shape(shape, "box", colour, False) == "box"


def cycle_through_reverse_index(host, shape):
    shape_id = HostId("box")
    shape_id.host = host
    assert host.service.display_shape(shape, shape_id, None, False) == shape_id


def cycle_through_field(host, shape):
    host.service._current_display_mode = host


def cycle_through_shared_record(host, shape):
    # The host keeps a record it was handed; the record's colour points back.
    host.service.display_shape(shape, "box", None, False)
    host.record = host.service.get_shape_info("box")
    host.record.color = host


@pytest.mark.parametrize("make_cycle", [
    cycle_through_context, cycle_through_record, cycle_through_reverse_index,
    cycle_through_field, cycle_through_shared_record,
])
def test_service_in_a_reference_cycle_is_collected(scene, make_box, make_cycle):
    services, records = live(Scenard), live(ShapeInfo)
    host = Host()
    context = HostContext(host, scene.context) if make_cycle is cycle_through_context else scene.context
    host.service = Scenard(scene.view, scene.viewer, context)
    make_cycle(host, make_box())
    assert gc.is_tracked(host.service)
    gone = weakref.ref(host)

    del host, context
    gc.collect()

    assert gone() is None
    assert live(Scenard) == services
    assert live(ShapeInfo) == records
    scene.context.RemoveAll(False)


def test_record_in_a_cycle_with_itself_is_collected():
    records = live(ShapeInfo)
    info = ShapeInfo("box", None)
    info.color = [info]
    del info
    gc.collect()
    assert live(ShapeInfo) == records


# A host's script: identifiers that hold the service and its bound methods, a record
# reached from an identifier, and a log handler that keeps every record it is given
# (each with a traceback whose frames reach the service) until the process ends.
HOST_SCRIPT = """
import gc, logging, weakref
from morvik_viewer.view.graphics import create_scene, open_graphics
from morvik.services.scenard import Scenard
from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox

class HostId(str):
    pass

class Keeping(logging.Handler):
    records = []
    def emit(self, record):
        self.records.append(record)

def build(scene):
    service = Scenard(scene.view, scene.viewer, scene.context)
    shape_id = HostId("box")
    shape_id.service, shape_id.progress = service, service.get_shape_count
    service.display_shapes([(BRepPrimAPI_MakeBox(1.0, 1.0, 1.0).Shape(), shape_id)],
                           progress=shape_id.progress)
    shape_id.record = service.get_shape_info("box")
    service.display_shape(None, "refused")
    return weakref.ref(shape_id)

scene = create_scene(open_graphics(), (64, 48), "cycles")
log = logging.getLogger("morvik.services.scenard")
log.addHandler(logging.NullHandler())
gone = build(scene)
gc.collect()
print("collected" if gone() is None else "kept")
log.addHandler(Keeping())
kept = build(scene)
"""


def test_a_hosts_cycles_are_collected_and_nothing_is_reported_leaked_at_exit():
    import subprocess

    run = subprocess.run([sys.executable, "-c", HOST_SCRIPT], capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr[-3000:]
    assert run.stdout.split() == ["collected"]
    assert "leaked" not in run.stderr and "reference counting" not in run.stderr, run.stderr[-3000:]
