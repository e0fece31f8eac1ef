"""Shape appearance on a real context: colour, visibility, transparency, display mode."""

import array
import collections.abc
from fractions import Fraction

import numpy
import pytest
from OCP.AIS import AIS_Shape

from doubles import Incomparable, Recorder, unordered, viewer_updates
from morvik.enums import DisplayMode
from morvik.services.scenard import Scenard
from pictures import rgb

NAN = float("nan")
INF = float("inf")


def show(service, make_box, *shape_ids, color=None):
    """Displays one box per identifier; returns their presentations."""
    for n, shape_id in enumerate(shape_ids):
        assert service.display_shape(make_box(at=(2.0 * n, 0.0, 0.0)), shape_id, color) == shape_id
    return [service.get_shape_info(shape_id).ais_shape for shape_id in shape_ids]


# --- colour ------------------------------------------------------------------

@pytest.mark.parametrize("registered", [True, False])
def test_recoloured_shape_shows_new_colour_and_record_keeps_display_colour(
        service, scene, make_box, errors, registered):
    if registered:
        (ais,) = show(service, make_box, "a", color=RED)
    else:  # a presentation the service never registered takes a colour all the same
        ais = AIS_Shape(make_box())
        scene.context.Display(ais, False)

    service.set_shape_color(ais, (0.2, 0.4, 0.6))

    assert rgb(ais) == pytest.approx((0.2, 0.4, 0.6), abs=1e-6)
    assert [info.color for info in service.get_all_shapes().values()] == [RED] * registered
    assert errors.records == []


@pytest.mark.parametrize("update", [True, False])
def test_colour_update_flag_decides_the_redisplay(recorded, make_box, update):
    (ais,) = show(recorded.service, make_box, "a")
    recorded.context.calls.clear()

    recorded.service.set_shape_color(ais, (0.0, 1.0, 0.0), update=update)

    assert rgb(ais) == pytest.approx((0.0, 1.0, 0.0))
    assert recorded.context.calls == ([("Redisplay", (ais, True))] if update else [])


@pytest.mark.parametrize("target, color", [
    *(("a", color) for color in [(0.1, 0.2), (0.1, 0.2, 0.3, 0.4), (), None, "red", 0.5, ("a", "b", "c"),
                                 (1.5, 0.0, 0.0), (-0.1, 0.0, 0.0), (NAN, 0.0, 0.0), (0.0, INF, 0.0)]),
    *((ais, (0.0, 0.0, 0.0)) for ais in [None, "a string", 42]),  # no presentation at all
], ids=repr)
def test_malformed_colour_is_logged_and_changes_nothing(recorded, make_box, errors, target, color):
    (ais,) = show(recorded.service, make_box, "a", color=(1.0, 1.0, 0.0))
    recorded.context.calls.clear()

    assert recorded.service.set_shape_color(ais if target == "a" else target, color) is None

    errors.one_error("Error setting shape color: %s")
    assert rgb(ais) == pytest.approx((1.0, 1.0, 0.0))
    assert recorded.context.calls == []


# --- visibility --------------------------------------------------------------

def test_hide_and_show_keep_context_and_registry_in_step(service, scene, make_box, errors):
    ais, other = show(service, make_box, "a", "b")

    service.set_shape_visibility("a", False)
    assert scene.context.IsDisplayed(ais) is False
    assert service.is_shape_visible("a") is False
    assert scene.context.IsDisplayed(other) and service.is_shape_visible("b") is True
    # Hiding keeps the shape registered.
    assert service.get_shape_count() == 2
    assert service.get_shape_id_for_ais_shape(ais) == "a"

    service.set_shape_visibility("a", True)
    assert scene.context.IsDisplayed(ais) is True
    assert service.is_shape_visible("a") is True
    assert errors.records == []


@pytest.mark.parametrize(
    "visible, stored", [(0, False), ("", False), (None, False), (1, True), ("yes", True)]
)
def test_visibility_flag_is_stored_as_a_bool(service, make_box, visible, stored):
    show(service, make_box, "a")
    if stored:
        service.set_shape_visibility("a", False)

    service.set_shape_visibility("a", visible)

    assert service.get_shape_info("a").visible is stored


