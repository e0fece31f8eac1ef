// Numbers, triples of them and OCCT colours.
#include "colors.hpp"

#include "names.hpp"

#include <string>

namespace morvik {

namespace {

// What PyFloat_AsDouble accepts, and so what OCCT's real-valued parameters
// take: floats, ints and anything with __float__ or __index__.
bool is_real_number(PyObject *value) {
    if (PyFloat_Check(value) || PyLong_Check(value))
        return true;
    PyTypeObject *type = Py_TYPE(value);
    return PyType_GetSlot(type, Py_nb_float) || PyType_GetSlot(type, Py_nb_index);
}

[[noreturn]] void refuse_count(Py_ssize_t count) {
    if (count < 3)
        raise(PyExc_ValueError, "not enough values to unpack (expected 3, got %zd)", count);
    raise(PyExc_ValueError, "too many values to unpack (expected 3)");
}

// A sequence, not any iterable: an iterator would be used up by a first
// look. Text and bytes are sequences too, but never colours.
bool is_triple_like(PyObject *obj) {
    return PySequence_Check(obj) && !PyUnicode_Check(obj) && !PyBytes_Check(obj) &&
           !PyByteArray_Check(obj);
}

} // namespace

// Both readers below stay on the C API: they must raise Python's own
// unpacking errors and tell an exhausted iterator from a failing one, which
// nanobind's iterator and sequence helpers do not let them do.
std::array<nb::object, 3> unpack_three(nb::handle triple) {
    nb::object it = nb::steal(PyObject_GetIter(triple.ptr()));
    if (!it.is_valid()) {
        clear_error(PyExc_TypeError);
        raise(PyExc_TypeError, "cannot unpack non-iterable %U object", type_name_of(triple).ptr());
    }
    std::array<nb::object, 3> values;
    for (int i = 0; i < 3; ++i) {
        PyObject *item = PyIter_Next(it.ptr());
        if (!item) {
            if (PyErr_Occurred())
                throw nb::python_error();
            refuse_count(i);
        }
        values[i] = nb::steal(item);
    }
    PyObject *extra = PyIter_Next(it.ptr());
    if (extra) {
        Py_DECREF(extra);
        refuse_count(4);
    }
    if (PyErr_Occurred())
        throw nb::python_error();
    return values;
}

bool is_empty_color(nb::handle rgb) {
    if (!is_triple_like(rgb.ptr()))
        return false;
    Py_ssize_t size = PySequence_Size(rgb.ptr());
    if (size < 0) // to_occt_color reports it
        clear_error(PyExc_Exception);
    return size == 0;
}

double to_number(nb::handle value, const char *what) {
    if (!is_real_number(value.ptr()))
        raise(PyExc_TypeError, "%s must be a number, not %R", what, value.ptr());
    return to_double(value);
}

std::array<double, 3> to_three_numbers(nb::handle triple, const char *what) {
    PyObject *obj = triple.ptr();
    if (!is_triple_like(obj))
        raise(PyExc_TypeError, "%s must be a sequence of three numbers, not %U", what,
              type_name_of(triple).ptr());
    Py_ssize_t size = PySequence_Size(obj);
    if (size < 0)
        throw nb::python_error();
    if (size != 3)
        refuse_count(size);
    // Each component is read once and turned into a float at once, so a
    // sequence that answers differently on a second look cannot slip a value
    // past the caller's checks into OCCT or into what the service keeps.
    std::array<double, 3> values;
    for (Py_ssize_t i = 0; i < 3; ++i) {
        nb::object component = nb::steal(nb::detail::raise_if_null(PySequence_GetItem(obj, i)));
        std::string name = std::string(what) + " component " + std::to_string(i);
        values[i] = to_number(component, name.c_str());
    }
    return values;
}

Rgb to_occt_color(nb::handle rgb) {
    std::array<double, 3> values = to_three_numbers(rgb, "an RGB colour");
    for (int i = 0; i < 3; ++i)
        // OCCT refuses components outside 0..1, but a NaN passes its range
        // test and would end up in the colour.
        if (values[i] != values[i])
            raise(PyExc_ValueError, "colour component %d is not a number: nan", i);
    nb::object kept = nb::make_tuple(values[0], values[1], values[2]);
    nb::object occt = Quantity_Color(values[0], values[1], values[2], Quantity_TOC_RGB);
    return Rgb{std::move(occt), std::move(kept)};
}

} // namespace morvik
