"""Random calls with random values, in random orders, on real OCCT scenes and real toolbars.

Whatever a host hands over, the process survives; a guarded operation of the
service returns normally after writing at most one record per failure; the
registry stays consistent with itself and with what the context holds; and
the toolbar always reports a valid state.

MORVIK_FUZZ_PROFILE=long (see conftest.py, and `make fuzz-long`) runs these
far longer than the fixed default set.
"""

import ast
import enum
import gc
import itertools
import math
import sys
from contextlib import contextmanager
from typing import NamedTuple

import pytest
from hypothesis import given, note
from hypothesis import strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule, run_state_machine_as_test
from OCP.AIS import AIS_Shape, AIS_ViewCube
from OCP.Aspect import Aspect_GradientFillMethod
from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeEdge
from OCP.BRepPrimAPI import BRepPrimAPI_MakeSphere
from OCP.gp import gp_Pnt
from OCP.Graphic3d import Graphic3d_Camera
from OCP.Prs3d import Prs3d_Drawer
from OCP.Quantity import Quantity_Color, Quantity_NOC_RED, Quantity_TOC_RGB
from OCP.TopAbs import TopAbs_EDGE, TopAbs_FACE, TopAbs_SOLID, TopAbs_VERTEX
from OCP.TopoDS import TopoDS_Shape
from OCP.V3d import V3d_TypeOfVisualization
from PySide6.QtCore import Qt
from PySide6.QtTest import QTest
from PySide6.QtWidgets import QApplication, QComboBox, QPushButton, QVBoxLayout, QWidget

from conftest import TOOLBAR_SIGNALS, box, faces, interactive_list, make_scene
from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.services import scenard
from morvik.services.scenard import Scenard, ShapeInfo
from morvik.widgets.panelor import Panelor

pytestmark = [
    # Qt-sized integers out of range: PySide warns before it raises.
    pytest.mark.filterwarnings("ignore:libshiboken:RuntimeWarning"),
    pytest.mark.filterwarnings("ignore:Generating overly large repr"),
]


# --- values a host might hand over -------------------------------------------

class Boom(Exception):
    pass


class BadBool:
    def __bool__(self):
        raise Boom("no truth value")


class BadEq:
    __hash__ = object.__hash__

    def __eq__(self, other):
        raise Boom("no equality")


class BadHash:
    def __hash__(self):
        raise Boom("no hash")


class BadFloat:
    def __float__(self):
        raise Boom("no float")


class BadSequence:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        raise Boom("no item")


# Members of a foreign enumeration that share value strings with ours.
Lookalike = enum.Enum("Lookalike", {"SHADED": "shaded", "TOP": "top", "ORTHOGRAPHIC": "orthographic"})


def _edge():
    return BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0)).Edge()


# Objects of other OCP classes, built afresh for each draw.
_OCP_FACTORIES = [
    lambda: gp_Pnt(1, 2, 3),
    lambda: Quantity_Color(0.2, 0.3, 0.4, Quantity_TOC_RGB),
    TopoDS_Shape,  # a null shape
    _edge,
    Graphic3d_Camera,
    Prs3d_Drawer,
    lambda: AIS_Shape(box(1, 2, 3)),  # a presentation no context knows
    lambda: Quantity_NOC_RED,
    lambda: V3d_TypeOfVisualization.V3d_ZBUFFER,
    lambda: Aspect_GradientFillMethod.Aspect_GradientFillMethod_Corner4,
    lambda: Aspect_GradientFillMethod.Aspect_GradientFillMethod_None,
]

_NUMBERS = st.one_of(
    st.integers(-1000, 1000),
    st.floats(allow_nan=True, allow_infinity=True),
    st.sampled_from([2**31, -2**31 - 1, 2**63, -2**64, 10**400]),
    st.booleans(),
)
_MEMBERS = st.sampled_from([*ViewDirection, *ProjectionType, *DisplayMode, *Lookalike])
_NESTED = st.recursive(
    st.one_of(st.none(), _NUMBERS, st.text(max_size=3)),
    lambda inner: st.lists(inner, max_size=4) | st.tuples(inner, inner, inner),
    max_leaves=8,
)
_HOSTILE = st.one_of(*map(st.builds, [BadBool, BadEq, BadHash, BadFloat, BadSequence]),
                     st.builds(iter, st.just([0.5, 0.5, 0.5, 0.5])))  # used up by one pass

