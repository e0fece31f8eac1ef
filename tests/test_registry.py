"""The shape registry: display, erase, update and the registry queries."""

import itertools
import sys

import pytest
from OCP.AIS import AIS_Shape
from OCP.TopAbs import TopAbs_EDGE, TopAbs_FACE
from OCP.TopoDS import TopoDS_Shape

from conftest import box as a_box
from conftest import explored, faces, interactive_list
from doubles import Recorder, viewer_updates
from morvik.enums import DisplayMode
from morvik.services.scenard import Scenard, ShapeInfo
from pictures import rgb

DISPLAY_ERROR = "Error displaying shape: %s"
RED, BLUE = (1.0, 0.0, 0.0), (0.0, 0.0, 1.0)


def assert_consistent(service):
    """Every record is keyed by its own identifier and its presentation maps back to it."""
    for shape_id, info in service.get_all_shapes().items():
        assert info.shape_id == shape_id
        assert service._ais_to_id[info.ais_shape] == shape_id


class TestFreshService:
    def test_starts_empty_and_quiet(self, service, scene, errors):
        assert service.get_shape_count() == 0
        assert service.get_all_shapes() == {}
        assert service.get_shape_info("anything") is None
        service.erase_shape("anything")
        assert errors.records == []

    def test_fields_are_the_ten_and_no_more(self, service, scene):
        assert service._view is scene.view
        assert service._viewer is scene.viewer
        assert service._context is scene.context
        assert service.get_view() is scene.view and service.get_viewer() is scene.viewer
        assert service.get_context() is scene.context
        assert service._is_rendering is False
        assert type(service._shapes) is dict and type(service._ais_to_id) is dict
        assert service._shapes is not service._ais_to_id
        assert service._global_transparency == 0.0
        assert service._current_display_mode is DisplayMode.SHADED
        assert service._background_color == (1.0, 1.0, 1.0)
        assert service._background_gradient is None
        with pytest.raises(AttributeError):
            service.extra = 1
        service._background_gradient = None  # the remembered state may be reset by hand
        service._global_transparency = 0
        with pytest.raises(AttributeError):
            service._shapes = {}  # the registry is never replaced

    def test_wrong_number_of_arguments_is_rejected(self, service, make_box):
        with pytest.raises(TypeError):
            service.display_shape(make_box())
        with pytest.raises(TypeError):
            service.erase_all(True)
        with pytest.raises(TypeError):
            Scenard(None, None)

    def test_queries_take_arguments_as_python_methods_do(self, service, make_box):
        service.display_shape(make_box(), "box")
        info = service.get_shape_info("box")
        assert service.get_shape_info(shape_id="box") is info
        assert service.is_shape_visible(shape_id="box") is True
        assert service.get_shape_id_for_ais_shape(ais_shape=info.ais_shape) == "box"
        assert Scenard.get_shape_info(service, "box") is info
        for call in (lambda: service.get_shape_info(), lambda: service.get_shape_info("a", "b"),
                     lambda: service.get_shape_info("box", shape_id="box"),
                     lambda: service.get_shape_info(name="box"), lambda: service.get_view(None),
                     lambda: service.get_shape_count(update=True),
                     lambda: Scenard.get_view(object())):
            with pytest.raises(TypeError):
                call()
        # An instance whose __init__ never ran refuses every query (nanobind warns too).
        blank = Scenard.__new__(Scenard)
        for name in ("get_view", "get_viewer", "get_context", "get_all_shapes", "get_shape_count",
                     "get_shape_info", "is_shape_visible", "get_shape_id_for_ais_shape"):
            arguments = ("box",) * (name in ("get_shape_info", "is_shape_visible",
                                             "get_shape_id_for_ais_shape"))
            with pytest.raises(TypeError), pytest.warns(RuntimeWarning, match="uninitialized"):
                getattr(blank, name)(*arguments)


