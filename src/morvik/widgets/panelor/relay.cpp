// The receivers of the controls' Qt signals.
//
// PySide holds a connected callable strongly and never drops it while the
// sender lives, so connecting the toolbar itself or one of its bound methods
// would keep a parentless toolbar alive for ever. A relay holds the toolbar
// only weakly: once the toolbar is collected or deleted by Qt, a control that
// outlived it (one the host moved elsewhere) reaches nothing.
#include "bound_names.hpp"
#include "panelor.hpp"

#include <vector>

namespace morvik::panelor {

namespace {

struct SlotRelay {
    nb::object toolbar;  // weak reference
    nb::handle slot;     // interned name of the toolbar's slot
    nb::object argument; // fixed argument for the slot, or empty
    bool forwards;       // pass the Qt signal's own arguments on
};

void relay_call(const SlotRelay &relay, nb::args signal_args) {
    PyObject *target = PyWeakref_GetObject(relay.toolbar.ptr());
    if (!target)
        throw nb::python_error();
    if (target == Py_None)
        return;
    nb::object toolbar = nb::borrow(target);
    // A toolbar that Qt has deleted is as gone as a collected one.
    if (!truthy(call(bound.is_valid, toolbar)))
        return;
    if (!relay.forwards) {
        if (relay.argument.is_valid())
            call_method(toolbar, relay.slot, relay.argument);
        else
            call_method(toolbar, relay.slot);
        return;
    }
    size_t count = nb::len(signal_args);
    std::vector<PyObject *> argv(count + 2);
    argv[1] = toolbar.ptr();
    for (size_t i = 0; i < count; ++i)
        argv[i + 2] = PyTuple_GET_ITEM(signal_args.ptr(), i);
    PyObject *result = PyObject_VectorcallMethod(
        relay.slot.ptr(), argv.data() + 1, (count + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
    if (!result)
        throw nb::python_error();
    Py_DECREF(result);
}

nb::object make_relay(nb::handle toolbar, nb::handle slot, nb::handle argument, bool forwards) {
    PyObject *weak = PyWeakref_NewRef(toolbar.ptr(), nullptr);
    if (!weak)
        throw nb::python_error();
    return nb::cast(SlotRelay{nb::steal(weak), slot, nb::borrow(argument), forwards});
}

} // namespace

void bind_slot_relay(nb::module_ &m) {
    nb::class_<SlotRelay> relay_type(m, "_SlotRelay");
    relay_type.def("__call__", &relay_call);
    // Relays are made only from here, so the module shows nothing but the
    // toolbar class. The type is kept for the life of the process: otherwise
    // the last relay to go would take it along, and the next toolbar could
    // make no relay.
    relay_type.inc_ref();
    nb::delattr(m, "_SlotRelay");
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
    call_method(get(control, signal), method.connect, receiver);
}

} // namespace morvik::panelor
