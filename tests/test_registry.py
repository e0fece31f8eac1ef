"""The shape registry: display, erase, update and the registry queries."""

import pytest

from conftest import interactive_list
from doubles import Recorder
from morvik.enums import DisplayMode
from morvik.services.scenard import Scenard, ShapeInfo
from OCP.AIS import AIS_Shape
from OCP.Quantity import Quantity_Color
from OCP.TopoDS import TopoDS_Shape

DISPLAY_ERROR = "Error displaying shape: %s"


def rgb_of(ais):
    color = Quantity_Color()
    ais.Color(color)
    return (color.Red(), color.Green(), color.Blue())


def assert_consistent(service):
    """Every record is keyed by its own identifier and its presentation maps back to it."""
    for shape_id, info in service._shapes.items():
        assert info.shape_id == shape_id
        assert service._ais_to_id[info.ais_shape] == shape_id


@pytest.fixture
def recorded(scene):
    """A service whose context records every call and forwards it to a real context."""
    context = Recorder(scene.context)
    return Scenard(scene.view, scene.viewer, context), context


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

    def test_accessors_hand_back_the_host_objects(self, service, scene):
        assert service.get_view() is scene.view
        assert service.get_viewer() is scene.viewer
        assert service.get_context() is scene.context

    def test_wrong_number_of_arguments_is_rejected(self, service, make_box):
        with pytest.raises(TypeError):
            service.display_shape(make_box())
        with pytest.raises(TypeError):
            service.erase_all(True)
        with pytest.raises(TypeError):
            Scenard(None, None)


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
    def test_colour_is_applied_and_kept_as_given(self, service, make_box, color):
        service.display_shape(make_box(), "box", color)
        info = service.get_shape_info("box")
        assert info.color is color
        assert info.ais_shape.HasColor()
        assert rgb_of(info.ais_shape) == pytest.approx(tuple(float(c) for c in color))

    def test_empty_colour_counts_as_none(self, service, make_box):
        empty = ()
        service.display_shape(make_box(), "box", empty)
        info = service.get_shape_info("box")
        assert info.color is empty and not info.ais_shape.HasColor()

    def test_global_transparency_reaches_new_shapes(self, service, make_box):
        service.display_shape(make_box(), "opaque")
        assert service.get_shape_info("opaque").ais_shape.Transparency() == 0.0
        service._global_transparency = 0.5
        service.display_shape(make_box(), "glass")
        assert service.get_shape_info("glass").ais_shape.Transparency() == pytest.approx(0.5)

    def test_both_mode_draws_black_face_boundaries(self, recorded, scene, make_box):
        service, context = recorded
        service._current_display_mode = DisplayMode.BOTH
        service.display_shape(make_box(), "box", update=False)
        ais = service.get_shape_info("box").ais_shape
        assert context.calls == [("Display", (ais, False)), ("Redisplay", (ais, False))]
        drawer = ais.Attributes()
        assert drawer.FaceBoundaryDraw()
        aspect = drawer.FaceBoundaryAspect().Aspect()
        assert (aspect.Color().Red(), aspect.Color().Green(), aspect.Color().Blue()) == (0, 0, 0)
        assert aspect.Type() == 0 and aspect.Width() == 1.0  # Aspect_TOL_SOLID

    @pytest.mark.parametrize("mode", [DisplayMode.SHADED, DisplayMode.WIREFRAME])
    def test_other_modes_leave_boundaries_alone(self, recorded, make_box, mode):
        service, context = recorded
        service._current_display_mode = mode
        service.display_shape(make_box(), "box")
        ais = service.get_shape_info("box").ais_shape
        assert context.calls == [("Display", (ais, True))]
        assert not ais.Attributes().FaceBoundaryDraw()

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
        service, context = recorded
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

    def test_failure_after_the_removal_unregisters_the_identifier(self, scene, make_box, errors):
        context = Recorder(scene.context)
        service = Scenard(scene.view, scene.viewer, context)
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

    def test_failure_after_display_takes_the_new_presentation_back(self, scene, make_box):
        context = Recorder(scene.context, raises={"Redisplay": RuntimeError("no")})
        service = Scenard(scene.view, scene.viewer, context)
        service._current_display_mode = DisplayMode.BOTH
        assert service.display_shape(make_box(), "part") is None
        assert service.get_shape_count() == 0 and service._ais_to_id == {}
        displayed = [args[0] for name, args in context.calls if name == "Display"]
        assert not scene.context.IsDisplayed(displayed[0])