@pytest.mark.parametrize("update", [True, False])
def test_visibility_passes_the_update_flag_to_the_context(recorded, make_box, update):
    (ais,) = show(recorded.service, make_box, "a")
    recorded.context.calls.clear()

    recorded.service.set_shape_visibility("a", False, update)
    recorded.service.set_shape_visibility("a", True, update)

    assert recorded.context.calls == [("Erase", (ais, update)), ("Display", (ais, update))]
    assert viewer_updates(recorded.context) == (2 if update else 0)


@pytest.mark.parametrize("visible", [True, False])
def test_visibility_already_as_asked_makes_no_call(recorded, make_box, visible):
    show(recorded.service, make_box, "a")
    if not visible:
        recorded.service.set_shape_visibility("a", False)
    recorded.context.calls.clear()

    recorded.service.set_shape_visibility("a", visible, True)

    assert recorded.context.calls == []
    assert recorded.service.is_shape_visible("a") is visible


@pytest.mark.parametrize("shape_id", ["unknown", None, 7, ["a"]], ids=repr)
def test_unknown_identifier_is_no_failure(recorded, make_box, errors, shape_id):
    show(recorded.service, make_box, "a")
    recorded.context.calls.clear()

    recorded.service.set_shape_visibility(shape_id, False)

    assert recorded.service.is_shape_visible(shape_id) is False
    assert recorded.context.calls == []
    assert errors.records == []


@pytest.mark.parametrize("failure", ["context", "update flag"])
def test_failed_hide_leaves_the_shape_recorded_as_visible(recorded, make_box, errors, failure):
    service, context = recorded.service, recorded.context
    (ais,) = show(service, make_box, "a")
    update = True
    if failure == "context":
        context.raises["Erase"] = RuntimeError("no erase")
    else:
        update = Refusing()  # its truth value is read before the context is called

    service.set_shape_visibility("a", False, update)

    errors.one_error("Error setting shape visibility: %s")
    assert service.is_shape_visible("a") is True and recorded.real.IsDisplayed(ais)


# --- transparency ------------------------------------------------------------

def test_transparency_reaches_hidden_shapes_and_later_ones(service, make_box, errors):
    shown, hidden = show(service, make_box, "shown", "hidden")
    service.set_shape_visibility("hidden", False)

    service.set_global_transparency(0.4)

    assert shown.Transparency() == pytest.approx(0.4)
    assert hidden.Transparency() == pytest.approx(0.4)
    (later,) = show(service, make_box, "later")
    assert later.Transparency() == pytest.approx(0.4)
    assert errors.records == []


@pytest.mark.parametrize("unordered", [False, True], ids=["service's blending", "unordered blending"])
def test_overlapping_transparent_parts_look_alike_in_either_display_order(
        graphic_driver, make_box, unordered):
    from OCP.Graphic3d import Graphic3d_RenderTransparentMethod

    from conftest import make_scene
    from morvik.enums import ViewDirection
    from pictures import view_pixels

    parts = {"red": (make_box(2.0, 2.0, 1.0), "red", (1.0, 0.0, 0.0)),
             "blue": (make_box(2.0, 2.0, 1.0, at=(1.0, 1.0, 2.0)), "blue", (0.0, 0.0, 1.0))}

    def picture(order):
        scene = make_scene(graphic_driver)
        service = Scenard(scene.view, scene.viewer, scene.context)
        service.set_background_color((0.0, 0.0, 0.0))
        service.set_display_mode(DisplayMode.SHADED)
        service.set_global_transparency(0.5)
        if unordered:
            scene.view.ChangeRenderingParams().TransparencyMethod = (
                Graphic3d_RenderTransparentMethod.Graphic3d_RTM_BLEND_UNORDERED)
        service.display_shapes([parts[name] for name in order])
        service.set_projection(ViewDirection.ISO)
        service.fit_all()
        return view_pixels(scene.view)

    difference = abs(picture(["red", "blue"]) - picture(["blue", "red"]))

    # Unordered blending draws the overlap red-over-blue or blue-over-red.
    assert (difference.max() > 50) == unordered
    assert difference.max() <= 2 or unordered