class TestDisplay:
    def test_displays_and_registers(self, service, scene, make_box):
        assert service.display_shape(make_box(), "box") == "box"
        info = service.get_shape_info("box")
        assert isinstance(info, ShapeInfo) and isinstance(info.ais_shape, AIS_Shape)
        assert (info.shape_id, info.color, info.visible) == ("box", None, True)
        assert scene.context.IsDisplayed(info.ais_shape)
        assert not info.ais_shape.HasColor()
        assert service._ais_to_id == {info.ais_shape: "box"}

    @pytest.mark.parametrize("color", [(1.0, 0.5, 0.0), [0.0, 0.0, 0.0], (0, 1, 0)])
    def test_colour_is_applied_and_kept_as_the_services_own_floats(self, service, make_box, color):
        service.display_shape(make_box(), "box", color)
        info = service.get_shape_info("box")
        assert type(info.color) is tuple and info.color == tuple(float(c) for c in color)
        assert info.ais_shape.HasColor()
        assert rgb(info.ais_shape) == pytest.approx(tuple(float(c) for c in color))

    @pytest.mark.parametrize("empty", [(), [], "numpy"])
    def test_an_empty_colour_is_no_colour(self, service, make_box, errors, empty):
        import numpy

        empty = numpy.array([]) if empty == "numpy" else empty
        assert service.display_shapes([(make_box(), "listed", empty)]) == ["listed"]
        assert service.display_shape(make_box(), "box", empty) == "box"
        for info in service.get_all_shapes().values():
            assert info.color == () and not info.ais_shape.HasColor()
        assert errors.records == []

    def test_global_transparency_reaches_new_shapes(self, service, make_box):
        service.display_shape(make_box(), "opaque")
        assert service.get_shape_info("opaque").ais_shape.Transparency() == 0.0
        service._global_transparency = 0.5
        service.display_shape(make_box(), "glass")
        assert service.get_shape_info("glass").ais_shape.Transparency() == pytest.approx(0.5)

    def test_both_mode_draws_black_face_boundaries(self, recorded, scene, make_box):
        service, context = recorded.service, recorded.context
        service._current_display_mode = DisplayMode.BOTH
        service.display_shape(make_box(), "box", update=False)
        ais = service.get_shape_info("box").ais_shape
        # The boundaries are set before the context sees the shape: it is computed once.
        assert context.calls == [("Display", (ais, False))]
        drawer = ais.Attributes()
        assert drawer.FaceBoundaryDraw()
        aspect = drawer.FaceBoundaryAspect().Aspect()
        assert (aspect.Color().Red(), aspect.Color().Green(), aspect.Color().Blue()) == (0, 0, 0)
        assert aspect.Type() == 0 and aspect.Width() == 1.0  # Aspect_TOL_SOLID

    @pytest.mark.parametrize("mode", [DisplayMode.SHADED, DisplayMode.WIREFRAME])
    def test_other_modes_leave_boundaries_alone(self, recorded, make_box, mode):
        service, context = recorded.service, recorded.context
        service._current_display_mode = mode
        service.display_shape(make_box(), "box")
        ais = service.get_shape_info("box").ais_shape
        assert context.calls == [("Display", (ais, True))]
        assert not ais.Attributes().FaceBoundaryDraw()

    @pytest.mark.parametrize("none", [lambda: None, list, tuple, lambda: iter([]),
                                      lambda: (pair for pair in [])],
                             ids=["None", "list", "tuple", "iterator", "generator"])
    def test_no_sub_colours_is_the_plain_display(self, scene, make_box, errors, none):
        none = none()
        calls = []
        for sub_colors in ({}, {"sub_colors": none}):
            context = Recorder(scene.context)
            service = Scenard(scene.view, scene.viewer, context)
            service._current_display_mode = DisplayMode.BOTH
            assert service.display_shape(make_box(), "box", (0.0, 1.0, 0.0), **sub_colors) == "box"
            assert type(service.get_shape_info("box").ais_shape) is AIS_Shape
            calls.append([name for name, *_ in context.calls])
            service.erase_all()
        assert calls[0] == calls[1] and errors.records == []

    def test_order_follows_first_insertion(self, service, make_box):
        for shape_id in ("alpha", "beta", "gamma", "alpha"):
            service.display_shape(make_box(), shape_id)
        assert list(service.get_all_shapes()) == ["alpha", "beta", "gamma"]
        service.erase_shape("beta")
        service.display_shape(make_box(), "beta")
        assert list(service.get_all_shapes()) == ["alpha", "gamma", "beta"]
        assert_consistent(service)


