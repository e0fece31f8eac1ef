// Reading the host's containers: lookups in the service's maps, small records from iterables.
#pragma once

#include "hostcall.hpp"
#include "names.hpp"

namespace morvik {

// What a key that cannot be hashed means to the caller.
enum class Unhashable {
    absent, // it can never have been stored: the queries and selection treat it
            // like any other unknown key
    raises, // display, erase and get_shape_info let its TypeError through
};

// The value stored under `key` in `map`, or an empty object when there is none.
// Errors of the key's own __eq__ pass through either way.
//
// Kept raw: nanobind's dict.get swallows every error, interrupts included.
inline nb::object find_entry(nb::handle map, nb::handle key,
                             Unhashable unhashable = Unhashable::absent) {
    if (unhashable == Unhashable::absent && PyObject_Hash(key.ptr()) == -1) {
        clear_error(PyExc_TypeError);
        return nb::object();
    }
    PyObject *value = PyDict_GetItemWithError(map.ptr(), key.ptr());
    if (!value && PyErr_Occurred())
        throw nb::python_error();
    return nb::borrow(value);
}

// The first value of `list`, an OCCT list as OCP binds it, for which
// `matches(value)` is true, or an empty object.
//
// OCP's iterator tells its end with a C++ exception thrown inside OCP
// (pybind11's stop_iteration), and unwinding it through that very large
// module cost 370 us here, where a box's whole display costs 140 us: so the
// list's Extent says how many values there are, and the iterator is asked
// for that many and no more. An empty list is not walked at all, and a list
// of one (the context's filters with a selection mode set) is read by First.
template <typename F> nb::object find_in_occt_list(nb::handle list, F matches) {
    Py_ssize_t size = nb::cast<Py_ssize_t>(call_method(list, py::Extent));
    if (size <= 0)
        return nb::object();
    if (size == 1) {
        nb::object only = call_method(list, py::First);
        return matches(only) ? only : nb::object();
    }
    nb::object iterator = nb::iter(list);
    for (Py_ssize_t i = 0; i < size; ++i) {
        nb::object value = nb::steal(PyIter_Next(iterator.ptr()));
        if (!value.is_valid()) {
            if (PyErr_Occurred())
                throw nb::python_error();
            break;
        }
        if (matches(value))
            return value;
    }
    return nb::object();
}

// len(value), or -1 when it has none (or one too large for an index).
inline Py_ssize_t length_of(nb::handle value) {
    Py_ssize_t length = PyObject_Size(value.ptr());
    if (length < 0)
        clear_error(PyExc_Exception);
    return length;
}

// Reads `least` to `most` values of `record` into `fields` and returns how
// many; calls `refuse(record)`, which raises, for anything else. A tuple is
// read in place. Any other iterable is read no further than one value past
// `most`, and a length, where there is one, settles the count first, so an
// endless or huge iterable is refused without being walked.
//
// Kept raw: PyIter_Next tells an exhausted iterator from a failing one.
inline Py_ssize_t read_fields(nb::handle record, nb::object *fields, Py_ssize_t least,
                              Py_ssize_t most, void (*refuse)(nb::handle record)) {
    if (PyTuple_CheckExact(record.ptr())) { // the usual record, read in place
        Py_ssize_t n = PyTuple_Size(record.ptr());
        if (n < least || n > most)
            refuse(record);
        for (Py_ssize_t i = 0; i < n; ++i)
            fields[i] = nb::borrow(PyTuple_GetItem(record.ptr(), i));
        return n;
    }
    // Without a length, the values themselves settle the count.
    Py_ssize_t length = length_of(record);
    if (length >= 0 && (length < least || length > most))
        refuse(record);
    nb::object iterator = nb::steal(PyObject_GetIter(record.ptr()));
    if (!iterator.is_valid()) {
        clear_error(PyExc_TypeError);
        refuse(record); // no sequence at all is one of the wrong size
    }
    Py_ssize_t n = 0;
    for (; n <= most; ++n) {
        PyObject *value = PyIter_Next(iterator.ptr());
        if (!value)
            break;
        if (n == most) { // one too many: it is dropped unlooked-at
            Py_DECREF(value);
            refuse(record);
        }
        fields[n] = nb::steal(value);
    }
    if (PyErr_Occurred())
        throw nb::python_error();
    if (n < least)
        refuse(record);
    return n;
}

} // namespace morvik
