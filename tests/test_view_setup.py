"""Initial view, trihedron and background: what the view shows and what the service remembers."""

from decimal import Decimal
from fractions import Fraction

import pytest
from OCP.Aspect import Aspect_GradientFillMethod, Aspect_TypeOfTriedronPosition
from OCP.Graphic3d import Graphic3d_Camera
from OCP.Quantity import Quantity_Color, Quantity_TOC_RGB
from OCP.V3d import V3d_TypeOfVisualization

from doubles import Recorder
from morvik.services.scenard import Scenard
from pictures import near, rgb, srgb8, view_pixels

VERTICAL = Aspect_GradientFillMethod.Aspect_GradientFillMethod_Vertical
NO_GRADIENT = Aspect_GradientFillMethod.Aspect_GradientFillMethod_None
ORTHOGRAPHIC = Graphic3d_Camera.Projection_e.Projection_Orthographic
PERSPECTIVE = Graphic3d_Camera.Projection_e.Projection_Perspective
WHITE = (1.0, 1.0, 1.0)


def gradient_colors(view):
    first, last = Quantity_Color(), Quantity_Color()
    view.GradientBackground().Colors(first, last)
    return rgb(first), rgb(last)


def trihedron_shown(view):
    # A bare view displays one structure of its own once it has a trihedron.
    return view.View().NumberOfDisplayedStructures() == 1


def recording_service():
    camera = Recorder()
    view = Recorder(returns={"Camera": camera})
    return Scenard(view, None, None), view, camera


# --- initial view -------------------------------------------------------------------

def test_initial_view_paints_white_shows_trihedron_and_goes_orthographic(service, scene, errors):
    scene.view.Camera().SetProjectionType(PERSPECTIVE)
    assert not trihedron_shown(scene.view)

    service.setup_initial_view()

    assert rgb(scene.view.BackgroundColor()) == WHITE
    assert trihedron_shown(scene.view)
    assert scene.view.Camera().ProjectionType() == ORTHOGRAPHIC
    assert not errors.records


def test_initial_view_makes_its_calls_once_each(errors):
    service, view, camera = recording_service()
    service.setup_initial_view()

    calls = dict(view.calls)
    assert sorted(view.names()) == ["Camera", "SetBackgroundColor", "SetBgGradientStyle",
                                    "TriedronDisplay"]
    assert calls["SetBgGradientStyle"] == (NO_GRADIENT, False)
    assert calls["SetBackgroundColor"][0].Values(Quantity_TOC_RGB) == WHITE
    position, white, scale, visualisation = calls["TriedronDisplay"]
    assert (position, rgb(white), scale, visualisation) == (
        Aspect_TypeOfTriedronPosition.Aspect_TOTP_LEFT_LOWER, WHITE, 0.08,
        V3d_TypeOfVisualization.V3d_WIREFRAME)
    assert camera.calls == [("SetProjectionType", (ORTHOGRAPHIC,))]
    assert not errors.records


def test_initial_view_paints_the_remembered_gradient(service, scene, errors):
    service.set_background_gradient((0.1, 0.2, 0.3), (0.9, 0.9, 0.9))
    scene.view.SetBgGradientStyle(NO_GRADIENT, False)  # forgotten by the view only

    service.setup_initial_view()

    assert scene.view.GradientBackground().BgGradientFillMethod() == VERTICAL
    assert gradient_colors(scene.view) == (pytest.approx((0.1, 0.2, 0.3)), pytest.approx((0.9, 0.9, 0.9)))
    assert trihedron_shown(scene.view)
    assert not errors.records


def test_unpaintable_remembered_gradient_stops_the_set_up(errors):
    service, view, _ = recording_service()
    service._background_gradient = ((0.1, 0.2, 0.3), (0.9, 0.9, 0.9))  # no fill method
    service.setup_initial_view()
    assert view.calls == []
    errors.one_error("Error setting up initial view: %s")