JUNK = st.one_of(
    st.none(), _NUMBERS, st.text(max_size=6), st.binary(max_size=3), _NESTED, _MEMBERS,
    *map(st.builds, _OCP_FACTORIES), _HOSTILE,
)


class Ref(NamedTuple):
    """A value that only exists at call time: a registered identifier or presentation."""
    kind: str
    index: int = 0


_UNIT = st.floats(0.0, 1.0)
FLAGS = st.one_of(st.booleans(), st.booleans(), JUNK)
# A few identifiers, so displays collide and erase what was displayed.
IDS = st.one_of(st.sampled_from(["a", "b", "c", "d"]), st.builds(Ref, st.just("id"), st.integers(0, 9)), JUNK)
_SPHERES = st.builds(lambda r: BRepPrimAPI_MakeSphere(r).Shape(), st.floats(0.1, 10.0))
SHAPES = st.one_of(st.just(Ref("shape")), _SPHERES, JUNK)
COLORS = st.one_of(
    st.tuples(_UNIT, _UNIT, _UNIT),
    st.lists(_UNIT, min_size=3, max_size=3),
    st.tuples(_NUMBERS, _NUMBERS, _NUMBERS),
    st.lists(_UNIT, max_size=5),
    JUNK,
)
PRESENTATIONS = st.one_of(
    st.builds(Ref, st.sampled_from(["ais", "stale", "elsewhere"]), st.integers(0, 9)), JUNK)
ID_LISTS = st.one_of(st.lists(IDS, max_size=4), JUNK)
MEMBERS = st.one_of(_MEMBERS, JUNK)
SUB_SHAPE_KINDS = st.one_of(st.sampled_from([None, TopAbs_FACE, TopAbs_EDGE, TopAbs_VERTEX, TopAbs_SOLID]), JUNK)
_ITEM_IDS = st.one_of(st.sampled_from(["a", "b", "c", "d"]), JUNK)


def _coloured_sphere(radius, shape_id, color, pairs):
    sphere = BRepPrimAPI_MakeSphere(radius).Shape()
    return sphere, shape_id, color, [(sub, (1.0, 0.8, 0.0)) for sub in [sphere, *faces(sphere)][:pairs]]


# Sub-shape colours that can never be right, whatever the shape: other shapes'
# faces, pairs and iterables of junk, and endless ones.
_WRONG_SUB_COLORS = st.one_of(
    st.lists(st.tuples(st.builds(lambda: faces(box(1, 2, 3))[0]), COLORS), min_size=1, max_size=3),
    st.lists(st.one_of(st.tuples(JUNK, COLORS), st.tuples(JUNK), JUNK), min_size=1, max_size=3),
    st.builds(lambda: itertools.repeat((box(1, 2, 3), (1.0, 0.0, 0.0)))),
    st.just([(TopoDS_Shape(), (1.0, 0.0, 0.0))]),
)
# And those that may be: nothing, or pairs of the machine's own shape (resolved when called).
SUB_COLORS = st.one_of(st.none(), st.just([]), st.builds(Ref, st.just("sub_colors"), st.integers(1, 8)),
                       _WRONG_SUB_COLORS, JUNK)
ITEMS = st.one_of(
    st.lists(st.one_of(st.tuples(_SPHERES, _ITEM_IDS), st.tuples(_SPHERES, _ITEM_IDS, COLORS),
                       st.builds(_coloured_sphere, st.floats(0.1, 10.0), _ITEM_IDS, COLORS,
                                 st.integers(0, 3)),
                       st.tuples(_SPHERES, _ITEM_IDS, COLORS, _WRONG_SUB_COLORS), JUNK),
             max_size=4),
    JUNK,
)
PROGRESS = st.one_of(st.none(), st.just(lambda done, total: False), JUNK)
_STATE = {
    "format": "morvik.view-state", "version": 1,
    "camera": {"eye": [1.0, 1.0, 1.0], "target": [0.0, 0.0, 0.0], "up": [0.0, 1.0, 0.0],
               "scale": 2.0, "projection": "perspective"},
    "display_mode": "both", "transparency": 0.25, "background": {"color": [0.1, 0.2, 0.3]},
}
STATES = st.one_of(
    st.just(_STATE),
    st.builds(lambda key, value: {**_STATE, key: value}, st.sampled_from(sorted(_STATE)), JUNK),
    JUNK,
)
NUMBERS = st.one_of(_NUMBERS, JUNK)
ANYTHING = st.one_of(JUNK, st.builds(Ref, st.sampled_from(["id", "ais", "stale", "shape"]), st.integers(0, 9)))


