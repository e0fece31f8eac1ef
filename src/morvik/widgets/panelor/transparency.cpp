// The transparency slider: whole percents 0..100 on the slider and its label,
// a fraction 0.0..1.0 to the host.
#include "panelor.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

namespace morvik::panelor {

namespace {

HostName QLabel{widgets, "QLabel"}, QSlider{widgets, "QSlider"},
    ticks_below{widgets, "QSlider.TickPosition.TicksBelow"},
    align_center{core, "Qt.AlignmentFlag.AlignCenter"}, horizontal{core, "Qt.Orientation.Horizontal"};

nb::object fraction_of(nb::handle percent) { return percent / nb::float_(100.0); }

// The nearest whole percent, half away from zero, so a transparency read back
// from the toolbar sets the slider where it already is. Values beyond an int
// (infinities included) are held at its ends for the slider to bound; NaN has
// no nearest percent and is refused.
int whole_percent(nb::handle transparency) {
    double fraction = to_double(transparency);
    if (std::isnan(fraction))
        raise(PyExc_ValueError, "transparency must be a number, not NaN");
    double percent = std::round(fraction * 100.0);
    return (int) std::clamp(percent, (double) INT_MIN, (double) INT_MAX);
}

nb::object create_group(nb::handle self) {
    nb::object group = titled_group("Transparency", QVBoxLayout);
    nb::object label = QLabel("0%");
    nb::setattr(self, "_transparency_label", label);
    label.attr("setAlignment")(align_center);
    add_to(group, label);

    nb::object slider = QSlider(horizontal);
    nb::setattr(self, "_transparency_slider", slider);
    slider.attr("setMinimum")(0);
    slider.attr("setMaximum")(100);
    slider.attr("setValue")(0);
    slider.attr("setTickPosition")(ticks_below);
    slider.attr("setTickInterval")(10);
    // Set before it is connected, so building the toolbar emits nothing.
    connect(slider, "valueChanged", self, "_on_transparency_changed");
    add_to(group, slider);
    return group;
}

void define(nb::dict &ns) {
    using namespace nb::literals;
    def_method(ns, "_on_transparency_changed", [](nb::handle self, nb::handle value) {
        nb::object transparency = fraction_of(value);
        self.attr("_transparency_label").attr("setText")(nb::str(value) + nb::str("%"));
        self.attr("transparency_changed").attr("emit")(transparency);
    }, "value"_a.none());
    // The slider bounds the percent to its range 0..100.
    def_method(ns, "set_transparency", [](nb::handle self, nb::handle transparency) {
        self.attr("_transparency_slider").attr("setValue")(whole_percent(transparency));
    }, "transparency"_a.none(), nb::sig("def set_transparency(self, transparency: float) -> None"),
       "Set the transparency (0.0 to 1.0), as the nearest whole percent.");
    def_method(ns, "get_transparency", [](nb::handle self) {
        return fraction_of(self.attr("_transparency_slider").attr("value")());
    }, nb::sig("def get_transparency(self) -> float"),
       "The transparency, 0.0 to 1.0 in steps of 0.01.");
}

} // namespace

extern const Control transparency{
    "transparency_changed", &PyFloat_Type, "Emitted when global transparency changes (0.0-1.0)",
    Section::settings, "_create_transparency_group", &create_group, &define};

} // namespace morvik::panelor
