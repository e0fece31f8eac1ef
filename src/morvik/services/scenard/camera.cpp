// Camera and navigation: view directions, projection, fit, redraw and the
// pointer-driven rotation, panning and zoom.
#include "operations.hpp"

namespace morvik {

// The second, integer-valued try of set_projection_type is only worth a debug
// note when it fails: the binding simply cannot take the projection.
static const char *const projection_type_retry_failed = "Could not set projection type: %s",
                        *const setting_projection_type = "Error setting projection type: %s";

namespace {

// One standard view: the member that selects it, the direction passed to
// SetProj and the up vector passed to SetUp. The world's +Y axis is up.
struct StandardView {
    const HostName &direction;
    int proj[3], up[3];
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

void set_projection(Scenard &s, Direction direction) {
    for (const StandardView &row : standard_views) {
        if (direction.equal(row.direction)) {
            s.view.attr("SetProj")(row.proj[0], row.proj[1], row.proj[2]);
            s.view.attr("SetUp")(row.up[0], row.up[1], row.up[2]);
            return;
        }
    }
}

void fit_all(Scenard &s) {
    s.view.attr("FitAll")();
    s.view.attr("ZFitAll")();
}

// A selection too small to frame (one vertex, say) leaves the camera as it was.
void fit_selected(Scenard &s) {
    if (nb::cast<Py_ssize_t>(s.context.attr("NbSelected")()) == 0)
        return fit_all(s);
    nb::object camera = s.view.attr("Camera")();
    nb::object before = Graphic3d_Camera(camera);
    s.context.attr("FitSelected")(s.view, 0.01, false);
    double scale = nb::cast<double>(camera.attr("Scale")());
    if (!(scale >= smallest_view_scale && scale <= largest_view_extent)) {
        camera.attr("Copy")(before);
        raise(PyExc_ValueError, "the selection is too small to fit the view to");
    }
    s.view.attr("ZFitAll")();
    s.view.attr("Redraw")();
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
    s.view.attr("Redraw")();
}

void must_be_resized(Scenard &s) { s.view.attr("MustBeResized")(); }

void start_rotation(Scenard &s, Int x, Int y) { s.view.attr("StartRotation")(x, y); }

void rotate(Scenard &s, Int x, Int y) { s.view.attr("Rotation")(x, y); }

void pan(Scenard &s, Int dx, Int dy) {
    // Screen y grows downwards, the view's y upwards.
    s.view.attr("Pan")(dx, -nb::borrow(dy));
}

void zoom(Scenard &s, Real factor) {
    // OCCT refuses a factor of zero or less, but a NaN passes its test and
    // leaves the camera without a scale: nothing shows until the next fit.
    // Nor may zooming take the camera where OCCT no longer draws or picks
    // (picks fail, and the camera soon holds NaN). The factor is read once,
    // and OCCT is handed what was checked.
    double amount = to_number(factor, "the zoom factor");
    if (amount != amount)
        raise(PyExc_ValueError, "zoom factor is not a number: %R", factor.ptr());
    if (amount > 0.0)
        require_drawable_scale(nb::cast<double>(s.view.attr("Camera")().attr("Scale")()) / amount,
                               "zooming the view");
    s.view.attr("SetZoom")(amount);
}

} // namespace

void set_projection_type(Scenard &s, Projection projection_type) {
    // The member is compared once: the retry below must ask for the same
    // projection as the first try, whatever its __eq__ answers a second time.
    bool orthographic = false;
    if (!guard(setting_projection_type,
               [&] { orthographic = projection_type.equal(projection_type_orthographic); }))
        return;
    // A binding without the enumerator, or one that will not take it, may
    // still take the enumerator's integer value.
    with_fallback(
        setting_projection_type, "error", projection_type_retry_failed,
        [&] {
            s.view.attr("Camera")().attr("SetProjectionType")(
                orthographic ? projection_orthographic : projection_perspective);
        },
        [&] {
            s.view.attr("Camera")().attr("SetProjectionType")(orthographic ? zero : one);
        });
}

void bind_camera(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "set_projection", guarded<set_projection>("Error setting projection: %s"),
        "direction"_a,
        "Set view direction.\n\nArgs:\n    direction: ViewDirection enum");
    def(cls, "set_projection_type", reporting<set_projection_type>(setting_projection_type),
        "projection_type"_a,
        "Set the camera projection type.\n\nArgs:\n    projection_type: ProjectionType enum");
    def(cls, "fit_all", guarded<fit_all>("Error fitting view: %s"),
        "Fit all displayed objects in the view.");
    def(cls, "fit_selected", guarded<fit_selected>("Error fitting view to selection: %s"),
        "Fit the selected shapes in the view, or all shapes when none is selected.");
    def(cls, "redraw", guarded<redraw>("Error in redraw: %s"), "Redraw the view.");
    def(cls, "must_be_resized", guarded<must_be_resized>("Error resizing view: %s"),
        "Notify view that it must be resized.");
    def(cls, "start_rotation", guarded<start_rotation>("Error starting rotation: %s"), "x"_a,
        "y"_a,
        "Start rotation at given coordinates.\n\nArgs:\n    x: X coordinate\n    y: Y coordinate");
    def(cls, "rotate", guarded<rotate>("Error rotating: %s"), "x"_a, "y"_a,
        "Rotate view to given coordinates.\n\nArgs:\n    x: X coordinate\n    y: Y coordinate");
    def(cls, "pan", guarded<pan>("Error panning: %s"), "dx"_a, "dy"_a,
        "Pan the view.\n\nArgs:\n    dx: Delta X\n    dy: Delta Y");
    def(cls, "zoom", guarded<zoom>("Error zooming: %s"), "factor"_a,
        "Zoom the view.\n\nArgs:\n    factor: Zoom factor");
}

} // namespace morvik
