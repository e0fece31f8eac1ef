// Selection by identifier and reverse lookup.
#include "bound_names.hpp"
#include "guard.hpp"
#include "lookup.hpp"
#include "scenard.hpp"
#include "shape_info.hpp"

namespace morvik {

MORVIK_OPERATION(op_select_shapes, "select_shapes", "Error selecting shapes: %s");

namespace {

// Replaces the context's selection with the registered shapes among
// `shape_ids`, in their order. The context toggles an object on each
// AddOrRemoveSelected, so an identifier listed twice ends up unselected.
void select_shapes(Scenard &s, nb::handle shape_ids) {
    guarded(op_select_shapes, [&] {
        call_method(s.context, method.ClearSelected, py_bool(false));
        // The caller's sequence is walked through an iterator, which stays
        // safe should it change while the context is called.
        nb::object ids = nb::steal(PyObject_GetIter(shape_ids.ptr()));
        if (!ids.is_valid())
            throw nb::python_error();
        while (PyObject *next = PyIter_Next(ids.ptr())) {
            nb::object shape_id = nb::steal(next);
            nb::object info = find_entry(s.shapes, shape_id);
            if (!info.is_valid())
                continue; // not registered: skipped without a message
            nb::object ais = as_record(info).ais_shape;
            call_method(s.context, method.AddOrRemoveSelected, ais, py_bool(false));
        }
        if (PyErr_Occurred())
            throw nb::python_error();
        call_method(s.context, method.UpdateCurrentViewer);
    });
}

nb::object shape_id_for(Scenard &s, nb::handle ais_shape) {
    nb::object shape_id = find_entry(s.ais_to_id, ais_shape);
    return shape_id.is_valid() ? shape_id : nb::none();
}

} // namespace

void bind_selection(ScenardClass &cls) {
    using namespace nb::literals;
    cls.def(
           "select_shapes",
           [](Scenard &s, nb::object shape_ids) { select_shapes(s, shape_ids); },
           "shape_ids"_a.none(),
           nb::sig("def select_shapes(self, shape_ids: collections.abc.Iterable[str]) -> None"),
           "Programmatically select multiple shapes by ID, replacing current selection.\n\n"
           "Args:\n"
           "    shape_ids: List of shape IDs to select, in order")
        .def(
            "select_shape",
            [](Scenard &s, nb::object shape_id) {
                // Selecting one shape replaces the whole selection as well.
                nb::list single;
                single.append(shape_id);
                select_shapes(s, single);
            },
            "shape_id"_a.none(), nb::sig("def select_shape(self, shape_id: str) -> None"),
            "Programmatically select a shape in the viewer by its ID.\n\n"
            "Args:\n"
            "    shape_id: ID of the shape to select")
        .def(
            "get_shape_id_for_ais_shape",
            [](Scenard &s, nb::object ais_shape) { return shape_id_for(s, ais_shape); },
            "ais_shape"_a.none(),
            nb::sig("def get_shape_id_for_ais_shape(self, ais_shape: OCP.AIS.AIS_Shape) -> str | None"),
            "Reverse-lookup: find the shape_id for a given AIS_Shape object.\n\n"
            "Args:\n"
            "    ais_shape: AIS_Shape to look up\n\n"
            "Returns:\n"
            "    Shape ID or None if not found");
}

} // namespace morvik
