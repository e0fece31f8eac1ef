// The Scenard class object: constructor, the ten fields and the accessors.
#include "gc_fields.hpp"
#include "names.hpp"
#include "operations.hpp"
#include "scenard.hpp"

namespace morvik {

using ScenardSlots =
    GcFields<Scenard, &Scenard::view, &Scenard::viewer, &Scenard::context, &Scenard::shapes,
             &Scenard::ais_to_id, &Scenard::global_transparency, &Scenard::current_display_mode,
             &Scenard::background_color, &Scenard::background_gradient>;

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

namespace {

Out<text::view> get_view(Scenard &s) { return s.view; }
Out<text::viewer> get_viewer(Scenard &s) { return s.viewer; }
Out<text::context> get_context(Scenard &s) { return s.context; }

} // namespace

void bind_core(ScenardClass &cls) {
    def(cls, "get_view", &get_view, "Get the V3d view.");
    def(cls, "get_viewer", &get_viewer, "Get the V3d viewer.");
    def(cls, "get_context", &get_context, "Get the AIS interactive context.");
}

} // namespace morvik
