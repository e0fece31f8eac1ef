// Initial view, trihedron and background.
//
// The background is remembered on the service (a solid colour, or a gradient
// that wins over it) so that setup_initial_view can paint it again.
#include "operations.hpp"

#include <algorithm>
#include <cmath>

namespace morvik {

// A binding that cannot show the trihedron even in its simpler form just
// leaves the view without one.
static const char *const trihedron_unavailable = "Could not display trihedron: %s",
                        *const trihedron_failed = "Unexpected trihedron error: %s";

namespace {

// The solid colour alone. The view keeps drawing a gradient over its solid
// colour until its fill method is none, so an earlier gradient is dropped.
void paint_solid_background(nb::handle view, nb::handle occt_color) {
    view.attr("SetBgGradientStyle")(gradient_none, false);
    view.attr("SetBackgroundColor")(occt_color);
}

nb::object white() { return Quantity_Color(Quantity_NOC_WHITE); }

// The trihedron is decoration: an unexpected failure is a warning, not an error.
void setup_trihedron(Scenard &s) {
    // A binding that lacks the visualisation type, or refuses it, may still
    // show the trihedron in OCCT's default visualisation.
    with_fallback(
        trihedron_failed, "warning", trihedron_unavailable,
        [&] {
            s.view.attr("TriedronDisplay")(triedron_left_lower, white(), trihedron_scale,
                                              visualization_wireframe);
        },
        [&] { s.view.attr("TriedronDisplay")(triedron_left_lower, white(), trihedron_scale); });
}

void setup_initial_view(Scenard &s) {
    // Local references: the host may rewrite the fields while we call out.
    nb::object gradient = s.background_gradient;
    nb::object solid = s.background_color;
    if (nb::bool_(gradient)) {
        auto [color1, color2, fill_method] = unpack_three(gradient);
        Rgb first = to_occt_color(color1), second = to_occt_color(color2);
        s.view.attr("SetBgGradientColors")(first.occt, second.occt, fill_method, true);
    } else {
        paint_solid_background(s.view, to_occt_color(solid).occt);
    }
    // Both report their own failures; the view is set up as far as it goes.
    setup_trihedron(s);
    set_projection_type(s, projection_type_orthographic);
}

// The cube's side, in pixels of the view, and the distance of its centre
// from the corner; a view without a window takes the size of a 560-pixel one.
constexpr double cube_share = 0.125, smallest_cube = 40.0, largest_cube = 120.0,
                 cube_offset = 1.4;

// The cube turns the camera itself when a click selects one of its parts
// through the context, in an animation it runs to the end. View clipping
// never cuts it.
void set_view_cube(Scenard &s, Flag visible) {
    bool show = truth(visible);
    nb::object cube = find_view_cube(s);
    if (show == cube.is_valid())
        return;
    if (!show) {
        s.context.attr(py::Remove)(cube, true);
        return;
    }
    double side = 70.0;
    nb::object window = s.view.attr("Window")();
    if (!window.is_none()) {
        nb::object size = window.attr("Size")();
        double shorter = std::min(nb::cast<double>(size[0]), nb::cast<double>(size[1]));
        side = std::clamp(cube_share * shorter, smallest_cube, largest_cube);
    }
    cube = AIS_ViewCube();
    cube.attr("SetYup")(true, true); // its faces turn the camera as the standard views do
    cube.attr("SetSize")(side);
    nb::object persistence = cube.attr("TransformPersistence")();
    nb::handle offset_type = persistence.attr("Offset2d")().type();
    int offset = static_cast<int>(std::lround(side * cube_offset));
    persistence.attr("SetOffset2d")(offset_type(offset, offset));
    nb::object unclipped = Graphic3d_SequenceOfHClipPlane();
    unclipped.attr("SetOverrideGlobal")(true);
    cube.attr("SetClipPlanes")(unclipped);
    cube.attr("SetFixedAnimationLoop")(true);
    s.context.attr(py::Display)(cube, true);
}

void set_background_color(Scenard &s, Color color) {
    // Only a colour OCCT has accepted is remembered, as the service's own
    // tuple of floats: nothing refused, and nothing the caller changes
    // later, can spoil every later setup_initial_view.
    apply_background_color(s, to_occt_color(color));
    s.view.attr("Redraw")();
}

void set_background_gradient(Scenard &s, Color color1, Color color2, FillMethod fill_method) {
    Rgb first = to_occt_color(color1), second = to_occt_color(color2);
    require_fill_method(fill_method);
    apply_background_gradient(s, first, second, fill_method);
    s.view.attr("Redraw")();
}

} // namespace

nb::object find_view_cube(Scenard &s) {
    nb::object shown = ObjectList();
    s.context.attr("DisplayedObjects")(kind_none, -1, shown);
    return find_in_occt_list(shown,
                             [](nb::handle object) { return nb::isinstance(object, AIS_ViewCube); });
}

// Only a member of OCCT's own enumeration is kept: anything else would be
// refused by every later setup_initial_view instead of by this call.
void require_fill_method(nb::handle fill_method) {
    if (!nb::isinstance(fill_method, Aspect_GradientFillMethod))
        raise(PyExc_TypeError, "a gradient fill method must be an Aspect_GradientFillMethod, not %R",
              fill_method.ptr());
}

void apply_background_color(Scenard &s, const Rgb &rgb) {
    s.background_color = rgb.kept;
    s.background_gradient = nb::none();
    paint_solid_background(s.view, rgb.occt);
}

void apply_background_gradient(Scenard &s, const Rgb &first, const Rgb &second,
                               nb::handle fill_method) {
    s.background_gradient = nb::make_tuple(first.kept, second.kept, fill_method);
    s.view.attr("SetBgGradientColors")(first.occt, second.occt, fill_method, true);
}

void bind_view_setup(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "setup_initial_view", guarded<setup_initial_view>("Error setting up initial view: %s"),
        "Setup initial view parameters.");
    def(cls, "_setup_trihedron", reporting<setup_trihedron>(trihedron_failed),
        "Setup the trihedron (axis indicator).");
    def(cls, "set_background_color",
        guarded<set_background_color>("Error setting background color: %s"), "color"_a,
        "Set the background to a solid color, clearing any gradient.\n\nArgs:\n"
        "    color: RGB tuple (0.0 - 1.0) e.g. (1.0, 1.0, 1.0) for white.");
    // The default is the one member bound at load: every call without a
    // method shares it.
    def(cls, "set_background_gradient",
        guarded<set_background_gradient>("Error setting background gradient: %s"),
        "color1"_a, "color2"_a, "method"_a = gradient_vertical,
        "Set the background to a two-color gradient.\n\nArgs:\n"
        "    color1: First color RGB tuple (0.0 - 1.0), top for vertical gradients.\n"
        "    color2: Second color RGB tuple (0.0 - 1.0), bottom for vertical gradients.\n"
        "    method: Aspect_GradientFillMethod (Vertical, Horizontal, Diagonal1/2, Corner1-4).");
    def(cls, "set_view_cube", guarded<set_view_cube>("Error setting view cube: %s"), "visible"_a,
        "Show or hide the view cube in the lower left corner of the view.\n\n"
        "Clicking a face, edge or corner of the cube turns the camera to look at\n"
        "it, in a short animation. The cube belongs to the view: it is no\n"
        "registered shape, and erase_all leaves it.\n\nArgs:\n"
        "    visible: True to show the cube, False to hide it");
}

} // namespace morvik
