// Calls into PySide6 through the Python C API.
//
// Every Qt operation reaches the host's PySide6 objects as one vectorcall on an
// interned name; nothing here links Qt.
#pragma once

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace morvik::panelor {

// A name interned once and kept for the life of the process.
nb::handle intern(const char *name);

// obj.name, as Python looks it up.
inline nb::object get(nb::handle obj, nb::handle name) {
    PyObject *result = PyObject_GetAttr(obj.ptr(), name.ptr());
    if (!result)
        throw nb::python_error();
    return nb::steal(result);
}

// obj.name = value, as Python assigns it.
inline void set(nb::handle obj, nb::handle name, nb::handle value) {
    if (PyObject_SetAttr(obj.ptr(), name.ptr(), value.ptr()) != 0)
        throw nb::python_error();
}

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

// Raises a Python exception of our own as a C++ exception.
[[noreturn]] void raise(PyObject *type, const char *format, ...);

} // namespace morvik::panelor
