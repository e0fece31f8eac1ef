// Camera and navigation: view directions, projection, fit, redraw and the
// pointer-driven rotation, panning and zoom.
#include "guard.hpp"
#include "names.hpp"
#include "operations.hpp"
#include "scenard.hpp"

namespace morvik {

// The second, integer-valued try of set_projection_type is only worth a debug
// note when it fails: the binding simply cannot take the projection.
static const char *const projection_type_retry_failed = "Could not set projection type: %s";

namespace {

// One standard view: the member that selects it, the direction passed to
// SetProj and the up vector passed to SetUp. The world's +Y axis is up.
struct StandardView {
    const HostName &direction;
    int proj[3];
    int up[3];
};

// Tried in this order; the first member equal to the requested one wins.
const StandardView standard_views[] = {
    {view_top, {0, 1, 0}, {0, 0, -1}},
    {view_bottom, {0, -1, 0}, {0, 0, -1}},
    {view_front, {0, 0, 1}, {0, 1, 0}},
    {view_back, {0, 0, -1}, {0, 1, 0}},
    {view_left, {-1, 0, 0}, {0, 1, 0}},
    {view_right, {1, 0, 0}, {0, 1, 0}},
    {view_iso, {1, 1, 1}, {0, 1, 0}},
};

// The vector components as the Python ints 0, 1 and -1.
nb::handle component(int value) { return value > 0 ? one : value < 0 ? minus_one : zero; }

void set_vector(nb::handle view, nb::handle name, const int (&v)[3]) {
    view.attr(name)(component(v[0]), component(v[1]), component(v[2]));
}

void set_projection(Scenard &s, nb::handle direction) {
    for (const StandardView &row : standard_views) {
        if (direction.equal(row.direction)) {
            set_vector(s.view, "SetProj"_id, row.proj);
            set_vector(s.view, "SetUp"_id, row.up);
            return;
        }
    }
}

void fit_all(Scenard &s) {
    s.view.attr("FitAll"_id)();
    s.view.attr("ZFitAll"_id)();
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
    RenderingScope painting(s.is_rendering);
    s.view.attr("Redraw"_id)();
}

void must_be_resized(Scenard &s) { s.view.attr("MustBeResized"_id)(); }

void start_rotation(Scenard &s, nb::handle x, nb::handle y) {
    s.view.attr("StartRotation"_id)(x, y);
}

void rotate(Scenard &s, nb::handle x, nb::handle y) { s.view.attr("Rotation"_id)(x, y); }

void pan(Scenard &s, nb::handle dx, nb::handle dy) {
    // Screen y grows downwards, the view's y upwards.
    s.view.attr("Pan"_id)(dx, -nb::borrow(dy));
}

void zoom(Scenard &s, nb::handle factor) {
    // OCCT refuses a factor of zero or less, but a NaN passes its test and
    // leaves the camera without a scale: nothing shows until the next fit.
    if (is_nan(factor))
        raise(PyExc_ValueError, "zoom factor is not a number: %R", factor.ptr());
    // Nor may zooming take the camera where OCCT no longer draws or picks
    // (picks fail, and the camera soon holds NaN). What is no number at all
    // is left to OCCT to refuse.
    double amount = PyFloat_AsDouble(factor.ptr());
    if (amount == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw nb::python_error();
        PyErr_Clear();
    } else if (amount > 0.0) {
        double scale = nb::cast<double>(s.view.attr("Camera"_id)().attr("Scale"_id)());
        require_drawable_scale(scale / amount, "zooming the view");
    }
    s.view.attr("SetZoom"_id)(factor);
}

} // namespace

void set_projection_type(Scenard &s, nb::handle projection_type) {
    const Operation &op = operation_of<set_projection_type>();
    // The member is compared once: the retry below must ask for the same
    // projection as the first try, whatever its __eq__ answers a second time.
    bool orthographic = false;
    if (!guarded(op, [&] { orthographic = projection_type.equal(projection_type_orthographic); }))
        return;
    // A binding without the enumerator, or one that will not take it, may
    // still take the enumerator's integer value.
    with_fallback(
        op, "error"_id, projection_type_retry_failed,
        [&] {
            s.view.attr("Camera"_id)().attr("SetProjectionType"_id)(
                orthographic ? projection_orthographic : projection_perspective);
        },
        [&] {
            s.view.attr("Camera"_id)().attr("SetProjectionType"_id)(orthographic ? zero : one);
        });
}

namespace {

const OperationRow camera_operations[] = {
    guarded_row<set_projection>("set_projection", "Error setting projection: %s", {{"direction"}},
                                "def set_projection(self, direction: morvik.enums.ViewDirection) "
                                "-> None",
                                "Set view direction.\n\n"
                                "Args:\n"
                                "    direction: ViewDirection enum"),
    self_reporting_row<set_projection_type>(
        "set_projection_type", "Error setting projection type: %s", {{"projection_type"}},
        "def set_projection_type(self, projection_type: morvik.enums.ProjectionType) -> None",
        "Set the camera projection type.\n\n"
        "Args:\n"
        "    projection_type: ProjectionType enum"),
    guarded_row<fit_all>("fit_all", "Error fitting view: %s", {}, "def fit_all(self) -> None",
                         "Fit all displayed objects in the view."),
    guarded_row<redraw>("redraw", "Error in redraw: %s", {}, "def redraw(self) -> None",
                        "Redraw the view."),
    guarded_row<must_be_resized>("must_be_resized", "Error resizing view: %s", {},
                                 "def must_be_resized(self) -> None",
                                 "Notify view that it must be resized."),
    guarded_row<start_rotation>("start_rotation", "Error starting rotation: %s", {{"x"}, {"y"}},
                                "def start_rotation(self, x: int, y: int) -> None",
                                "Start rotation at given coordinates.\n\n"
                                "Args:\n"
                                "    x: X coordinate\n"
                                "    y: Y coordinate"),
    guarded_row<rotate>("rotate", "Error rotating: %s", {{"x"}, {"y"}},
                        "def rotate(self, x: int, y: int) -> None",
                        "Rotate view to given coordinates.\n\n"
                        "Args:\n"
                        "    x: X coordinate\n"
                        "    y: Y coordinate"),
    guarded_row<pan>("pan", "Error panning: %s", {{"dx"}, {"dy"}},
                     "def pan(self, dx: int, dy: int) -> None",
                     "Pan the view.\n\n"
                     "Args:\n"
                     "    dx: Delta X\n"
                     "    dy: Delta Y"),
    guarded_row<zoom>("zoom", "Error zooming: %s", {{"factor"}},
                      "def zoom(self, factor: float) -> None",
                      "Zoom the view.\n\n"
                      "Args:\n"
                      "    factor: Zoom factor"),
};

} // namespace

void bind_camera(ScenardClass &cls) { bind_rows(cls, camera_operations); }

} // namespace morvik
