// The failure guard: turns a caught error into one log record with a traceback entry naming the operation.
#include "guard.hpp"

#include "lookup.hpp"
#include "names.hpp"

#include <nanobind/stl/string.h>

#include <cstring>
#include <string>

namespace morvik {

namespace {

// Python helpers, compiled once at load.
//
// log_handled makes the logging call inside a real `except` block. Only the
// interpreter saves and restores the handled exception exactly: the C API's
// Get/SetHandledException look past a generator's empty slot to the outer
// error and would write that error back into the generator. Raising `err`
// again would add this helper's frame to its traceback and could re-chain its
// context, so both are put back before the logger looks at them.
const char *const guard_helpers_source = R"PY(
def log_handled(log, message, err, with_traceback):
    traceback, context = err.__traceback__, err.__context__
    try:
        raise err
    except BaseException:
        err.__traceback__, err.__context__ = traceback, context
        if with_traceback:
            log(message, err, exc_info=True)
        else:
            log(message, err)
)PY";

nb::handle log_handled;
// The module's namespace, where a host may replace `logger`: looked up again
// on each failure.
nb::handle module_namespace;

// "raise <error>" on the operation's own line, in a code object named after
// the operation, with its file shown relative to the source tree
// ("morvik/services/scenard/registry.cpp"), as a Python method's frame would be.
PyObject *operation_code(const Operation &op) {
    if (op.frame_code)
        return op.frame_code;
    const char *file = std::strstr(op.file, "morvik/");
    std::string source(op.line > 1 ? op.line - 1 : 0, '\n');
    source += "raise __morvik_error__\n";
    nb::object code = nb::steal(Py_CompileString(source.c_str(), file ? file : op.file, Py_file_input));
    if (!code.is_valid())
        throw nb::python_error();
    nb::str name(op.name);
    nb::object named = code.attr("replace")(nb::arg("co_name") = name, nb::arg("co_qualname") = name);
    op.frame_code = named.release().ptr();
    return op.frame_code;
}

// Re-raises the pending error from the operation's frame, so that Python adds
// the traceback entry "File <source>, line <n>, in <operation>" itself.
void add_operation_frame(const Operation &op) {
    nb::object pending = nb::steal(PyErr_GetRaisedException());
    // A raise inside an `except` block would re-chain the error to the error
    // being handled; its context stays the one it was raised with.
    nb::object context = nb::steal(PyException_GetContext(pending.ptr()));
    try {
        PyObject *code = operation_code(op);
        nb::dict globals;
        globals["__morvik_error__"_id] = pending;
        PyObject *result = PyEval_EvalCode(code, globals.ptr(), globals.ptr());
        Py_XDECREF(result);
        nb::object raised = nb::steal(PyErr_GetRaisedException());
        // The frame keeps its globals; emptied, they keep nothing alive.
        PyDict_Clear(globals.ptr());
        if (raised.ptr() != pending.ptr()) {
            // Not the error we raised: give up on the frame, keep the error.
            PyErr_SetRaisedException(pending.release().ptr());
            return;
        }
    } catch (nb::python_error &) {
        // No frame for the traceback: keep the original error as it is.
    }
    PyException_SetContext(pending.ptr(), context.release().ptr());
    PyErr_SetRaisedException(pending.release().ptr());
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

// The module's `logger`, looked up on each failure so a replaced one is honoured.
nb::object current_logger() {
    nb::object found = find_entry(module_namespace, "logger"_id, Unhashable::raises);
    return found.is_valid() ? found : nb::borrow(logger);
}

} // namespace

void bind_guard_helpers(nb::module_ &m) {
    m.attr("logger") = logger;
    module_namespace = keep(nb::borrow(PyModule_GetDict(m.ptr())));

    // Compiled under the logging module's own file name: the logger takes the
    // frames of that file for its own and skips them, so a record names the
    // host's line that called the service, as it would without this helper.
    nb::object logging_file =
        nb::module_::import_("logging").attr("addLevelName").attr("__code__").attr("co_filename");
    nb::object code = nb::steal(Py_CompileString(
        guard_helpers_source, nb::cast<std::string>(logging_file).c_str(), Py_file_input));
    if (!code.is_valid())
        throw nb::python_error();
    nb::dict globals;
    globals["__builtins__"] = nb::module_::import_("builtins");
    nb::object done = nb::steal(PyEval_EvalCode(code.ptr(), globals.ptr(), globals.ptr()));
    if (!done.is_valid())
        throw nb::python_error();
    log_handled = keep(globals["log_handled"]);
}

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
    nb::object log = current_logger().attr(level);
    log_handled(log, nb::str(message), err, nb::bool_(with_traceback));
}

void log_failure_error(const Operation &op, nb::handle err) {
    log_failure("error"_id, op.message, err, true);
}

nb::handle debug_level() { return "debug"_id; }

bool is_binding_mismatch(nb::handle err) {
    return PyErr_GivenExceptionMatches(err.ptr(), PyExc_AttributeError) ||
           PyErr_GivenExceptionMatches(err.ptr(), PyExc_TypeError);
}

} // namespace morvik