def same(a, b):
    """The same identifier as far as a dict can tell (one that cannot compare is not)."""
    try:
        return a is b or a == b
    except Boom:
        return False


# --- the operations and the records each may write ----------------------------

class Kind(NamedTuple):
    level: str
    template: str
    traceback: bool


def error(template):
    return Kind("ERROR", template, True)


PROJECTION_TYPE = {error("Error setting projection type: %s"),
                   Kind("DEBUG", "Could not set projection type: %s", False)}
TRIHEDRON = {Kind("WARNING", "Unexpected trihedron error: %s", True),
             Kind("DEBUG", "Could not display trihedron: %s", False)}


class Op(NamedTuple):
    name: str
    required: tuple = ()  # (parameter, values)
    optional: tuple = ()
    records: tuple = ()   # one set of allowed kinds per failure it may report
    guarded: bool = True

    def __repr__(self):
        return self.name


# Values for each parameter type the service's signatures name.
VALUES_OF_TYPE = {
    "OCP.TopoDS.TopoDS_Shape": SHAPES, "str": IDS, "bool": FLAGS, "int": NUMBERS, "float": NUMBERS,
    "tuple[float, float, float]": COLORS, "tuple[float, float, float] | None": COLORS,
    "OCP.AIS.AIS_Shape": PRESENTATIONS, "collections.abc.Iterable[str]": ID_LISTS,
    "morvik.enums.ViewDirection": MEMBERS, "morvik.enums.ProjectionType": MEMBERS,
    "morvik.enums.DisplayMode": MEMBERS, "OCP.Aspect.Aspect_GradientFillMethod": ANYTHING,
    "collections.abc.Iterable[tuple[OCP.TopoDS.TopoDS_Shape, tuple[float, float, float]]] | None":
        SUB_COLORS,
    "collections.abc.Iterable[tuple[OCP.TopoDS.TopoDS_Shape, str] | "
    "tuple[OCP.TopoDS.TopoDS_Shape, str, tuple[float, float, float] | None] | "
    "tuple[OCP.TopoDS.TopoDS_Shape, str, tuple[float, float, float] | None, "
    "collections.abc.Iterable[tuple[OCP.TopoDS.TopoDS_Shape, tuple[float, float, float]]] | None]]": ITEMS,
    "collections.abc.Callable[[int, int | None], object] | None": PROGRESS,
    "collections.abc.Mapping[str, typing.Any]": STATES,
    "OCP.TopAbs.TopAbs_ShapeEnum | None": SUB_SHAPE_KINDS,
}
# Operations that may write more than their one error record.
RECORDS_BEYOND_ONE_ERROR = {
    "setup_initial_view": ({error("Error setting up initial view: %s"), *TRIHEDRON}, PROJECTION_TYPE),
    "_setup_trihedron": (TRIHEDRON,),
    "set_projection_type": (PROJECTION_TYPE,),
    # One record per item that fails (junk text of six characters is six items), and one
    # for the batch itself.
    "display_shapes": ({error("Error displaying shape: %s"), error("Error displaying shapes: %s")},) * 7,
}


def service_operations():
    """Every method of Scenard: its parameters from its typed signature, its log
    template from the module's `_operations` (none for a query, which logs
    nothing and lets its errors through)."""
    operations = []
    for name, method in vars(Scenard).items():
        if name.startswith("__") or not hasattr(method, "__nb_signature__"):
            continue
        template = scenard._operations.get(name)
        ((signature, _, _),) = method.__nb_signature__
        function = ast.parse(signature + ": ...").body[0]
        params = function.args.args[1:]
        required = len(params) - len(function.args.defaults)
        values = [(p.arg, VALUES_OF_TYPE[ast.unparse(p.annotation)]) for p in params]
        records = RECORDS_BEYOND_ONE_ERROR.get(name, ({error(template)},) if template else ())
        operations.append(Op(name, tuple(values[:required]), tuple(values[required:]), records,
                             template is not None))
    return operations


SERVICE_OPERATIONS = service_operations()
DISPLAY_SHAPE = next(op for op in SERVICE_OPERATIONS if op.name == "display_shape")