class TestErase:
    def test_erase_shape_removes_from_screen_and_maps(self, recorded, scene, make_box):
        service, context = recorded
        service.display_shape(make_box(), "a")
        service.display_shape(make_box(), "b")
        ais = service.get_shape_info("a").ais_shape
        service.erase_shape("a", update=False)
        assert ("Remove", (ais, False)) in context.calls
        assert not scene.context.IsDisplayed(ais)
        assert list(service._shapes) == ["b"] and ais not in service._ais_to_id

    def test_erase_all_clears_everything_including_host_objects(self, recorded, scene, make_box):
        service, context = recorded
        shapes = service._shapes
        service.display_shape(make_box(), "a")
        host_own = AIS_Shape(make_box())
        scene.context.Display(host_own, False)
        service.erase_all()
        assert context.calls[-1] == ("RemoveAll", (True,))
        assert not scene.context.IsDisplayed(host_own)
        assert service._shapes is shapes and shapes == {} and service._ais_to_id == {}

    def test_erase_all_on_empty_registry_still_clears_the_context(self, recorded):
        service, context = recorded
        service.erase_all()
        assert context.calls == [("RemoveAll", (True,))]

    def test_failed_remove_keeps_the_entry(self, scene, make_box, errors):
        context = Recorder(scene.context)
        service = Scenard(scene.view, scene.viewer, context)
        service.display_shape(make_box(), "a")
        context.raises["Remove"] = RuntimeError("busy")
        context.raises["RemoveAll"] = RuntimeError("busy")
        service.erase_shape("a")
        service.erase_all()
        assert list(service._shapes) == ["a"] and len(service._ais_to_id) == 1
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
        service, context = recorded
        stranger = AIS_Shape(make_box())
        service.update_shape(stranger, False)
        assert context.calls == [("Redisplay", (stranger, False))]
        assert service.get_shape_count() == 0

    def test_shape_info_is_a_plain_shared_record(self):
        color = [0.1, 0.2, 0.3]
        info = ShapeInfo("id", None, color)
        assert (info.shape_id, info.ais_shape, info.color, info.visible) == ("id", None, color, True)
        assert info.color is color
        info.visible = False
        assert info.visible is False
        assert "shape_id='id'" in repr(info)


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
        before = dict(service._shapes), dict(service._ais_to_id)
        objects_before = scene.context.NbCurrents(), len(list_displayed(scene))
        actual = {"box": make_box(), "null": TopoDS_Shape()}.get(shape, shape)
        assert service.display_shape(actual, "new", color) is None
        assert (dict(service._shapes), dict(service._ais_to_id)) == before
        assert (scene.context.NbCurrents(), len(list_displayed(scene))) == objects_before
        (record,) = errors.records
        assert record.levelname == "ERROR" and record.msg == DISPLAY_ERROR
        assert record.exc_info is not None and record.exc_info[1] is record.args[0]

    def test_unhashable_identifier_is_refused_before_display(self, service, scene, make_box, errors):
        assert service.display_shape(make_box(), ["not", "hashable"]) is None
        assert len(list_displayed(scene)) == 0 and service.get_shape_count() == 0
        assert len(errors.records) == 1


def list_displayed(scene):
    found = interactive_list()
    scene.context.DisplayedObjects(found)
    return list(found)
