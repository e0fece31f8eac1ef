// The Panelor class object: documentation, signals, constructor and the main
// layout.
#include "bound_names.hpp"
#include "panelor.hpp"

namespace morvik::panelor {

bool is_vertical(nb::handle self) {
    return equals(get(self, attribute._orientation), bound.vertical);
}

namespace {

const char *const class_doc =
    "Toolbar component for controlling 3D view settings.\n"
    "\n"
    "Signals:\n"
    "    projection_changed(str): Emitted when view projection changes (top, front, iso, etc.)\n"
    "    projection_type_changed(str): Emitted when projection type changes "
    "(perspective/orthographic)\n"
    "    display_mode_changed(str): Emitted when display mode changes (shaded/wireframe)\n"
    "    transparency_changed(float): Emitted when global transparency changes (0.0-1.0)\n"
    "    fit_all_requested(): Emitted when fit all button is clicked\n";

// A sunken line across the toolbar's direction of flow.
nb::object make_separator(nb::handle self) {
    nb::object separator = call(bound.QFrame);
    call_method(separator, method.setFrameShape, is_vertical(self) ? bound.hline : bound.vline);
    call_method(separator, method.setFrameShadow, bound.sunken);
    return separator;
}

void init(nb::handle self, nb::handle parent, nb::handle orientation,
          nb::handle show_projection_type) {
    call(bound.QWidget_init, self, parent);
    set(self, attribute._orientation, orientation);
    set(self, attribute._show_projection_type, show_projection_type);
    call_method(self, method._setup_ui);
}

void setup_ui(nb::handle self) {
    // Constructed on the toolbar, the main layout becomes its layout.
    nb::object main_layout = call(is_vertical(self) ? bound.QVBoxLayout : bound.QHBoxLayout, self);
    nb::int_ margin(5);
    call_method(main_layout, method.setContentsMargins, margin, margin, margin, margin);

    auto add = [&](nb::handle widget) { call_method(main_layout, method.addWidget, widget); };
    if (truthy(get(self, attribute._show_projection_type)))
        add(call_method(self, method._create_projection_type_group));
    add(call_method(self, method._create_display_mode_group));
    add(call_method(self, method._create_transparency_group));
    add(make_separator(self));
    add(call_method(self, method._create_standard_views_group));
    add(make_separator(self));
    add(call_method(self, method._create_actions_group));
    // The groups pack toward the start; free space collects at the end.
    call_method(main_layout, method.addStretch);
}

} // namespace

void bind_panelor(nb::module_ &m) {
    using namespace nb::literals;
    nb::handle str_type = (PyObject *) &PyUnicode_Type;
    nb::handle float_type = (PyObject *) &PyFloat_Type;

    nb::dict ns;
    ns["__module__"] = "morvik.widgets.panelor";
    ns["__qualname__"] = "Panelor";
    ns["__doc__"] = class_doc;
    // In this order: the metaclass registers them with Qt as it finds them.
    ns["projection_changed"] = call(bound.Signal, str_type);
    ns["projection_type_changed"] = call(bound.Signal, str_type);
    ns["display_mode_changed"] = call(bound.Signal, str_type);
    ns["transparency_changed"] = call(bound.Signal, float_type);
    ns["fit_all_requested"] = call(bound.Signal);

    def_method(ns, "__init__", &init, "parent"_a.none() = nb::none(),
               "orientation"_a.none() = "horizontal", "show_projection_type"_a.none() = true,
               nb::sig("def __init__(self, parent: PySide6.QtWidgets.QWidget | None = None, "
                       "orientation: str = 'horizontal', show_projection_type: bool = True) -> None"),
               "Build the toolbar: parent widget (None for a top-level one), \"horizontal\" or "
               "\"vertical\" layout, and whether to show the projection type selector.");
    def_method(ns, "_setup_ui", &setup_ui);
    add_builders(ns);
    add_slots(ns);
    add_state(ns);

    nb::handle metaclass = (PyObject *) Py_TYPE(bound.QWidget.ptr());
    nb::object cls = call(metaclass, nb::str("Panelor"), nb::make_tuple(bound.QWidget), ns);
    m.attr("Panelor") = cls;
}

} // namespace morvik::panelor
