// Shape appearance: colour, visibility, transparency and display mode.
#include "bound_names.hpp"
#include "colors.hpp"
#include "guard.hpp"
#include "lookup.hpp"
#include "scenard.hpp"
#include "shape_info.hpp"

namespace morvik {

MORVIK_OPERATION(op_set_shape_color, "set_shape_color", "Error setting shape color: %s");
MORVIK_OPERATION(op_set_shape_visibility, "set_shape_visibility",
                 "Error setting shape visibility: %s");
MORVIK_OPERATION(op_set_global_transparency, "set_global_transparency",
                 "Error setting global transparency: %s");
MORVIK_OPERATION(op_set_display_mode, "set_display_mode", "Error setting display mode: %s");

namespace {

// The registry's records as they are now: the loops below call out to Python
// for every shape and must not walk the live dict while doing so.
nb::list registered_records(Scenard &s) {
    PyObject *records = PyDict_Values(s.shapes.ptr());
    if (!records)
        throw nb::python_error();
    return nb::steal<nb::list>(records);
}

// A transparency display_shape can apply to every later shape. OCCT refuses
// anything outside 0..1, so storing such a value would make every later
// display fail; NaN and infinities are refused along with it. A bool is a
// truth value, not an amount, and is refused too. Returns the amount as a
// float, which is what the service keeps and hands to OCCT.
nb::object to_transparency(nb::handle value) {
    if (PyBool_Check(value.ptr()))
        raise(PyExc_TypeError, "transparency must be a number from 0 to 1, not bool");
    double amount = PyFloat_AsDouble(value.ptr());
    if (amount == -1.0 && PyErr_Occurred())
        throw nb::python_error();
    if (!(amount >= 0.0 && amount <= 1.0))
        raise(PyExc_ValueError, "transparency must be a finite number from 0 to 1, got %R",
              value.ptr());
    return nb::float_(amount);
}

void set_shape_color(Scenard &s, nb::handle ais_shape, nb::handle color, nb::handle update) {
    guarded(op_set_shape_color, [&] {
        nb::object occt_color = to_occt_color(color).occt;
        bool redisplay = truthy(update);
        call_method(ais_shape, method.SetColor, occt_color);
        if (redisplay)
            call_method(s.context, method.Redisplay, ais_shape, py_bool(true));
    });
}

void set_shape_visibility(Scenard &s, nb::handle shape_id, nb::handle visible,
                          nb::handle update) {
    guarded(op_set_shape_visibility, [&] {
        // Flags are read once, before anything is looked up or called.
        bool show = truthy(visible);
        nb::handle update_flag = py_bool(truthy(update));
        nb::object info = find_entry(s.shapes, shape_id);
        if (!info.is_valid())
            return;
        ShapeInfo &record = as_record(info);
        nb::object shown = record.visible;
        nb::object ais = record.ais_shape;
        if (show == truthy(shown))
            return; // already as asked: no call, no viewer update
        call_method(s.context, show ? method.Display : method.Erase, ais, update_flag);
        // Written only once the context has done it, so the flag never claims
        // a state the screen does not show.
        record.visible = nb::borrow(py_bool(show));
    });
}

nb::object is_shape_visible(Scenard &s, nb::handle shape_id) {
    nb::object info = find_entry(s.shapes, shape_id);
    return info.is_valid() ? nb::object(as_record(info).visible) : nb::borrow(py_bool(false));
}

void set_global_transparency(Scenard &s, nb::handle transparency, nb::handle update) {
    guarded(op_set_global_transparency, [&] {
        nb::object amount = to_transparency(transparency);
        bool redisplay = truthy(update);
        s.global_transparency = amount;
        for (nb::handle info : registered_records(s)) {
            nb::object ais = as_record(info).ais_shape;
            call_method(ais, method.SetTransparency, amount);
            if (redisplay)
                call_method(s.context, method.Redisplay, ais, py_bool(false));
        }
        if (redisplay)
            call_method(s.context, method.UpdateCurrentViewer);
    });
}

void set_display_mode(Scenard &s, nb::handle mode) {
    // Remembered whatever happens next, so shapes displayed later follow it.
    s.current_display_mode = nb::borrow(mode);
    guarded(op_set_display_mode, [&] {
        // The context's mode carries only wireframe (0) or shaded (1); face
        // boundaries are set on each shape.
        bool wireframe = equals(mode, bound.mode_wireframe);
        bool boundaries = !wireframe && equals(mode, bound.mode_both);
        call_method(s.context, method.SetDisplayMode, wireframe ? bound.zero : bound.one,
                    py_bool(false));
        // Hidden shapes too, so a shape shown again matches the mode in force.
        for (nb::handle info : registered_records(s)) {
            nb::object ais = as_record(info).ais_shape;
            configure_shape_edges(ais, boundaries);
            call_method(s.context, method.Redisplay, ais, py_bool(false));
        }
        call_method(s.context, method.UpdateCurrentViewer);
    });
}

} // namespace

void bind_appearance(ScenardClass &cls) {
    using namespace nb::literals;
    cls.def(
           "set_display_mode", [](Scenard &s, nb::object mode) { set_display_mode(s, mode); },
           "mode"_a.none(), nb::sig("def set_display_mode(self, mode: morvik.enums.DisplayMode) -> None"),
           "Set the display mode globally for all shapes.\n\n"
           "Args:\n"
           "    mode: DisplayMode to apply")
        .def(
            "set_shape_color",
            [](Scenard &s, nb::object ais_shape, nb::object color, nb::object update) {
                set_shape_color(s, ais_shape, color, update);
            },
            "ais_shape"_a.none(), "color"_a.none(), "update"_a.none() = true,
            nb::sig("def set_shape_color(self, ais_shape: OCP.AIS.AIS_Shape, "
                    "color: tuple[float, float, float], update: bool = True) -> None"),
            "Set the color of a shape.\n\n"
            "Args:\n"
            "    ais_shape: AIS_Shape to color\n"
            "    color: Tuple of RGB values (0-1)\n"
            "    update: Whether to update the display")
        .def(
            "set_global_transparency",
            [](Scenard &s, nb::object transparency, nb::object update) {
                set_global_transparency(s, transparency, update);
            },
            "transparency"_a.none(), "update"_a.none() = true,
            nb::sig("def set_global_transparency(self, transparency: float, update: bool = True) "
                    "-> None"),
            "Set transparency for all shapes globally.\n\n"
            "Args:\n"
            "    transparency: Float 0-1 for transparency (0 = opaque, 1 = fully transparent)\n"
            "    update: Whether to update the display")
        .def(
            "set_shape_visibility",
            [](Scenard &s, nb::object shape_id, nb::object visible, nb::object update) {
                set_shape_visibility(s, shape_id, visible, update);
            },
            "shape_id"_a.none(), "visible"_a.none(), "update"_a.none() = true,
            nb::sig("def set_shape_visibility(self, shape_id: str, visible: bool, "
                    "update: bool = True) -> None"),
            "Set the visibility of a shape.\n\n"
            "Args:\n"
            "    shape_id: ID of the shape\n"
            "    visible: True to show, False to hide\n"
            "    update: Whether to update the display")
        .def(
            "is_shape_visible",
            [](Scenard &s, nb::object shape_id) { return is_shape_visible(s, shape_id); },
            "shape_id"_a.none(), nb::sig("def is_shape_visible(self, shape_id: str) -> bool"),
            "Check if a shape is visible.\n\n"
            "Args:\n"
            "    shape_id: ID of the shape\n\n"
            "Returns:\n"
            "    True if the shape is visible, False if hidden or not found");
}

} // namespace morvik
