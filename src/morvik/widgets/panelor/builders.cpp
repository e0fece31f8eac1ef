// The five control groups. Each control gets its items and initial value
// before its Qt signal is connected, so building the toolbar emits nothing.
#include "names.hpp"
#include "panelor.hpp"

#include <initializer_list>

namespace morvik::panelor {

namespace {

// A titled group whose layout (constructed on the group) spaces its controls by 5.
struct Group {
    nb::object box, layout;

    Group(const char *title, nb::handle layout_type)
        : box(call(QGroupBox, nb::str(title))), layout(call(layout_type, box)) {
        call_method(layout, "setSpacing"_id, nb::int_(5));
    }

    void add(nb::handle control) { call_method(layout, "addWidget"_id, control); }
};

nb::object value_of(nb::handle member) { return get(member, "value"_id); }

nb::object capitalised(nb::handle member) {
    return call_method(value_of(member), "capitalize"_id);
}

nb::object upper_cased(nb::handle member) { return call_method(value_of(member), "upper"_id); }

struct ComboItem {
    nb::object text;
    nb::handle member; // its value string is the item's data
};

// A group holding one combo box: items in order, the given one selected,
// then connected to the toolbar's slot.
nb::object combo_group(nb::handle self, const char *title, nb::handle field,
                       std::initializer_list<ComboItem> items, int selected, nb::handle slot) {
    Group group(title, QVBoxLayout);
    nb::object combo = call(QComboBox);
    set(self, field, combo);
    for (const ComboItem &item : items)
        call_method(combo, "addItem"_id, item.text, value_of(item.member));
    call_method(combo, "setCurrentIndex"_id, nb::int_(selected));
    connect(combo, "currentIndexChanged"_id, relay_forwarding(self, slot));
    group.add(combo);
    return group.box;
}

nb::object create_projection_type_group(nb::handle self) {
    return combo_group(self, "Projection Type", "_proj_type_combo"_id,
                       {{capitalised(projection_perspective), projection_perspective},
                        {capitalised(projection_orthographic), projection_orthographic}},
                       1, "_on_projection_type_combo_changed"_id);
}

nb::object create_display_mode_group(nb::handle self) {
    return combo_group(self, "Display Mode", "_display_mode_combo"_id,
                       {{capitalised(mode_wireframe), mode_wireframe},
                        {capitalised(mode_shaded), mode_shaded},
                        {nb::str("Shaded + Wireframe"), mode_both}},
                       1, "_on_display_mode_combo_changed"_id);
}

nb::object create_transparency_group(nb::handle self) {
    Group group("Transparency", QVBoxLayout);
    nb::object label = call(QLabel, nb::str("0%"));
    set(self, "_transparency_label"_id, label);
    call_method(label, "setAlignment"_id, align_center);
    group.add(label);

    nb::object slider = call(QSlider, horizontal);
    set(self, "_transparency_slider"_id, slider);
    call_method(slider, "setMinimum"_id, nb::int_(0));
    call_method(slider, "setMaximum"_id, nb::int_(100));
    call_method(slider, "setValue"_id, nb::int_(0));
    call_method(slider, "setTickPosition"_id, ticks_below);
    call_method(slider, "setTickInterval"_id, nb::int_(10));
    connect(slider, "valueChanged"_id,
            relay_forwarding(self, "_on_transparency_changed"_id));
    group.add(slider);
    return group.box;
}

nb::object create_standard_views_group(nb::handle self) {
    Group group("Standard Views", is_vertical(self) ? QVBoxLayout : QHBoxLayout);
    struct View {
        nb::handle direction;
        bool upper; // the iso caption is upper-cased, the others capitalised
        const char *tooltip;
    };
    const View views[] = {
        {view_iso, true, "Isometric view"},
        {view_top, false, "Top view (Z+)"},
        {view_front, false, "Front view (Y-)"},
        {view_right, false, "Right view (X+)"},
    };
    for (const View &view : views) {
        nb::object caption = view.upper ? upper_cased(view.direction) : capitalised(view.direction);
        nb::object button = call(QPushButton, caption);
        call_method(button, "setToolTip"_id, nb::str(view.tooltip));
        // The button hands over the member itself; the slot emits its value.
        connect(button, "clicked"_id,
                relay_calling_with(self, "_on_projection_changed"_id, view.direction));
        group.add(button);
    }
    return group.box;
}

nb::object create_actions_group(nb::handle self) {
    // Stacked in both orientations.
    Group group("Actions", QVBoxLayout);
    nb::object fit = call(QPushButton, nb::str("Fit All"));
    call_method(fit, "setToolTip"_id, nb::str("Fit all objects in view"));
    connect(fit, "clicked"_id, relay_calling(self, "_on_fit_all_requested"_id));
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
