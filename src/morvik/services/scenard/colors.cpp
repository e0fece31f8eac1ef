#include "colors.hpp"

#include "bound_names.hpp"

namespace morvik {

std::array<nb::object, 3> unpack_three(nb::handle triple) {
    PyObject *iterator = PyObject_GetIter(triple.ptr());
    if (!iterator) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            raise(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                  Py_TYPE(triple.ptr())->tp_name);
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
void refuse_nan(nb::handle component) {
    if (is_nan(component))
        raise(PyExc_ValueError, "colour component is not a number: %R", component.ptr());
}

// What PyFloat_AsDouble accepts, and so what OCCT's real-valued colour
// components take: floats, ints and anything with __float__ or __index__.
bool is_real_number(PyObject *value) {
    if (PyFloat_Check(value) || PyLong_Check(value))
        return true;
    PyNumberMethods *number = Py_TYPE(value)->tp_as_number;
    return number && (number->nb_float || number->nb_index);
}

} // namespace

void require_rgb_triple(nb::handle rgb) {
    // A sequence, not any iterable: an iterator would be used up by this check.
    // Text and bytes are sequences too, but never colours.
    PyObject *obj = rgb.ptr();
    if (!PySequence_Check(obj) || PyUnicode_Check(obj) || PyBytes_Check(obj) ||
        PyByteArray_Check(obj))
        raise(PyExc_TypeError, "an RGB colour must be a sequence of three numbers, not %.200s",
              Py_TYPE(obj)->tp_name);
    Py_ssize_t size = PySequence_Size(obj);
    if (size < 0)
        throw nb::python_error();
    if (size != 3)
        raise(PyExc_ValueError, "an RGB colour needs exactly three components, got %zd", size);
    for (Py_ssize_t i = 0; i < 3; ++i) {
        PyObject *item = PySequence_GetItem(obj, i);
        if (!item)
            throw nb::python_error();
        nb::object component = nb::steal(item);
        if (!is_real_number(component.ptr()))
            raise(PyExc_TypeError, "RGB colour component %zd must be a number, not %.200s", i,
                  Py_TYPE(component.ptr())->tp_name);
    }
}

nb::object to_occt_color(nb::handle rgb) {
    auto [r, g, b] = unpack_three(rgb);
    refuse_nan(r);
    refuse_nan(g);
    refuse_nan(b);
    return call(bound.Quantity_Color, r, g, b, bound.Quantity_TOC_RGB);
}

} // namespace morvik
