// Calls into the host's bindings (OCP, PySide6) through the Python C API.
//
// Shared, header only, by both extension modules: every OCCT or Qt operation
// reaches the host's own objects as one vectorcall on a name interned once,
// so neither module links OCCT or Qt.
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

// `from module import name`, kept; an ImportError naming what is missing.
inline nb::handle import_name(const char *module, const char *name) {
    nb::object mod = nb::module_::import_(module);
    PyObject *value = PyObject_GetAttrString(mod.ptr(), name);
    if (!value) {
        PyErr_Clear();
        raise(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
    }
    return keep(nb::steal(value));
}

// owner.name, kept; an ImportError naming what is missing.
inline nb::handle member(nb::handle owner, const char *owner_name, const char *name) {
    PyObject *value = PyObject_GetAttrString(owner.ptr(), name);
    if (!value) {
        PyErr_Clear();
        raise(PyExc_ImportError, "%s offers no '%s'", owner_name, name);
    }
    return keep(nb::steal(value));
}

inline nb::handle py_bool(bool value) { return value ? Py_True : Py_False; }

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

inline bool compare(nb::handle a, nb::handle b, int op) {
    int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), op);
    if (result < 0)
        throw nb::python_error();
    return result != 0;
}

// `a == b`, as Python evaluates it.
inline bool equals(nb::handle a, nb::handle b) { return compare(a, b, Py_EQ); }

// `a > b`, as Python evaluates it.
inline bool greater(nb::handle a, nb::handle b) { return compare(a, b, Py_GT); }

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
