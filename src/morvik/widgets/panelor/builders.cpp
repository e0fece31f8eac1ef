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
        : box(QGroupBox(nb::str(title))), layout(layout_type(box)) {
        layout.attr("setSpacing"_id)(nb::int_(5));
    }

    void add(nb::handle control) { layout.attr("addWidget"_id)(control); }
};

nb::object value_of(nb::handle member) { return nb::object(member.attr("value"_id)); }

nb::object capitalised(nb::handle member) {
    return value_of(member).attr("capitalize"_id)();
}

nb::object upper_cased(nb::handle member) { return value_of(member).attr("upper"_id)(); }

struct ComboItem {
    nb::object text;
    nb::handle member; // its value string is the item's data
};

// A group holding one combo box: items in order, the given one selected,
// then connected to the toolbar's slot.
nb::object combo_group(nb::handle self, const char *title, nb::handle field,
                       std::initializer_list<ComboItem> items, int selected, nb::handle slot) {
    Group group(title, QVBoxLayout);
    nb::object combo = QComboBox();
    nb::setattr(self, field, combo);
    for (const ComboItem &item : items)
        combo.attr("addItem"_id)(item.text, value_of(item.member));
    combo.attr("setCurrentIndex"_id)(nb::int_(selected));
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
    nb::object label = QLabel(nb::str("0%"));
    nb::setattr(self, "_transparency_label"_id, label);
    label.attr("setAlignment"_id)(align_center);
    group.add(label);

    nb::object slider = QSlider(horizontal);
    nb::setattr(self, "_transparency_slider"_id, slider);
    slider.attr("setMinimum"_id)(nb::int_(0));
    slider.attr("setMaximum"_id)(nb::int_(100));
    slider.attr("setValue"_id)(nb::int_(0));
    slider.attr("setTickPosition"_id)(ticks_below);
    slider.attr("setTickInterval"_id)(nb::int_(10));
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
        nb::object button = QPushButton(caption);
        button.attr("setToolTip"_id)(nb::str(view.tooltip));
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
    nb::object fit = QPushButton(nb::str("Fit All"));
    fit.attr("setToolTip"_id)(nb::str("Fit all objects in view"));
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
