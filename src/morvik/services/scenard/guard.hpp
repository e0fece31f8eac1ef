// The service's failure guard.
//
// A guarded operation runs its body; an error that is an `Exception` becomes one
// log record written exactly as `logger.error(message, err, exc_info=True)`
// would write it inside an `except Exception as err:` block of the caller, and
// the operation returns its neutral result. KeyboardInterrupt, SystemExit and
// other BaseException errors pass through untouched.
#pragma once

#include "hostcall.hpp"

#include <exception>

namespace morvik {

// Offers the module's logger as `logger`, where a host may replace it (at load).
void bind_logger(nb::module_ &m);

// Moves a C++ error of our own into Python, with a clear message.
void restore_cpp_error(const std::exception &error);

// The pending Python error, taken as the caught exception. Its traceback
// gains the caller's line, as it would passing through the caller's frame.
// Re-raises anything that is not an `Exception`.
nb::object take_failure();

// Runs `body`; returns the caught `Exception`, or an empty object on success.
template <typename F> nb::object catch_failure(F &&body) {
    try {
        body();
        return nb::object();
    } catch (nb::python_error &error) {
        error.restore();
    } catch (const std::exception &error) {
        restore_cpp_error(error);
    }
    return take_failure();
}

// Writes one record through the module's logger at `level` ("error",
// "warning" or "debug"), formatted from `message` and `err`, while `err` is
// the handled exception, as in an `except` block; the handled exception is
// then put back exactly as it was.
void log_failure(const char *level, const char *message, nb::handle err, bool with_traceback);

// The guard: runs `body`, logs a failure at level error under `message`,
// with its traceback. Returns true when the body succeeded.
template <typename F> bool guard(const char *message, F &&body) {
    nb::object err = catch_failure(body);
    if (err.is_valid())
        log_failure("error", message, err, true);
    return !err.is_valid();
}

// Runs a step of a repair after a failure, swallowing an `Exception`: the
// error reported is the one that started the repair.
template <typename F> void quietly(F &&step) {
    try {
        step();
    } catch (nb::python_error &error) {
        if (!error.matches(PyExc_Exception))
            throw;
    }
}

// A repair after a failure, step by step: each step runs whatever the earlier
// ones raised. A step's own `Exception` is swallowed, as quietly does; an
// interrupt or exit request met on the way is held until every step has run,
// then raised by finish() in place of the failure that started the repair.
class Repair {
    nb::object held; // the first interrupt, as the raised exception
public:
    template <typename F> void step(F &&body) {
        try {
            body();
        } catch (nb::python_error &error) {
            if (!error.matches(PyExc_Exception) && !held.is_valid()) {
                error.restore();
                held = nb::steal(PyErr_GetRaisedException());
            }
        } catch (const std::exception &) {
            // a C++ error of a step: the failure reported is the first one
        }
    }
    void finish() {
        if (held.is_valid()) {
            PyErr_SetRaisedException(held.release().ptr());
            throw nb::python_error();
        }
    }
};

// True for the errors a binding raises when it lacks a name or refuses an
// argument's type (AttributeError, TypeError).
inline bool is_binding_mismatch(nb::handle err) {
    return PyErr_GivenExceptionMatches(err.ptr(), PyExc_AttributeError) ||
           PyErr_GivenExceptionMatches(err.ptr(), PyExc_TypeError);
}

// Runs `attempt`; a failure is logged at `level` under `message`, with its
// traceback. A binding mismatch instead gets `fallback`, a simpler form of the
// same call, whose own failure is only a debug note under `fallback_failed`:
// that binding simply cannot do it.
template <typename F, typename G>
void with_fallback(const char *message, const char *level, const char *fallback_failed,
                   F &&attempt, G &&fallback) {
    nb::object err = catch_failure(attempt);
    if (!err.is_valid())
        return;
    if (!is_binding_mismatch(err))
        return log_failure(level, message, err, true);
    nb::object fallback_err = catch_failure(fallback);
    if (fallback_err.is_valid())
        log_failure("debug", fallback_failed, fallback_err, false);
}

} // namespace morvik