@pytest.mark.parametrize("count, update, calls", [
    (3, True, [("UpdateCurrentViewer", ())]),
    (2, False, []),
    (0, True, [("UpdateCurrentViewer", ())]),
], ids=["many shapes", "no update", "empty registry"])
def test_transparency_changes_presentations_in_place_and_updates_at_most_once(
        recorded, make_box, count, update, calls):
    shapes = show(recorded.service, make_box, *"abc"[:count])
    recorded.context.calls.clear()

    recorded.service.set_global_transparency(0.25, update=update)

    # The presentations change in place: nothing is computed again.
    assert recorded.context.calls == calls
    assert [ais.Transparency() for ais in shapes] == pytest.approx([0.25] * count)
    assert recorded.service._global_transparency == 0.25


class FloatOnly:
    """A number by __float__ alone: no ordering, no arithmetic."""

    def __float__(self):
        return 0.5


@pytest.mark.parametrize("value", [0, 1, 0.0, 1.0, 0.75, Fraction(1, 2), FloatOnly()], ids=repr)
def test_transparency_within_range_is_kept_as_a_float(service, make_box, errors, value):
    service.set_global_transparency(value)
    assert type(service._global_transparency) is float
    assert service._global_transparency == float(value)
    (later,) = show(service, make_box, "later")
    assert later.Transparency() == pytest.approx(float(value))
    assert errors.records == []


@pytest.mark.parametrize(
    "value",
    [-0.1, 1.5, 2, NAN, INF, -INF, "0.5", None, True, False, [0.5], 0.5j],
    ids=repr,
)
def test_transparency_that_is_no_amount_is_refused_and_changes_nothing(
    recorded, make_box, errors, value
):
    recorded.service.set_global_transparency(0.3)
    (ais,) = show(recorded.service, make_box, "a")
    recorded.context.calls.clear()

    recorded.service.set_global_transparency(value)

    errors.one_error("Error setting global transparency: %s")
    assert recorded.service._global_transparency == 0.3
    assert ais.Transparency() == pytest.approx(0.3)
    assert recorded.context.calls == []

    # Shapes displayed afterwards still appear, with the kept value.
    errors.clear()
    (later,) = show(recorded.service, make_box, "later")
    assert recorded.real.IsDisplayed(later)
    assert later.Transparency() == pytest.approx(0.3)
    assert errors.records == []


def stand_in(service, shape_id, double):
    """Puts `double` where the service keeps shape_id's presentation, as if it had displayed it."""
    info = service.get_shape_info(shape_id)
    info.ais_shape = double
    service._ais_to_id[double] = info.shape_id
    return info


def test_transparency_failure_midway_keeps_what_was_done(recorded, make_box, errors):
    first, _second = show(recorded.service, make_box, "first", "second")
    stand_in(recorded.service, "second", Recorder(raises={"SetTransparency": RuntimeError("refused")}))
    recorded.context.calls.clear()

    recorded.service.set_global_transparency(0.6)

    errors.one_error("Error setting global transparency: %s")
    assert first.Transparency() == pytest.approx(0.6)
    assert recorded.service._global_transparency == 0.6
    assert recorded.context.count("UpdateCurrentViewer") == 0


@pytest.mark.parametrize("walk", ["transparency", "display mode"])
def test_registry_changing_during_a_bulk_walk_does_not_derail_it(recorded, make_box, errors, walk):
    # The walk covers the shapes registered when it began, even if the
    # registry changes under it.
    service, context = recorded.service, recorded.context
    shapes = show(service, make_box, "a", "b", "c")
    def erase_c(*args):
        return service.erase_shape("c", False)
    if walk == "transparency":
        first = stand_in(service, "a", Recorder(target=shapes[0], returns={
            "SetTransparency": lambda amount: (erase_c(), shapes[0].SetTransparency(amount))}))
        service.set_global_transparency(0.2)
        first.ais_shape = shapes[0]
        assert [ais.Transparency() for ais in shapes] == pytest.approx([0.2] * 3)
    else:
        context.returns["Update"] = erase_c
        service.set_display_mode(DisplayMode.BOTH)
        assert [ais.Attributes().FaceBoundaryDraw() for ais in shapes] == [True] * 3

    assert service.get_shape_count() == 2
    assert context.count("UpdateCurrentViewer") == 1
    assert errors.records == []