# --- trihedron failures -------------------------------------------------------------

def refuse_four_arguments(*args):
    if len(args) == 4:
        raise TypeError("incompatible function arguments")


@pytest.mark.parametrize("trihedron, attempts, record", [
    ({"returns": {"TriedronDisplay": refuse_four_arguments}}, [4, 3], None),
    ({"raises": {"TriedronDisplay": AttributeError("V3d_WIREFRAME")}}, [4, 3],
     ("DEBUG", "Could not display trihedron: %s", False)),
    ({"raises": {"TriedronDisplay": TypeError("bad")}}, [4, 3], ("DEBUG", "Could not display trihedron: %s", False)),
    ({"raises": {"TriedronDisplay": RuntimeError("no driver")}}, [4],
     ("WARNING", "Unexpected trihedron error: %s", True)),
], ids=["retry-works", "retry-fails-attribute", "retry-fails-type", "other-error"])
def test_trihedron_failures_never_stop_the_set_up(trihedron, attempts, record, errors):
    camera = Recorder()
    view = Recorder(**trihedron)
    view.returns["Camera"] = camera
    Scenard(view, None, None).setup_initial_view()

    assert [len(args) for name, args in view.calls if name == "TriedronDisplay"] == attempts
    assert camera.calls == [("SetProjectionType", (ORTHOGRAPHIC,))]
    if record is None:
        assert not errors.records
    else:
        errors.one(*record)


# --- solid and gradient backgrounds -------------------------------------------------

def test_solid_background_reaches_the_screen(service, scene, errors):
    color = [Fraction(1, 5), Decimal("0.4"), 0.6]  # any three real numbers
    service.set_background_gradient((0.0, 0.0, 0.0), (1.0, 1.0, 1.0))
    service.set_background_color(color)

    assert rgb(scene.view.BackgroundColor()) == pytest.approx([0.2, 0.4, 0.6])
    pixels = view_pixels(scene.view)
    # The gradient is gone from the screen too, not just from memory.
    for y in (2, 150, 297):
        assert near(pixels[y, 200], srgb8(color), 2), pixels[y, 200]
    assert service._background_color == pytest.approx((0.2, 0.4, 0.6))
    assert all(type(c) is float for c in service._background_color)
    assert service._background_gradient is None
    assert not errors.records


def test_solid_background_repaints_once_outside_the_redraw_guard():
    view = Recorder()
    service = Scenard(view, None, None)
    service._is_rendering = True
    service.set_background_color((0.0, 0.0, 0.0))
    assert view.names() == ["SetBgGradientStyle", "SetBackgroundColor", "Redraw"]


def test_gradient_reaches_the_screen_top_to_bottom(service, scene, errors):
    solid, top, bottom = (0.3, 0.3, 0.3), (1.0, 0.0, 0.0), [0.0, 0.0, 1.0]
    service.set_background_color(solid)
    service.set_background_gradient(top, bottom)

    assert scene.view.GradientBackground().BgGradientFillMethod() == VERTICAL
    assert gradient_colors(scene.view) == (top, tuple(bottom))
    pixels = view_pixels(scene.view)
    upper, lower = pixels[0, 200], pixels[299, 200]
    assert upper[0] > 230 > upper[2] and lower[2] > 230 > lower[0]
    color1, color2, method = service._background_gradient
    assert color1 == top and color2 == tuple(bottom) and method == VERTICAL
    assert service._background_color == solid
    assert not errors.records


def test_fill_method_default_is_one_value_and_an_explicit_one_goes_through(service, scene):
    other = Scenard(Recorder(), None, None)
    other.set_background_gradient(color1=(0, 0, 0), color2=(1, 1, 1))
    service.set_background_gradient((0, 0, 0), (1, 1, 1))
    assert service._background_gradient[2] is other._background_gradient[2]

    corner = Aspect_GradientFillMethod.Aspect_GradientFillMethod_Corner1
    service.set_background_gradient((0, 0, 0), (1, 1, 1), method=corner)
    assert scene.view.GradientBackground().BgGradientFillMethod() == corner
    assert service._background_gradient[2] is corner