@st.composite
def calls(draw, operations):
    """(operation, positional arguments, keyword arguments), each parameter by position or name."""
    op = draw(st.sampled_from(operations))
    params = [*op.required, *op.optional[:draw(st.integers(0, len(op.optional)))]]
    values = [draw(values) for _, values in params]
    by_position = draw(st.integers(0, len(params)))
    keywords = {name: value for (name, _), value in zip(params[by_position:], values[by_position:])}
    return op, values[:by_position], keywords


@st.composite
def wrong_arity_calls(draw, operations):
    """Calls with one argument too many or one required argument missing."""
    op = draw(st.sampled_from(operations))
    most = len(op.required) + len(op.optional)
    if op.required and draw(st.booleans()):
        return op, [None] * (len(op.required) - 1), {}
    return op, [None] * (most + 1), {}


def matches_allowed(records, slots):
    """Each record is of a kind its operation may write, at most one per failure it reports."""
    slots = list(slots)
    for record in records:
        kind = Kind(record.levelname, record.msg, bool(record.exc_info))
        while slots and kind not in slots[0]:
            slots.pop(0)
        if not slots:
            return False
        slots.pop(0)
        error = record.args[0]
        assert isinstance(error, Exception) and len(record.args) == 1
        if kind.traceback:
            assert record.exc_info[1] is error and record.exc_info[2] is not None
    return True


class Flaky:
    """Forwards to a real OCCT object, except for one armed call that raises instead."""

    def __init__(self, target):
        self._target = target
        self.armed = None  # (method name, calls to let through first, error)
        self.fired = None

    def arm(self, name, countdown, error):
        self.armed, self.fired = (name, countdown, error), None

    def __getattr__(self, name):
        real = getattr(self._target, name)
        if not self.armed or self.armed[0] != name:
            return real

        def method(*args):
            armed_name, countdown, error = self.armed
            if countdown:
                self.armed = (armed_name, countdown - 1, error)
                return real(*args)
            self.armed, self.fired = None, error
            raise error(f"{name} refused")

        return method


CONTEXT_CALLS = ["Display", "Erase", "Remove", "RemoveAll", "Redisplay", "SetDisplayMode", "Update",
                 "UpdateCurrentViewer", "ClearSelected", "AddOrRemoveSelected", "Filters", "AddFilter",
                 "SetSelectionModeActive", "NbSelected", "FitSelected", "DisplayedObjects"]
VIEW_CALLS = ["SetProj", "SetUp", "Camera", "FitAll", "ZFitAll", "Redraw", "MustBeResized",
              "StartRotation", "Rotation", "Pan", "SetZoom", "SetBackgroundColor", "ClipPlanes", "AddClipPlane",
              "SetBgGradientColors", "SetBgGradientStyle", "TriedronDisplay"]


# --- the service --------------------------------------------------------------

def all_presentations(context):
    found = interactive_list()
    context.ObjectsInside(found)
    return list(found)


# What each query answers, from the registry as it stands.
QUERIES = {
    "get_view": lambda machine, result: result is machine.view,
    "get_viewer": lambda machine, result: result is machine.scene.viewer,
    "get_context": lambda machine, result: result is machine.context,
    "get_all_shapes": lambda machine, result: (
        result == machine.service._shapes and result is not machine.service._shapes),
    "get_shape_count": lambda machine, result: result == len(machine.service._shapes),
    "get_shape_info": lambda machine, result, key: result is lookup(machine.service._shapes, key),
    "is_shape_visible": lambda machine, result, key: result is getattr(
        lookup(machine.service._shapes, key), "visible", False),
    "get_shape_id_for_ais_shape": lambda machine, result, ais: result is lookup(
        machine.service._ais_to_id, ais),
    # The look in force, as it draws (whatever a junk mode kept), or None after its one record.
    "get_display_mode": lambda machine, result: result is None or isinstance(result, DisplayMode),
    "get_global_transparency": lambda machine, result: (
        result is None or result == machine.service._global_transparency),
}


def lookup(mapping, key):
    """mapping.get(key), with None for a key that could never be stored."""
    try:
        return mapping.get(key)
    except TypeError:
        return None


def calling(op):
    """A rule that calls `op` with values drawn for its parameters."""
    def call(self, call):
        self.perform(*call)
    call.__name__ = f"call_{op.name.lstrip('_')}"
    return rule(call=calls([op]))(call)