# --- display mode ------------------------------------------------------------

@pytest.mark.parametrize(
    "mode, context_mode, boundaries",
    [
        (DisplayMode.WIREFRAME, 0, False),
        (DisplayMode.SHADED, 1, False),
        (DisplayMode.BOTH, 1, True),
        ("both", 1, False),  # a value string is no member
        (None, 1, False),
    ],
    ids=repr,
)
def test_display_mode_reaches_context_and_every_shape(
    service, scene, make_box, errors, mode, context_mode, boundaries
):
    shapes = show(service, make_box, "shown", "hidden")
    service.set_shape_visibility("hidden", False)

    service.set_display_mode(mode)

    assert service._current_display_mode is mode
    assert scene.context.DisplayMode() == context_mode
    assert [ais.Attributes().FaceBoundaryDraw() for ais in shapes] == [boundaries] * 2
    # A shape displayed later follows the mode in force.
    (later,) = show(service, make_box, "later")
    assert later.Attributes().FaceBoundaryDraw() is boundaries
    assert errors.records == []
    # Queried as it draws: a value string is no member, and draws shaded.
    assert service.get_display_mode() is (mode if isinstance(mode, DisplayMode)
                                          else DisplayMode.SHADED)


def test_the_look_in_force_is_kept_and_queried_without_touching_the_shapes_shown(
    service, make_box, errors
):
    assert (service.get_display_mode(), service.get_global_transparency()) == (
        DisplayMode.SHADED, 0.0)
    service.set_global_transparency(0.25)
    (shown,) = show(service, make_box, "shown")

    service.keep_display_mode(DisplayMode.BOTH)

    assert (service.get_display_mode(), service.get_global_transparency()) == (
        DisplayMode.BOTH, 0.25)
    assert not shown.Attributes().FaceBoundaryDraw()  # the host switches it itself
    (later,) = show(service, make_box, "later")
    assert later.Attributes().FaceBoundaryDraw()
    assert errors.records == []
    # A record the host spoilt: one error record, and no answer.
    service._global_transparency = "opaque"
    assert service.get_global_transparency() is None
    assert [record.msg for record in errors.records] == ["Error getting global transparency: %s"]


def test_leaving_both_turns_boundaries_off_and_keeps_the_black_aspect(service, scene, make_box):
    shapes = show(service, make_box, "a", "b")
    service.set_display_mode(DisplayMode.BOTH)

    service.set_display_mode(DisplayMode.WIREFRAME)

    assert scene.context.DisplayMode() == 0
    for ais in shapes:
        drawer = ais.Attributes()
        assert drawer.FaceBoundaryDraw() is False
        assert drawer.HasOwnFaceBoundaryAspect()
        line = drawer.FaceBoundaryAspect().Aspect()
        color = line.Color()
        assert (color.Red(), color.Green(), color.Blue()) == (0.0, 0.0, 0.0)
        assert line.Width() == 1.0


def test_display_mode_updates_the_viewer_once_for_many_shapes(recorded, make_box):
    shapes = show(recorded.service, make_box, "a", "b", "c")
    recorded.context.calls.clear()

    recorded.service.set_display_mode(DisplayMode.BOTH)
    # Only the shapes whose face boundaries change are updated (their shaded
    # presentation alone), and never their selection.
    recorded.service.set_display_mode(DisplayMode.BOTH)

    # Each change drawn after it is made; the shapes updated in any order.
    calls = recorded.context.calls
    assert calls[0] == ("SetDisplayMode", (1, False))
    assert unordered(calls[1:-3]) == unordered([("Update", (ais, False)) for ais in shapes])
    assert calls[-3:] == [("UpdateCurrentViewer", ()), ("SetDisplayMode", (1, False)),
                          ("UpdateCurrentViewer", ())]
    assert viewer_updates(recorded.context) == 2


