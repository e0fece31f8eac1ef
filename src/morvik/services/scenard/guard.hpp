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

// Turns the pending Python error into the caught exception of `op`, with a
// traceback entry naming the operation. Re-raises anything that is not an
// `Exception`.
nb::object take_failure(const Operation &op);

// Compiles the Python helpers the guard runs and offers the module's logger
// as `logger` (at module load).
void bind_guard_helpers(nb::module_ &m);

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

// Writes one record through the module logger at `level` ("error"_id,
// "warning"_id or "debug"_id), formatted from `message` and `err`. The
// call runs inside a Python `except` block that handles `err`, so the
// interpreter itself saves and restores the handled exception around it.
void log_failure(nb::handle level, const char *message, nb::handle err, bool with_traceback);

// The level name of a fallback's note.
nb::handle debug_level();

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

// Runs `attempt`; a failure is logged at `level` under the operation's
// template, with its traceback. A binding mismatch instead gets `fallback`, a
// simpler form of the same call, whose own failure is only a debug note under
// `fallback_failed`: that binding simply cannot do it.
template <typename F, typename G>
void with_fallback(const Operation &op, nb::handle level, const char *fallback_failed,
                   F &&attempt, G &&fallback) {
    nb::object err = catch_failure(op, attempt);
    if (!err.is_valid())
        return;
    if (!is_binding_mismatch(err)) {
        log_failure(level, op.message, err, true);
        return;
    }
    nb::object fallback_err = catch_failure(op, fallback);
    if (fallback_err.is_valid())
        log_failure(debug_level(), fallback_failed, fallback_err, false);
}

} // namespace morvik
