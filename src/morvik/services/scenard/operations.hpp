// The service's operations in nanobind's terms: one function and one binding each.
//
//     def(cls, "fit_all", guarded<fit_all>("Error fitting view: %s"),
//         "Fit all displayed objects in the view.");
//
// guarded<fn> runs fn under the guard (a failure is one log record under its
// template, and the result None); reporting<fn> binds a function that logs
// its own failures; a query is bound as the function itself and lets its
// errors through. nanobind checks the nb::arg count against the function's
// parameters at compile time. An operation's file includes this header alone
// for the service, its guard, lookups and bound names.
#pragma once

#include "guard.hpp"
#include "lookup.hpp"
#include "names.hpp"
#include "scenard.hpp"

#include <string>
#include <type_traits>

namespace morvik {

// Name -> log template of every operation that logs its failures, where the
// tests read them.
inline HostName operation_templates{[] { return nb::object(nb::dict()); }};

template <auto fn, bool guard_it, typename = decltype(fn)> struct Operation;

template <auto fn, bool guard_it, typename R, typename... A>
struct Operation<fn, guard_it, R (*)(Scenard &, A...)> {
    static constexpr auto function = fn;
    const char *message;

    R operator()(Scenard &s, A... args) const {
        if constexpr (!guard_it) {
            return fn(s, args...);
        } else if constexpr (std::is_void_v<R>) {
            guard(message, [&] { fn(s, args...); });
        } else {
            R result = nb::none();
            guard(message, [&] { result = fn(s, args...); });
            return result;
        }
    }
};

template <auto fn> Operation<fn, true> guarded(const char *message) { return {message}; }
template <auto fn> Operation<fn, false> reporting(const char *message) { return {message}; }

namespace detail {

template <typename T> const char *annotation() {
    if constexpr (std::is_void_v<T>)
        return "None";
    else
        return T::annotation;
}

template <typename F> constexpr auto function_of(F f) {
    if constexpr (std::is_pointer_v<F>)
        return f;
    else
        return F::function;
}

// The typed signature, written from the same types and nb::arg names nanobind
// binds: nanobind would show each parameter as `T | None`, since each takes
// None. A default shows as written when it is None or a bool, else as `...`.
template <typename R, typename Self, typename... A, typename... Extra>
std::string signature(const char *name, R (*)(Self, A...), const Extra &...extra) {
    const char *types[] = {annotation<A>()..., nullptr};
    std::string sig = std::string("def ") + name + "(self";
    std::size_t i = 0;
    auto parameter = [&](const auto &e) {
        using traits = nb::detail::arg_traits<std::decay_t<decltype(e)>>;
        if constexpr (traits::is_arg) {
            sig += std::string(", ") + e.name_ + ": " + types[i++];
            if constexpr (traits::has_default)
                sig += std::string(" = ") + (e.value.is_none() || PyBool_Check(e.value.ptr())
                                                 ? nb::str(e.value).c_str()
                                                 : "...");
        }
    };
    (parameter(extra), ...);
    return sig + ") -> " + annotation<R>();
}

} // namespace detail

// cls.def(name, f, extra...) under its typed signature; an operation's log
// template goes into the module's `_operations`.
template <typename C, typename F, typename... Extra>
void def(C &cls, const char *name, F f, const Extra &...extra) {
    std::string sig = detail::signature(name, detail::function_of(f), extra...);
    cls.def(name, f, nb::sig(sig.c_str()), extra...);
    if constexpr (!std::is_pointer_v<F>)
        operation_templates[name] = f.message;
}

} // namespace morvik