def test_display_mode_on_an_empty_registry(recorded):
    recorded.service.set_display_mode(DisplayMode.WIREFRAME)
    assert recorded.context.calls == [("SetDisplayMode", (0, False)), ("UpdateCurrentViewer", ())]


class Refusing:
    def __bool__(self):
        raise RuntimeError("no truth value")


@pytest.mark.parametrize("failure", ["context", "comparison"])
def test_display_mode_failure_is_logged_and_the_mode_kept(recorded, errors, failure):
    service, context = recorded.service, recorded.context
    context.raises["SetDisplayMode"] = RuntimeError("refused")
    mode = DisplayMode.WIREFRAME if failure == "context" else Incomparable()

    service.set_display_mode(mode)

    errors.one_error("Error setting display mode: %s")
    assert service._current_display_mode is mode
    assert context.count("UpdateCurrentViewer") == 0


def test_look_switches_draw_what_recomputing_everything_draws(graphic_driver, make_box, errors):
    """The service changes only what a switch needs; a scene whose every presentation and
    selection is computed afresh after each switch must look and pick the same."""
    from OCP.AIS import AIS_ColoredShape

    from conftest import make_scene
    from morvik.enums import ViewDirection
    from pictures import view_pixels
    from test_registry import faces

    sides = []
    for _ in range(2):
        scene = make_scene(graphic_driver)
        service = Scenard(scene.view, scene.viewer, scene.context)
        service.set_background_color((1.0, 1.0, 1.0))
        service.set_display_mode(DisplayMode.SHADED)
        coloured = make_box(at=(2.0, 0.0, 0.0))
        service.display_shapes([
            (make_box(), "plain", (0.2, 0.5, 0.9)),
            (coloured, "faces", (0.9, 0.9, 0.2), [(faces(coloured)[3], (1.0, 0.0, 0.0))]),
            (make_box(at=(4.0, 0.0, 0.0)), "bare"),
            (make_box(at=(6.0, 0.0, 0.0)), "hidden", (0.0, 0.6, 0.0))])
        service.set_shape_visibility("hidden", False)
        service.set_projection(ViewDirection.ISO)
        service.fit_all()
        sides.append((scene, service))
    (scene, service), (fresh_scene, fresh) = sides
    assert isinstance(service.get_shape_info("faces").ais_shape, AIS_ColoredShape)

    def recompute_everything():
        for info in fresh.get_all_shapes().values():
            fresh_scene.context.Redisplay(info.ais_shape, False, True)
        fresh_scene.context.UpdateCurrentViewer()

    def picked(side):
        return [side.pick(x, y) for y in range(0, 300, 20) for x in range(0, 400, 20)]

    steps = [DisplayMode.BOTH, 0.5, DisplayMode.WIREFRAME, DisplayMode.BOTH, DisplayMode.SHADED, 0.0,
             DisplayMode.WIREFRAME, DisplayMode.SHADED, 0.3, DisplayMode.BOTH, "show hidden"]
    for step in steps:
        for side in (service, fresh):
            if step == "show hidden":
                side.set_shape_visibility("hidden", True)
            elif isinstance(step, float):
                side.set_global_transparency(step)
            else:
                side.set_display_mode(step)
        recompute_everything()
        difference = abs(view_pixels(scene.view) - view_pixels(fresh_scene.view))
        assert difference.max() == 0, (step, int((difference > 0).sum()))
        ids = picked(service)
        assert ids == picked(fresh), step
        assert {"plain", "faces", "bare"} <= set(ids), step
    assert errors.records == []


# --- sub-shape colours ---------------------------------------------------------

RED, BLUE, GREEN, YELLOW = (1.0, 0.0, 0.0), (0.0, 0.0, 1.0), (0.0, 1.0, 0.0), (1.0, 1.0, 0.0)


