// The combo box a selector control is built on (struct Selector, panelor.hpp).
#include "panelor.hpp"

namespace morvik::panelor {

nb::object capitalised(nb::handle member) { return member.attr("value").attr("capitalize")(); }

nb::object Selector::build(nb::handle self,
                           std::initializer_list<std::pair<nb::object, nb::handle>> items,
                           int selected) const {
    nb::object group = titled_group(title, QVBoxLayout);
    nb::object combo = QComboBox();
    nb::setattr(self, field, combo);
    for (const auto &[text, member] : items)
        combo.attr("addItem")(text, member.attr("value"));
    // Filled and set before it is connected, so building the toolbar emits nothing.
    combo.attr("setCurrentIndex")(selected);
    connect(combo, "currentIndexChanged", self, slot);
    add_to(group, combo);
    return group;
}

void Selector::define_slot(nb::dict &ns) const {
    using namespace nb::literals;
    // The data of the item at the delivered index, passed on as it is.
    def_method(ns, slot, [this](nb::handle self, nb::handle index) {
        self.attr(signal).attr("emit")(self.attr(field).attr("itemData")(index));
    }, "index"_a.none());
}

void Selector::select(nb::handle self, nb::handle member) const {
    nb::object combo = self.attr(field), wanted = member.attr("value");
    Py_ssize_t count = nb::cast<Py_ssize_t>(combo.attr("count")());
    for (Py_ssize_t i = 0; i < count; ++i) {
        nb::int_ index(i);
        if (combo.attr("itemData")(index).equal(wanted)) {
            combo.attr("setCurrentIndex")(index);
            return;
        }
    }
}

} // namespace morvik::panelor