class ServiceMachine(RuleBasedStateMachine):
    """A Scenard over a real scene whose view and context may refuse one call on demand."""

    graphic_driver = None
    elsewhere = None  # presentations displayed in another context
    log = None  # the test's ServiceLog (see conftest.py)

    @initialize(windowed=st.booleans())
    def build(self, windowed):
        self.scene = make_scene(self.graphic_driver, windowed=windowed, size=(64, 48))
        self.view, self.context = Flaky(self.scene.view), Flaky(self.scene.context)
        self.service = Scenard(self.view, self.scene.viewer, self.context)
        self.order = []   # identifiers, in the order the registry must keep
        self.seen = []    # every presentation the registry held, newest last
        self.shape = box(1, 2, 3)

    def teardown(self):
        if hasattr(self, "scene"):
            self.scene.context.RemoveAll(False)

    def resolve(self, value):
        if not isinstance(value, Ref):
            return value
        records = list(self.service._shapes.values())
        if value.kind == "shape":
            return self.shape
        if value.kind == "sub_colors":  # the machine's box and its faces, each its own colour
            subs = [self.shape, *faces(self.shape)]
            return [(sub, (0.1 * n, 0.5, 1.0 - 0.1 * n)) for n, sub in enumerate(subs[:value.index])]
        if value.kind == "id":
            return records[value.index % len(records)].shape_id if records else "unregistered"
        if value.kind == "ais" and records:
            return records[value.index % len(records)].ais_shape
        if value.kind == "stale":
            stale = [ais for ais in self.seen if self.service._ais_to_id.get(ais) is None]
            if stale:
                return stale[value.index % len(stale)]
        return self.elsewhere[value.index % len(self.elsewhere)]

    # One rule per operation, so each is called about as often as any other.
    vars().update({f"call_{op.name.lstrip('_')}": calling(op) for op in SERVICE_OPERATIONS})

    @rule(shape=SHAPES, shape_id=st.sampled_from(["a", "b", "c", "d"]),
          color=st.one_of(st.none(), st.tuples(_UNIT, _UNIT, _UNIT)), update=st.booleans(),
          sub_colors=st.one_of(st.none(), st.builds(Ref, st.just("sub_colors"), st.integers(1, 7))))
    def display_a_shape(self, shape, shape_id, color, update, sub_colors):
        self.perform(DISPLAY_SHAPE, [shape, shape_id, color, update, sub_colors], {})

    def perform(self, op, args, kwargs):
        args = [self.resolve(value) for value in args]
        kwargs = {name: self.resolve(value) for name, value in kwargs.items()}
        note(f"{op.name}(*{args!r}, **{kwargs!r})")
        before = list(self.service._shapes)
        key = [*args, *kwargs.values()][op.name == "display_shape"] if (
            op.name in ("display_shape", "erase_shape")) else None
        registered = self.is_registered(key)
        self.view.fired = self.context.fired = None
        with self.log.collect() as records:
            try:
                result = getattr(self.service, op.name)(*args, **kwargs)
            except BaseException as raised:
                fired = self.view.fired or self.context.fired
                interrupted = fired and isinstance(raised, fired) and not issubclass(fired, Exception)
                if not (interrupted or (not op.guarded and isinstance(raised, Exception))):
                    raise  # only an interrupt passes a guard; a query raises errors only
                assert records == []  # and neither writes a record
                self.order = list(self.service._shapes)
                return
        assert matches_allowed(records, op.records), [(r.levelname, r.getMessage()) for r in records]
        after = list(self.service._shapes)
        if op.name == "display_shape":
            self.check_display(result, key, registered, before, after, records)
        elif op.name == "erase_shape" and registered and not records:
            assert after == [k for k in before if not same(k, key)]
        elif op.name == "erase_all":
            assert after == (before if records else [])
        elif op.name == "display_shapes":
            assert isinstance(result, list) and len(result) <= 4
        elif op.name == "get_view_state":
            assert (result is None or isinstance(result, dict)) and after == before
        elif op.name == "set_view_state":
            assert result is (not records) and after == before
        elif op.name == "pick":
            assert (result is None or result in after) and after == before
        elif op.name == "pick_detail":
            assert (result is None or (result[0] in after and isinstance(result[1], TopoDS_Shape)))
            assert after == before
        elif op.name in QUERIES:
            assert QUERIES[op.name](self, result, *args, *kwargs.values()) and after == before
        else:
            assert result is None and after == before
        self.order = after
        self.seen.extend(info.ais_shape for info in self.service._shapes.values())
        del self.seen[:-20]

    def is_registered(self, key):
        try:
            return key in self.service._shapes
        except Exception:  # noqa: BLE001 - a hostile key may raise anything from __hash__
            return False

    def check_display(self, result, key, registered, before, after, records):
        if records:
            # Nothing changed, or the identifier was dropped with its presentation.
            assert result is None and len(records) == 1
            assert after in (before, [k for k in before if not same(k, key)])
        else:
            assert result is key  # None too, when that was the identifier
            if registered:
                assert after == before  # a shape displayed again keeps its place
            else:
                assert after[:-1] == before and same(after[-1], key)

    @rule(call=wrong_arity_calls(SERVICE_OPERATIONS))
    def call_with_wrong_arity(self, call):
        op, args, kwargs = call
        before = list(self.service._shapes)
        with self.log.collect() as records, pytest.raises(TypeError):
            getattr(self.service, op.name)(*args, **kwargs)
        assert records == [] and list(self.service._shapes) == before

    @rule(target_=st.sampled_from(["view", "context"]), data=st.data(),
          countdown=st.integers(0, 2),
          error=st.sampled_from([Boom, Boom, TypeError, AttributeError, KeyboardInterrupt]))
    def arm_a_refusal(self, target_, data, countdown, error):
        name = data.draw(st.sampled_from(VIEW_CALLS if target_ == "view" else CONTEXT_CALLS))
        getattr(self, target_).arm(name, countdown, error)

    @invariant()
    def registry_matches_itself_and_the_context(self):
        if not hasattr(self, "service"):
            return
        service, context = self.service, self.scene.context
        shapes = service._shapes
        assert list(shapes) == self.order
        assert service.get_shape_count() == len(shapes) == len(service._ais_to_id)
        assert list(service.get_all_shapes()) == self.order
        for key, info in shapes.items():
            assert type(info) is ShapeInfo and same(info.shape_id, key)
            assert same(service._ais_to_id[info.ais_shape], key)
            assert same(service.get_shape_id_for_ais_shape(info.ais_shape), key)
            assert service.get_shape_info(key) is info
            assert info.visible in (True, False)
            assert service.is_shape_visible(key) is info.visible
            assert context.IsDisplayed(info.ais_shape) == info.visible
        # The context holds exactly the registered presentations, none left behind,
        # and the view cube, which is the view's.
        held = {id(ais) for ais in all_presentations(context) if not isinstance(ais, AIS_ViewCube)}
        assert held == {id(info.ais_shape) for info in shapes.values()}
        assert service._is_rendering is False

    @invariant()
    def camera_stays_usable(self):
        if hasattr(self, "scene"):
            camera = self.scene.view.Camera()
            numbers = [camera.Scale(), camera.Distance()]
            for point in (camera.Eye(), camera.Center(), camera.Up()):
                numbers += [point.X(), point.Y(), point.Z()]
            assert all(math.isfinite(number) for number in numbers), numbers
            # Every state the service gives, it takes back (no armed failure in the way).
            if not (self.view.armed or self.context.armed):
                state = self.service.get_view_state()
                assert state is None or self.service.set_view_state(state) is True