class TestDisplayAgain:
    """Displaying under a registered identifier replaces the earlier presentation."""

    def test_earlier_presentation_leaves_the_screen(self, service, scene, make_box):
        service.display_shape(make_box(), "part")
        earlier = service.get_shape_info("part").ais_shape
        service.display_shape(make_box(2, 2, 2), "part", (0.0, 0.0, 1.0))
        later = service.get_shape_info("part").ais_shape
        assert later is not earlier
        assert not scene.context.IsDisplayed(earlier)
        assert scene.context.IsDisplayed(later)
        assert service._ais_to_id == {later: "part"}
        assert service.get_shape_count() == 1
        service.erase_shape("part")
        assert not scene.context.IsDisplayed(later)
        assert service._ais_to_id == {}

    def test_new_presentation_is_ready_before_the_old_one_goes(self, recorded, make_box):
        service, context = recorded.service, recorded.context
        service.display_shape(make_box(), "part")
        earlier = service.get_shape_info("part").ais_shape
        context.calls.clear()
        service.display_shape(make_box(), "part", update=False)
        later = service.get_shape_info("part").ais_shape
        assert context.calls == [("Remove", (earlier, False)), ("Display", (later, False))]

    def test_malformed_colour_changes_nothing(self, service, scene, make_box, errors):
        service.display_shape(make_box(), "part")
        before = service.get_shape_info("part")
        assert service.display_shape(make_box(), "part", (1.0, 0.0)) is None
        assert service.get_shape_info("part") is before
        assert scene.context.IsDisplayed(before.ais_shape)
        assert len(errors.records) == 1

    def test_failure_after_the_removal_unregisters_the_identifier(self, recorded, scene, make_box, errors):
        service, context = recorded.service, recorded.context
        service.display_shape(make_box(), "first")
        service.display_shape(make_box(), "part")
        service.display_shape(make_box(), "last")
        earlier = service.get_shape_info("part").ais_shape
        context.raises["Display"] = RuntimeError("display refused")
        assert service.display_shape(make_box(), "part") is None
        assert list(service.get_all_shapes()) == ["first", "last"]
        assert earlier not in service._ais_to_id
        assert not scene.context.IsDisplayed(earlier)
        assert_consistent(service)
        assert [r.getMessage() for r in errors.records] == ["Error displaying shape: display refused"]

    def test_failure_after_display_takes_the_new_presentation_back(self, recorded, scene, make_box,
                                                                   errors):
        service, context = recorded.service, recorded.context
        # Its second use, as the registry's key, comes after the display.
        assert service.display_shape(make_box(), Fickle("part", uses=1)) is None
        errors.one_error(DISPLAY_ERROR)
        assert service.get_shape_count() == 0 and service._ais_to_id == {}
        (ais,) = [args[0] for name, args in context.calls if name == "Display"]
        context.calls.clear()
        assert not scene.context.IsDisplayed(ais)
        # Let go: only this frame holds it, and the context (the C++ handle count) took it back.
        assert sys.getrefcount(ais) == 2 and ais.GetRefCount() == 1


def test_a_shape_with_sub_colours_takes_every_registry_operation(service, scene, make_box, errors):
    from OCP.AIS import AIS_ColoredShape

    box = make_box(10.0, 10.0, 10.0)
    service.display_shape(box, "part", BLUE, sub_colors=[(faces(box)[5], RED)])
    ais = service.get_shape_info("part").ais_shape
    assert isinstance(ais, AIS_ColoredShape) and service._ais_to_id == {ais: "part"}
    service.set_shape_visibility("part", False)
    assert not scene.context.IsDisplayed(ais)
    service.set_shape_visibility("part", True)
    service.select_shapes(["part"])
    assert scene.context.IsSelected(ais)
    service.fit_all()
    scene.context.MoveTo(200, 150, scene.view, True)  # hover highlight
    assert scene.context.HasDetected() and scene.context.DetectedInteractive() is ais
    assert service.pick(200, 150) == "part"
    # Displayed again, plain, under the same identifier: the coloured one leaves.
    service.display_shape(box, "part")
    plain = service.get_shape_info("part").ais_shape
    assert type(plain) is AIS_Shape and list_displayed(scene) == [plain]
    service.display_shape(box, "part", sub_colors=[(box, RED)])
    service.erase_shape("part")
    assert list_displayed(scene) == [] and service._ais_to_id == {}
    assert errors.records == []


