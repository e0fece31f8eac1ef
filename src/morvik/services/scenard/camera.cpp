// Camera and navigation: view directions, projection, fit, redraw and the
// pointer-driven rotation, panning and zoom.
#include "bound_names.hpp"
#include "guard.hpp"
#include "scenard.hpp"

namespace morvik {

MORVIK_OPERATION(op_set_projection, "set_projection", "Error setting projection: %s");
MORVIK_OPERATION(op_set_projection_type, "set_projection_type", "Error setting projection type: %s");
MORVIK_OPERATION(op_fit_all, "fit_all", "Error fitting view: %s");
MORVIK_OPERATION(op_redraw, "redraw", "Error in redraw: %s");
MORVIK_OPERATION(op_must_be_resized, "must_be_resized", "Error resizing view: %s");
MORVIK_OPERATION(op_start_rotation, "start_rotation", "Error starting rotation: %s");
MORVIK_OPERATION(op_rotate, "rotate", "Error rotating: %s");
MORVIK_OPERATION(op_pan, "pan", "Error panning: %s");
MORVIK_OPERATION(op_zoom, "zoom", "Error zooming: %s");

// The second, integer-valued try of set_projection_type is only worth a debug
// note when it fails: the binding simply cannot take the projection.
static const char *const projection_type_retry_failed = "Could not set projection type: %s";

namespace {

// One standard view: the member that selects it, the direction passed to
// SetProj and the up vector passed to SetUp. The world's +Y axis is up.
struct StandardView {
    nb::handle BoundNames::*direction;
    int proj[3];
    int up[3];
};

// Tried in this order; the first member equal to the requested one wins.
const StandardView standard_views[] = {
    {&BoundNames::view_top, {0, 1, 0}, {0, 0, -1}},
    {&BoundNames::view_bottom, {0, -1, 0}, {0, 0, -1}},
    {&BoundNames::view_front, {0, 0, 1}, {0, 1, 0}},
    {&BoundNames::view_back, {0, 0, -1}, {0, 1, 0}},
    {&BoundNames::view_left, {-1, 0, 0}, {0, 1, 0}},
    {&BoundNames::view_right, {1, 0, 0}, {0, 1, 0}},
    {&BoundNames::view_iso, {1, 1, 1}, {0, 1, 0}},
};

// The vector components as the Python ints 0, 1 and -1.
nb::handle component(int value) {
    return value > 0 ? bound.one : value < 0 ? bound.minus_one : bound.zero;
}

void set_vector(nb::handle view, nb::handle name, const int (&v)[3]) {
    call_method(view, name, component(v[0]), component(v[1]), component(v[2]));
}

void set_projection(Scenard &s, nb::handle direction) {
    guarded(op_set_projection, [&] {
        for (const StandardView &row : standard_views) {
            if (equals(direction, bound.*row.direction)) {
                set_vector(s.view, method.SetProj, row.proj);
                set_vector(s.view, method.SetUp, row.up);
                return;
            }
        }
    });
}

void fit_all(Scenard &s) {
    guarded(op_fit_all, [&] {
        call_method(s.view, method.FitAll);
        call_method(s.view, method.ZFitAll);
    });
}

// Clears the redraw flag however the paint ends, before any record of its
// failure is written; an interrupt inside Redraw must not leave the view
// unpaintable for good.
struct RenderingScope {
    bool &flag;
    explicit RenderingScope(bool &f) : flag(f) { flag = true; }
    ~RenderingScope() { flag = false; }
};

void redraw(Scenard &s) {
    // A redraw asked for while one is painting (from inside Redraw) is dropped:
    // the outer one paints the same frame.
    if (s.is_rendering)
        return;
    guarded(op_redraw, [&] {
        RenderingScope painting(s.is_rendering);
        call_method(s.view, method.Redraw);
    });
}

void must_be_resized(Scenard &s) {
    guarded(op_must_be_resized, [&] { call_method(s.view, method.MustBeResized); });
}

void start_rotation(Scenard &s, nb::handle x, nb::handle y) {
    guarded(op_start_rotation, [&] { call_method(s.view, method.StartRotation, x, y); });
}

void rotate(Scenard &s, nb::handle x, nb::handle y) {
    guarded(op_rotate, [&] { call_method(s.view, method.Rotation, x, y); });
}

void pan(Scenard &s, nb::handle dx, nb::handle dy) {
    guarded(op_pan, [&] {
        // Screen y grows downwards, the view's y upwards.
        PyObject *negated = PyNumber_Negative(dy.ptr());
        if (!negated)
            throw nb::python_error();
        call_method(s.view, method.Pan, dx, nb::steal(negated));
    });
}

void zoom(Scenard &s, nb::handle factor) {
    guarded(op_zoom, [&] {
        // OCCT refuses a factor of zero or less, but a NaN passes its test and
        // leaves the camera without a scale: nothing shows until the next fit.
        if (is_nan(factor))
            raise(PyExc_ValueError, "zoom factor is not a number: %R", factor.ptr());
        call_method(s.view, method.SetZoom, factor);
    });
}

} // namespace

void set_projection_type(Scenard &s, nb::handle projection_type) {
    // The member is compared once: the retry below must ask for the same
    // projection as the first try, whatever its __eq__ answers a second time.
    bool orthographic = false;
    nb::object err = catch_failure(op_set_projection_type, [&] {
        orthographic = equals(projection_type, bound.projection_type_orthographic);
    });
    if (err.is_valid()) {
        log_failure_error(op_set_projection_type, err);
        return;
    }
    err = catch_failure(op_set_projection_type, [&] {
        nb::object camera = call_method(s.view, method.Camera);
        call_method(camera, method.SetProjectionType,
                    orthographic ? bound.projection_orthographic : bound.projection_perspective);
    });
    if (!err.is_valid())
        return;
    if (!is_binding_mismatch(err)) {
        log_failure_error(op_set_projection_type, err);
        return;
    }

    // A binding without the enumerator, or one that will not take it, may
    // still take the enumerator's integer value.
    nb::object retry_err = catch_failure(op_set_projection_type, [&] {
        nb::object camera = call_method(s.view, method.Camera);
        call_method(camera, method.SetProjectionType, orthographic ? bound.zero : bound.one);
    });
    if (retry_err.is_valid())
        log_failure(method.debug, projection_type_retry_failed, retry_err, false);
}

void bind_camera(ScenardClass &cls) {
    using namespace nb::literals;
    cls.def(
           "set_projection", [](Scenard &s, nb::object direction) { set_projection(s, direction); },
           "direction"_a.none(),
           nb::sig("def set_projection(self, direction: morvik.enums.ViewDirection) -> None"),
           "Set view direction.\n\n"
           "Args:\n"
           "    direction: ViewDirection enum")
        .def(
            "set_projection_type",
            [](Scenard &s, nb::object projection_type) { set_projection_type(s, projection_type); },
            "projection_type"_a.none(),
            nb::sig("def set_projection_type(self, projection_type: morvik.enums.ProjectionType) "
                    "-> None"),
            "Set the camera projection type.\n\n"
            "Args:\n"
            "    projection_type: ProjectionType enum")
        .def(
            "fit_all", [](Scenard &s) { fit_all(s); }, nb::sig("def fit_all(self) -> None"),
            "Fit all displayed objects in the view.")
        .def(
            "redraw", [](Scenard &s) { redraw(s); }, nb::sig("def redraw(self) -> None"),
            "Redraw the view.")
        .def(
            "must_be_resized", [](Scenard &s) { must_be_resized(s); },
            nb::sig("def must_be_resized(self) -> None"),
            "Notify view that it must be resized.")
        .def(
            "start_rotation", [](Scenard &s, nb::object x, nb::object y) { start_rotation(s, x, y); },
            "x"_a.none(), "y"_a.none(), nb::sig("def start_rotation(self, x: int, y: int) -> None"),
            "Start rotation at given coordinates.\n\n"
            "Args:\n"
            "    x: X coordinate\n"
            "    y: Y coordinate")
        .def(
            "rotate", [](Scenard &s, nb::object x, nb::object y) { rotate(s, x, y); },
            "x"_a.none(), "y"_a.none(), nb::sig("def rotate(self, x: int, y: int) -> None"),
            "Rotate view to given coordinates.\n\n"
            "Args:\n"
            "    x: X coordinate\n"
            "    y: Y coordinate")
        .def(
            "pan", [](Scenard &s, nb::object dx, nb::object dy) { pan(s, dx, dy); },
            "dx"_a.none(), "dy"_a.none(), nb::sig("def pan(self, dx: int, dy: int) -> None"),
            "Pan the view.\n\n"
            "Args:\n"
            "    dx: Delta X\n"
            "    dy: Delta Y")
        .def(
            "zoom", [](Scenard &s, nb::object factor) { zoom(s, factor); },
            "factor"_a.none(), nb::sig("def zoom(self, factor: float) -> None"),
            "Zoom the view.\n\n"
            "Args:\n"
            "    factor: Zoom factor");
}

} // namespace morvik
