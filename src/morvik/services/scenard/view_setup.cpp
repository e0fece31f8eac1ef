// Initial view, trihedron and background.
//
// The background is remembered on the service (a solid colour, or a gradient
// that wins over it) so that setup_initial_view can paint it again.
#include "bound_names.hpp"
#include "colors.hpp"
#include "guard.hpp"
#include "scenard.hpp"

namespace morvik {

MORVIK_OPERATION(op_setup_initial_view, "setup_initial_view", "Error setting up initial view: %s");
MORVIK_OPERATION(op_set_background_color, "set_background_color", "Error setting background color: %s");
MORVIK_OPERATION(op_set_background_gradient, "set_background_gradient",
                 "Error setting background gradient: %s");
// The trihedron is decoration: an unexpected failure is a warning, not an error.
MORVIK_OPERATION(op_setup_trihedron, "_setup_trihedron", "Unexpected trihedron error: %s");

// A binding that cannot show the trihedron even in its simpler form just
// leaves the view without one.
static const char *const trihedron_unavailable = "Could not display trihedron: %s";

namespace {

// The solid colour alone. The view keeps drawing a gradient over its solid
// colour until its fill method is none, so an earlier gradient is dropped.
void paint_solid_background(nb::handle view, nb::handle occt_color) {
    call_method(view, method.SetBgGradientStyle, bound.gradient_none, py_bool(false));
    call_method(view, method.SetBackgroundColor, occt_color);
}

void paint_gradient_background(nb::handle view, nb::handle first, nb::handle second,
                               nb::handle fill_method) {
    call_method(view, method.SetBgGradientColors, first, second, fill_method, py_bool(true));
}

// Only a member of OCCT's own enumeration is kept: anything else would be
// refused by every later setup_initial_view instead of by this call.
void require_fill_method(nb::handle fill_method) {
    int is_member = PyObject_IsInstance(fill_method.ptr(), bound.Aspect_GradientFillMethod.ptr());
    if (is_member < 0)
        throw nb::python_error();
    if (!is_member)
        raise(PyExc_TypeError, "a gradient fill method must be an Aspect_GradientFillMethod, not %R",
              fill_method.ptr());
}

nb::object white() { return call(bound.Quantity_Color, bound.Quantity_NOC_WHITE); }

void setup_trihedron(Scenard &s) {
    nb::object err = catch_failure(op_setup_trihedron, [&] {
        call_method(s.view, method.TriedronDisplay, bound.triedron_left_lower, white(),
                    bound.trihedron_scale, bound.visualization_wireframe);
    });
    if (!err.is_valid())
        return;
    if (!is_binding_mismatch(err)) {
        log_failure(method.warning, op_setup_trihedron.message, err, true);
        return;
    }

    // A binding that lacks the visualisation type, or refuses it, may still
    // show the trihedron in OCCT's default visualisation.
    nb::object retry_err = catch_failure(op_setup_trihedron, [&] {
        call_method(s.view, method.TriedronDisplay, bound.triedron_left_lower, white(),
                    bound.trihedron_scale);
    });
    if (retry_err.is_valid())
        log_failure(method.debug, trihedron_unavailable, retry_err, false);
}

void setup_initial_view(Scenard &s) {
    guarded(op_setup_initial_view, [&] {
        // Local references: the host may rewrite the fields while we call out.
        nb::object gradient = s.background_gradient;
        nb::object solid = s.background_color;
        if (truthy(gradient)) {
            auto [color1, color2, fill_method] = unpack_three(gradient);
            Rgb first = to_occt_color(color1), second = to_occt_color(color2);
            paint_gradient_background(s.view, first.occt, second.occt, fill_method);
        } else {
            paint_solid_background(s.view, to_occt_color(solid).occt);
        }
        // Both report their own failures; the view is set up as far as it goes.
        setup_trihedron(s);
        set_projection_type(s, bound.projection_type_orthographic);
    });
}

void set_background_color(Scenard &s, nb::handle color) {
    guarded(op_set_background_color, [&] {
        // Only a colour OCCT has accepted is remembered, as the service's own
        // tuple of floats: nothing refused, and nothing the caller changes
        // later, can spoil every later setup_initial_view.
        Rgb rgb = to_occt_color(color);
        s.background_color = rgb.kept;
        s.background_gradient = nb::none();
        paint_solid_background(s.view, rgb.occt);
        call_method(s.view, method.Redraw);
    });
}

void set_background_gradient(Scenard &s, nb::handle color1, nb::handle color2,
                             nb::handle fill_method) {
    guarded(op_set_background_gradient, [&] {
        Rgb first = to_occt_color(color1), second = to_occt_color(color2);
        require_fill_method(fill_method);
        s.background_gradient = nb::make_tuple(first.kept, second.kept, fill_method);
        paint_gradient_background(s.view, first.occt, second.occt, fill_method);
        call_method(s.view, method.Redraw);
    });
}

} // namespace

void bind_view_setup(ScenardClass &cls) {
    using namespace nb::literals;
    cls.def(
           "setup_initial_view", [](Scenard &s) { setup_initial_view(s); },
           nb::sig("def setup_initial_view(self) -> None"),
           "Setup initial view parameters.")
        .def(
            "_setup_trihedron", [](Scenard &s) { setup_trihedron(s); },
            nb::sig("def _setup_trihedron(self) -> None"),
            "Setup the trihedron (axis indicator).")
        .def(
            "set_background_color",
            [](Scenard &s, nb::object color) { set_background_color(s, color); },
            "color"_a.none(),
            nb::sig("def set_background_color(self, color: tuple[float, float, float]) -> None"),
            "Set the background to a solid color, clearing any gradient.\n\n"
            "Args:\n"
            "    color: RGB tuple (0.0 - 1.0) e.g. (1.0, 1.0, 1.0) for white.")
        .def(
            "set_background_gradient",
            [](Scenard &s, nb::object color1, nb::object color2, nb::object fill_method) {
                set_background_gradient(s, color1, color2, fill_method);
            },
            "color1"_a.none(), "color2"_a.none(),
            // Evaluated once, here: every call without a method shares it.
            "method"_a.none() = nb::borrow(bound.gradient_vertical),
            nb::sig("def set_background_gradient(self, color1: tuple[float, float, float], "
                    "color2: tuple[float, float, float], "
                    "method: OCP.Aspect.Aspect_GradientFillMethod = ...) -> None"),
            "Set the background to a two-color gradient.\n\n"
            "Args:\n"
            "    color1: First color RGB tuple (0.0 - 1.0), top for vertical gradients.\n"
            "    color2: Second color RGB tuple (0.0 - 1.0), bottom for vertical gradients.\n"
            "    method: Aspect_GradientFillMethod (Vertical, Horizontal, Diagonal1/2, "
            "Corner1-4).");
}

} // namespace morvik