class TestErase:
    def test_erase_shape_removes_from_screen_and_maps(self, recorded, scene, make_box):
        service, context = recorded.service, recorded.context
        service.display_shape(make_box(), "a")
        service.display_shape(make_box(), "b")
        ais = service.get_shape_info("a").ais_shape
        service.erase_shape("a", update=False)
        assert ("Remove", (ais, False)) in context.calls
        assert not scene.context.IsDisplayed(ais)
        assert list(service.get_all_shapes()) == ["b"] and ais not in service._ais_to_id

    def test_erase_all_clears_everything_including_host_objects(self, recorded, scene, make_box):
        service, context = recorded.service, recorded.context
        shapes = service._shapes
        service.erase_all()  # an empty registry still clears the context
        assert context.calls == [("RemoveAll", (True,))]
        service.display_shape(make_box(), "a")
        host_own = AIS_Shape(make_box())
        scene.context.Display(host_own, False)
        service.erase_all()
        assert context.calls[-1] == ("RemoveAll", (True,))
        assert not scene.context.IsDisplayed(host_own)
        assert service._shapes is shapes and shapes == {} and service._ais_to_id == {}

    def test_failed_remove_keeps_the_entry(self, recorded, make_box, errors):
        service, context = recorded.service, recorded.context
        service.display_shape(make_box(), "a")
        context.raises["Remove"] = RuntimeError("busy")
        context.raises["RemoveAll"] = RuntimeError("busy")
        service.erase_shape("a")
        service.erase_all()
        assert list(service.get_all_shapes()) == ["a"] and len(service._ais_to_id) == 1
        assert [r.msg for r in errors.records] == ["Error erasing shape: %s", "Error erasing all shapes: %s"]


class TestQueries:
    def test_get_all_shapes_is_a_shallow_copy(self, service, make_box):
        service.display_shape(make_box(), "a")
        copy = service.get_all_shapes()
        del copy["a"]
        assert service.get_shape_count() == 1
        service.get_all_shapes()["a"].visible = False
        assert service.get_shape_info("a").visible is False

    def test_update_shape_redisplays_any_presentation(self, recorded, make_box):
        service, context = recorded.service, recorded.context
        stranger = AIS_Shape(make_box())
        service.update_shape(stranger, False)
        assert context.calls == [("Redisplay", (stranger, False))]
        assert service.get_shape_count() == 0


