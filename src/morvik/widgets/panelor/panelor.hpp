// What the toolbar's controls share. Each control lives in a file of its own
// (its group builder, slots, state operations and names) and describes itself
// to the class with a Control; panelor_class.cpp lists them.
#pragma once

#include "names.hpp"

#include <initializer_list>
#include <utility>

namespace morvik::panelor {

// Adds operation `name` to the class namespace as a method, callable by
// position or keyword.
template <typename F, typename... Extra>
void def_method(nb::dict &ns, const char *name, F &&f, const Extra &...extra) {
    ns[name] = nb::cpp_function(std::forward<F>(f), nb::is_method(), nb::name(name), extra...);
}

// The runs of groups a sunken line separates, in the toolbar's order.
enum class Section { settings, views, actions };

// What a control gives the class: its signal, its group and where that goes,
// and its other methods. The group builder is a method of its own, so a
// subclass may replace it.
struct Control {
    const char *signal;    // its signal's name
    PyTypeObject *carries; // what the signal carries; null for nothing
    const char *meaning;   // the signal's line in the class documentation
    Section section;
    const char *builder; // the group builder's method name
    nb::object (*build)(nb::handle self);
    void (*define)(nb::dict &ns);            // its slots and state operations
    bool (*shown)(nb::handle self) = nullptr; // whether the toolbar has it; null: always
};

// Whether the toolbar stacks top to bottom: only the exact string "vertical"
// does, any other orientation means horizontal.
bool is_vertical(nb::handle self);

// A titled group box whose layout, of `layout_type`, spaces its controls by 5.
nb::object titled_group(const char *title, nb::handle layout_type);
void add_to(nb::handle group, nb::handle control);

// The member's value string, first letter upper-cased.
nb::object capitalised(nb::handle member);

// A titled group holding one combo box whose items carry enumeration members'
// value strings. The toolbar keeps the combo box as `field`; the slot emits
// `signal` with the data of the item at the delivered index.
struct Selector {
    const char *title, *field, *slot, *signal;

    // The group: items (text, member) in order, the given one selected, then
    // connected to the slot.
    nb::object build(nb::handle self, std::initializer_list<std::pair<nb::object, nb::handle>> items,
                     int selected) const;
    void define_slot(nb::dict &ns) const;
    // Selects the first item whose data is the member's value string; no
    // match leaves the selection as it is.
    void select(nb::handle self, nb::handle member) const;
    nb::object current(nb::handle self) const { return self.attr(field).attr("currentData")(); }
};

// What a control's Qt signal is connected to: a small callable holding only a
// weak reference to the toolbar, so connections never keep it alive. It calls
// the toolbar's `slot` with the Qt signal's own arguments, or with `arguments`
// when given.
void bind_slot_relay();
void connect(nb::handle control, const char *signal, nb::handle toolbar, const char *slot,
             nb::handle arguments = nb::handle());

} // namespace morvik::panelor
