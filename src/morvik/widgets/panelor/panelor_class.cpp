// The Panelor class object (its controls, documentation, signals, constructor
// and the main layout), and the module set-up.
#include "panelor.hpp"

#include <string>

namespace morvik::panelor {

// Each defined in its own file. Qt registers their signals in this order, and
// within a section their groups follow it too.
extern const Control standard_views, projection_type, display_mode, transparency, actions;
const Control *const controls[] = {&standard_views, &projection_type, &display_mode, &transparency,
                                   &actions};

bool is_vertical(nb::handle self) { return self.attr("_orientation").equal(nb::str("vertical")); }

nb::object titled_group(const char *title, nb::handle layout_type) {
    nb::object group = QGroupBox(title);
    // Constructed on the group, the layout becomes its layout.
    layout_type(group).attr("setSpacing")(5);
    return group;
}

void add_to(nb::handle group, nb::handle control) {
    group.attr("layout")().attr("addWidget")(control);
}

namespace {

// Puts each control's signal in the class namespace; returns the class
// documentation, which lists them.
nb::str declare_signals(nb::dict &ns) {
    std::string doc = "Toolbar component for controlling 3D view settings.\n\nSignals:\n";
    for (const Control *control : controls) {
        nb::handle type = (PyObject *) control->carries;
        ns[control->signal] = type ? Signal(type) : Signal();
        std::string carried = type ? nb::str(type.attr("__name__")).c_str() : "";
        doc += std::string("    ") + control->signal + "(" + carried + "): " + control->meaning + "\n";
    }
    return nb::str(doc.c_str(), doc.size());
}

// A sunken line across the toolbar's direction of flow.
nb::object make_separator(nb::handle self) {
    nb::object separator = QFrame();
    separator.attr("setFrameShape")(is_vertical(self) ? hline : vline);
    separator.attr("setFrameShadow")(sunken);
    return separator;
}

void init(nb::handle self, nb::handle parent, nb::handle orientation,
          nb::handle show_projection_type) {
    QWidget_init(self, parent);
    nb::setattr(self, "_orientation", orientation);
    nb::setattr(self, "_show_projection_type", show_projection_type);
    self.attr("_setup_ui")();
}

void setup_ui(nb::handle self) {
    // Constructed on the toolbar, the main layout becomes its layout.
    nb::object main_layout = nb::handle(is_vertical(self) ? QVBoxLayout : QHBoxLayout)(self);
    main_layout.attr("setContentsMargins")(5, 5, 5, 5);
    for (Section section : {Section::settings, Section::views, Section::actions}) {
        if (section != Section::settings)
            main_layout.attr("addWidget")(make_separator(self));
        for (const Control *control : controls)
            if (control->section == section && (!control->shown || control->shown(self)))
                main_layout.attr("addWidget")(self.attr(control->builder)());
    }
    // The groups pack toward the start; free space collects at the end.
    main_layout.attr("addStretch")();
}

} // namespace

// Creates the class; `m` receives it as `Panelor`.
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
    for (const Control *control : controls) {
        def_method(ns, control->builder, control->build);
        control->define(ns);
    }

    nb::handle metaclass = (PyObject *) Py_TYPE(QWidget.ptr());
    nb::object cls = metaclass(nb::str("Panelor"), nb::make_tuple(QWidget), ns);
    m.attr("Panelor") = cls;
}

} // namespace morvik::panelor

NB_MODULE(panelor, m) {
    m.doc() = "Viewer toolbar: the Panelor widget and its view-control signals.";

    morvik::bind_host_names();
    morvik::panelor::bind_slot_relay();
    morvik::panelor::bind_panelor(m);
}
