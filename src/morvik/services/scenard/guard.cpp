#include "guard.hpp"

#include "bound_names.hpp"

#include <frameobject.h>

#include <cstring>

namespace morvik {

namespace {

// Adds a traceback entry "File <source>, line <n>, in <operation>" on top of
// the pending error, as a Python method's own frame would.
void add_operation_frame(const Operation &op) {
    PyObject *pending = PyErr_GetRaisedException();
    // Shown relative to the source tree, e.g. "morvik/services/scenard/registry.cpp".
    const char *file = std::strstr(op.file, "morvik/");
    PyCodeObject *code = PyCode_NewEmpty(file ? file : op.file, op.name, op.line);
    PyObject *globals = code ? PyDict_New() : nullptr;
    PyFrameObject *frame =
        globals ? PyFrame_New(PyThreadState_Get(), code, globals, nullptr) : nullptr;
    if (frame) {
        PyErr_SetRaisedException(pending);
        PyTraceBack_Here(frame);
    } else {
        // No frame for the traceback: keep the original error as it is.
        PyErr_Clear();
        PyErr_SetRaisedException(pending);
    }
    Py_XDECREF(frame);
    Py_XDECREF(globals);
    Py_XDECREF(code);
}

PyObject *builtin_type(nb::exception_type type) {
    switch (type) {
    case nb::exception_type::stop_iteration: return PyExc_StopIteration;
    case nb::exception_type::index_error: return PyExc_IndexError;
    case nb::exception_type::key_error: return PyExc_KeyError;
    case nb::exception_type::value_error: return PyExc_ValueError;
    case nb::exception_type::type_error: return PyExc_TypeError;
    case nb::exception_type::buffer_error: return PyExc_BufferError;
    case nb::exception_type::import_error: return PyExc_ImportError;
    case nb::exception_type::attribute_error: return PyExc_AttributeError;
    default: return PyExc_RuntimeError;
    }
}

nb::handle current_logger() {
    PyObject *logger = PyDict_GetItemWithError(bound.module_dict.ptr(), method.logger.ptr());
    if (!logger && PyErr_Occurred())
        throw nb::python_error();
    return logger ? nb::handle(logger) : bound.logger;
}

nb::handle exc_info_names() {
    static PyObject *names = PyTuple_Pack(1, method.exc_info.ptr());
    return names;
}

} // namespace

void restore_cpp_error(const std::exception &error, const Operation &op) {
    if (auto *builtin = dynamic_cast<const nb::builtin_exception *>(&error))
        PyErr_SetString(builtin_type(builtin->type()), builtin->what());
    else if (dynamic_cast<const std::bad_cast *>(&error))
        PyErr_Format(PyExc_TypeError, "%s: an argument or record has an unexpected type", op.name);
    else if (dynamic_cast<const std::bad_alloc *>(&error))
        PyErr_NoMemory();
    else
        PyErr_Format(PyExc_RuntimeError, "%s: internal error: %s", op.name, error.what());
}

nb::object take_failure(const Operation &op) {
    if (!PyErr_ExceptionMatches(PyExc_Exception))
        throw nb::python_error(); // interrupts and exit requests pass through
    add_operation_frame(op);
    return nb::steal(PyErr_GetRaisedException());
}

void log_failure(nb::handle level, const char *message, nb::handle err, bool with_traceback) {
    nb::object logger = nb::borrow(current_logger());
    nb::str text(message);

    // Inside an `except` block sys.exc_info() names the error being handled;
    // make it so for the duration of the logging call, then put back whatever
    // was being handled before.
    PyObject *previous = PyErr_GetHandledException();
    PyErr_SetHandledException(err.ptr());
    PyObject *argv[] = {nullptr, logger.ptr(), text.ptr(), err.ptr(), Py_True};
    PyObject *result = PyObject_VectorcallMethod(
        level.ptr(), argv + 1, 3 | PY_VECTORCALL_ARGUMENTS_OFFSET,
        with_traceback ? exc_info_names().ptr() : nullptr);
    PyErr_SetHandledException(previous);
    Py_XDECREF(previous);
    if (!result)
        throw nb::python_error();
    Py_DECREF(result);
}

void log_failure_error(const Operation &op, nb::handle err) {
    log_failure(method.error, op.message, err, true);
}

bool is_binding_mismatch(nb::handle err) {
    return PyErr_GivenExceptionMatches(err.ptr(), PyExc_AttributeError) ||
           PyErr_GivenExceptionMatches(err.ptr(), PyExc_TypeError);
}

} // namespace morvik
