#include "colors.hpp"

#include "bound_names.hpp"

#include <cmath>

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

namespace {

// OCCT refuses components outside 0..1, but a NaN passes its range test and
// would end up in the colour; refuse it as OCCT refuses any other bad value.
// Anything that is not a number is left for OCCT to refuse.
void refuse_nan(nb::handle component) {
    double value = PyFloat_AsDouble(component.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw nb::python_error();
        PyErr_Clear();
    } else if (std::isnan(value)) {
        raise(PyExc_ValueError, "colour component is not a number: %R", component.ptr());
    }
}

} // namespace

nb::object to_occt_color(nb::handle rgb) {
    auto [r, g, b] = unpack_rgb(rgb);
    refuse_nan(r);
    refuse_nan(g);
    refuse_nan(b);
    return call(bound.Quantity_Color, r, g, b, bound.Quantity_TOC_RGB);
}

} // namespace morvik