class TestBadInput:
    """Bad input never escapes a guarded operation: one error record, registry untouched."""

    @pytest.mark.parametrize(
        "shape, color",
        [
            ("box", (1.0, 0.0)),
            ("box", (1.0, 0.0, 0.0, 1.0)),
            ("box", "red"),
            ("box", 5),
            ("box", (2.0, 0.0, 0.0)),
            ("box", (None, 0.0, 0.0)),
            (None, None),
            ("a string", None),
            (42, None),
            ("null", None),
        ],
    )
    def test_display_logs_and_changes_nothing(self, service, scene, make_box, errors, shape, color):
        service.display_shape(make_box(), "kept")
        before = service.get_all_shapes(), dict(service._ais_to_id)
        objects_before = scene.context.NbCurrents(), len(list_displayed(scene))
        actual = {"box": make_box(), "null": TopoDS_Shape()}.get(shape, shape)
        assert service.display_shape(actual, "new", color) is None
        assert (service.get_all_shapes(), dict(service._ais_to_id)) == before
        assert (scene.context.NbCurrents(), len(list_displayed(scene))) == objects_before
        errors.one_error(DISPLAY_ERROR)

    @pytest.mark.parametrize("shape, sub_colors, error", [
        ("box", lambda box, other: [(faces(other)[0], RED)], ValueError),
        ("box", lambda box, other: [(faces(box)[0], RED), faces(box)[1]], TypeError),
        ("box", lambda box, other: [(faces(box)[0],)], TypeError),
        ("box", lambda box, other: [(faces(box)[0], RED, RED)], TypeError),
        ("box", lambda box, other: [itertools.repeat(faces(box)[0])], TypeError),
        ("box", lambda box, other: [("face", RED)], TypeError),
        ("box", lambda box, other: [(TopoDS_Shape(), RED)], ValueError),
        ("box", lambda box, other: [(faces(box)[0], (1.0, 0.0))], ValueError),
        ("box", lambda box, other: [(faces(box)[0], None)], TypeError),
        ("box", lambda box, other: 5, TypeError),
        ("box", lambda box, other: itertools.repeat((box, RED)), ValueError),
        ("null", lambda box, other: [(box, RED)], ValueError),
        ("no shape", lambda box, other: [(box, RED)], TypeError),
    ], ids=["foreign face", "no pair", "short pair", "long pair", "endless pair", "no shape",
            "null sub-shape", "bad colour", "no colour", "no iterable", "endless",
            "null shape", "shape no shape"])
    def test_a_wrong_sub_colour_refuses_the_whole_display(self, service, scene, make_box, errors,
                                                          shape, sub_colors, error):
        box, other = make_box(), make_box()
        service.display_shape(make_box(), "kept")
        before = service.get_all_shapes(), dict(service._ais_to_id)
        shape = {"box": box, "null": TopoDS_Shape(), "no shape": "box"}[shape]
        assert service.display_shape(shape, "kept", BLUE, True, sub_colors(box, other)) is None
        assert isinstance(errors.one_error(DISPLAY_ERROR), error)
        assert (service.get_all_shapes(), dict(service._ais_to_id)) == before
        assert list_displayed(scene) == [before[0]["kept"].ais_shape]

    def test_sub_shapes_named_again_take_their_last_colour_and_an_endless_listing_ends(
            self, service, make_box, errors):
        box, pulled = make_box(), []

        def own_colour(ais, sub_shape):
            aspects = ais.CustomAspects(sub_shape)
            if sub_shape.ShapeType() == TopAbs_FACE:
                return rgb(aspects.ShadingAspect().Color())
            return rgb(aspects.WireAspect().Aspect().Color())

        # A box's 12 edges as TopExp_Explorer meets them, each twice, coloured by visit;
        # its faces with the first recoloured.
        palette = [RED, BLUE, (0.0, 1.0, 0.0)]
        edge_pairs = [(edge, palette[n % 3]) for n, edge in enumerate(explored(box, TopAbs_EDGE))]
        face_pairs = [(face, RED) for face in faces(box)] + [(faces(box)[0], BLUE)]
        assert len(edge_pairs) == 24
        for listing in edge_pairs, face_pairs:
            assert service.display_shape(box, "box", sub_colors=listing) == "box"
            ais = service.get_shape_info("box").ais_shape
            for sub_shape, _ in listing:
                last = [colour for other, colour in listing if other.IsSame(sub_shape)][-1]
                assert own_colour(ais, sub_shape) == pytest.approx(last)
        assert errors.records == []

        def pairs(listing, count):
            for n in range(count):
                pulled.append(n)
                yield listing[n % len(listing)]

        # Read once, and an endless listing ends: at twice the 24 edges the explorer meets.
        assert service.display_shape(box, "once", sub_colors=pairs(face_pairs, 6)) == "once"
        assert len(pulled) == 6
        del pulled[:]
        assert service.display_shape(box, "endless", sub_colors=pairs(edge_pairs, 10 ** 9)) is None
        assert len(pulled) == 2 * 24 + 1
        errors.one_error(DISPLAY_ERROR)

    def test_unhashable_identifier_is_refused_before_display(self, service, scene, make_box, errors):
        assert service.display_shape(make_box(), ["not", "hashable"]) is None
        assert len(list_displayed(scene)) == 0 and service.get_shape_count() == 0
        assert len(errors.records) == 1


def list_displayed(scene):
    found = interactive_list()
    scene.context.DisplayedObjects(found)
    return list(found)


