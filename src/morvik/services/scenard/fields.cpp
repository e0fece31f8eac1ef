// Reading a small record from any iterable.
#include "fields.hpp"

namespace morvik {

Py_ssize_t length_of(nb::handle value) {
    Py_ssize_t length = PyObject_Size(value.ptr());
    if (length < 0) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw nb::python_error();
        PyErr_Clear();
    }
    return length;
}

// Kept raw: PyIter_Next tells an exhausted iterator from a failing one.
Py_ssize_t read_fields(nb::handle record, nb::object *fields, Py_ssize_t least, Py_ssize_t most,
                       void (*refuse)(nb::handle record)) {
    if (PyTuple_CheckExact(record.ptr())) { // the usual record, read in place
        Py_ssize_t n = PyTuple_Size(record.ptr());
        if (n < least || n > most)
            refuse(record);
        for (Py_ssize_t i = 0; i < n; ++i)
            fields[i] = nb::borrow(PyTuple_GetItem(record.ptr(), i));
        return n;
    }
    // Without a length, the values themselves settle the count.
    Py_ssize_t length = length_of(record);
    if (length >= 0 && (length < least || length > most))
        refuse(record);
    nb::object iterator = nb::steal(PyObject_GetIter(record.ptr()));
    if (!iterator.is_valid()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw nb::python_error();
        PyErr_Clear();
        refuse(record); // no sequence at all is one of the wrong size
    }
    Py_ssize_t n = 0;
    for (; n <= most; ++n) {
        PyObject *value = PyIter_Next(iterator.ptr());
        if (!value)
            break;
        if (n == most) { // one too many: it is dropped unlooked-at
            Py_DECREF(value);
            refuse(record);
        }
        fields[n] = nb::steal(value);
    }
    if (PyErr_Occurred())
        throw nb::python_error();
    if (n < least)
        refuse(record);
    return n;
}

} // namespace morvik
