// Saved views: camera, display mode, transparency, background and section plane as plain
// data, and back; the section plane's own operations.
//
// A state is a dict that json can write and read back as it is:
//
//     {"format": "morvik.view-state", "version": 1,
//      "camera": {"eye": [x, y, z], "target": [x, y, z], "up": [x, y, z],
//                 "scale": s, "projection": "orthographic"},
//      "display_mode": "shaded", "transparency": 0.0,
//      "background": {"color": [r, g, b]}
//                 or {"gradient": [[r, g, b], [r, g, b]], "method": "Aspect_GradientFillMethod_Vertical"},
//      "clip_plane": {"origin": [x, y, z], "normal": [x, y, z], "capping": true} or None}
//
// A state without "clip_plane" (one saved before there was a section plane)
// restores a view without one.
//
// Restoring reads and checks the whole state before it changes anything, so
// a state that is malformed, or not one of ours, leaves the view as it was.
// Any mapping will do where a dict is shown. The camera is checked as OCCT
// will hold it (a perspective camera takes its distance from the scale),
// against the bounds OCCT draws and picks within; a state is handed out only
// when the same check passes, so every state the service gives it takes back.
#include "operations.hpp"

#include <algorithm>
#include <cmath>

namespace morvik {

void require_drawable_scale(double scale, const char *whose) {
    if (!(scale >= smallest_view_scale && scale <= largest_view_extent)) // NaN fails too
        raise(PyExc_ValueError, "%s: a scale of %R lies outside what the view can draw and pick "
              "(%s to %s)", whose, nb::float_(scale).ptr(), smallest_view_scale_text,
              largest_view_extent_text);
}

namespace {

constexpr const char *state_format = "morvik.view-state";
constexpr long state_version = 1;

struct Vector {
    double x, y, z;
    double length() const { return std::sqrt(x * x + y * y + z * z); }
    double largest() const { return std::max({std::fabs(x), std::fabs(y), std::fabs(z)}); }
};

Vector cross(const Vector &a, const Vector &b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// What a camera holds, in model units.
struct Lens { Vector eye, target, up; double scale; };

// A camera OCCT draws and picks as it should: finite, within the view's
// extent, with a line of sight and an up direction across it.
void require_drawable(const Lens &lens, const char *whose) {
    for (const Vector *v : {&lens.eye, &lens.target, &lens.up})
        if (!(v->largest() <= largest_view_extent)) // NaN fails too
            raise(PyExc_ValueError, "%s lies outside what the view can draw and pick "
                  "(coordinates within %s)", whose, largest_view_extent_text);
    require_drawable_scale(lens.scale, whose);
    Vector sight{lens.target.x - lens.eye.x, lens.target.y - lens.eye.y,
                 lens.target.z - lens.eye.z};
    if (!(sight.length() > 1e-12))
        raise(PyExc_ValueError, "%s: its eye and target coincide", whose);
    if (!(cross(sight, lens.up).length() > 1e-9 * sight.length() * lens.up.length()))
        raise(PyExc_ValueError, "%s: its up must be a direction across the line of sight", whose);
}

Vector vector_of(nb::handle point) {
    return {nb::cast<double>(point.attr("X")()), nb::cast<double>(point.attr("Y")()),
            nb::cast<double>(point.attr("Z")())};
}

Lens lens_of(nb::handle camera) {
    return {vector_of(camera.attr("Eye")()), vector_of(camera.attr("Center")()),
            vector_of(camera.attr("Up")()), nb::cast<double>(camera.attr("Scale")())};
}

// The section plane: through `origin`, keeping what lies where `normal` points.
struct Section {
    bool on = false;
    Vector origin{}, normal{};
    bool capping = true;
};

// Everything a state sets, read and checked, as the values OCCT will take.
struct ViewState {
    Section section;
    nb::object camera; // a camera of its own, as the view will hold it
    nb::object display_mode, transparency;
    bool gradient = false;
    Rgb first, second;          // the solid colour is `first`
    nb::object method;
};

// --- reading -----------------------------------------------------------------

nb::object lookup(nb::handle map, const char *key) {
    PyObject *value = PyObject_GetItem(map.ptr(), nb::str(key).ptr());
    if (value)
        return nb::steal(value);
    clear_error(PyExc_KeyError);
    return nb::object();
}

void require_mapping(nb::handle map, const char *where) {
    if (!nb::isinstance(map, Mapping))
        raise(PyExc_TypeError, "%s must be a mapping, not %R", where, map.ptr());
}

// `map[key]`, where `map` must be a mapping; `where` names it in messages.
nb::object entry(nb::handle map, const char *key, const char *where) {
    require_mapping(map, where);
    nb::object value = lookup(map, key);
    if (!value.is_valid())
        raise(PyExc_ValueError, "%s has no '%s'", where, key);
    return value;
}

void require_finite(double number, const char *what) {
    if (!std::isfinite(number))
        raise(PyExc_ValueError, "%s must be finite, not %R", what, nb::float_(number).ptr());
}

// A finite number, by the number rule.
double real(nb::handle value, const char *what) {
    double number = to_number(value, what);
    require_finite(number, what);
    return number;
}

// A state is data as json writes it, where a number is never true or false:
// a state holding one is malformed, as one whose version is True is. (The
// operations themselves take a bool as the number rule does.)
nb::object state_number(nb::object value, const char *what) {
    auto refuse_bool = [&](nb::handle v) {
        if (PyBool_Check(v.ptr()))
            raise(PyExc_TypeError, "%s must be a number, not %R", what, v.ptr());
    };
    refuse_bool(value);
    if (PyList_Check(value.ptr()) || PyTuple_Check(value.ptr()))
        for (nb::handle item : value)
            refuse_bool(item);
    return value;
}

// Three finite numbers, by the same rule as a colour's.
Vector vector(nb::handle value, const char *what) {
    std::array<double, 3> v = to_three_numbers(value, what);
    for (double number : v)
        require_finite(number, what);
    return {v[0], v[1], v[2]};
}

Section read_section(nb::handle origin, nb::handle normal, bool capping) {
    Section section{true, vector(origin, "the plane's origin"), vector(normal, "the plane's normal"),
                    capping};
    if (!(section.origin.largest() <= largest_view_extent))
        raise(PyExc_ValueError, "the plane's origin lies outside what the view can draw "
              "(coordinates within %s)", largest_view_extent_text);
    double length = section.normal.length();
    if (!(length > 1e-12) || !std::isfinite(length))
        raise(PyExc_ValueError, "the plane's normal must be a direction, not %R", normal.ptr());
    return section;
}

// The section plane is the service's own, whatever planes the host adds to
// the view: it carries its mark in its capping material's name, which OCCT
// keeps with the plane and never draws (the cut shows each part's own
// material). The view's planes are reached through First() alone, since the
// bindings offer no iterator over them (OCP 8 binds First, Append and Remove),
// so they are turned round, first to last, until ours leads: at most Size()
// turns, and none once it does. Their order means nothing to the clipping
// itself (every plane cuts), except that a driver ignores the planes past its
// limit, which ours, leading, never is. Without ours, they end as they began.
bool is_own_plane(nb::handle plane) {
    return nb::str(plane.attr("CappingMaterial")().attr("StringName")().attr("ToCString")())
        .equal(section_plane_name);
}

nb::object section_plane(Scenard &s) {
    nb::object planes = s.view.attr("ClipPlanes")();
    if (planes.is_none())
        return {};
    Py_ssize_t count = nb::cast<Py_ssize_t>(planes.attr("Size")());
    for (Py_ssize_t turned = 0; turned < count; ++turned) {
        nb::object plane = planes.attr("First")();
        if (is_own_plane(plane)) {
            if (turned > 0)
                s.view.attr("SetClipPlanes")(planes);
            return plane;
        }
        planes.attr("Remove")(plane);
        planes.attr("Append")(plane);
    }
    return {};
}

// Moves the plane the service made, in place, which costs OCCT no more than
// the next frame: what a dragged slider needs.
void apply_section(Scenard &s, const Section &section) {
    nb::object plane = section_plane(s);
    if (!section.on) {
        if (plane.is_valid())
            s.view.attr("RemoveClipPlane")(plane);
        return;
    }
    const Vector &o = section.origin, &n = section.normal;
    nb::object equation = gp_Pln(gp_Pnt(o.x, o.y, o.z), gp_Dir(n.x, n.y, n.z));
    if (!plane.is_valid()) {
        plane = Graphic3d_ClipPlane(equation);
        nb::object mark = Graphic3d_MaterialAspect();
        mark.attr("SetMaterialName")(TCollection_AsciiString(section_plane_name));
        plane.attr("SetCappingMaterial")(mark);
        plane.attr("SetUseObjectMaterial")(true); // the cut shows each part's own colour
        plane.attr("SetCapping")(section.capping);
        s.view.attr("AddClipPlane")(plane);
        return;
    }
    plane.attr("SetEquation")(equation);
    if (truth(plane.attr("IsCapping")()) != section.capping)
        plane.attr("SetCapping")(section.capping);
}

// The state's camera, set up on a copy of the view's: OCCT derives part of
// what it holds (a perspective camera's eye, from the scale), and that is
// what must be drawable.
nb::object read_camera(Scenard &s, nb::handle state) {
    nb::object lens = entry(state, "camera", "a view state");
    auto field = [&](const char *key, const char *what) {
        return state_number(entry(lens, key, "the camera"), what);
    };
    Lens asked{vector(field("eye", "the camera's eye"), "the camera's eye"),
               vector(field("target", "the camera's target"), "the camera's target"),
               vector(field("up", "the camera's up"), "the camera's up"),
               real(field("scale", "the camera's scale"), "the camera's scale")};
    require_drawable(asked, "the camera");
    // The host's own enumerations turn the values a state holds back into members.
    nb::object projection = ProjectionType(entry(lens, "projection", "the camera"));
    bool orthographic = projection.equal(projection_type_orthographic);

    nb::object camera = Graphic3d_Camera(s.view.attr("Camera")());
    camera.attr("SetProjectionType")(orthographic ? projection_orthographic
                                                     : projection_perspective);
    camera.attr("SetEyeAndCenter")(gp_Pnt(asked.eye.x, asked.eye.y, asked.eye.z),
                                      gp_Pnt(asked.target.x, asked.target.y, asked.target.z));
    camera.attr("SetUp")(gp_Dir(asked.up.x, asked.up.y, asked.up.z));
    camera.attr("OrthogonalizeUp")();
    camera.attr("SetScale")(nb::float_(asked.scale));
    require_drawable(lens_of(camera), "the camera as the view would hold it");
    return camera;
}

ViewState read_state(Scenard &s, nb::handle state) {
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
    read.camera = read_camera(s, state);
    read.display_mode = DisplayMode(entry(state, "display_mode", "a view state"));
    read.transparency = to_transparency(entry(state, "transparency", "a view state"));

    nb::object background = entry(state, "background", "a view state");
    require_mapping(background, "the background");
    nb::object colors = lookup(background, "gradient");
    if (colors.is_valid()) {
        if (!PyList_Check(colors.ptr()) && !PyTuple_Check(colors.ptr()))
            raise(PyExc_TypeError, "the background's gradient must be a list of two colours");
        nb::tuple pair(colors);
        if (pair.size() != 2)
            raise(PyExc_ValueError, "the background's gradient must be a list of two colours");
        read.gradient = true;
        read.first = to_occt_color(pair[0]);
        read.second = to_occt_color(pair[1]);
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

    nb::object plane = lookup(state, "clip_plane");
    if (plane.is_valid() && !plane.is_none()) {
        nb::object capping = entry(plane, "capping", "the clip plane");
        if (!PyBool_Check(capping.ptr()))
            raise(PyExc_TypeError, "the clip plane's capping must be a bool, not %R",
                  capping.ptr());
        read.section = read_section(
            state_number(entry(plane, "origin", "the clip plane"), "the plane's origin"),
            state_number(entry(plane, "normal", "the clip plane"), "the plane's normal"),
            capping.is(Py_True));
    }
    return read;
}

// --- writing -----------------------------------------------------------------

nb::list coordinates(const Vector &v) { return nb::list(nb::make_tuple(v.x, v.y, v.z)); }

Out<text::state_or_none> get_view_state(Scenard &s) {
    nb::object camera = s.view.attr("Camera")();
    Lens lens = lens_of(camera);
    bool orthographic = camera.attr("ProjectionType")().equal(projection_orthographic);
    nb::dict saved;
    saved["eye"] = coordinates(lens.eye);
    saved["target"] = coordinates(lens.target);
    saved["up"] = coordinates(lens.up);
    saved["scale"] = nb::float_(lens.scale);
    saved["projection"] =
        (orthographic ? projection_type_orthographic : projection_type_perspective).attr("value");

    nb::dict state;
    state["format"] = state_format;
    state["version"] = state_version;
    state["camera"] = saved;
    state["display_mode"] = nb::object(s.current_display_mode).attr("value");
    state["transparency"] = nb::float_(nb::object(s.global_transparency));
    nb::object gradient = s.background_gradient;
    nb::dict background;
    if (nb::bool_(gradient)) {
        auto [first, second, method] = unpack_three(gradient);
        background["gradient"] = nb::list(nb::make_tuple(nb::list(first), nb::list(second)));
        background["method"] = nb::str(method.attr("name"));
    } else {
        background["color"] = nb::list(nb::object(s.background_color));
    }
    state["background"] = background;
    nb::object plane = section_plane(s);
    nb::object section = nb::none();
    if (plane.is_valid()) {
        nb::object equation = plane.attr("ToPlane")();
        nb::dict saved_plane;
        saved_plane["origin"] = coordinates(vector_of(equation.attr("Location")()));
        saved_plane["normal"] = coordinates(vector_of(equation.attr("Axis")().attr("Direction")()));
        saved_plane["capping"] = nb::bool_(truth(plane.attr("IsCapping")()));
        section = saved_plane;
    }
    state["clip_plane"] = section;
    // Handed out only when set_view_state would take it back: a camera beyond
    // what the view draws, or a display mode or background the host set beyond
    // what a state holds, is caught here.
    read_state(s, state);
    return state;
}

// --- restoring ---------------------------------------------------------------

void restore_view_state(Scenard &s, nb::handle state) {
    refuse_look_change(s); // it may change the look of every shape
    ViewState read = read_state(s, state);

    s.view.attr("Camera")().attr("Copy")(read.camera);
    apply_section(s, read.section);
    if (read.gradient)
        apply_background_gradient(s, read.first, read.second, read.method);
    else
        apply_background_color(s, read.first);
    // Each shape is visited only when its look changes: restoring the view
    // of a large scene that already shows that mode and transparency (a
    // reload, say) costs one frame rather than a pass over every shape.
    if (!read.transparency.equal(s.global_transparency))
        apply_transparency(s, read.transparency);
    if (!read.display_mode.equal(s.current_display_mode))
        apply_display_mode(s, read.display_mode);
    s.context.attr(py::UpdateCurrentViewer)();
}

constexpr const char *setting_view_state = "Error setting view state: %s";

// True when the state was applied; a refusal is logged, as any failure is.
Out<text::flag> set_view_state(Scenard &s, State state) {
    return nb::bool_(guard(setting_view_state, [&] { restore_view_state(s, state); }));
}

void set_clip_plane(Scenard &s, Point origin, Point normal, Flag capping) {
    apply_section(s, read_section(origin, normal, truth(capping)));
    s.view.attr("Redraw")();
}

void clear_clip_plane(Scenard &s) {
    apply_section(s, Section{});
    s.view.attr("Redraw")();
}

} // namespace

void bind_view_state(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "get_view_state", guarded<get_view_state>("Error getting view state: %s"),
        "Get the view's state as plain data, ready for json.\n\n"
        "The state holds the camera (eye, target, up, scale and projection), the\n"
        "display mode, the global transparency, the background and the section\n"
        "plane, with a format name and version. set_view_state takes back every\n"
        "state returned here; a camera outside what the view can draw gives None.\n\n"
        "Returns:\n"
        "    dict: The view state, or None if error");
    def(cls, "set_view_state", reporting<set_view_state>(setting_view_state), "state"_a,
        "Restore a view state that get_view_state returned.\n\n"
        "A state that is malformed, of another format, or with a camera the view\n"
        "cannot draw, is logged and changes nothing.\n\nArgs:\n    state: The view state\n\n"
        "Returns:\n    bool: True if the state was applied, False if it was refused");
    def(cls, "set_clip_plane", guarded<set_clip_plane>("Error setting clip plane: %s"),
        "origin"_a, "normal"_a, "capping"_a = true,
        "Cut the view with the service's section plane, moving it if it has one.\n\n"
        "Planes the host added to the view stay as they are.\n\n"
        "Everything behind the plane, against its normal, is hidden; capping fills\n"
        "the cut of each solid with the solid's colour. Moving the plane costs\n"
        "no more than a redraw, so it can follow a slider.\n\nArgs:\n"
        "    origin: A point of the plane (x, y, z)\n"
        "    normal: The plane's normal (x, y, z), pointing to what stays shown\n"
        "    capping: Whether to fill the cut");
    def(cls, "clear_clip_plane", guarded<clear_clip_plane>("Error clearing clip plane: %s"),
        "Remove the service's section plane from the view; the host's planes stay.");
}

} // namespace morvik