def _elsewhere(graphic_driver):
    other = make_scene(graphic_driver, windowed=False)
    shown = AIS_Shape(box(1, 2, 3))
    other.context.Display(shown, False)
    return other, [shown, AIS_Shape(box(1, 2, 3))]


def test_service_survives_random_calls_and_keeps_its_registry(graphic_driver, errors):
    _other, elsewhere = _elsewhere(graphic_driver)
    machine = type("Service", (ServiceMachine,), {"graphic_driver": graphic_driver,
                                                  "elsewhere": elsewhere, "log": errors})
    run_state_machine_as_test(machine)
    # Hypothesis keeps every machine class for the life of the process, and with it this
    # log: its last records' tracebacks reach the last machine's services.
    errors.clear()


@given(view=JUNK, viewer=JUNK, context=JUNK, sequence=st.lists(calls(SERVICE_OPERATIONS), max_size=12))
def test_service_over_foreign_objects_logs_and_returns(errors, view, viewer, context, sequence):
    service = Scenard(view, viewer, context)
    for op, args, kwargs in sequence:
        args = [None if isinstance(value, Ref) else value for value in args]
        kwargs = {name: None if isinstance(v, Ref) else v for name, v in kwargs.items()}
        with errors.collect() as records:
            if op.guarded:
                getattr(service, op.name)(*args, **kwargs)
            else:
                try:
                    getattr(service, op.name)(*args, **kwargs)
                except Exception:  # noqa: BLE001 - only the records are judged here
                    pass
        assert matches_allowed(records, op.records)
    assert service.get_shape_count() == 0 and service._ais_to_id == {}


