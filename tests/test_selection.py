"""Selection by identifier and the reverse lookup, on a real context."""

import pytest

from doubles import Recorder, unordered, viewer_updates
from morvik.enums import ViewDirection
from morvik.services.scenard import Scenard


def show(service, make_box, *shape_ids):
    """Displays one box per identifier; returns {identifier: presentation}."""
    for n, shape_id in enumerate(shape_ids):
        assert service.display_shape(make_box(at=(2.0 * n, 0.0, 0.0)), shape_id) == shape_id
    return {shape_id: service.get_shape_info(shape_id).ais_shape for shape_id in shape_ids}


def selected(context, shapes):
    """The identifiers whose presentations the context holds as selected."""
    return {shape_id for shape_id, ais in shapes.items() if context.IsSelected(ais)}


# --- selecting ---------------------------------------------------------------

@pytest.mark.parametrize(
    "shape_ids, expected",
    [
        (["a", "c"], {"a", "c"}),
        (("b",), {"b"}),
        (["a", "b", "a"], {"b"}),  # each listing toggles: twice is off again
        (["nope", "a", ["unhashable"], None], {"a"}),  # unknown ones are skipped
        ([], set()),
        (iter(["c"]), {"c"}),
    ],
    ids=["two", "one", "duplicate", "unknown", "empty", "iterator"],
)
def test_select_shapes_replaces_the_selection(service, scene, make_box, errors, shape_ids, expected):
    shapes = show(service, make_box, "a", "b", "c")
    service.select_shapes(["a", "b", "c"])

    service.select_shapes(shape_ids)

    assert selected(scene.context, shapes) == expected
    assert errors.records == []


@pytest.mark.parametrize("shape_id, expected", [("b", {"b"}), ("nope", set()), (None, set())])
def test_select_shape_selects_that_one_alone(service, scene, make_box, errors, shape_id, expected):
    shapes = show(service, make_box, "a", "b")
    service.select_shapes(["a"])

    service.select_shape(shape_id)

    assert selected(scene.context, shapes) == expected
    assert errors.records == []


def test_selection_updates_the_viewer_once_for_many_shapes(recorded, make_box):
    shapes = show(recorded.service, make_box, "a", "b", "c", "d")
    recorded.context.calls.clear()

    recorded.service.select_shapes(["d", "x", "b", "a"])

    # Cleared first and drawn last; the shapes added in between in any order.
    calls = recorded.context.calls
    assert calls[0] == ("ClearSelected", (False,)) and calls[-1] == ("UpdateCurrentViewer", ())
    assert unordered(calls[1:-1]) == unordered(
        [("AddOrRemoveSelected", (shapes[name], False)) for name in "dba"])
    assert viewer_updates(recorded.context) == 1


def test_hidden_shape_is_still_handed_to_the_context(recorded, make_box):
    shapes = show(recorded.service, make_box, "a")
    recorded.service.set_shape_visibility("a", False)
    recorded.context.calls.clear()

    recorded.service.select_shapes(["a"])

    assert ("AddOrRemoveSelected", (shapes["a"], False)) in recorded.context.calls
    # The context itself ignores an object it does not display.
    assert not recorded.real.IsSelected(shapes["a"])


@pytest.mark.parametrize("shape_ids", [None, 5], ids=repr)
def test_select_shapes_with_no_sequence_is_logged(service, scene, make_box, errors, shape_ids):
    shapes = show(service, make_box, "a")
    service.select_shapes(["a"])

    assert service.select_shapes(shape_ids) is None

    errors.one_error("Error selecting shapes: %s")
    # The old selection was already dropped when the failure came.
    assert selected(scene.context, shapes) == set()


def test_selection_failure_midway_skips_the_viewer_update(scene, make_box, errors):
    context = Recorder(
        target=scene.context, raises={"AddOrRemoveSelected": RuntimeError("refused")}
    )
    service = Scenard(scene.view, scene.viewer, context)
    show(service, make_box, "a")

    service.select_shape("a")

    # One record, under select_shapes' own message: select_shape adds none.
    assert str(errors.one_error("Error selecting shapes: %s")) == "refused"
    assert context.count("UpdateCurrentViewer") == 0


# --- reverse lookup ------------------------------------------------------------

