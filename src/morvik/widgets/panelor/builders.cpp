// The five control groups. Each control gets its items and initial value
// before its Qt signal is connected, so building the toolbar emits nothing.
#include "bound_names.hpp"
#include "panelor.hpp"

#include <initializer_list>

namespace morvik::panelor {

namespace {

// A titled group whose layout (constructed on the group) spaces its controls by 5.
struct Group {
    nb::object box, layout;

    Group(const char *title, nb::handle layout_type)
        : box(call(bound.QGroupBox, nb::str(title))), layout(call(layout_type, box)) {
        call_method(layout, method.setSpacing, nb::int_(5));
    }

    void add(nb::handle control) { call_method(layout, method.addWidget, control); }
};

nb::object value_of(nb::handle member) { return get(member, attribute.value); }

nb::object capitalised(nb::handle member) {
    return call_method(value_of(member), method.capitalize);
}

nb::object upper_cased(nb::handle member) { return call_method(value_of(member), method.upper); }

struct ComboItem {
    nb::object text;
    nb::handle member; // its value string is the item's data
};

// A group holding one combo box: items in order, the given one selected,
// then connected to the toolbar's slot.
nb::object combo_group(nb::handle self, const char *title, nb::handle field,
                       std::initializer_list<ComboItem> items, int selected, nb::handle slot) {
    Group group(title, bound.QVBoxLayout);
    nb::object combo = call(bound.QComboBox);
    set(self, field, combo);
    for (const ComboItem &item : items)
        call_method(combo, method.addItem, item.text, value_of(item.member));
    call_method(combo, method.setCurrentIndex, nb::int_(selected));
    connect(combo, attribute.currentIndexChanged, relay_forwarding(self, slot));
    group.add(combo);
    return group.box;
}

nb::object create_projection_type_group(nb::handle self) {
    return combo_group(self, "Projection Type", attribute._proj_type_combo,
                       {{capitalised(bound.projection_perspective), bound.projection_perspective},
                        {capitalised(bound.projection_orthographic), bound.projection_orthographic}},
                       1, method._on_projection_type_combo_changed);
}

nb::object create_display_mode_group(nb::handle self) {
    return combo_group(self, "Display Mode", attribute._display_mode_combo,
                       {{capitalised(bound.mode_wireframe), bound.mode_wireframe},
                        {capitalised(bound.mode_shaded), bound.mode_shaded},
                        {nb::str("Shaded + Wireframe"), bound.mode_both}},
                       1, method._on_display_mode_combo_changed);
}

nb::object create_transparency_group(nb::handle self) {
    Group group("Transparency", bound.QVBoxLayout);
    nb::object label = call(bound.QLabel, nb::str("0%"));
    set(self, attribute._transparency_label, label);
    call_method(label, method.setAlignment, bound.align_center);
    group.add(label);

    nb::object slider = call(bound.QSlider, bound.horizontal);
    set(self, attribute._transparency_slider, slider);
    call_method(slider, method.setMinimum, nb::int_(0));
    call_method(slider, method.setMaximum, nb::int_(100));
    call_method(slider, method.setValue, nb::int_(0));
    call_method(slider, method.setTickPosition, bound.ticks_below);
    call_method(slider, method.setTickInterval, nb::int_(10));
    connect(slider, attribute.valueChanged,
            relay_forwarding(self, method._on_transparency_changed));
    group.add(slider);
    return group.box;
}

nb::object create_standard_views_group(nb::handle self) {
    Group group("Standard Views", is_vertical(self) ? bound.QVBoxLayout : bound.QHBoxLayout);
    struct View {
        nb::handle direction;
        bool upper; // the iso caption is upper-cased, the others capitalised
        const char *tooltip;
    };
    const View views[] = {
        {bound.view_iso, true, "Isometric view"},
        {bound.view_top, false, "Top view (Z+)"},
        {bound.view_front, false, "Front view (Y-)"},
        {bound.view_right, false, "Right view (X+)"},
    };
    for (const View &view : views) {
        nb::object caption = view.upper ? upper_cased(view.direction) : capitalised(view.direction);
        nb::object button = call(bound.QPushButton, caption);
        call_method(button, method.setToolTip, nb::str(view.tooltip));
        // The button hands over the member itself; the slot emits its value.
        connect(button, attribute.clicked,
                relay_calling_with(self, method._on_projection_changed, view.direction));
        group.add(button);
    }
    return group.box;
}

nb::object create_actions_group(nb::handle self) {
    // Stacked in both orientations.
    Group group("Actions", bound.QVBoxLayout);
    nb::object fit = call(bound.QPushButton, nb::str("Fit All"));
    call_method(fit, method.setToolTip, nb::str("Fit all objects in view"));
    connect(fit, attribute.clicked, relay_calling(self, method._on_fit_all_requested));
    group.add(fit);
    return group.box;
}

} // namespace

void add_builders(nb::dict &ns) {
    def_method(ns, "_create_projection_type_group", &create_projection_type_group);
    def_method(ns, "_create_display_mode_group", &create_display_mode_group);
    def_method(ns, "_create_transparency_group", &create_transparency_group);
    def_method(ns, "_create_standard_views_group", &create_standard_views_group);
    def_method(ns, "_create_actions_group", &create_actions_group);
}

} // namespace morvik::panelor
