"""Camera and navigation: view directions, projection, fit, redraw, rotation, panning, zoom."""

import math
from fractions import Fraction

import numpy
import pytest
from OCP.Graphic3d import Graphic3d_Camera

from doubles import Incomparable, Recorder, unordered
from morvik.enums import DisplayMode, ProjectionType, ViewDirection
from morvik.services.scenard import Scenard

ORTHOGRAPHIC = Graphic3d_Camera.Projection_e.Projection_Orthographic
PERSPECTIVE = Graphic3d_Camera.Projection_e.Projection_Perspective

# direction, vector handed to SetProj, vector handed to SetUp
STANDARD_VIEWS = [
    (ViewDirection.TOP, (0, 1, 0), (0, 0, -1)),
    (ViewDirection.BOTTOM, (0, -1, 0), (0, 0, -1)),
    (ViewDirection.FRONT, (0, 0, 1), (0, 1, 0)),
    (ViewDirection.BACK, (0, 0, -1), (0, 1, 0)),
    (ViewDirection.LEFT, (-1, 0, 0), (0, 1, 0)),
    (ViewDirection.RIGHT, (1, 0, 0), (0, 1, 0)),
    (ViewDirection.ISO, (1, 1, 1), (0, 1, 0)),
]


def unit(v):
    length = math.sqrt(sum(c * c for c in v))
    return tuple(c / length for c in v)


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def over(view):
    return Scenard(view, None, None)


# --- standard views -----------------------------------------------------------

@pytest.mark.parametrize("direction, proj, up", STANDARD_VIEWS, ids=lambda v: getattr(v, "name", ""))
def test_standard_view_turns_the_real_camera(service, scene, direction, proj, up, errors):
    service.set_projection(direction)

    camera = scene.view.Camera()
    # SetProj names where the eye sits, so the camera looks the other way.
    looking = tuple(-c for c in unit(proj))
    assert camera.Direction().Coord() == pytest.approx(looking, abs=1e-9)
    # OCCT keeps the up vector square to the line of sight.
    expected_up = unit(tuple(u - dot(up, looking) * d for u, d in zip(up, looking)))
    assert camera.Up().Coord() == pytest.approx(expected_up, abs=1e-9)
    assert not errors.records


@pytest.mark.parametrize("other", [None, "top", ProjectionType.ORTHOGRAPHIC, DisplayMode.SHADED])
def test_unknown_direction_does_nothing(other, errors):
    view = Recorder()
    assert over(view).set_projection(other) is None
    assert view.calls == [] and not errors.records


# --- projection type ------------------------------------------------------------

@pytest.mark.parametrize("requested, expected", [
    (ProjectionType.ORTHOGRAPHIC, ORTHOGRAPHIC),
    (ProjectionType.PERSPECTIVE, PERSPECTIVE),
    (None, PERSPECTIVE),
    ("orthographic", PERSPECTIVE),
])
def test_projection_type_changes_the_real_camera(service, scene, requested, expected, errors):
    camera = scene.view.Camera()
    # A new OCCT camera is already orthographic: start from the other one.
    camera.SetProjectionType(ORTHOGRAPHIC if expected == PERSPECTIVE else PERSPECTIVE)
    service.set_projection_type(requested)
    assert camera.ProjectionType() == expected
    assert not errors.records


def refuse_enumerators(value):
    if type(value) is not int:
        raise TypeError("incompatible function arguments")


@pytest.mark.parametrize("kind, number", [(ProjectionType.ORTHOGRAPHIC, 0), (ProjectionType.PERSPECTIVE, 1)])
def test_binding_refusing_the_enumerator_gets_its_integer(kind, number, errors):
    camera = Recorder(returns={"SetProjectionType": refuse_enumerators})
    view = Recorder(returns={"Camera": camera})
    over(view).set_projection_type(kind)
    assert view.names() == ["Camera", "Camera"]
    assert camera.calls == [("SetProjectionType", (ORTHOGRAPHIC if number == 0 else PERSPECTIVE,)),
                            ("SetProjectionType", (number,))]
    assert not errors.records


@pytest.mark.parametrize("mismatch", [TypeError, AttributeError])
def test_failed_integer_retry_is_one_debug_note(mismatch, errors):
    camera = Recorder(raises={"SetProjectionType": mismatch("no such projection")})
    over(Recorder(returns={"Camera": camera})).set_projection_type(ProjectionType.PERSPECTIVE)
    assert camera.count("SetProjectionType") == 2
    error = errors.one("DEBUG", "Could not set projection type: %s", traceback=False)
    assert str(error) == "no such projection"


# --- fit ----------------------------------------------------------------------

