// The slots: each turns a control change into one of the toolbar's signals,
// carrying a plain value (a value string, a float, or nothing).
#include "bound_names.hpp"
#include "panelor.hpp"

namespace morvik::panelor {

namespace {

template <typename... Args> void emit(nb::handle self, nb::handle signal, Args... args) {
    call_method(get(self, signal), method.emit, args...);
}

// The member itself arrives; its value string leaves.
void on_projection_changed(nb::handle self, nb::handle projection) {
    emit(self, attribute.projection_changed, get(projection, attribute.value));
}

// The data of the item at the delivered index, passed on as it is.
void on_projection_type_combo_changed(nb::handle self, nb::handle index) {
    nb::object combo = get(self, attribute._proj_type_combo);
    emit(self, attribute.projection_type_changed, call_method(combo, method.itemData, index));
}

void on_display_mode_combo_changed(nb::handle self, nb::handle index) {
    nb::object combo = get(self, attribute._display_mode_combo);
    emit(self, attribute.display_mode_changed, call_method(combo, method.itemData, index));
}

// Slider percent to a 0.0..1.0 fraction; the label shows the percent.
void on_transparency_changed(nb::handle self, nb::handle value) {
    nb::object transparency = nb::steal(PyNumber_TrueDivide(value.ptr(), bound.hundred_f.ptr()));
    if (!transparency.is_valid())
        throw nb::python_error();
    nb::object text = nb::steal(PyUnicode_FromFormat("%S%%", value.ptr()));
    if (!text.is_valid())
        throw nb::python_error();
    call_method(get(self, attribute._transparency_label), method.setText, text);
    emit(self, attribute.transparency_changed, transparency);
}

void on_fit_all_requested(nb::handle self) { emit(self, attribute.fit_all_requested); }

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
