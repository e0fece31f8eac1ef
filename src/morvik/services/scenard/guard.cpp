// The failure guard: C++ errors, the caught exception and its log record.
#include "guard.hpp"

#include "lookup.hpp"
#include "names.hpp"

#include <typeinfo>

namespace morvik {

namespace {

// The module's namespace, where a host may replace `logger`: looked up again
// on each failure.
nb::handle module_namespace;

// The module's own logger, from logging's registry of loggers. Never held
// here: a logger kept alive from C (as every bound name is, for good) would
// keep its handlers, their records and every frame and service a record's
// traceback reaches out of the collector's sight at exit, where nanobind
// reports each service as leaked.
nb::object own_logger() {
    return nb::module_::import_("logging").attr("getLogger")("morvik.services.scenard");
}

nb::object current_logger() {
    nb::object found = find_entry(module_namespace, nb::str("logger"), Unhashable::raises);
    return found.is_valid() ? found : own_logger();
}

// Makes `err` the handled exception (sys.exc_info()) for the scope's life,
// then puts back what was there. Get/SetHandledException look past a
// generator's empty slot to the error an outer frame handles, so the slot is
// emptied first and written again only when that does not already answer
// what was handled before.
struct Handling {
    PyObject *before = PyErr_GetHandledException();
    explicit Handling(nb::handle err) { PyErr_SetHandledException(err.ptr()); }
    ~Handling() {
        PyErr_SetHandledException(nullptr);
        PyObject *now = PyErr_GetHandledException();
        if (now != before)
            PyErr_SetHandledException(before);
        Py_XDECREF(now);
        Py_XDECREF(before);
    }
};

} // namespace

void bind_logger(nb::module_ &m) {
    m.attr("logger") = own_logger();
    module_namespace = keep(nb::borrow(PyModule_GetDict(m.ptr())));
}

void restore_cpp_error(const std::exception &error) {
    if (dynamic_cast<const std::bad_cast *>(&error))
        PyErr_SetString(PyExc_TypeError, "an argument or record has an unexpected type");
    else if (dynamic_cast<const std::bad_alloc *>(&error))
        PyErr_NoMemory();
    else
        PyErr_Format(PyExc_RuntimeError, "internal error: %s", error.what());
}

nb::object take_failure() {
    if (!PyErr_ExceptionMatches(PyExc_Exception))
        throw nb::python_error(); // interrupts and exit requests pass through
    // No Python frame of ours runs, so the caller's is the innermost.
    if (PyFrameObject *caller = PyEval_GetFrame())
        PyTraceBack_Here(caller);
    return nb::steal(PyErr_GetRaisedException());
}

void log_failure(const char *level, const char *message, nb::handle err, bool with_traceback) {
    nb::object log = current_logger().attr(level);
    // No Python frame of ours either: the logger finds the host's line as
    // the record's caller.
    Handling handling(err);
    if (with_traceback)
        log(message, err, nb::arg("exc_info") = true);
    else
        log(message, err);
}

} // namespace morvik