# --- a malformed colour is refused before it is remembered ---------------------------

MALFORMED = [(1.0, 0.0), (1.0, 0.0, 0.0, 1.0), (), None, 0.5, "abc", b"\x00\x00\x00",
             (1.0, "0", 0.0), (None, 0.0, 0.0), (1j, 0.0, 0.0), iter((1.0, 0.0, 0.0))]


@pytest.mark.parametrize("bad", MALFORMED, ids=lambda v: "iterator" if hasattr(v, "__next__") else repr(v))
@pytest.mark.parametrize("operation, args, message", [
    ("set_background_color", lambda bad: (bad,), "Error setting background color: %s"),
    ("set_background_gradient", lambda bad: (bad, WHITE), "Error setting background gradient: %s"),
    ("set_background_gradient", lambda bad: (WHITE, bad), "Error setting background gradient: %s"),
], ids=["solid", "gradient-first", "gradient-second"])
def test_malformed_colour_changes_nothing(operation, args, message, bad, errors):
    view = Recorder()
    service = Scenard(view, None, None)
    service.set_background_gradient((0.1, 0.2, 0.3), (0.9, 0.9, 0.9))
    color, gradient = service._background_color, service._background_gradient
    view.calls.clear()

    assert getattr(service, operation)(*args(bad)) is None

    errors.one_error(message)
    assert service._background_color is color and service._background_gradient is gradient
    assert view.calls == []


NAN = float("nan")


@pytest.mark.parametrize("refused", [
    lambda service: service.set_background_color((1.0, 0.0)),
    lambda service: service.set_background_color((NAN, 0.0, 0.0)),
    lambda service: service.set_background_color((2.0, 0.0, 0.0)),
    lambda service: service.set_background_gradient((1.0, 0.0), (0.0, 0.0, 0.0)),
    lambda service: service.set_background_gradient((0.0, 0.0, 0.0), (0.0, -1.0, 0.0)),
    lambda service: service.set_background_gradient(WHITE, WHITE, 1),
    lambda service: service.set_background_gradient(WHITE, WHITE, "vertical"),
    lambda service: service.set_background_gradient(WHITE, WHITE, V3d_TypeOfVisualization.V3d_ZBUFFER),
], ids=["short", "nan", "out-of-range", "gradient-short", "gradient-out-of-range",
        "method-int", "method-text", "method-foreign-enum"])
def test_refused_background_changes_nothing_and_spoils_no_later_set_up(service, scene, errors, refused):
    service.set_background_color((0.0, 0.0, 1.0))
    kept = service._background_color, service._background_gradient

    refused(service)

    assert len(errors.records) == 1 and errors.records[0].levelname == "ERROR"
    assert (service._background_color, service._background_gradient) == kept
    errors.clear()
    scene.view.Camera().SetProjectionType(PERSPECTIVE)
    service.setup_initial_view()
    assert rgb(scene.view.BackgroundColor()) == (0.0, 0.0, 1.0)
    assert trihedron_shown(scene.view)
    assert scene.view.Camera().ProjectionType() == ORTHOGRAPHIC
    assert not errors.records


def test_background_kept_is_the_services_own_copy(service, scene, errors):
    solid, top, bottom = [0.0, 0.0, 1.0], [1.0, 0.0, 0.0], [0.0, 1.0, 0.0]
    service.set_background_color(solid)
    solid[0] = 5.0  # the host reuses its lists
    service.setup_initial_view()
    assert rgb(scene.view.BackgroundColor()) == (0.0, 0.0, 1.0)

    service.set_background_gradient(top, bottom)
    top[:] = [NAN] * 3
    bottom.append(1.0)
    service.setup_initial_view()
    assert gradient_colors(scene.view) == ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0))
    assert not errors.records