def test_reverse_lookup_follows_display_and_erase(service, make_box, errors):
    shapes = show(service, make_box, "a", "b", "c")
    assert {service.get_shape_id_for_ais_shape(ais) for ais in shapes.values()} == {"a", "b", "c"}

    service.erase_shape("b")
    assert service.get_shape_id_for_ais_shape(shapes["b"]) is None
    assert service.get_shape_id_for_ais_shape(shapes["a"]) == "a"

    service.erase_all()
    assert [service.get_shape_id_for_ais_shape(ais) for ais in shapes.values()] == [None] * 3
    assert errors.records == []


def test_reverse_lookup_of_what_the_context_reports_selected(service, scene, make_box):
    show(service, make_box, "a", "b")
    service.select_shape("b")

    scene.context.InitSelected()
    assert service.get_shape_id_for_ais_shape(scene.context.SelectedInteractive()) == "b"


@pytest.mark.parametrize(
    "ais", [None, "a", 0, ["unhashable"], {"a": 1}], ids=["none", "identifier", "int", "list", "dict"]
)
def test_reverse_lookup_of_anything_else_is_none(service, make_box, errors, ais):
    show(service, make_box, "a")
    assert service.get_shape_id_for_ais_shape(ais) is None
    assert errors.records == []


def test_reverse_lookup_of_a_presentation_never_displayed_through_the_service(service, scene, make_box):
    from OCP.AIS import AIS_Shape

    show(service, make_box, "a")
    ais = AIS_Shape(make_box())
    scene.context.Display(ais, False)

    assert service.get_shape_id_for_ais_shape(ais) is None


# --- picking ------------------------------------------------------------------

def test_pick_names_the_shape_under_the_pixel_and_leaves_selection_and_hover(
        service, scene, make_box, errors):
    from OCP.AIS import AIS_Shape

    service.display_shapes([(make_box(), "a"), (make_box(at=(3.0, 0.0, 0.0)), "b"),
                            (make_box(at=(6.0, 0.0, 0.0)), "hidden")])
    own = AIS_Shape(make_box(at=(9.0, 0.0, 0.0)))  # the host's, not the service's
    scene.context.Display(own, False)
    service.set_shape_visibility("hidden", False)
    service.set_projection(ViewDirection.FRONT)
    service.fit_all()
    service.select_shape("b")
    centre = {name: scene.view.Convert(x + 0.5, 0.5, 1.0)
              for name, x in (("a", 0.0), ("b", 3.0), ("hidden", 6.0), ("own", 9.0))}
    shapes = {shape_id: info.ais_shape for shape_id, info in service.get_all_shapes().items()}

    def detected():
        """What the context's detected list holds, in its order."""
        found, context = [], scene.context
        context.InitDetected()
        while context.MoreDetected():
            found.append(service.get_shape_id_for_ais_shape(context.DetectedInteractive()))
            context.NextDetected()
        return found

    assert [service.pick(*centre[name]) for name in ("a", "b", "hidden", "own")] == ["a", "b", None, None]
    assert service.pick(200, 5) is None
    assert selected(scene.context, shapes) == {"b"}
    assert not scene.context.HasDetected()

    scene.context.MoveTo(*centre["a"], scene.view, False)  # the host hovers over a
    assert [service.pick(*centre[name]) for name in ("b", "own")] == ["b", None]
    assert detected() == ["a"] and scene.context.HasDetected()
    assert service.get_shape_id_for_ais_shape(scene.context.DetectedInteractive()) == "a"
    scene.context.HilightNextDetected(scene.view)
    assert detected() == ["a"] and selected(scene.context, shapes) == {"b"}
    assert errors.records == []


@pytest.mark.parametrize("x, y", [(1.5, 2), ("1", 2), (None, None), (2 ** 40, 0)], ids=repr)
def test_pick_at_no_pixel_is_one_error(service, make_box, errors, x, y):
    service.display_shape(make_box(), "a")

    assert service.pick(x, y) is None

    errors.one_error("Error picking: %s")


class ViewLookalike:
    """Forwards everything to a real view, without being one."""

    def __init__(self, view):
        self._view = view

    def __getattr__(self, name):
        return getattr(self._view, name)


@pytest.mark.parametrize("view", ["none", "lookalike", "windowless"])
def test_pick_in_anything_but_a_windowed_view_is_one_error(graphic_driver, scene, errors, view):
    from conftest import make_scene

    view = {"none": lambda: None, "lookalike": lambda: ViewLookalike(scene.view),
            "windowless": lambda: make_scene(graphic_driver, windowed=False).view}[view]()

    assert Scenard(view, scene.viewer, scene.context).pick(5, 5) is None

    errors.one_error("Error picking: %s")
