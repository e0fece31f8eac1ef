// The toolbar's state as the host reads and sets it. The controls hold the
// state; setters act through them with their signals live, so a change emits
// exactly as the user's own action would.
#include "names.hpp"
#include "panelor.hpp"

#include <climits>
#include <cmath>

namespace morvik::panelor {

namespace {

// Selects the first item whose data is the member's value string; no match
// leaves the selection as it is.
void select_item(nb::handle combo, nb::handle member) {
    nb::object wanted = member.attr("value"_id);
    Py_ssize_t count = PyLong_AsSsize_t(combo.attr("count"_id)().ptr());
    if (count == -1 && PyErr_Occurred())
        throw nb::python_error();
    for (Py_ssize_t i = 0; i < count; ++i) {
        nb::int_ index(i);
        if (combo.attr("itemData"_id)(index).equal(wanted)) {
            combo.attr("setCurrentIndex"_id)(index);
            return;
        }
    }
}

// The nearest whole percent, half away from zero, so a transparency read back
// from the toolbar sets the slider where it already is. Values beyond an int
// (infinities included) are held at its ends for the slider to bound; NaN has
// no nearest percent and is refused.
nb::int_ whole_percent(nb::handle transparency) {
    double fraction = PyFloat_AsDouble(transparency.ptr());
    if (fraction == -1.0 && PyErr_Occurred())
        throw nb::python_error();
    if (std::isnan(fraction))
        raise(PyExc_ValueError, "transparency must be a number, not NaN");
    double percent = std::round(fraction * 100.0);
    if (percent <= (double) INT_MIN)
        return nb::int_(INT_MIN);
    if (percent >= (double) INT_MAX)
        return nb::int_(INT_MAX);
    return nb::int_((int) percent);
}

void set_projection_type(nb::handle self, nb::handle proj_type) {
    // Without its group the toolbar has no projection selector.
    if (!shows_projection_type(self))
        return;
    select_item(nb::object(self.attr("_proj_type_combo"_id)), proj_type);
}

void set_display_mode(nb::handle self, nb::handle mode) {
    select_item(nb::object(self.attr("_display_mode_combo"_id)), mode);
}

nb::object get_projection_type(nb::handle self) {
    if (!shows_projection_type(self))
        return nb::object(projection_orthographic.attr("value"_id));
    return self.attr("_proj_type_combo"_id).attr("currentData"_id)();
}

nb::object get_display_mode(nb::handle self) {
    return self.attr("_display_mode_combo"_id).attr("currentData"_id)();
}

void set_transparency(nb::handle self, nb::handle transparency) {
    // The slider bounds the percent to its range 0..100.
    self.attr("_transparency_slider"_id).attr("setValue"_id)(whole_percent(transparency));
}

nb::object get_transparency(nb::handle self) {
    nb::object value = self.attr("_transparency_slider"_id).attr("value"_id)();
    nb::object result = nb::steal(PyNumber_TrueDivide(value.ptr(), hundred.ptr()));
    if (!result.is_valid())
        throw nb::python_error();
    return result;
}

} // namespace

void add_state(nb::dict &ns) {
    using namespace nb::literals;
    def_method(ns, "set_projection_type", &set_projection_type, "proj_type"_a.none(),
               nb::sig("def set_projection_type(self, proj_type: morvik.enums.ProjectionType) -> None"),
               "Select the projection type (a ProjectionType member).");
    def_method(ns, "set_display_mode", &set_display_mode, "mode"_a.none(),
               nb::sig("def set_display_mode(self, mode: morvik.enums.DisplayMode) -> None"),
               "Select the display mode (a DisplayMode member).");
    def_method(ns, "get_projection_type", &get_projection_type,
               nb::sig("def get_projection_type(self) -> str"),
               "The selected projection type, as its value string.");
    def_method(ns, "get_display_mode", &get_display_mode, nb::sig("def get_display_mode(self) -> str"),
               "The selected display mode, as its value string.");
    def_method(ns, "set_transparency", &set_transparency, "transparency"_a.none(),
               nb::sig("def set_transparency(self, transparency: float) -> None"),
               "Set the transparency (0.0 to 1.0), as the nearest whole percent.");
    def_method(ns, "get_transparency", &get_transparency, nb::sig("def get_transparency(self) -> float"),
               "The transparency, 0.0 to 1.0 in steps of 0.01.");
}

} // namespace morvik::panelor
