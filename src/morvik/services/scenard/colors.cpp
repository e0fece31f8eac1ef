#include "colors.hpp"

#include "bound_names.hpp"

namespace morvik {

std::array<nb::object, 3> unpack_rgb(nb::handle rgb) {
    PyObject *iterator = PyObject_GetIter(rgb.ptr());
    if (!iterator) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            raise(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                  Py_TYPE(rgb.ptr())->tp_name);
        }
        throw nb::python_error();
    }
    nb::object it = nb::steal(iterator);
    std::array<nb::object, 3> values;
    for (int i = 0; i < 3; ++i) {
        PyObject *item = PyIter_Next(it.ptr());
        if (!item) {
            if (PyErr_Occurred())
                throw nb::python_error();
            raise(PyExc_ValueError, "not enough values to unpack (expected 3, got %d)", i);
        }
        values[i] = nb::steal(item);
    }
    PyObject *extra = PyIter_Next(it.ptr());
    if (extra) {
        Py_DECREF(extra);
        raise(PyExc_ValueError, "too many values to unpack (expected 3)");
    }
    if (PyErr_Occurred())
        throw nb::python_error();
    return values;
}

nb::object to_occt_color(nb::handle rgb) {
    auto [r, g, b] = unpack_rgb(rgb);
    return call(bound.Quantity_Color, r, g, b, bound.Quantity_TOC_RGB);
}

} // namespace morvik
