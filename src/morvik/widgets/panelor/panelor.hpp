// The Panelor class: a PySide6 QWidget subclass made at load time by PySide6's
// own metaclass, so Qt registers its signals exactly as for a `class`
// statement. Its operations are nanobind functions placed in the class
// namespace; its fields are ordinary attributes on the instance.
#pragma once

#include "hostcall.hpp"

#include <utility>

namespace morvik::panelor {

// Adds operation `name` to the class namespace as a method, callable by
// position or keyword.
template <typename F, typename... Extra>
void def_method(nb::dict &ns, const char *name, F &&f, const Extra &...extra) {
    ns[name] = nb::cpp_function(std::forward<F>(f), nb::is_method(), nb::name(name), extra...);
}

// Whether the toolbar stacks top to bottom: only the exact string "vertical"
// does, any other orientation means horizontal.
bool is_vertical(nb::handle self);

// Whether the toolbar has its projection-type group: the flag as given,
// read as Python's bool() reads it (1, numpy's True_ and "true" all count).
bool shows_projection_type(nb::handle self);

// Creates the class; `m` receives it as `Panelor`.
void bind_panelor(nb::module_ &m);

// The operations, in declaration order.
void add_builders(nb::dict &ns); // the five _create_..._group builders
void add_slots(nb::dict &ns);    // the five _on_... slots
void add_state(nb::dict &ns);    // the six set_/get_ operations

// What a control's Qt signal is connected to: a small callable holding only a
// weak reference to the toolbar, so connections never keep it alive.
void bind_slot_relay();
nb::object relay_forwarding(nb::handle toolbar, nb::handle slot); // slot(*signal args)
nb::object relay_calling(nb::handle toolbar, nb::handle slot);    // slot()
nb::object relay_calling_with(nb::handle toolbar, nb::handle slot, nb::handle argument);

// control.signal.connect(receiver)
void connect(nb::handle control, nb::handle signal, nb::handle receiver);

} // namespace morvik::panelor
