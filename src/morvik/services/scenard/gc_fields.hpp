// Garbage-collector slots for a class whose C++ fields hold Python objects.
#pragma once

#include "hostcall.hpp"

namespace morvik {

// Cleared to None rather than left empty, so an instance reached after the
// collector cleared it (from a finaliser, say) fails its calls instead of
// crashing. A map stays the same object for the instance's life: emptying it
// is enough to break a cycle through it.
inline void clear_field(nb::object &field) { field = nb::none(); }
inline void clear_field(nb::dict &field) {
    if (field.is_valid())
        field.clear();
}

template <typename T, auto... fields> struct GcFields {
    static int traverse(PyObject *self, visitproc visit, void *arg) {
        Py_VISIT(Py_TYPE(self));
        if (nb::inst_ready(self))
            for (PyObject *field : {(nb::inst_ptr<T>(self)->*fields).ptr()...})
                Py_VISIT(field);
        return 0;
    }
    static int clear(PyObject *self) {
        if (nb::inst_ready(self))
            (clear_field(nb::inst_ptr<T>(self)->*fields), ...);
        return 0;
    }
    static inline PyType_Slot slots[] = {
        {Py_tp_traverse, (void *) traverse}, {Py_tp_clear, (void *) clear}, {0, nullptr}};
};

} // namespace morvik
