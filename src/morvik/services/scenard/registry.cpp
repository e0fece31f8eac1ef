// The shape registry: display, erase, update and the registry queries.
#include "bound_names.hpp"
#include "colors.hpp"
#include "guard.hpp"
#include "scenard.hpp"
#include "shape_info.hpp"

#include <algorithm>
#include <vector>

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

// Services whose registry a display or erase is changing right now. An
// identifier's __hash__ or __eq__, or a host's context, may call back into the
// service in the middle of such a change; a second change then would act on a
// registry the first has half changed, so it is refused.
std::vector<const Scenard *> changing;

struct RegistryChange {
    const Scenard &s;
    explicit RegistryChange(const Scenard &service) : s(service) {
        if (std::find(changing.begin(), changing.end(), &s) != changing.end())
            raise(PyExc_RuntimeError, "the shape registry is being changed by a call in progress");
        changing.push_back(&s);
    }
    ~RegistryChange() { changing.erase(std::find(changing.begin(), changing.end(), &s)); }
};

// The presentation of a registered record, which must be one the service put
// on screen: a record whose presentation the host replaced (with None, say)
// would let its real presentation stay on screen with no identifier owning it.
nb::object owned_presentation(Scenard &s, nb::handle info) {
    nb::object ais = as_record(info).ais_shape;
    int known = PyDict_Contains(s.ais_to_id.ptr(), ais.ptr());
    if (known < 0)
        throw nb::python_error();
    if (!known)
        raise(PyExc_LookupError, "the record holds %R, a presentation the service never displayed",
              ais.ptr());
    return ais;
}

// Builds the presentation with its colour and transparency applied; touches
// neither the context nor the registry.
nb::object build_presentation(Scenard &s, nb::handle shape, nb::handle occt_color) {
    nb::object ais = call(bound.AIS_Shape, shape);
    if (truthy(call_method(shape, method.IsNull)))
        raise(PyExc_ValueError, "cannot display a null shape");
    if (occt_color.is_valid())
        call_method(ais, method.SetColor, occt_color);
    nb::object transparency = s.global_transparency;
    if (greater(transparency, bound.zero))
        call_method(ais, method.SetTransparency, transparency);
    return ais;
}

// Steps of a repair after a failure: each swallows an `Exception`, since the
// error reported is the one that started the repair.
template <typename F> bool quietly(F &&step) {
    try {
        step();
        return true;
    } catch (nb::python_error &error) {
        if (!error.matches(PyExc_Exception))
            throw;
        return false;
    }
}

void pop_reverse_entry(Scenard &s, nb::handle ais) {
    int present = PyDict_Contains(s.ais_to_id.ptr(), ais.ptr());
    if (present < 0 || (present && PyDict_DelItem(s.ais_to_id.ptr(), ais.ptr()) < 0))
        throw nb::python_error();
}

// Puts a registered presentation back in the context as its record says.
void show_again(Scenard &s, nb::handle info, nb::handle ais) {
    call_method(s.context, method.Display, ais, py_bool(false));
    if (!truthy(nb::object(as_record(info).visible)))
        call_method(s.context, method.Erase, ais, py_bool(false));
    call_method(s.context, method.UpdateCurrentViewer);
}

// After a presentation left the screen and the registry could not follow,
// the identifier goes; should the identifier refuse to be used as a key
// again, its presentation comes back instead. Either way record and screen agree.
void drop_or_show_again(Scenard &s, nb::handle shape_id, nb::handle info, nb::handle ais) {
    if (PyDict_DelItem(s.shapes.ptr(), shape_id.ptr()) == 0) {
        quietly([&] { pop_reverse_entry(s, ais); });
        return;
    }
    nb::python_error refused; // the key's own failure; the first error is the one reported
    if (!refused.matches(PyExc_Exception))
        throw refused;
    quietly([&] { show_again(s, info, ais); });
}

nb::object display_shape(Scenard &s, nb::handle shape, nb::handle shape_id, nb::handle color,
                         nb::handle update) {
    nb::object result = nb::none();
    guarded(op_display_shape, [&] {
        // Every flag, colour and the identifier are read before the context is
        // called: what they answer cannot change halfway through.
        nb::handle update_flag = py_bool(truthy(update));
        nb::object mode = s.current_display_mode;
        bool boundaries = equals(mode, bound.mode_both);
        Rgb rgb;
        if (!color.is_none())
            rgb = to_occt_color(color);
        RegistryChange change(s);
        nb::object earlier = registered(s, shape_id);
        nb::object earlier_ais;
        if (earlier.is_valid())
            earlier_ais = owned_presentation(s, earlier);

        nb::object ais = build_presentation(s, shape, rgb.occt);
        nb::object record =
            make_record(shape_id, ais, rgb.kept.is_valid() ? rgb.kept : nb::none(), py_bool(true));

        // A shape displayed again under its identifier replaces the earlier
        // presentation on screen; the identifier keeps its place.
        if (earlier.is_valid())
            call_method(s.context, method.Remove, earlier_ais, py_bool(false));
        bool on_screen = false;
        try {
            call_method(s.context, method.Display, ais, update_flag);
            on_screen = true;
            if (boundaries) {
                configure_shape_edges(ais, true);
                call_method(s.context, method.Redisplay, ais, update_flag);
            }
            if (PyDict_SetItem(s.ais_to_id.ptr(), ais.ptr(), shape_id.ptr()) < 0 ||
                PyDict_SetItem(s.shapes.ptr(), shape_id.ptr(), record.ptr()) < 0)
                throw nb::python_error();
            if (earlier.is_valid())
                pop_reverse_entry(s, earlier_ais);
        } catch (...) {
            // Registry and screen agree after a failure: the new presentation
            // is not left behind, and an identifier whose earlier presentation
            // is gone loses its record with it.
            if (on_screen)
                quietly([&] { call_method(s.context, method.Remove, ais, update_flag); });
            quietly([&] { pop_reverse_entry(s, ais); });
            if (earlier.is_valid())
                drop_or_show_again(s, shape_id, earlier, earlier_ais);
            throw;
        }
        result = nb::borrow(shape_id);
    });
    return result;
}

void erase_shape(Scenard &s, nb::handle shape_id, nb::handle update) {
    guarded(op_erase_shape, [&] {
        nb::handle update_flag = py_bool(truthy(update));
        RegistryChange change(s);
        nb::object info = registered(s, shape_id);
        if (!info.is_valid())
            return;
        nb::object ais = owned_presentation(s, info);
        call_method(s.context, method.Remove, ais, update_flag);
        if (PyDict_DelItem(s.shapes.ptr(), shape_id.ptr()) < 0) {
            // The identifier refuses to be used as a key again: it stays, and
            // so does its presentation on screen.
            nb::python_error refused;
            if (!refused.matches(PyExc_Exception))
                throw refused;
            quietly([&] { show_again(s, info, ais); });
            throw refused;
        }
        pop_reverse_entry(s, ais);
    });
}

void erase_all(Scenard &s) {
    guarded(op_erase_all, [&] {
        RegistryChange change(s);
        call_method(s.context, method.RemoveAll, py_bool(true));
        s.shapes.clear();
        s.ais_to_id.clear();
    });
}

void update_shape(Scenard &s, nb::handle ais_shape, nb::handle update) {
    guarded(op_update_shape, [&] {
        nb::handle update_flag = py_bool(truthy(update));
        call_method(s.context, method.Redisplay, ais_shape, update_flag);
    });
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
