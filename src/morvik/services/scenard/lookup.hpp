// Lookups in the service's maps that answer "absent" for any key that could
// never have been stored.
#pragma once

#include "hostcall.hpp"

namespace morvik {

// The value stored under `key` in `map`, or an empty object when there is none.
// A key that cannot be hashed can never be stored, so it is reported absent
// instead of raising: the queries and selection treat it like any other
// unknown key.
inline nb::object find_entry(nb::handle map, nb::handle key) {
    if (PyObject_Hash(key.ptr()) == -1) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw nb::python_error();
        PyErr_Clear();
        return nb::object();
    }
    PyObject *value = PyDict_GetItemWithError(map.ptr(), key.ptr());
    if (!value && PyErr_Occurred())
        throw nb::python_error();
    return nb::borrow(value);
}

} // namespace morvik