def assert_registry_matches_screen(service, scene):
    """Every record's presentation is in the context, maps back to it, and nothing else is there."""
    assert_consistent(service)
    records = service.get_all_shapes().values()
    assert len(service._ais_to_id) == len(records)
    presentations = [info.ais_shape for info in records]
    found = interactive_list()
    scene.context.ObjectsInside(found)
    assert {id(ais) for ais in found} == {id(ais) for ais in presentations}
    for info in records:
        assert scene.context.IsDisplayed(info.ais_shape) == info.visible


class Skipping(ShapeInfo):
    def __init__(self):
        pass  # never calls the base


# Guarded operations that read the records, each with the template of its error record.
OPERATIONS = {
    "display": (lambda s: s.display_shape(a_box(), "a"), DISPLAY_ERROR),
    "erase": (lambda s: s.erase_shape("a"), "Error erasing shape: %s"),
    "hide": (lambda s: s.set_shape_visibility("a", False), "Error setting shape visibility: %s"),
    "isolate": (lambda s: s.isolate_shapes(["b"]), "Error isolating shapes: %s"),
    "show all": (lambda s: s.show_all_shapes(), "Error showing all shapes: %s"),
    "transparency": (lambda s: s.set_global_transparency(0.6), "Error setting global transparency: %s"),
    "display mode": (lambda s: s.set_display_mode(DisplayMode.BOTH), "Error setting display mode: %s"),
    "kept display mode": (lambda s: s.keep_display_mode(DisplayMode.BOTH), "Error keeping display mode: %s"),
    "selection mode": (lambda s: s.set_selection_mode(TopAbs_FACE), "Error setting selection mode: %s"),
    "select": (lambda s: s.select_shapes(["a"]), "Error selecting shapes: %s"),
    "view state": (lambda s: s.set_view_state(dict(s.get_view_state(), transparency=0.6)),
                   "Error setting view state: %s"),
}


@pytest.mark.parametrize("make", [lambda info: ShapeInfo.__new__(ShapeInfo), lambda info: Skipping()],
                         ids=["new-only", "subclass-skips-init"])
def test_unusable_record_is_an_error_record_never_a_crash(service, make_box, errors, make):
    service.display_shape(make_box(), "a")
    service._shapes["a"] = make(service._shapes["a"])
    for name in ("display", "erase", "hide", "transparency", "display mode", "select"):
        operation, template = OPERATIONS[name]
        errors.clear()
        operation(service)
        assert isinstance(errors.one_error(template), TypeError), name
    with pytest.raises(TypeError):
        service.is_shape_visible("a")


class Fickle:
    """An identifier whose hash works `uses` times, then fails; from its second use on it may call back."""

    def __init__(self, name, uses=1, on_hash=None, error=RuntimeError):
        self.name, self.uses, self.on_hash, self.hashed, self.error = name, uses, on_hash, 0, error

    def __hash__(self):
        self.hashed += 1
        if self.on_hash and self.hashed >= 2:
            self.on_hash()
        if self.hashed > self.uses:
            raise self.error("hashed once too often")
        return hash(self.name)

    def __eq__(self, other):
        return isinstance(other, Fickle) and other.name == self.name


class Calling:
    """A number whose float() first calls `call`."""

    def __init__(self, value, call):
        self.value, self.call = value, call

    def __float__(self):
        self.call()
        return self.value


def calling(call, box):
    """sub_colors pairs whose iterator calls `call` before its one pair."""
    call()
    yield faces(box)[0], RED


