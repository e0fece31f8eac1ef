// Lookups in the service's maps: one rule, and one flag for the operations that raise.
#pragma once

#include "hostcall.hpp"

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
