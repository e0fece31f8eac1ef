// Saved views: camera, display mode, transparency and background as plain data, and back.
//
// A state is a dict that json can write and read back as it is:
//
//     {"format": "morvik.view-state", "version": 1,
//      "camera": {"eye": [x, y, z], "target": [x, y, z], "up": [x, y, z],
//                 "scale": s, "projection": "orthographic"},
//      "display_mode": "shaded", "transparency": 0.0,
//      "background": {"color": [r, g, b]}
//                 or {"gradient": [[r, g, b], [r, g, b]], "method": "Aspect_GradientFillMethod_Vertical"}}
//
// Restoring reads and checks the whole state before it changes anything, so
// a state that is malformed, or not one of ours, leaves the view as it was.
#include "colors.hpp"
#include "lookup.hpp"
#include "names.hpp"
#include "operations.hpp"
#include "scenard.hpp"

#include <cmath>

namespace morvik {

namespace {

constexpr const char *state_format = "morvik.view-state";
constexpr long state_version = 1;

// --- writing -----------------------------------------------------------------

nb::list coordinates(nb::handle point) {
    nb::list xyz;
    xyz.append(nb::float_(point.attr("X"_id)()));
    xyz.append(nb::float_(point.attr("Y"_id)()));
    xyz.append(nb::float_(point.attr("Z"_id)()));
    return xyz;
}

nb::object background_state(Scenard &s) {
    nb::object gradient = s.background_gradient;
    nb::dict background;
    if (nb::bool_(gradient)) {
        auto [first, second, method] = unpack_three(gradient);
        nb::list colors;
        colors.append(nb::list(first));
        colors.append(nb::list(second));
        background["gradient"] = colors;
        background["method"] = nb::str(method.attr("name"_id));
    } else {
        background["color"] = nb::list(nb::object(s.background_color));
    }
    return background;
}

nb::object get_view_state(Scenard &s) {
    nb::object camera = s.view.attr("Camera"_id)();
    bool orthographic = camera.attr("ProjectionType"_id)().equal(projection_orthographic);
    nb::dict lens;
    lens["eye"] = coordinates(camera.attr("Eye"_id)());
    lens["target"] = coordinates(camera.attr("Center"_id)());
    lens["up"] = coordinates(camera.attr("Up"_id)());
    lens["scale"] = nb::float_(camera.attr("Scale"_id)());
    lens["projection"] =
        (orthographic ? projection_type_orthographic : projection_type_perspective).attr("value"_id);

    nb::dict state;
    state["format"] = state_format;
    state["version"] = state_version;
    state["camera"] = lens;
    state["display_mode"] = nb::object(s.current_display_mode).attr("value"_id);
    state["transparency"] = nb::float_(nb::object(s.global_transparency));
    state["background"] = background_state(s);
    return state;
}

// --- reading -----------------------------------------------------------------

// `map[key]`, where `map` must be a dict; `where` names it in messages.
nb::object entry(nb::handle map, const char *key, const char *where) {
    if (!PyDict_Check(map.ptr()))
        raise(PyExc_TypeError, "%s must be a dict, not %R", where, map.ptr());
    nb::object value = find_entry(map, nb::str(key));
    if (!value.is_valid())
        raise(PyExc_ValueError, "%s has no '%s'", where, key);
    return value;
}

// A finite real number; True and False are no amounts.
double real(nb::handle value, const char *what) {
    if (PyBool_Check(value.ptr()) || !(PyFloat_Check(value.ptr()) || PyLong_Check(value.ptr())))
        raise(PyExc_TypeError, "%s must be a number, not %R", what, value.ptr());
    double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred())
        throw nb::python_error();
    if (!std::isfinite(number))
        raise(PyExc_ValueError, "%s must be finite, not %R", what, value.ptr());
    return number;
}

struct Vector {
    double x, y, z;
    double length() const { return std::sqrt(x * x + y * y + z * z); }
};

Vector vector(nb::handle value, const char *what) {
    if (!PyList_Check(value.ptr()) && !PyTuple_Check(value.ptr()))
        raise(PyExc_TypeError, "%s must be a list of three numbers, not %R", what, value.ptr());
    auto [x, y, z] = unpack_three(value);
    return {real(x, what), real(y, what), real(z, what)};
}

Vector cross(const Vector &a, const Vector &b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Everything a state sets, read and checked, as the values OCCT will take.
struct ViewState {
    nb::object eye, target, up; // gp_Pnt, gp_Pnt, gp_Dir
    nb::object scale;           // a float
    bool orthographic = true;
    nb::object display_mode, transparency;
    bool gradient = false;
    Rgb first, second;          // the solid colour is `first`
    nb::object method;
};

ViewState read_state(nb::handle state) {
    nb::object format = entry(state, "format", "a view state");
    if (!format.equal(nb::str(state_format)))
        raise(PyExc_ValueError, "not a view state of this service: its format is %R", format.ptr());
    nb::object version = entry(state, "version", "a view state");
    if (PyBool_Check(version.ptr()) || !PyLong_Check(version.ptr()))
        raise(PyExc_TypeError, "a view state's version must be an int, not %R", version.ptr());
    if (!version.equal(nb::int_(state_version)))
        raise(PyExc_ValueError, "view state version %R cannot be read (this service reads %ld)",
              version.ptr(), state_version);

    ViewState read;
    nb::object lens = entry(state, "camera", "a view state");
    Vector eye = vector(entry(lens, "eye", "the camera"), "the camera's eye");
    Vector target = vector(entry(lens, "target", "the camera"), "the camera's target");
    Vector up = vector(entry(lens, "up", "the camera"), "the camera's up");
    Vector sight{target.x - eye.x, target.y - eye.y, target.z - eye.z};
    if (!(sight.length() > 1e-12))
        raise(PyExc_ValueError, "the camera's eye and target coincide");
    if (!(cross(sight, up).length() > 1e-9 * sight.length() * up.length()))
        raise(PyExc_ValueError, "the camera's up must be a direction across the line of sight");
    double scale = real(entry(lens, "scale", "the camera"), "the camera's scale");
    if (!(scale > 0.0))
        raise(PyExc_ValueError, "the camera's scale must be above 0, not %R",
              nb::float_(scale).ptr());
    read.eye = gp_Pnt(eye.x, eye.y, eye.z);
    read.target = gp_Pnt(target.x, target.y, target.z);
    read.up = gp_Dir(up.x, up.y, up.z);
    read.scale = nb::float_(scale);
    // The host's own enumerations turn the values a state holds back into members.
    nb::object projection = ProjectionType(entry(lens, "projection", "the camera"));
    read.orthographic = projection.equal(projection_type_orthographic);

    read.display_mode = DisplayMode(entry(state, "display_mode", "a view state"));
    read.transparency = to_transparency(entry(state, "transparency", "a view state"));

    nb::object background = entry(state, "background", "a view state");
    if (!PyDict_Check(background.ptr()))
        raise(PyExc_TypeError, "the background must be a dict, not %R", background.ptr());
    if (find_entry(background, nb::str("gradient")).is_valid()) {
        nb::object colors = entry(background, "gradient", "the background");
        if (!PyList_Check(colors.ptr()) && !PyTuple_Check(colors.ptr()))
            raise(PyExc_TypeError, "the background's gradient must be a list of two colours");
        nb::object pair = nb::steal(PySequence_Tuple(colors.ptr()));
        if (!pair.is_valid())
            throw nb::python_error();
        if (PyTuple_Size(pair.ptr()) != 2)
            raise(PyExc_ValueError, "the background's gradient must be a list of two colours");
        read.gradient = true;
        read.first = to_occt_color(PyTuple_GetItem(pair.ptr(), 0));
        read.second = to_occt_color(PyTuple_GetItem(pair.ptr(), 1));
        nb::object name = entry(background, "method", "the background");
        if (!PyUnicode_Check(name.ptr()))
            raise(PyExc_TypeError, "the gradient's method must be a name, not %R", name.ptr());
        read.method = find_entry(Aspect_GradientFillMethod.attr("__members__"), name);
        if (!read.method.is_valid())
            raise(PyExc_ValueError, "%R is no Aspect_GradientFillMethod", name.ptr());
        require_fill_method(read.method);
    } else {
        read.first = to_occt_color(entry(background, "color", "the background"));
    }
    return read;
}

// --- restoring ---------------------------------------------------------------

void set_view_state(Scenard &s, nb::handle state) {
    ViewState read = read_state(state);

    nb::object camera = s.view.attr("Camera"_id)();
    camera.attr("SetProjectionType"_id)(read.orthographic ? projection_orthographic
                                                          : projection_perspective);
    camera.attr("SetEyeAndCenter"_id)(read.eye, read.target);
    camera.attr("SetUp"_id)(read.up);
    camera.attr("OrthogonalizeUp"_id)();
    camera.attr("SetScale"_id)(read.scale);

    if (read.gradient)
        apply_background_gradient(s, read.first, read.second, read.method);
    else
        apply_background_color(s, read.first);
    // Each shape is redisplayed only when its look changes: restoring the
    // view of a large scene that already shows that mode and transparency
    // (a reload, say) costs one frame rather than a pass over every shape.
    // The display mode's pass redisplays the transparency too.
    bool new_mode = !read.display_mode.equal(s.current_display_mode);
    if (!read.transparency.equal(s.global_transparency))
        apply_transparency(s, read.transparency, !new_mode);
    if (new_mode)
        apply_display_mode(s, read.display_mode);
    s.context.attr("UpdateCurrentViewer"_id)();
}

const OperationRow view_state_operations[] = {
    guarded_row<get_view_state>(
        "get_view_state", "Error getting view state: %s", {},
        "def get_view_state(self) -> dict[str, typing.Any] | None",
        "Get the view's state as plain data, ready for json.\n\n"
        "The state holds the camera (eye, target, up, scale and projection), the\n"
        "display mode, the global transparency and the background, with a format\n"
        "name and version.\n\n"
        "Returns:\n"
        "    dict: The view state, or None if error"),
    guarded_row<set_view_state>(
        "set_view_state", "Error setting view state: %s", {{"state"}},
        "def set_view_state(self, state: collections.abc.Mapping[str, typing.Any]) -> None",
        "Restore a view state that get_view_state returned.\n\n"
        "A state that is malformed, or of another format, is logged and changes nothing.\n\n"
        "Args:\n"
        "    state: The view state"),
};

} // namespace

void bind_view_state(ScenardClass &cls) { bind_rows(cls, view_state_operations); }

} // namespace morvik
