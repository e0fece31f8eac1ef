// The service's operations as rows: each declared once, with everything its binding and its guard need.
//
// A row names the function that does the work, its log template, its
// parameters, its typed signature and its docstring:
//
//     guarded_row<fit_all>("fit_all", "Error fitting view: %s", {},
//                          "def fit_all(self) -> None", "Fit all displayed objects in the view."),
//
// and each file of operations keeps its rows in one table, which bind_rows
// turns into methods of the class. A guarded row runs its function under the
// guard (a failure becomes one log record and the result None); a
// self-reporting row leaves its failures to the function itself, which finds
// its Operation as operation_of<function>(); a query row has no template,
// lets its errors through and is bound as a plain method descriptor
// (query_methods.hpp). The module lists every row's template in `_operations`
// and its typed signature in `_signatures`, where the tests and the stub
// patterns read them.
#pragma once

#include "guard.hpp"
#include "host_names.hpp"
#include "operation_row.hpp"
#include "query_methods.hpp"
#include "scenard.hpp"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <type_traits>
#include <utility>

namespace morvik {

inline HostName py_none{[] { return nb::object(nb::none()); }},
    py_true{[] { return nb::object(nb::bool_(true)); }};

// Name -> log template (None for a query), and name -> typed signature,
// filled as the rows are bound.
inline HostName operation_templates{[] { return nb::object(nb::dict()); }},
    operation_signatures{[] { return nb::object(nb::dict()); }};

// The row of `fn`, set when the row is bound (at load, before any call).
template <auto fn> inline const Operation *operation_slot = nullptr;
template <auto fn> const Operation &operation_of() { return *operation_slot<fn>; }

namespace detail {

template <typename> using as_object = nb::object;

template <auto fn, Failure failure, typename Fn = decltype(fn)> struct Method;

// Every argument arrives as an nb::object, so any Python value reaches the
// function (and, for a guarded row, its guard) instead of nanobind's refusal.
template <auto fn, Failure failure, typename R, typename... A>
struct Method<fn, failure, R (*)(Scenard &, A...)> {
    static auto call(Scenard &s, A... args) {
        if constexpr (failure == Failure::reports_own) {
            return fn(s, args...);
        } else if constexpr (std::is_void_v<R>) {
            guarded(operation_of<fn>(), [&] { fn(s, args...); });
        } else {
            nb::object result = nb::none();
            guarded(operation_of<fn>(), [&] { result = fn(s, args...); });
            return result;
        }
    }

    template <std::size_t... I>
    static void bind(ScenardClass &cls, const OperationRow &row, std::index_sequence<I...>) {
        operation_slot<fn> = &row.op;
        // A default without a value is a required parameter. The type is that
        // of an argument taking None with a default: a plain nb::arg_v would
        // drop the .none() it is built from (nanobind 3).
        using NoneArg = decltype(nb::arg("").none() = nb::none());
        auto arg = [](const Param &p) {
            return NoneArg(nb::arg(p.name).none(),
                           p.fallback ? nb::borrow(*p.fallback) : nb::object());
        };
        // A lambda rather than &call: nanobind inlines it into its dispatcher
        // instead of calling through a stored pointer.
        cls.def(
            row.op.name, [](Scenard &s, as_object<A>... args) { return call(s, args...); },
            arg(row.params[I])..., nb::sig(row.signature), row.doc);
    }

    static void bind_row(ScenardClass &cls, const OperationRow &row) {
        if (row.param_count != sizeof...(A))
            raise(PyExc_ImportError, "%s: its row names %zu parameters, its function takes %zu",
                  row.op.name, row.param_count, sizeof...(A));
        bind(cls, row, std::index_sequence_for<A...>{});
    }

    static constexpr std::size_t arity = sizeof...(A);
};

// A query's row checks its parameter count as any other, then becomes a
// method descriptor.
template <auto fn> void bind_query_row(ScenardClass &cls, const OperationRow &row) {
    if (row.param_count != QueryMethod<fn>::arity)
        raise(PyExc_ImportError, "%s: its row names %zu parameters, its function takes %zu",
              row.op.name, row.param_count, QueryMethod<fn>::arity);
    operation_slot<fn> = &row.op;
    QueryMethod<fn>::bind(cls, row);
}

template <auto fn, Failure failure>
OperationRow make_row(const char *name, const char *message, std::initializer_list<Param> params,
                      const char *signature, const char *doc, const char *file, int line) {
    static_assert(Method<fn, failure>::arity <= most_params, "raise most_params");
    void (*bind)(ScenardClass &, const OperationRow &);
    if constexpr (failure == Failure::raised)
        bind = &bind_query_row<fn>;
    else
        bind = &Method<fn, failure>::bind_row;
    OperationRow row{Operation{name, message, file, line}, signature, doc, {}, params.size(), bind};
    std::size_t i = 0;
    for (const Param &p : params)
        if (i < most_params)
            row.params[i++] = p;
    return row;
}

} // namespace detail

// The file and line are the row's own: tracebacks show them for the operation.
template <auto fn>
OperationRow guarded_row(const char *name, const char *message, std::initializer_list<Param> params,
                         const char *signature, const char *doc,
                         const char *file = __builtin_FILE(), int line = __builtin_LINE()) {
    return detail::make_row<fn, Failure::logged>(name, message, params, signature, doc, file, line);
}

template <auto fn>
OperationRow self_reporting_row(const char *name, const char *message,
                                std::initializer_list<Param> params, const char *signature,
                                const char *doc, const char *file = __builtin_FILE(),
                                int line = __builtin_LINE()) {
    return detail::make_row<fn, Failure::reports_own>(name, message, params, signature, doc, file,
                                                      line);
}

template <auto fn>
OperationRow query_row(const char *name, std::initializer_list<Param> params,
                       const char *signature, const char *doc,
                       const char *file = __builtin_FILE(), int line = __builtin_LINE()) {
    return detail::make_row<fn, Failure::raised>(name, nullptr, params, signature, doc, file, line);
}

// Makes each row a method of the class, in the table's order (the stub's order).
template <std::size_t n> void bind_rows(ScenardClass &cls, const OperationRow (&rows)[n]) {
    nb::handle templates = operation_templates, signatures = operation_signatures;
    for (const OperationRow &row : rows) {
        row.bind(cls, row);
        templates[row.op.name] = row.op.message ? nb::object(nb::str(row.op.message)) : nb::none();
        signatures[row.op.name] = nb::str(row.signature);
    }
}

} // namespace morvik
