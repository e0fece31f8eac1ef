// Queries as plain method descriptors: argument binding, documentation and the instance check.
#include "query_methods.hpp"

#include <nanobind/stl/string.h>

namespace morvik::detail {

namespace {

// The row's parameter called `name`, or -1.
Py_ssize_t parameter_index(const OperationRow &row, PyObject *name) {
    for (std::size_t i = 0; i < row.param_count; ++i)
        if (PyUnicode_CompareWithASCIIString(name, row.params[i].name) == 0)
            return (Py_ssize_t) i;
    return -1;
}

} // namespace

bool bind_query_arguments(const OperationRow &row, PyObject *const *args, Py_ssize_t nargs,
                          PyObject *kwnames, PyObject **slots) {
    const char *name = row.op.name;
    Py_ssize_t count = (Py_ssize_t) row.param_count;
    if (nargs > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional argument%s but %zd were given",
                     name, count, count == 1 ? "" : "s", nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i)
        slots[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject *keyword = PyTuple_GetItem(kwnames, k);
        Py_ssize_t i = parameter_index(row, keyword);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", name,
                         keyword);
            return false;
        }
        if (slots[i]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", name,
                         row.params[i].name);
            return false;
        }
        slots[i] = args[nargs + k];
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (slots[i])
            continue;
        if (!row.params[i].fallback) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", name,
                         row.params[i].name);
            return false;
        }
        slots[i] = row.params[i].fallback->ptr();
    }
    return true;
}

std::string query_doc(const OperationRow &row) {
    // "name($self, /, a, b=None)\n--\n\n" is the form CPython reads as the
    // method's text signature and leaves out of __doc__.
    std::string doc = std::string(row.op.name) + "($self";
    if (row.param_count)
        doc += ", /";
    for (std::size_t i = 0; i < row.param_count; ++i) {
        doc += std::string(", ") + row.params[i].name;
        if (row.params[i].fallback)
            doc += "=" + nb::cast<std::string>(nb::repr(*row.params[i].fallback));
    }
    return doc + ")\n--\n\n" + row.doc;
}

Scenard *ready_service(PyObject *self, const OperationRow &row) {
    if (!nb::inst_ready(self)) {
        PyErr_Format(PyExc_TypeError, "%s(): the Scenard instance was never initialised",
                     row.op.name);
        return nullptr;
    }
    return nb::inst_ptr<Scenard>(self);
}

void add_query_method(ScenardClass &cls, PyMethodDef &def) {
    nb::object method = nb::steal(PyDescr_NewMethod((PyTypeObject *) cls.ptr(), &def));
    if (!method.is_valid())
        throw nb::python_error();
    cls.attr(def.ml_name) = method;
}

} // namespace morvik::detail
