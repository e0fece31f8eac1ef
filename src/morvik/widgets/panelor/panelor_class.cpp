// The Panelor class object: documentation, signals, constructor and the main
// layout.
#include "names.hpp"
#include "panelor.hpp"

#include <string>

namespace morvik::panelor {

bool is_vertical(nb::handle self) {
    return self.attr("_orientation"_id).equal("vertical"_id);
}

bool shows_projection_type(nb::handle self) {
    return truth(self.attr("_show_projection_type"_id));
}

namespace {

// The toolbar's signals, in the order the metaclass registers them with Qt.
// The class documentation lists them; the typing stub matches their names.
struct SignalDecl {
    const char *name;
    PyTypeObject *carries; // null for a signal without arguments
    const char *meaning;
};

const SignalDecl toolbar_signals[] = {
    {"projection_changed", &PyUnicode_Type,
     "Emitted when view projection changes (top, front, iso, etc.)"},
    {"projection_type_changed", &PyUnicode_Type,
     "Emitted when projection type changes (perspective/orthographic)"},
    {"display_mode_changed", &PyUnicode_Type, "Emitted when display mode changes (shaded/wireframe)"},
    {"transparency_changed", &PyFloat_Type, "Emitted when global transparency changes (0.0-1.0)"},
    {"fit_all_requested", nullptr, "Emitted when fit all button is clicked"},
};

// Puts each signal in the class namespace; returns the class documentation.
nb::str declare_signals(nb::dict &ns) {
    std::string doc = "Toolbar component for controlling 3D view settings.\n\nSignals:\n";
    for (const SignalDecl &signal : toolbar_signals) {
        nb::handle type = (PyObject *) signal.carries;
        ns[signal.name] = type ? Signal(type) : Signal();
        std::string carried = type ? nb::str(type.attr("__name__")).c_str() : "";
        doc += std::string("    ") + signal.name + "(" + carried + "): " + signal.meaning + "\n";
    }
    return nb::str(doc.c_str(), doc.size());
}

// A sunken line across the toolbar's direction of flow.
nb::object make_separator(nb::handle self) {
    nb::object separator = QFrame();
    separator.attr("setFrameShape"_id)(is_vertical(self) ? hline : vline);
    separator.attr("setFrameShadow"_id)(sunken);
    return separator;
}

void init(nb::handle self, nb::handle parent, nb::handle orientation,
          nb::handle show_projection_type) {
    QWidget_init(self, parent);
    nb::setattr(self, "_orientation"_id, orientation);
    nb::setattr(self, "_show_projection_type"_id, show_projection_type);
    self.attr("_setup_ui"_id)();
}

void setup_ui(nb::handle self) {
    // Constructed on the toolbar, the main layout becomes its layout.
    nb::object main_layout = nb::handle(is_vertical(self) ? QVBoxLayout : QHBoxLayout)(self);
    nb::int_ margin(5);
    main_layout.attr("setContentsMargins"_id)(margin, margin, margin, margin);

    auto add = [&](nb::handle widget) { main_layout.attr("addWidget"_id)(widget); };
    if (shows_projection_type(self))
        add(self.attr("_create_projection_type_group"_id)());
    add(self.attr("_create_display_mode_group"_id)());
    add(self.attr("_create_transparency_group"_id)());
    add(make_separator(self));
    add(self.attr("_create_standard_views_group"_id)());
    add(make_separator(self));
    add(self.attr("_create_actions_group"_id)());
    // The groups pack toward the start; free space collects at the end.
    main_layout.attr("addStretch"_id)();
}

} // namespace

void bind_panelor(nb::module_ &m) {
    using namespace nb::literals;
    nb::dict ns;
    ns["__module__"] = "morvik.widgets.panelor";
    ns["__qualname__"] = "Panelor";
    ns["__doc__"] = declare_signals(ns);

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

    nb::handle metaclass = (PyObject *) Py_TYPE(QWidget.ptr());
    nb::object cls = metaclass(nb::str("Panelor"), nb::make_tuple(QWidget), ns);
    m.attr("Panelor") = cls;
}

} // namespace morvik::panelor
