// Calls into the host's bindings through the Python C API.
//
// Every OCCT operation reaches the host's OCP objects as one vectorcall on an
// interned method name; nothing here links OCCT.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace morvik {

// An attribute name interned once and kept for the life of the process.
nb::handle intern(const char *name);

inline nb::handle py_bool(bool value) { return value ? Py_True : Py_False; }

// obj.name(args...) as a single vectorcall.
template <typename... Args>
inline nb::object call_method(nb::handle self, nb::handle name, Args... args) {
    // Slot 0 is scratch space so the callee may use PY_VECTORCALL_ARGUMENTS_OFFSET.
    PyObject *argv[] = {nullptr, self.ptr(), nb::handle(args).ptr()...};
    PyObject *result = PyObject_VectorcallMethod(
        name.ptr(), argv + 1, (1 + sizeof...(Args)) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!result)
        throw nb::python_error();
    return nb::steal(result);
}

// callable(args...) as a single vectorcall.
template <typename... Args>
inline nb::object call(nb::handle callable, Args... args) {
    PyObject *argv[] = {nullptr, nb::handle(args).ptr()...};
    PyObject *result = PyObject_Vectorcall(
        callable.ptr(), argv + 1, sizeof...(Args) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!result)
        throw nb::python_error();
    return nb::steal(result);
}

// Python truth value, as `if value:` sees it.
inline bool truthy(nb::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        throw nb::python_error();
    return result != 0;
}

// `a == b`, as Python evaluates it.
inline bool equals(nb::handle a, nb::handle b) {
    int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (result < 0)
        throw nb::python_error();
    return result != 0;
}

// `a > b`, as Python evaluates it.
inline bool greater(nb::handle a, nb::handle b) {
    int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_GT);
    if (result < 0)
        throw nb::python_error();
    return result != 0;
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

// Raises a Python exception of our own as a C++ exception.
[[noreturn]] void raise(PyObject *type, const char *format, ...);

} // namespace morvik
