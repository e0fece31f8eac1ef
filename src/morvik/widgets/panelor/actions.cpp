// The actions: a button asking the host to fit all objects in view.
#include "panelor.hpp"

namespace morvik::panelor {

namespace {

nb::object create_group(nb::handle self) {
    // Stacked in both orientations.
    nb::object group = titled_group("Actions", QVBoxLayout);
    nb::object fit = QPushButton("Fit All");
    fit.attr("setToolTip")("Fit all objects in view");
    // clicked(checked) calls the slot with no arguments.
    connect(fit, "clicked", self, "_on_fit_all_requested", nb::make_tuple());
    add_to(group, fit);
    return group;
}

void define(nb::dict &ns) {
    def_method(ns, "_on_fit_all_requested",
               [](nb::handle self) { self.attr("fit_all_requested").attr("emit")(); });
}

} // namespace

extern const Control actions{"fit_all_requested", nullptr, "Emitted when fit all button is clicked",
                             Section::actions, "_create_actions_group", &create_group, &define};

} // namespace morvik::panelor
