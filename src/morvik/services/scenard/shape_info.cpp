// ShapeInfo: the record class, its garbage-collector slots and the usability check.
#include "operations.hpp"

#include <string>
#include <tuple>

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
        raise(PyExc_TypeError, "the shape registry holds a %U where a ShapeInfo belongs",
              type_name_of(value).ptr());
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

void bind_shape_info(nb::module_ &m) {
    using namespace nb::literals;
    nb::class_<ShapeInfo> cls(m, "ShapeInfo", nb::type_slots(ShapeInfoSlots::slots),
                              "Information about a displayed shape.");
    record_type = (PyTypeObject *) cls.ptr();
    def(cls, "__init__",
        +[](ShapeInfo *self, Id shape_id, Presentation ais_shape, ColorOrNone color, Flag visible) {
            new (self) ShapeInfo{nb::borrow(shape_id), nb::borrow(ais_shape), nb::borrow(color),
                                 nb::borrow(visible)};
        },
        "shape_id"_a, "ais_shape"_a, "color"_a = nb::none(), "visible"_a = true);
    // A field takes any value, as a parameter does; the stub shows what belongs there.
    for (auto [name, field, type] : {std::tuple{"shape_id", &ShapeInfo::shape_id, text::id},
                                     {"ais_shape", &ShapeInfo::ais_shape, text::ais},
                                     {"color", &ShapeInfo::color, text::color_or_none},
                                     {"visible", &ShapeInfo::visible, text::flag}}) {
        std::string get = std::string("def ") + name + "(self, /) -> " + type,
                    set = std::string("def ") + name + "(self, value: " + type + ", /) -> None";
        cls.def_rw(name, field, nb::for_getter(nb::sig(get.c_str())),
                   nb::for_setter(nb::sig(set.c_str())), nb::for_setter(nb::arg("value").none()));
    }
    cls.def("__repr__", [](const ShapeInfo &info) {
        return nb::str("ShapeInfo(shape_id={!r}, ais_shape={!r}, color={!r}, visible={!r})")
            .format(info.shape_id, info.ais_shape, info.color, info.visible);
    });
}

} // namespace morvik
