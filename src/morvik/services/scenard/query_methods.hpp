// Queries as plain CPython method descriptors, made from their rows.
//
// A query is called far more often than any other operation, and is held to
// the cost of a plain Python method doing the same lookup. The interpreter
// calls a method descriptor straight from the call site, with the arguments
// as they lie on its stack. Kept raw: through nanobind's dispatcher, which
// also resolves `self` and takes a reference to each argument, get_view cost
// 606 instructions a call against 293 as a descriptor (bench/query_cost.py).
#pragma once

#include "guard.hpp"
#include "operation_row.hpp"
#include "scenard.hpp"

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

namespace morvik {

namespace detail {

// Places the call's arguments in the row's parameter order, as Python would
// bind them to `def name(self, <parameters>)`: by position or by name, each
// once, the defaults filling what is left. Returns false with a TypeError set.
bool bind_query_arguments(const OperationRow &row, PyObject *const *args, Py_ssize_t nargs,
                          PyObject *kwnames, PyObject **slots);

// The descriptor's documentation: the parameter names for inspect.signature,
// then the row's docstring, which is what __doc__ shows.
std::string query_doc(const OperationRow &row);

// The instance behind `self`, or nullptr with a TypeError set for one whose
// __init__ never ran (Scenard.__new__(Scenard)).
Scenard *ready_service(PyObject *self, const OperationRow &row);

// Installs `def` on the class under the row's name.
void add_query_method(ScenardClass &cls, PyMethodDef &def);

template <typename R> PyObject *to_python(R &&value) {
    if constexpr (std::is_same_v<std::decay_t<R>, nb::object>)
        return value.release().ptr();
    else
        return nb::cast(std::forward<R>(value)).release().ptr();
}

template <auto fn, typename Fn = decltype(fn)> struct QueryMethod;

template <auto fn, typename R, typename... A> struct QueryMethod<fn, R (*)(Scenard &, A...)> {
    static constexpr std::size_t arity = sizeof...(A);
    static inline const OperationRow *row = nullptr;
    static inline std::string doc;
    static inline PyMethodDef def{};

    // `args` holds the arity's arguments, borrowed, in parameter order.
    template <std::size_t... I>
    static PyObject *run(PyObject *self, PyObject *const *args, std::index_sequence<I...>) {
        Scenard *s = ready_service(self, *row);
        if (!s)
            return nullptr;
        try {
            if constexpr (std::is_void_v<R>) {
                fn(*s, nb::handle(args[I])...);
                return nb::none().release().ptr();
            } else {
                return to_python(fn(*s, nb::handle(args[I])...));
            }
        } catch (nb::python_error &error) {
            error.restore();
        } catch (const std::exception &error) {
            restore_cpp_error(error, row->op);
        }
        return nullptr;
    }

    static PyObject *no_arguments(PyObject *self, PyObject *) {
        return run(self, nullptr, std::index_sequence<>{});
    }

    static PyObject *with_arguments(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                                    PyObject *kwnames) {
        if (!kwnames && nargs == (Py_ssize_t) arity) // every argument by position
            return run(self, args, std::index_sequence_for<A...>{});
        PyObject *slots[arity];
        if (!bind_query_arguments(*row, args, nargs, kwnames, slots))
            return nullptr;
        return run(self, slots, std::index_sequence_for<A...>{});
    }

    static void bind(ScenardClass &cls, const OperationRow &bound_row) {
        row = &bound_row;
        doc = query_doc(bound_row);
        if constexpr (arity == 0)
            def = {bound_row.op.name, (PyCFunction) no_arguments, METH_NOARGS, doc.c_str()};
        else
            def = {bound_row.op.name, (PyCFunction) (void (*)()) with_arguments,
                   METH_FASTCALL | METH_KEYWORDS, doc.c_str()};
        add_query_method(cls, def);
    }
};

} // namespace detail

} // namespace morvik