def front_and_back(service, scene):
    """The pixel at the middle of the view, seen from the front (+Z) and from the back."""
    from morvik.enums import ViewDirection
    from pictures import view_pixels

    seen = []
    for direction in (ViewDirection.FRONT, ViewDirection.BACK):
        service.set_projection(direction)
        service.fit_all()
        pixels = view_pixels(scene.view)
        seen.append((tuple(pixels[150, 200]), int((pixels.max(axis=2) < 60).sum())))
    return seen


def hue_off(pixel, colour):
    from pictures import hue_and_level

    return hue_and_level(pixel, colour)[0]


@pytest.fixture
def lit_service(scene, service):
    """The service over a scene lit as the viewer lights it, so faces seen face-on keep their colour."""
    from morvik_viewer.view.look import light_scene

    light_scene(scene.viewer)
    service.set_background_color((1.0, 1.0, 1.0))
    service.set_display_mode(DisplayMode.SHADED)
    return service


@pytest.mark.parametrize("finer_first", [False, True])
def test_a_face_shows_its_own_colour_and_the_rest_the_base_colour(lit_service, scene, make_box, errors,
                                                                  finer_first):
    from OCP.AIS import AIS_ColoredShape, AIS_Shape
    from OCP.TopAbs import TopAbs_SOLID
    from OCP.TopExp import TopExp_Explorer

    from test_registry import faces

    box = make_box(10.0, 10.0, 10.0)
    solid = TopExp_Explorer(box, TopAbs_SOLID).Current()
    pairs = [(solid, YELLOW), (faces(box)[5], RED)]  # faces[5] looks along +Z
    assert lit_service.display_shape(box, "box", BLUE, sub_colors=pairs[::-1] if finer_first else pairs)

    info = lit_service.get_shape_info("box")
    assert isinstance(info.ais_shape, AIS_ColoredShape) and isinstance(info.ais_shape, AIS_Shape)
    assert (info.color, lit_service.get_shape_id_for_ais_shape(info.ais_shape)) == (BLUE, "box")
    (front, _), (back, _) = front_and_back(lit_service, scene)
    # The face's colour wins over the solid's, which wins over the base colour.
    assert hue_off(front, RED) < 5 and hue_off(back, YELLOW) < 5, (front, back)
    assert errors.records == []


def test_sub_shape_colours_keep_through_recolouring_boundaries_and_transparency(
        lit_service, scene, make_box, errors):
    from test_registry import faces

    box = make_box(10.0, 10.0, 10.0)
    lit_service.display_shape(box, "box", BLUE, sub_colors=[(faces(box)[5], RED)])
    ais = lit_service.get_shape_info("box").ais_shape
    lit_service.set_display_mode(DisplayMode.BOTH)
    (front, front_lines), (back, back_lines) = front_and_back(lit_service, scene)
    assert hue_off(front, RED) < 5 and hue_off(back, BLUE) < 5
    assert front_lines > 0 and back_lines > 0  # black face boundaries, the coloured face's too

    # The base colour changes; the face keeps its own, and the boundaries stay black.
    lit_service.set_shape_color(ais, GREEN)
    (front, lines), (back, _) = front_and_back(lit_service, scene)
    assert hue_off(front, RED) < 5 and hue_off(back, GREEN) < 5
    assert lines == front_lines
    assert lit_service.get_shape_info("box").color == BLUE

    # Transparency reaches the face's own aspect too: the green back face shows through it.
    lit_service.set_global_transparency(0.5)
    (front, _), _ = front_and_back(lit_service, scene)
    assert hue_off(front, RED) > 20, front
    assert errors.records == []