class TestRegistryAndScreenAgree:
    """Identifiers, flags and arguments that fail on a later use or call back keep registry
    and screen in step."""

    # An interrupt or exit request is repaired after as an error is, then goes on.
    @pytest.mark.parametrize("error", [RuntimeError, KeyboardInterrupt, SystemExit])
    @pytest.mark.parametrize("operation", ["replace", "erase"])
    def test_identifier_that_fails_on_second_use(self, service, scene, make_box, errors, operation, error):
        key = Fickle("x", uses=10)
        service.display_shape(make_box(), key)
        service.set_shape_visibility(key, False)
        earlier = service.get_shape_info(key).ais_shape
        failing = Fickle("x", uses=1, error=error)
        act = ((lambda: service.display_shape(make_box(), failing)) if operation == "replace"
               else (lambda: service.erase_shape(failing)))
        if issubclass(error, Exception):
            assert act() is None and len(errors.records) == 1
        else:
            with pytest.raises(error):
                act()
            assert errors.records == []
        # The identifier could not be dropped: its presentation came back, hidden as before.
        assert service.get_shape_info(key).ais_shape is earlier and not service.is_shape_visible(key)
        assert_registry_matches_screen(service, scene)

    def test_identifier_calling_back_into_the_service(self, service, scene, make_box, errors):
        service.display_shape(make_box(), "x")
        service.display_shape(make_box(), Fickle("x", uses=10, on_hash=service.erase_all))
        assert_registry_matches_screen(service, scene)
        service.erase_all()

    @pytest.mark.parametrize("way_in", [
        lambda service, box, change: service.display_shape(box, Fickle("y", uses=10, on_hash=change)),
        lambda service, box, change: service.display_shape(box, "y", (Calling(0.5, change), 0.5, 0.5)),
        lambda service, box, change: service.display_shape(box, "y", sub_colors=calling(change, box)),
        lambda service, box, change: service.display_shapes(
            slowly(lambda at: box, 3, pause=0.06), progress=lambda done, total: change()),
    ], ids=["identifier hash", "colour float", "sub_colors iterator", "progress call-back"])
    @pytest.mark.parametrize("change", ["display mode", "kept display mode", "transparency", "view state",
                                        "selection mode"])
    def test_a_look_changed_while_a_display_runs_is_refused(self, service, scene, make_box, errors,
                                                            way_in, change):
        service.display_shape(make_box(), "x")
        (change, template), changes = OPERATIONS[change], []

        def change_once():
            if not changes:
                changes.append(change(service))

        way_in(service, make_box(at=(2.0, 0.0, 0.0)), change_once)
        # Refused: the look every shape was displayed with is the one in force.
        assert changes and errors.one_error(template)
        assert (service._current_display_mode, service._global_transparency) == (DisplayMode.SHADED, 0.0)
        records = service.get_all_shapes().values()
        assert len(records) >= 2 and scene.context.Filters().Size() == 0
        assert all(info.ais_shape.Transparency() == 0.0 for info in records)
        assert not any(info.ais_shape.Attributes().FaceBoundaryDraw() for info in records)
        assert_registry_matches_screen(service, scene)
        service.erase_all()

    def test_record_whose_presentation_the_host_replaced_is_not_forgotten(self, service, scene, make_box, errors):
        service.display_shape(make_box(), "x")
        shown = service.get_shape_info("x").ais_shape
        service.get_shape_info("x").ais_shape = None
        service.erase_shape("x")
        service.display_shape(make_box(), "x")
        assert [r.msg for r in errors.records] == ["Error erasing shape: %s", DISPLAY_ERROR]
        assert service.get_shape_info("x") is not None and scene.context.IsDisplayed(shown)
        service.erase_all()
        assert service._ais_to_id == {} and len(list_displayed(scene)) == 0

    @pytest.mark.parametrize("operation", [
        "hide", "isolate", "show all", "transparency", "display mode", "selection mode", "select"])
    def test_presentation_the_host_put_in_a_record_is_never_used(self, service, scene, make_box, errors,
                                                                 operation):
        service.display_shapes([(make_box(), "a"), (make_box(), "b")])
        service.set_shape_visibility("b", False)
        (operation, template), replaced = OPERATIONS[operation], "b" if operation == "show all" else "a"
        info = service.get_shape_info(replaced)
        own, info.ais_shape = info.ais_shape, AIS_Shape(make_box())
        foreign = info.ais_shape
        operation(service)
        errors.one_error(template)
        # Refused before anything changed: the foreign presentation is untouched and off screen.
        assert not scene.context.IsDisplayed(foreign) and foreign.Transparency() == 0.0
        assert not foreign.Attributes().FaceBoundaryDraw() and scene.context.NbSelected() == 0
        assert (service._global_transparency, service._current_display_mode) == (0.0, DisplayMode.SHADED)
        info.ais_shape = own
        assert_registry_matches_screen(service, scene)
        assert [service.is_shape_visible(key) for key in "ab"] == [True, False]