def test_fit_all_brings_a_distant_box_into_view(service, scene, make_box, errors):
    far = (5000.0, -3000.0, 800.0)
    service.display_shape(make_box(10, 10, 10, at=far), "box", update=False)
    corners = [(far[0] + dx, far[1] + dy, far[2] + dz) for dx in (0, 10) for dy in (0, 10) for dz in (0, 10)]

    def shown(point):
        x, y = scene.view.Convert(*point)
        return 0 <= x < 400 and 0 <= y < 300

    assert not any(shown(c) for c in corners)
    service.fit_all()
    assert all(shown(c) for c in corners)
    assert not errors.records


# A failed call is the operation's last: no depth fit after a failed fit, no retry with the
# integer after a camera that could not be had.
@pytest.mark.parametrize("fails, operation, args, message", [
    ("FitAll", "fit_all", (), "Error fitting view: %s"),
    ("Camera", "set_projection_type", (ProjectionType.ORTHOGRAPHIC,), "Error setting projection type: %s"),
])
def test_a_failed_view_call_is_one_error_and_the_last_call(fails, operation, args, message, errors):
    view = Recorder(raises={fails: RuntimeError("refused")})
    getattr(over(view), operation)(*args)
    assert view.names() == [fails]
    errors.one_error(message)


# --- redraw -----------------------------------------------------------------------

def test_redraw_asked_for_while_painting_is_dropped(errors):
    seen = []

    def paint():
        seen.append(service._is_rendering)
        service.redraw()

    view = Recorder(returns={"Redraw": paint})
    service = over(view)
    service.redraw()
    assert view.calls == [("Redraw", ())]
    assert seen == [True] and service._is_rendering is False
    # While the flag is up (by whatever hand), a redraw does nothing.
    service._is_rendering = True
    service.redraw()
    assert view.count("Redraw") == 1 and service._is_rendering is True
    assert not errors.records


def test_failed_redraw_clears_the_flag_before_reporting(errors):
    view = Recorder(raises={"Redraw": RuntimeError("lost context")})
    service = over(view)
    flag_when_logged, keep = [], errors.emit
    errors.emit = lambda record: (flag_when_logged.append(service._is_rendering), keep(record))
    service.redraw()
    assert flag_when_logged == [False]
    errors.one_error("Error in redraw: %s")
    service.redraw()
    assert view.count("Redraw") == 2


def test_interrupted_redraw_does_not_lock_out_later_ones(errors):
    service = over(Recorder(raises={"Redraw": KeyboardInterrupt}))
    with pytest.raises(KeyboardInterrupt):
        service.redraw()
    assert service._is_rendering is False and not errors.records


# --- navigation on a real, windowed view ----------------------------------------

def test_rotation_turns_the_camera(service, scene, errors):
    service.set_projection(ViewDirection.FRONT)
    before = scene.view.Camera().Direction().Coord()
    service.start_rotation(200, 150)
    service.rotate(260, 150)
    assert dot(before, scene.view.Camera().Direction().Coord()) < 0.999
    assert not errors.records


def test_pan_moves_the_content_with_the_pointer(service, scene, errors):
    service.set_projection(ViewDirection.FRONT)
    x0, y0 = scene.view.Convert(0.0, 0.0, 0.0)
    # Screen y grows downwards: a drag down and right carries the origin along.
    service.pan(10, 20)
    assert scene.view.Convert(0.0, 0.0, 0.0) == (x0 + 10, y0 + 20)
    assert not errors.records


@pytest.mark.parametrize("dy, sent", [(7, -7), (-3, 3), (True, -1), (Fraction(3, 2), Fraction(-3, 2))])
def test_pan_negates_dy_as_python_does(dy, sent):
    view = Recorder()
    over(view).pan(5, dy)
    assert view.calls == [("Pan", (5, sent))]
    assert type(view.calls[0][1][1]) is type(sent)


def test_zoom_scales_the_camera(service, scene, errors):
    camera = scene.view.Camera()
    before = camera.Scale()
    service.zoom(2)
    assert camera.Scale() == pytest.approx(before / 2)
    assert not errors.records


# OCCT itself refuses 0 and less; a NaN would pass it and leave the camera
# without a scale, so the service refuses it the same way.
@pytest.mark.parametrize("factor", [0, -2, float("nan"), Fraction(0)])
def test_zoom_by_nothing_or_less_is_one_error(service, scene, factor, errors):
    before = scene.view.Camera().Scale()
    assert service.zoom(factor) is None
    errors.one_error("Error zooming: %s")
    assert scene.view.Camera().Scale() == before


