// The service's failure guard.
//
// A guarded operation runs its body; an error that is an `Exception` becomes one
// log record written exactly as `logger.error(message, err, exc_info=True)`
// would write it inside an `except Exception as err:` block, and the operation
// returns its neutral result. KeyboardInterrupt, SystemExit and other
// BaseException errors pass through untouched.
#pragma once

#include "hostcall.hpp"

#include <exception>
#include <typeinfo>

namespace morvik {

// A service operation as it shows in log records and tracebacks.
struct Operation {
    const char *name;    // e.g. "display_shape"
    const char *message; // its log template, ending in ": %s"
    const char *file;
    int line;
    // The code object whose frame names the operation in tracebacks, compiled
    // on the operation's first failure and kept for the life of the process.
    mutable PyObject *frame_code = nullptr;
};

// Declares an operation once, next to the code that runs it.
#define MORVIK_OPERATION(var, name, message)                                       \
    static const ::morvik::Operation var { name, message, __FILE__, __LINE__ }

// Turns the pending Python error into the caught exception of `op`, with a
// traceback entry naming the operation. Re-raises anything that is not an
// `Exception`.
nb::object take_failure(const Operation &op);

// Compiles the Python helpers the guard runs (at module load).
void bind_guard_helpers();

// Moves a C++ error of our own into Python, with a clear message.
void restore_cpp_error(const std::exception &error, const Operation &op);

// Runs `body`; returns the caught `Exception`, or an empty object on success.
template <typename F> nb::object catch_failure(const Operation &op, F &&body) {
    try {
        body();
        return nb::object();
    } catch (nb::python_error &error) {
        error.restore();
    } catch (const std::exception &error) {
        restore_cpp_error(error, op);
    }
    return take_failure(op);
}

// Writes one record through the module logger at `level` (method.error,
// method.warning or method.debug), formatted from `message` and `err`. The
// call runs inside a Python `except` block that handles `err`, so the
// interpreter itself saves and restores the handled exception around it.
void log_failure(nb::handle level, const char *message, nb::handle err, bool with_traceback);

// log_failure at level error with the operation's template and the traceback.
void log_failure_error(const Operation &op, nb::handle err);

// The guard: runs `body`, logs a failure at level error under the operation's
// template, with its traceback. Returns true when the body succeeded.
template <typename F> bool guarded(const Operation &op, F &&body) {
    nb::object err = catch_failure(op, body);
    if (!err.is_valid())
        return true;
    log_failure_error(op, err);
    return false;
}

// True for the errors a binding raises when it lacks a name or refuses an
// argument's type (AttributeError, TypeError).
bool is_binding_mismatch(nb::handle err);

} // namespace morvik
