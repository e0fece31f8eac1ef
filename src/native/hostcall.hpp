// The few helpers nanobind lacks, shared by both modules' calls into the host's bindings.
//
// Header only. Everything else goes through nanobind's own object API:
// `obj.attr("Name"_id)(...)` is one vectorcall on a name interned once, so
// neither module links OCCT or Qt.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdarg>

namespace nb = nanobind;

namespace morvik {

// Raises a Python exception of our own as a C++ exception.
[[noreturn]] inline void raise(PyObject *type, const char *format, ...) {
    va_list args;
    va_start(args, format);
    PyErr_FormatV(type, format, args);
    va_end(args);
    throw nb::python_error();
}

// Names bound at load outlive the module object: they are never released,
// so nothing is decremented after the interpreter has finalised.
inline nb::handle keep(nb::object obj) { return obj.release(); }

// A name interned once and kept for the life of the process.
inline nb::handle intern(const char *name) {
    PyObject *s = PyUnicode_InternFromString(name);
    if (!s)
        throw nb::python_error();
    return s;
}

// Whether `value` is a number that Python reads as a NaN float. Anything that
// is no number at all answers false and is left to OCCT to refuse.
inline bool is_nan(nb::handle value) {
    double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw nb::python_error();
        PyErr_Clear();
        return false;
    }
    return number != number;
}

} // namespace morvik