def test_navigation_passes_arguments_by_name_unchanged_and_never_repaints(scene, errors):
    view = Recorder(scene.view)
    service = over(view)
    service.set_projection(direction=ViewDirection.ISO)
    service.set_projection_type(projection_type=ProjectionType.PERSPECTIVE)
    service.must_be_resized()
    service.rotate(y=110, x=130)  # without a start: OCCT decides what it means
    service.start_rotation(x=100, y=120)
    service.pan(dy=6, dx=4)
    service.zoom(factor=1.5)
    assert unordered(view.calls) == unordered([
        ("SetProj", (1, 1, 1)), ("SetUp", (0, 1, 0)), ("Camera", ()), ("MustBeResized", ()), ("Rotation", (130, 110)),
        # the zoom reads the scale it would change, to keep it drawable
        ("StartRotation", (100, 120)), ("Pan", (4, -6)), ("Camera", ()), ("SetZoom", (1.5,)),
    ])
    assert not errors.records


# --- bad arguments ------------------------------------------------------------------

@pytest.mark.parametrize("view, operation, args, message", [
    ("real", "start_rotation", (1.5, 2), "Error starting rotation: %s"),
    ("real", "start_rotation", (None, None), "Error starting rotation: %s"),
    ("real", "rotate", ("10", 20), "Error rotating: %s"),
    ("real", "pan", (1.5, 2), "Error panning: %s"),
    ("real", "pan", (1, None), "Error panning: %s"),
    ("real", "zoom", (None,), "Error zooming: %s"),
    ("real", "set_projection", (Incomparable(),), "Error setting projection: %s"),
    ("real", "set_projection_type", (Incomparable(),), "Error setting projection type: %s"),
    (None, "fit_all", (), "Error fitting view: %s"),
    (None, "redraw", (), "Error in redraw: %s"),
    (None, "must_be_resized", (), "Error resizing view: %s"),
])
def test_bad_arguments_or_no_view_are_reported_not_raised(service, view, operation, args, message, errors):
    assert getattr(service if view else over(None), operation)(*args) is None
    errors.one_error(message)


# --- saved views ----------------------------------------------------------------

def changed_view(service, make_box):
    """A scene with a camera, mode, transparency and background all away from the defaults."""
    from OCP.Aspect import Aspect_GradientFillMethod

    service.setup_initial_view()
    service.display_shapes([(make_box(), "a", (0.8, 0.2, 0.1)),
                            (make_box(2.0, 1.0, 0.5, at=(1.5, 0.0, 0.0)), "b", (0.1, 0.4, 0.9))])
    service.set_background_gradient((0.9, 0.9, 1.0), (0.2, 0.2, 0.3),
                                    Aspect_GradientFillMethod.Aspect_GradientFillMethod_Horizontal)
    service.set_projection_type(ProjectionType.PERSPECTIVE)
    service.fit_all()
    service.start_rotation(100, 100)
    service.rotate(160, 130)
    service.zoom(1.3)
    service.set_display_mode(DisplayMode.BOTH)
    service.set_global_transparency(0.3)


def test_saved_view_restores_the_same_picture_after_everything_changed(service, scene, make_box, errors):
    import json

    from pictures import view_pixels

    changed_view(service, make_box)
    state = json.loads(json.dumps(service.get_view_state()))
    before = view_pixels(scene.view)

    service.set_projection(ViewDirection.TOP)
    service.set_projection_type(ProjectionType.ORTHOGRAPHIC)
    service.fit_all()
    service.set_display_mode(DisplayMode.WIREFRAME)
    service.set_global_transparency(0.0)
    service.set_background_color((0.0, 0.0, 0.0))
    assert abs(view_pixels(scene.view) - before).max() > 100

    service.set_view_state(state)

    assert rounded(service.get_view_state()) == rounded(state)
    assert abs(view_pixels(scene.view) - before).max() <= 2
    assert errors.records == []


def test_the_view_takes_every_state_it_gives_and_none_it_cannot_draw(service, scene, make_box, errors, qtbot):
    from types import MappingProxyType

    from morvik_viewer.view.hover import HoverHighlight

    service.display_shape(make_box(), "a")
    service.fit_all()
    good = service.get_view_state()
    centre = scene.view.Convert(0.5, 0.5, 0.5)
    # Any mapping will do, and the answer says whether it was applied.
    assert service.set_view_state(MappingProxyType({**good, "camera": MappingProxyType(good["camera"])})) is True
    for projection in ("orthographic", "perspective"):
        for scale in (1e-9, 1e15):
            lens = dict(good["camera"], scale=scale, projection=projection)
            assert service.set_view_state(dict(good, camera=lens)) is True
            given = service.get_view_state()
            assert given is not None and service.set_view_state(given) is True
    assert errors.records == []

    service.set_view_state(good)
    for projection in ("orthographic", "perspective"):
        for scale in (1e40, 1e-160, 2e15, 5e-10):
            errors.clear()
            lens = dict(good["camera"], scale=scale, projection=projection)
            assert service.set_view_state(dict(good, camera=lens)) is False
            errors.one_error("Error setting view state: %s")
    errors.clear()
    service.zoom(1e30)  # nor can a zoom take the camera there
    errors.one_error("Error zooming: %s")
    assert rounded(service.get_view_state()) == rounded(good) and service.pick(*centre) == "a"

    # A camera sent beyond by other means is not handed out, and hover survives it.
    scene.view.Camera().SetScale(1e-160)
    errors.clear()
    assert service.get_view_state() is None
    errors.one_error("Error getting view state: %s")
    highlight = HoverHighlight(service)
    highlight.move(*centre)
    assert not scene.context.HasDetected()


