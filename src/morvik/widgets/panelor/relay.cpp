// The receivers of the controls' Qt signals.
//
// PySide holds a connected callable strongly until the sender goes, so
// connecting the toolbar itself or one of its bound methods would keep a
// parentless toolbar alive for ever. A relay holds the toolbar only weakly:
// once the toolbar is collected or deleted by Qt, a control that outlived it
// (one the host moved elsewhere) reaches nothing.
//
// Relays are plain Python objects rather than nanobind instances: a widget
// still alive when the interpreter exits keeps its relays, and that is no
// leak worth reporting.
#include "panelor.hpp"

#include <exception>

namespace morvik::panelor {

namespace {

struct SlotRelay {
    PyObject_HEAD
    PyObject *toolbar;   // weak reference
    PyObject *slot;      // name of the toolbar's slot
    PyObject *arguments; // the slot's fixed arguments, or null to pass the signal's on
};

PyTypeObject *relay_type = nullptr; // kept for the life of the process

PyObject *relay_call(PyObject *self, PyObject *args, PyObject * /* kwargs */) {
    const SlotRelay &relay = *(SlotRelay *) self;
    try {
        // Calling a weak reference gives its target, or None once it is gone;
        // a toolbar that Qt has deleted is as gone as a collected one.
        nb::object toolbar = nb::handle(relay.toolbar)();
        if (toolbar.is_none() || !truth(is_valid(toolbar)))
            Py_RETURN_NONE;
        nb::object slot = toolbar.attr(relay.slot);
        return PyObject_Call(slot.ptr(), relay.arguments ? relay.arguments : args, nullptr);
    } catch (nb::python_error &error) {
        error.restore();
    } catch (const std::exception &error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
    return nullptr;
}

void relay_dealloc(PyObject *self) {
    SlotRelay *relay = (SlotRelay *) self;
    Py_XDECREF(relay->toolbar);
    Py_XDECREF(relay->slot);
    Py_XDECREF(relay->arguments);
    PyTypeObject *type = Py_TYPE(self);
    ((freefunc) PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyType_Slot relay_slots[] = {
    {Py_tp_call, (void *) relay_call}, {Py_tp_dealloc, (void *) relay_dealloc}, {0, nullptr}};

PyType_Spec relay_spec = {
    "morvik.widgets.panelor._SlotRelay", sizeof(SlotRelay), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, relay_slots};

} // namespace

void bind_slot_relay() {
    relay_type = (PyTypeObject *) nb::detail::raise_if_null(PyType_FromSpec(&relay_spec));
}

void connect(nb::handle control, const char *signal, nb::handle toolbar, const char *slot,
             nb::handle arguments) {
    nb::str name(slot);
    nb::weakref weak(toolbar);
    SlotRelay *relay = PyObject_New(SlotRelay, relay_type);
    if (!relay)
        throw nb::python_error();
    relay->toolbar = weak.release().ptr();
    relay->slot = name.release().ptr();
    relay->arguments = Py_XNewRef(arguments.ptr());
    control.attr(signal).attr("connect")(nb::steal((PyObject *) relay));
}

} // namespace morvik::panelor