@given(st.lists(JUNK, min_size=2, max_size=4))
def test_shape_info_keeps_whatever_it_is_given(values):
    info = ShapeInfo(*values)
    given_or_default = values + [None, True][len(values) - 2:]
    assert all(field is value for field, value in zip(
        (info.shape_id, info.ais_shape, info.color, info.visible), given_or_default))
    assert repr(info).startswith(f"ShapeInfo(shape_id={values[0]!r}")
    info.visible = values[-1]  # a plain record: its fields are the host's to set
    assert info.visible is values[-1]


# --- the toolbar --------------------------------------------------------------

VALUE_STRINGS = {
    "projection_type_changed": {"perspective", "orthographic"},
    "display_mode_changed": {"wireframe", "shaded", "both"},
    "projection_changed": {"iso", "top", "front", "right"},
}

TOOLBAR_OPERATIONS = [
    Op("set_projection_type", (("proj_type", MEMBERS),)),
    Op("set_display_mode", (("mode", MEMBERS),)),
    Op("set_transparency", (("transparency", NUMBERS),)),
    Op("get_projection_type"), Op("get_display_mode"), Op("get_transparency"),
    # The slots, as a host could call them directly.
    Op("_on_projection_changed", (("projection", MEMBERS),)),
    Op("_on_projection_type_combo_changed", (("index", NUMBERS),)),
    Op("_on_display_mode_combo_changed", (("index", NUMBERS),)),
    Op("_on_transparency_changed", (("value", NUMBERS),)),
    Op("_on_fit_all_requested"),
]
STATE_OF = {"set_projection_type": ("get_projection_type", "projection_type_changed"),
            "set_display_mode": ("get_display_mode", "display_mode_changed"),
            "set_transparency": ("get_transparency", "transparency_changed")}

USER_ACTIONS = st.one_of(
    st.tuples(st.just("click"), st.integers(0, 4)),
    st.tuples(st.sampled_from(["_proj_type_combo", "_display_mode_combo"]), st.integers(0, 2)),
    st.tuples(st.just("slider"), st.integers(-10**6, 10**6)),
    st.tuples(st.sampled_from(["slider key", "combo key"]),
              st.sampled_from([Qt.Key_Right, Qt.Key_Left, Qt.Key_Up, Qt.Key_Down,
                               Qt.Key_PageUp, Qt.Key_PageDown, Qt.Key_Home, Qt.Key_End])),
)


def check_toolbar_state(toolbar):
    """The getters report valid value strings and a fraction, as the controls hold them."""
    assert toolbar.get_projection_type() in VALUE_STRINGS["projection_type_changed"]
    assert toolbar.get_display_mode() in VALUE_STRINGS["display_mode_changed"]
    transparency = toolbar.get_transparency()
    assert type(transparency) is float and 0.0 <= transparency <= 1.0
    assert transparency == toolbar._transparency_slider.value() / 100.0


@contextmanager
def errors_in_qt_slots():
    """Errors that Qt's signal delivery (or PySide's argument conversion) reported."""
    errors, saved = [], sys.excepthook
    sys.excepthook = lambda kind, error, traceback: errors.append(error)
    try:
        yield errors
    finally:
        sys.excepthook = saved


