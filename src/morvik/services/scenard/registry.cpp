// The shape registry: display, erase, update and the registry queries.
#include "bound_names.hpp"
#include "colors.hpp"
#include "guard.hpp"
#include "scenard.hpp"
#include "shape_info.hpp"

namespace morvik {

MORVIK_OPERATION(op_display_shape, "display_shape", "Error displaying shape: %s");
MORVIK_OPERATION(op_erase_shape, "erase_shape", "Error erasing shape: %s");
MORVIK_OPERATION(op_erase_all, "erase_all", "Error erasing all shapes: %s");
MORVIK_OPERATION(op_update_shape, "update_shape", "Error updating shape: %s");

namespace {

// The record registered under `shape_id`, or an empty object.
nb::object registered(Scenard &s, nb::handle shape_id) {
    PyObject *info = PyDict_GetItemWithError(s.shapes.ptr(), shape_id.ptr());
    if (!info && PyErr_Occurred())
        throw nb::python_error();
    return nb::borrow(info);
}

// Builds the presentation with its colour and transparency applied; touches
// neither the context nor the registry.
nb::object build_presentation(Scenard &s, nb::handle shape, nb::handle color) {
    nb::object ais = call(bound.AIS_Shape, shape);
    if (truthy(call_method(shape, method.IsNull)))
        raise(PyExc_ValueError, "cannot display a null shape");
    if (!color.is_none() && truthy(color))
        call_method(ais, method.SetColor, to_occt_color(color));
    if (greater(s.global_transparency, bound.zero))
        call_method(ais, method.SetTransparency, s.global_transparency);
    return ais;
}

// Takes a presentation back off the screen after a failed display, keeping
// the original error as the one reported.
void withdraw(Scenard &s, nb::handle ais, nb::handle update) {
    try {
        call_method(s.context, method.Remove, ais, update);
    } catch (nb::python_error &error) {
        if (!error.matches(PyExc_Exception))
            throw;
    }
}

void pop_reverse_entry(Scenard &s, nb::handle ais) {
    int present = PyDict_Contains(s.ais_to_id.ptr(), ais.ptr());
    if (present < 0 || (present && PyDict_DelItem(s.ais_to_id.ptr(), ais.ptr()) < 0))
        throw nb::python_error();
}

nb::object display_shape(Scenard &s, nb::handle shape, nb::handle shape_id, nb::handle color,
                         nb::handle update) {
    nb::object result = nb::none();
    guarded(op_display_shape, [&] {
        nb::object ais = build_presentation(s, shape, color);

        // A shape displayed again under its identifier replaces the earlier
        // presentation on screen; the identifier keeps its place.
        nb::object earlier = registered(s, shape_id);
        if (earlier.is_valid()) {
            nb::object earlier_ais = as_record(earlier).ais_shape;
            call_method(s.context, method.Remove, earlier_ais, py_bool(false));
            pop_reverse_entry(s, earlier_ais);
        }

        bool on_screen = false;
        try {
            call_method(s.context, method.Display, ais, update);
            on_screen = true;
            if (equals(s.current_display_mode, bound.mode_both)) {
                configure_shape_edges(ais, py_bool(true));
                call_method(s.context, method.Redisplay, ais, update);
            }
            nb::object record = make_record(shape_id, ais, color, py_bool(true));
            if (PyDict_SetItem(s.shapes.ptr(), shape_id.ptr(), record.ptr()) < 0 ||
                PyDict_SetItem(s.ais_to_id.ptr(), ais.ptr(), shape_id.ptr()) < 0)
                throw nb::python_error();
        } catch (...) {
            // Registry and screen agree after a failure: the identifier is no
            // longer registered and the new presentation is not left behind.
            if (on_screen)
                withdraw(s, ais, update);
            if (earlier.is_valid() && PyDict_DelItem(s.shapes.ptr(), shape_id.ptr()) < 0)
                PyErr_Clear();
            pop_reverse_entry(s, ais);
            throw;
        }
        result = nb::borrow(shape_id);
    });
    return result;
}

void erase_shape(Scenard &s, nb::handle shape_id, nb::handle update) {
    guarded(op_erase_shape, [&] {
        nb::object info = registered(s, shape_id);
        if (!info.is_valid())
            return;
        nb::object ais = as_record(info).ais_shape;
        call_method(s.context, method.Remove, ais, update);
        pop_reverse_entry(s, ais);
        if (PyDict_DelItem(s.shapes.ptr(), shape_id.ptr()) < 0)
            throw nb::python_error();
    });
}

void erase_all(Scenard &s) {
    guarded(op_erase_all, [&] {
        call_method(s.context, method.RemoveAll, py_bool(true));
        s.shapes.clear();
        s.ais_to_id.clear();
    });
}

void update_shape(Scenard &s, nb::handle ais_shape, nb::handle update) {
    guarded(op_update_shape, [&] { call_method(s.context, method.Redisplay, ais_shape, update); });
}

} // namespace

void bind_registry(ScenardClass &cls) {
    using namespace nb::literals;
    cls.def(
           "display_shape",
           [](Scenard &s, nb::object shape, nb::object shape_id, nb::object color,
              nb::object update) { return display_shape(s, shape, shape_id, color, update); },
           "shape"_a.none(), "shape_id"_a.none(), "color"_a.none() = nb::none(), "update"_a.none() = true,
           nb::sig("def display_shape(self, shape: OCP.TopoDS.TopoDS_Shape, shape_id: str, "
                   "color: tuple[float, float, float] | None = None, update: bool = True) "
                   "-> str | None"),
           "Display an OCP shape in the viewer.\n\n"
           "Args:\n"
           "    shape: OCP TopoDS_Shape object\n"
           "    shape_id: Specific ID for the shape\n"
           "    color: Tuple of RGB values (0-1) or None for default\n"
           "    update: Whether to update the display\n\n"
           "Returns:\n"
           "    str: Shape ID or None if error")
        .def(
            "erase_all", [](Scenard &s) { erase_all(s); }, nb::sig("def erase_all(self) -> None"),
            "Remove all shapes from the display.")
        .def(
            "erase_shape",
            [](Scenard &s, nb::object shape_id, nb::object update) {
                erase_shape(s, shape_id, update);
            },
            "shape_id"_a.none(), "update"_a.none() = true,
            nb::sig("def erase_shape(self, shape_id: str, update: bool = True) -> None"),
            "Remove a specific shape from the display.\n\n"
            "Args:\n"
            "    shape_id: ID of the shape to remove\n"
            "    update: Whether to update display")
        .def(
            "update_shape",
            [](Scenard &s, nb::object ais_shape, nb::object update) {
                update_shape(s, ais_shape, update);
            },
            "ais_shape"_a.none(), "update"_a.none() = true,
            nb::sig("def update_shape(self, ais_shape: OCP.AIS.AIS_Shape, update: bool = True) -> None"),
            "Update a displayed shape.\n\n"
            "Args:\n"
            "    ais_shape: AIS_Shape to update\n"
            "    update: Whether to update the display")
        .def(
            "get_all_shapes", [](Scenard &s) { return nb::steal<nb::dict>(PyDict_Copy(s.shapes.ptr())); },
            nb::sig("def get_all_shapes(self) -> dict[str, ShapeInfo]"),
            "Get all registered shapes.\n\n"
            "Returns:\n"
            "    Dictionary mapping shape IDs to ShapeInfo objects")
        .def(
            "get_shape_info",
            [](Scenard &s, nb::object shape_id) -> nb::object {
                nb::object info = registered(s, shape_id);
                return info.is_valid() ? info : nb::none();
            },
            "shape_id"_a.none(), nb::sig("def get_shape_info(self, shape_id: str) -> ShapeInfo | None"),
            "Get information about a specific shape.\n\n"
            "Args:\n"
            "    shape_id: ID of the shape\n\n"
            "Returns:\n"
            "    ShapeInfo object or None if not found")
        .def(
            "get_shape_count", [](Scenard &s) { return PyDict_Size(s.shapes.ptr()); },
            nb::sig("def get_shape_count(self) -> int"),
            "Get the number of shapes currently managed.\n\n"
            "Returns:\n"
            "    Number of shapes");
}

} // namespace morvik
