// ShapeInfo: the record class, its garbage-collector slots and the usability check.
#include "shape_info.hpp"

#include "gc_fields.hpp"

#include <nanobind/stl/string.h>

namespace morvik {

namespace {

// The ShapeInfo class object, set when the module loads. Records made by the
// service are of exactly this type, so a pointer comparison recognises them
// without nanobind's lookup by C++ type.
PyTypeObject *record_type = nullptr;

using ShapeInfoSlots = GcFields<ShapeInfo, &ShapeInfo::shape_id, &ShapeInfo::ais_shape,
                                  &ShapeInfo::color, &ShapeInfo::visible>;

} // namespace

ShapeInfo &as_record(nb::handle value) {
    if (Py_TYPE(value.ptr()) != record_type && !nb::isinstance<ShapeInfo>(value)) {
        nb::object name = nb::steal(PyType_GetName(Py_TYPE(value.ptr())));
        if (!name.is_valid())
            throw nb::python_error();
        raise(PyExc_TypeError, "the shape registry holds a %U where a ShapeInfo belongs",
              name.ptr());
    }
    // ShapeInfo.__new__ alone, copy.copy, or a subclass whose __init__ skips
    // the base all give a record whose fields were never set.
    if (!nb::inst_ready(value))
        raise(PyExc_TypeError, "the shape registry holds a ShapeInfo that was never initialised");
    ShapeInfo &record = *nb::inst_ptr<ShapeInfo>(value);
    if (!record.shape_id.is_valid() || !record.ais_shape.is_valid() || !record.color.is_valid() ||
        !record.visible.is_valid())
        raise(PyExc_TypeError, "the shape registry holds a ShapeInfo with unset fields");
    return record;
}

nb::object make_record(nb::handle shape_id, nb::handle ais_shape, nb::handle color,
                       nb::handle visible) {
    return nb::cast(ShapeInfo{nb::borrow(shape_id), nb::borrow(ais_shape), nb::borrow(color),
                              nb::borrow(visible)},
                    nb::rv_policy::move);
}

void bind_shape_info(nb::module_ &m) {
    using namespace nb::literals;
    nb::class_<ShapeInfo> cls(m, "ShapeInfo", nb::type_slots(ShapeInfoSlots::slots),
                              "Information about a displayed shape.");
    record_type = (PyTypeObject *) cls.ptr();
    cls.def(
            "__init__",
            [](ShapeInfo *self, nb::object shape_id, nb::object ais_shape, nb::object color,
               nb::object visible) {
                new (self) ShapeInfo{std::move(shape_id), std::move(ais_shape), std::move(color),
                                     std::move(visible)};
            },
            "shape_id"_a.none(), "ais_shape"_a.none(), "color"_a.none() = nb::none(), "visible"_a.none() = true,
            nb::sig("def __init__(self, shape_id: str, ais_shape: OCP.AIS.AIS_Shape, "
                    "color: tuple[float, float, float] | None = None, visible: bool = True) -> None"))
        .def_rw("shape_id", &ShapeInfo::shape_id,
                nb::for_getter(nb::sig("def shape_id(self, /) -> str")),
                nb::for_setter(nb::sig("def shape_id(self, value: str, /) -> None")),
                nb::for_setter(nb::arg("value").none()))
        .def_rw("ais_shape", &ShapeInfo::ais_shape,
                nb::for_getter(nb::sig("def ais_shape(self, /) -> OCP.AIS.AIS_Shape")),
                nb::for_setter(nb::sig("def ais_shape(self, value: OCP.AIS.AIS_Shape, /) -> None")),
                nb::for_setter(nb::arg("value").none()))
        .def_rw("color", &ShapeInfo::color,
                nb::for_getter(nb::sig("def color(self, /) -> tuple[float, float, float] | None")),
                nb::for_setter(nb::sig("def color(self, value: tuple[float, float, float] | None, /) "
                                       "-> None")),
                nb::for_setter(nb::arg("value").none()))
        .def_rw("visible", &ShapeInfo::visible,
                nb::for_getter(nb::sig("def visible(self, /) -> bool")),
                nb::for_setter(nb::sig("def visible(self, value: bool, /) -> None")),
                nb::for_setter(nb::arg("value").none()))
        .def("__repr__", [](const ShapeInfo &info) {
            return nb::str("ShapeInfo(shape_id={!r}, ais_shape={!r}, color={!r}, visible={!r})")
                .format(info.shape_id, info.ais_shape, info.color, info.visible);
        });
}

} // namespace morvik
