// The slots: each turns a control change into one of the toolbar's signals,
// carrying a plain value (a value string, a float, or nothing).
#include "names.hpp"
#include "panelor.hpp"

namespace morvik::panelor {

namespace {

template <typename... Args> void emit(nb::handle self, nb::handle signal, Args... args) {
    self.attr(signal).attr("emit"_id)(args...);
}

// The member itself arrives; its value string leaves.
void on_projection_changed(nb::handle self, nb::handle projection) {
    emit(self, "projection_changed"_id, nb::object(projection.attr("value"_id)));
}

// The data of the item at the delivered index, passed on as it is.
void on_projection_type_combo_changed(nb::handle self, nb::handle index) {
    nb::object combo = self.attr("_proj_type_combo"_id);
    emit(self, "projection_type_changed"_id, combo.attr("itemData"_id)(index));
}

void on_display_mode_combo_changed(nb::handle self, nb::handle index) {
    nb::object combo = self.attr("_display_mode_combo"_id);
    emit(self, "display_mode_changed"_id, combo.attr("itemData"_id)(index));
}

// Slider percent to a 0.0..1.0 fraction; the label shows the percent.
void on_transparency_changed(nb::handle self, nb::handle value) {
    nb::object transparency = nb::steal(PyNumber_TrueDivide(value.ptr(), hundred.ptr()));
    if (!transparency.is_valid())
        throw nb::python_error();
    nb::object text = nb::steal(PyUnicode_FromFormat("%S%%", value.ptr()));
    if (!text.is_valid())
        throw nb::python_error();
    self.attr("_transparency_label"_id).attr("setText"_id)(text);
    emit(self, "transparency_changed"_id, transparency);
}

void on_fit_all_requested(nb::handle self) { emit(self, "fit_all_requested"_id); }

} // namespace

void add_slots(nb::dict &ns) {
    using namespace nb::literals;
    def_method(ns, "_on_projection_changed", &on_projection_changed, "projection"_a.none());
    def_method(ns, "_on_projection_type_combo_changed", &on_projection_type_combo_changed,
               "index"_a.none());
    def_method(ns, "_on_display_mode_combo_changed", &on_display_mode_combo_changed,
               "index"_a.none());
    def_method(ns, "_on_transparency_changed", &on_transparency_changed, "value"_a.none());
    def_method(ns, "_on_fit_all_requested", &on_fit_all_requested);
}

} // namespace morvik::panelor
