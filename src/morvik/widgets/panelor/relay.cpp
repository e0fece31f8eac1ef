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
#include "names.hpp"
#include "panelor.hpp"

#include <exception>
#include <vector>

namespace morvik::panelor {

namespace {

struct SlotRelay {
    PyObject_HEAD
    PyObject *toolbar;  // weak reference
    PyObject *slot;     // interned name of the toolbar's slot
    PyObject *argument; // fixed argument for the slot, or null
    bool forwards;      // pass the Qt signal's own arguments on
};

PyTypeObject *relay_type = nullptr; // kept for the life of the process

// The live toolbar, or an empty object once it is gone.
nb::object live_toolbar(const SlotRelay &relay) {
    // Calling a weak reference gives its target, or None once it is gone.
    nb::object toolbar = nb::handle(relay.toolbar)();
    if (toolbar.is_none())
        return nb::object();
    // A toolbar that Qt has deleted is as gone as a collected one.
    if (!nb::bool_(is_valid(toolbar)))
        return nb::object();
    return toolbar;
}

void deliver(const SlotRelay &relay, PyObject *signal_args) {
    nb::object toolbar = live_toolbar(relay);
    if (!toolbar.is_valid())
        return;
    if (!relay.forwards) {
        if (relay.argument)
            toolbar.attr(relay.slot)(nb::handle(relay.argument));
        else
            toolbar.attr(relay.slot)();
        return;
    }
    // Kept raw: Qt's arguments go on as they came, one vectorcall with no
    // tuple unpacked into C++ and cast back.
    Py_ssize_t count = PyTuple_Size(signal_args);
    if (count < 0)
        throw nb::python_error();
    std::vector<PyObject *> argv((size_t) count + 2);
    argv[1] = toolbar.ptr();
    for (Py_ssize_t i = 0; i < count; ++i)
        argv[(size_t) i + 2] = PyTuple_GetItem(signal_args, i); // borrowed
    PyObject *result = PyObject_VectorcallMethod(
        relay.slot, argv.data() + 1, (size_t) (count + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!result)
        throw nb::python_error();
    Py_DECREF(result);
}

PyObject *relay_call(PyObject *self, PyObject *args, PyObject * /* kwargs */) {
    try {
        deliver(*(SlotRelay *) self, args);
        Py_RETURN_NONE;
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
    Py_XDECREF(relay->argument);
    PyTypeObject *type = Py_TYPE(self);
    ((freefunc) PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

PyType_Slot relay_slots[] = {
    {Py_tp_call, (void *) relay_call},
    {Py_tp_dealloc, (void *) relay_dealloc},
    {0, nullptr},
};

PyType_Spec relay_spec = {
    "morvik.widgets.panelor._SlotRelay", sizeof(SlotRelay), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, relay_slots};

nb::object make_relay(nb::handle toolbar, nb::handle slot, nb::handle argument, bool forwards) {
    nb::object weak = nb::steal(PyWeakref_NewRef(toolbar.ptr(), nullptr));
    if (!weak.is_valid())
        throw nb::python_error();
    SlotRelay *relay = PyObject_New(SlotRelay, relay_type);
    if (!relay)
        throw nb::python_error();
    relay->toolbar = weak.release().ptr();
    relay->slot = Py_NewRef(slot.ptr());
    relay->argument = Py_XNewRef(argument.ptr());
    relay->forwards = forwards;
    return nb::steal((PyObject *) relay);
}

} // namespace

void bind_slot_relay() {
    relay_type = (PyTypeObject *) PyType_FromSpec(&relay_spec);
    if (!relay_type)
        throw nb::python_error();
}

nb::object relay_forwarding(nb::handle toolbar, nb::handle slot) {
    return make_relay(toolbar, slot, nb::handle(), true);
}

nb::object relay_calling(nb::handle toolbar, nb::handle slot) {
    return make_relay(toolbar, slot, nb::handle(), false);
}

nb::object relay_calling_with(nb::handle toolbar, nb::handle slot, nb::handle argument) {
    return make_relay(toolbar, slot, argument, false);
}

void connect(nb::handle control, nb::handle signal, nb::handle receiver) {
    control.attr(signal).attr("connect"_id)(receiver);
}

} // namespace morvik::panelor
