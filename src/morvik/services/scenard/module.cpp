// Module set-up: bound names, the logger, ShapeInfo, and the Scenard class object
// (constructor, the ten fields and the accessors) with its operations.
#include "operations.hpp"

namespace morvik {

using ScenardSlots =
    GcFields<Scenard, &Scenard::view, &Scenard::viewer, &Scenard::context, &Scenard::shapes,
             &Scenard::ais_to_id, &Scenard::global_transparency, &Scenard::current_display_mode,
             &Scenard::background_color, &Scenard::background_gradient>;

namespace {

ScenardClass bind_core_class(nb::module_ &m) {
    using namespace nb::literals;
    ScenardClass cls(m, "Scenard", nb::type_slots(ScenardSlots::slots),
                     "Service for managing view operations and geometry display in OCP viewer.");
    def(cls, "__init__", +[](Scenard *self, View view, Viewer viewer, Context context) {
        new (self) Scenard{nb::borrow(view), nb::borrow(viewer), nb::borrow(context), false,
                           nb::dict(), nb::dict(), nb::borrow(zero_f), nb::borrow(mode_shaded),
                           nb::make_tuple(1.0, 1.0, 1.0), nb::none()};
    }, "view"_a, "viewer"_a, "context"_a);
    auto any_value = nb::for_setter(nb::arg("value").none());
    cls.def_ro("_view", &Scenard::view)
        .def_ro("_viewer", &Scenard::viewer)
        .def_ro("_context", &Scenard::context)
        .def_rw("_is_rendering", &Scenard::is_rendering)
        .def_ro("_shapes", &Scenard::shapes)
        .def_ro("_ais_to_id", &Scenard::ais_to_id)
        .def_rw("_global_transparency", &Scenard::global_transparency, any_value)
        .def_rw("_current_display_mode", &Scenard::current_display_mode, any_value)
        .def_rw("_background_color", &Scenard::background_color, any_value)
        .def_rw("_background_gradient", &Scenard::background_gradient, any_value);
    return cls;
}

void bind_core(ScenardClass &cls) {
    def(cls, "get_view", +[](Scenard &s) -> Out<text::view> { return s.view; },
        "Get the V3d view.");
    def(cls, "get_viewer", +[](Scenard &s) -> Out<text::viewer> { return s.viewer; },
        "Get the V3d viewer.");
    def(cls, "get_context", +[](Scenard &s) -> Out<text::context> { return s.context; },
        "Get the AIS interactive context.");
}

} // namespace

} // namespace morvik

NB_MODULE(scenard, m) {
    m.doc() = "View service for the OCP viewer.\n\n"
              "Handles all view-related operations and geometry display for OCP viewer";

    morvik::bind_host_names();
    morvik::bind_logger(m);
    morvik::bind_shape_info(m);

    // The operations are added in this order, which is also the stub's.
    morvik::ScenardClass cls = morvik::bind_core_class(m);
    morvik::bind_view_setup(cls);
    morvik::bind_camera(cls);
    morvik::bind_core(cls);
    morvik::bind_edges(cls);
    morvik::bind_registry(cls);
    morvik::bind_appearance(cls);
    morvik::bind_selection(cls);
    morvik::bind_view_state(cls);
    m.attr("_operations") = morvik::operation_templates;
}
