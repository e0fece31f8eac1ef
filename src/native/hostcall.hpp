// The few helpers nanobind lacks, shared by both modules' calls into the host's bindings.
//
// Header only. Everything else goes through nanobind's own object API, so
// neither module links OCCT or Qt; call_method is `obj.attr(name)(...)` on a
// name interned once and without its reference counting, for the paths the
// benchmark counts per shape.
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

// Clears the pending Python error when it is a `type`; raises any other
// (an interrupt, say) as a C++ exception.
inline void clear_error(PyObject *type) {
    if (!PyErr_ExceptionMatches(type))
        throw nb::python_error();
    PyErr_Clear();
}

// A float as PyFloat_AsDouble reads it (floats, ints, __float__, __index__).
inline double to_double(nb::handle value) {
    double result = PyFloat_AsDouble(value.ptr());
    if (result == -1.0 && PyErr_Occurred())
        throw nb::python_error();
    return result;
}

// Names bound at load outlive the module object: they are never released,
// so nothing is decremented after the interpreter has finalised.
inline nb::handle keep(nb::object obj) { return obj.release(); }

// A name interned once and kept for the life of the process.
inline nb::handle intern(const char *name) {
    return nb::detail::raise_if_null(PyUnicode_InternFromString(name));
}

// obj.name(args...) on borrowed arguments, as one vectorcall of the method.
// Kept raw on the per-shape paths: obj.attr(name)(args...) takes and drops a
// reference to the name, the object and each argument, each a call into
// libpython under the stable ABI; measured 150 instructions a call saved.
template <typename... Args>
nb::object call_method(nb::handle obj, nb::handle name, Args... args) {
    // Slot 0 is scratch space, so the callee may use PY_VECTORCALL_ARGUMENTS_OFFSET.
    PyObject *argv[] = {nullptr, obj.ptr(), nb::handle(args).ptr()...};
    PyObject *result = PyObject_VectorcallMethod(
        name.ptr(), argv + 1, (1 + sizeof...(Args)) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!result)
        throw nb::python_error();
    return nb::steal(result);
}

// `bool(value)`, as Python reads it. Kept raw on the per-shape paths:
// nb::bool_ takes and drops a reference to the answer; measured 45 a flag saved.
inline bool truth(nb::handle value) {
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        throw nb::python_error();
    return result != 0;
}

// The name of `value`'s type for messages, as Python's own errors print it.
inline nb::object type_name_of(nb::handle value) {
    return nb::steal(nb::detail::raise_if_null(PyType_GetName(Py_TYPE(value.ptr()))));
}

// Python's own True or False, borrowed.
inline nb::handle py_bool(bool value) { return value ? Py_True : Py_False; }

} // namespace morvik