class ToolbarMachine(RuleBasedStateMachine):
    """A real toolbar, driven by its host's calls and its user's clicks and keys."""

    @initialize(orientation=st.sampled_from(["horizontal", "vertical", "Vertical", 5, None]),
                show=st.one_of(st.booleans(), st.sampled_from([0, "", [], [0], "no"])))
    def build(self, orientation, show):
        self.toolbar = Panelor(None, orientation, show)
        self.label_follows_slider = True
        self.log = []
        for name in TOOLBAR_SIGNALS:
            getattr(self.toolbar, name).connect(lambda *args, name=name: self.log.append((name, *args)))

    def teardown(self):
        if hasattr(self, "toolbar"):
            self.toolbar.deleteLater()
            QApplication.sendPostedEvents()

    vars().update({f"call_{op.name.lstrip('_')}": calling(op) for op in TOOLBAR_OPERATIONS})

    def perform(self, op, args, kwargs):
        getter, signal = STATE_OF.get(op.name, (None, None))
        before = getattr(self.toolbar, getter)() if getter else None
        del self.log[:]
        try:
            # PySide reports an argument it cannot convert for Qt on the
            # exception hook as well as raising it.
            with errors_in_qt_slots():
                getattr(self.toolbar, op.name)(*args, **kwargs)
        except Exception:  # noqa: BLE001 - the toolbar validates nothing; the state is judged
            # The toolbar validates nothing: a wrong value may raise, but
            # changes nothing on the way.
            assert self.log == [] and (not getter or getattr(self.toolbar, getter)() == before)
            return
        if op.name.startswith("_on_"):
            # A slot called by hand emits what it is given, unchecked.
            self.label_follows_slider &= op.name != "_on_transparency_changed"
        elif getter:
            after = getattr(self.toolbar, getter)()
            assert self.log == ([] if after == before else [(signal, after)])
        else:
            assert self.log == []

    @rule(action=USER_ACTIONS)
    def user_acts(self, action):
        what, detail = action
        toolbar = self.toolbar
        combos = toolbar.findChildren(QComboBox)
        control = {"slider": toolbar._transparency_slider, "slider key": toolbar._transparency_slider,
                   "combo key": combos[0]}.get(what, getattr(toolbar, what, None))
        getter, signal = STATE_OF[{toolbar._transparency_slider: "set_transparency",
                                   combos[-1]: "set_display_mode"}.get(control, "set_projection_type")]
        before = getattr(toolbar, getter)()
        del self.log[:]
        with errors_in_qt_slots() as errors:
            if what == "click":
                toolbar.findChildren(QPushButton)[detail].click()
            elif what == "slider":
                control.setValue(detail)
            elif what.endswith("key"):
                QTest.keyClick(control, detail)
            elif control is not None:
                control.setCurrentIndex(detail % control.count())
        assert errors == []
        after = getattr(toolbar, getter)()
        if what == "click":  # iso, top, front, right, then "Fit All"
            assert self.log == [("projection_changed", ["iso", "top", "front", "right"][detail])
                                if detail < 4 else ("fit_all_requested",)]
        else:  # one emission of the new state, when it changed
            assert self.log == ([] if after == before else [(signal, after)])
            self.label_follows_slider |= bool(self.log) and signal == "transparency_changed"

    @rule(call=wrong_arity_calls(TOOLBAR_OPERATIONS))
    def call_with_wrong_arity(self, call):
        op, args, kwargs = call
        with pytest.raises(TypeError):
            getattr(self.toolbar, op.name)(*args, **kwargs)

    @invariant()
    def state_is_valid(self):
        if hasattr(self, "toolbar"):
            check_toolbar_state(self.toolbar)
            if self.label_follows_slider:
                assert self.toolbar._transparency_label.text() == f"{self.toolbar._transparency_slider.value()}%"


@pytest.mark.qt_no_exception_capture
def test_toolbar_survives_random_calls_and_user_actions(qapp):
    run_state_machine_as_test(ToolbarMachine)
    gc.collect()


@pytest.mark.qt_no_exception_capture
@given(parent=st.one_of(st.none(), st.just(Ref("widget")), JUNK),
       orientation=st.one_of(st.just("vertical"), JUNK), show=st.one_of(st.booleans(), JUNK))
def test_toolbar_built_from_any_arguments_is_whole_or_refused(qapp, parent, orientation, show):
    if isinstance(parent, Ref):
        parent = QWidget()
    try:
        toolbar = Panelor(parent, orientation, show)
    except Exception:  # noqa: BLE001 - a refused build may raise anything
        return  # and the half-built toolbar goes quietly
    check_toolbar_state(toolbar)
    assert isinstance(toolbar.layout(), QVBoxLayout) == (type(orientation) is str and orientation == "vertical")
    assert toolbar.parent() is (parent if isinstance(parent, QWidget) else None)
    toolbar.deleteLater()
    QApplication.sendPostedEvents()