def test_faces_of_one_colour_share_aspects_and_a_face_named_again_keeps_its_last(
        lit_service, scene, make_box, errors):
    from test_registry import faces

    box = make_box(10.0, 10.0, 10.0)
    front, back = faces(box)[5], faces(box)[4]
    # The front shares red with the back, then is named again in yellow: the back stays red.
    lit_service.display_shape(box, "box", BLUE,
                              sub_colors=[(front, RED), (back, RED), (front, YELLOW)])
    (front_pixel, _), (back_pixel, _) = front_and_back(lit_service, scene)
    assert hue_off(front_pixel, YELLOW) < 5 and hue_off(back_pixel, RED) < 5, (front_pixel, back_pixel)

    ais = lit_service.get_shape_info("box").ais_shape
    try:
        ais.ChangeCustomAspectsMap()
        can_share = True
    except TypeError:  # OCP 7 does not hand the map over: each face keeps aspects of its own
        can_share = False
    assert (ais.CustomAspects(front) is ais.CustomAspects(back)) is False
    sides = faces(box)[:3]
    lit_service.display_shape(box, "box", BLUE, sub_colors=[(face, GREEN) for face in sides])
    ais = lit_service.get_shape_info("box").ais_shape
    assert (ais.CustomAspects(sides[0]) is ais.CustomAspects(sides[2])) is can_share
    assert errors.records == []


def test_recolouring_a_plain_shape_keeps_its_face_boundaries_black(lit_service, scene, make_box):
    lit_service.display_shape(make_box(10.0, 10.0, 10.0), "box", BLUE)
    lit_service.set_display_mode(DisplayMode.BOTH)
    (_, lines), _ = front_and_back(lit_service, scene)

    lit_service.set_shape_color(lit_service.get_shape_info("box").ais_shape, GREEN, update=False)
    lit_service.redraw()

    (front, after), _ = front_and_back(lit_service, scene)
    assert hue_off(front, GREEN) < 5 and after == lines > 0


# --- one colour rule ---------------------------------------------------------

class Triple(collections.abc.Sequence):
    """A host's own sequence type, with no truth value (as a numpy array has none)."""

    def __init__(self, *values):
        self.values = values

    def __len__(self):
        return len(self.values)

    def __getitem__(self, index):
        return self.values[index]

    def __bool__(self):
        raise ValueError("the truth value of a colour is ambiguous")


def colour_takers(service, ais):
    """Every operation that takes a colour, called with it; each returns its records' template."""
    return {
        "display_shape": (lambda c: service.display_shape(ais.Shape(), "new", c), "Error displaying shape: %s"),
        "set_shape_color": (lambda c: service.set_shape_color(ais, c), "Error setting shape color: %s"),
        "set_background_color": (lambda c: service.set_background_color(c), "Error setting background color: %s"),
        "set_background_gradient": (lambda c: service.set_background_gradient(c, (0.0, 0.0, 0.0)),
                                    "Error setting background gradient: %s"),
    }


@pytest.mark.parametrize("color", [
    numpy.array([0.2, 0.5, 0.9]), numpy.array([0.2, 0.5, 0.9], dtype=numpy.float32),
    array.array("d", [0.2, 0.5, 0.9]), Triple(0.2, 0.5, 0.9), [Fraction(1, 5), 0.5, 0.9], (0, 1, 0),
], ids=["numpy", "numpy-float32", "array", "sequence", "fraction", "ints"])
def test_every_colour_operation_accepts_any_three_real_numbers(service, make_box, errors, color):
    (ais,) = show(service, make_box, "a")
    for name, (take, _) in colour_takers(service, ais).items():
        take(color)
        assert errors.records == [], name
    assert rgb(ais) == pytest.approx(tuple(float(c) for c in color))
    assert service.get_shape_info("new").color == pytest.approx(tuple(float(c) for c in color))


@pytest.mark.parametrize("color", [
    (0.1, 0.2), (0.1, 0.2, 0.3, 0.4), "abc", b"abc", iter((0.1, 0.2, 0.3)), 0.5,
    (NAN, 0.0, 0.0), ("a", 0.0, 0.0), (1.5, 0.0, 0.0), Triple(0.1, None, 0.3),
], ids=repr)
def test_every_colour_operation_refuses_the_same_values_alike(service, make_box, errors, color):
    (ais,) = show(service, make_box, "a", color=(1.0, 1.0, 0.0))
    messages = set()
    for _name, (take, template) in colour_takers(service, ais).items():
        errors.clear()
        take(color)
        error = errors.one_error(template)
        messages.add((type(error), str(error)))
    assert len(messages) == 1, messages
    assert rgb(ais) == pytest.approx((1.0, 1.0, 0.0)) and service.get_shape_count() == 1