def rounded(state):
    if isinstance(state, dict):
        return {key: rounded(value) for key, value in state.items()}
    if isinstance(state, list):
        return [rounded(value) for value in state]
    return round(state, 9) if isinstance(state, float) else state


def replaced(mapping, value, *path):
    """A deep copy of mapping with the value at path replaced (or, value=without, removed)."""
    import copy

    state = copy.deepcopy(mapping)
    *parents, last = path
    inner = state
    for key in parents:
        inner = inner[key]
    del inner[last]
    if value is not without:
        inner[last] = value
    return state


def without(mapping, *path):
    return replaced(mapping, without, *path)


@pytest.mark.parametrize("spoil", [
    lambda s: [s],
    lambda s: replaced(s, "other.format", "format"),
    lambda s: replaced(s, 2, "version"),
    lambda s: replaced(s, True, "version"),
    lambda s: without(s, "camera"),
    lambda s: without(s, "camera", "up"),
    lambda s: replaced(s, [1.0, 2.0], "camera", "eye"),
    lambda s: replaced(s, "1, 2, 3", "camera", "eye"),
    lambda s: replaced(s, [float("nan"), 0.0, 0.0], "camera", "target"),
    lambda s: replaced(s, s["camera"]["eye"], "camera", "target"),
    lambda s: replaced(s, [0.0, 0.0, 0.0], "camera", "up"),
    lambda s: replaced(s, 0.0, "camera", "scale"),
    lambda s: replaced(s, True, "camera", "scale"),
    lambda s: replaced(s, "fisheye", "camera", "projection"),
    lambda s: replaced(s, "hidden", "display_mode"),
    lambda s: replaced(s, 1.5, "transparency"),
    lambda s: replaced(s, {}, "background"),
    lambda s: replaced(s, {"color": [2.0, 0.0, 0.0]}, "background"),
    lambda s: replaced(s, {"gradient": [[0.0, 0.0, 0.0]], "method": "Aspect_GradientFillMethod_Vertical"},
                       "background"),
    lambda s: replaced(s, {"gradient": [[0.0] * 3] * 2, "method": "__class__"}, "background"),
], ids=lambda spoil: "")
def test_malformed_or_foreign_state_is_one_error_and_changes_nothing(
        service, scene, make_box, errors, spoil):
    from pictures import view_pixels

    changed_view(service, make_box)
    good = service.get_view_state()
    other = dict(good, display_mode="wireframe", transparency=0.0)
    before = view_pixels(scene.view)

    service.set_view_state(spoil(other))

    errors.one_error("Error setting view state: %s")
    assert service.get_view_state() == good
    assert abs(view_pixels(scene.view) - before).max() <= 2


# --- one number rule ---------------------------------------------------------------

@pytest.mark.parametrize("number", [numpy.float32(0.5), numpy.float64(0.5), numpy.int64(1), Fraction(1, 2)],
                         ids=repr)
def test_every_argument_that_takes_numbers_takes_any_real_number(service, scene, make_box, errors, number):
    service.display_shape(make_box(), "a")
    service.fit_all()
    value = float(number)
    service.set_clip_plane((number, 0, 0), numpy.array([0, 0, 1], dtype=numpy.float32))
    service.set_global_transparency(number)
    scale = scene.view.Camera().Scale()
    service.zoom(number)
    assert scene.view.Camera().Scale() == pytest.approx(scale / value)
    state = service.get_view_state()
    assert state["clip_plane"]["origin"] == [value, 0.0, 0.0] and state["transparency"] == value
    camera = dict(state["camera"], eye=numpy.array(state["camera"]["eye"]), scale=number)
    assert service.set_view_state(dict(state, camera=camera)) is True
    assert scene.view.Camera().Scale() == pytest.approx(value)
    assert errors.records == []