# --- many shapes at once -------------------------------------------------------

def slowly(make_box, count, pause=0.04):
    """Items that take `pause` seconds each to arrive, with a length when asked."""
    import time

    class Items:
        def __len__(self):
            return count

        def __iter__(self):
            for n in range(count):
                time.sleep(pause)
                yield make_box(at=(2.0 * n, 0.0, 0.0)), f"b{n}"

    return Items()


@pytest.mark.parametrize("update, updates", [(True, 1), (False, 0)])
def test_display_shapes_goes_past_failed_items_and_updates_at_most_once(
        recorded, make_box, errors, update, updates):
    from OCP.AIS import AIS_ColoredShape

    first, second, third = make_box(), make_box(at=(2.0, 0.0, 0.0)), make_box(at=(6.0, 0.0, 0.0))
    # Items that are endless or huge are refused without being walked.
    items = iter([(first, "a"), ("no shape", "x"), (second, "b", (1.0, 0.0, 0.0)), (first,),
                  itertools.repeat(first), range(10 ** 9), iter([first, "y", None, None, None]),
                  [make_box(at=(4.0, 0.0, 0.0)), "c", None],
                  (third, "d", BLUE, [(faces(third)[0], RED)]),
                  (third, "z", None, [(faces(first)[0], RED)])])  # a face of another shape

    shown = recorded.service.display_shapes(items, update)

    assert shown == ["a", "b", "c", "d"] == list(recorded.service.get_all_shapes())
    assert [record.msg for record in errors.records] == [DISPLAY_ERROR] * 6
    assert rgb(recorded.service.get_shape_info("b").ais_shape) == pytest.approx((1.0, 0.0, 0.0))
    assert isinstance(recorded.service.get_shape_info("d").ais_shape, AIS_ColoredShape)
    assert_consistent(recorded.service)
    assert viewer_updates(recorded.context) == updates


def test_display_shapes_reports_progress_sparingly_and_stops_on_false(service, scene, make_box):
    import time

    calls = []

    def progress(done, total):
        calls.append((time.monotonic(), done, total))
        return False if len(calls) == 2 else None

    shown = service.display_shapes(slowly(make_box, 20), progress=progress)

    assert len(calls) == 2 and calls[1][0] - calls[0][0] >= 0.1
    assert [total for _, _, total in calls] == [20, 20]
    assert shown == list(service.get_all_shapes()) and len(shown) == calls[1][1] < 20
    assert len(list_displayed(scene)) == len(shown)
    assert_consistent(service)


def broken_items(make_box):
    yield make_box(), "a"
    raise RuntimeError("the reader gave up")


def refusing_progress(done, total):
    raise RuntimeError("no progress wanted")


@pytest.mark.parametrize("items, progress, shown", [
    (5, None, []),
    ("not callable", "not callable", []),
    (broken_items, None, ["a"]),
    ("slow", refusing_progress, ["b0", "b1"]),
], ids=["items no iterable", "progress no callable", "items raise", "progress raises"])
def test_a_failing_batch_is_one_record_and_keeps_what_it_showed(
        service, make_box, errors, items, progress, shown):
    if items == "slow":
        items = slowly(make_box, 3, pause=0.06)
    elif callable(items):
        items = items(make_box)

    result = service.display_shapes(items, progress=progress)

    errors.one_error("Error displaying shapes: %s")
    assert result == shown == list(service.get_all_shapes())


def interrupting_progress(done, total):
    raise KeyboardInterrupt


@pytest.mark.parametrize("progress", [None, interrupting_progress], ids=["list walk", "progress"])
def test_ctrl_c_stops_a_long_batch_with_its_one_viewer_update(recorded, make_box, progress):
    import signal

    service, box = recorded.service, make_box()
    items = [(box, f"b{n}") for n in range(20000)]
    previous = signal.signal(signal.SIGALRM, signal.default_int_handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(KeyboardInterrupt):
            service.display_shapes(items, progress=progress)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)

    assert 0 < service.get_shape_count() < len(items)
    assert viewer_updates(recorded.context) == 1
    assert_consistent(service)
