// The display-mode selector: wireframe, shaded, or both.
#include "panelor.hpp"

namespace morvik::panelor {

namespace {

HostName wireframe{enums, "DisplayMode.WIREFRAME"}, shaded{enums, "DisplayMode.SHADED"},
    both{enums, "DisplayMode.BOTH"};

constexpr Selector selector{"Display Mode", "_display_mode_combo",
                            "_on_display_mode_combo_changed", "display_mode_changed"};

nb::object create_group(nb::handle self) {
    return selector.build(self,
                          {{capitalised(wireframe), wireframe},
                           {capitalised(shaded), shaded},
                           {nb::str("Shaded + Wireframe"), both}},
                          1);
}

void define(nb::dict &ns) {
    using namespace nb::literals;
    selector.define_slot(ns);
    def_method(ns, "set_display_mode",
               [](nb::handle self, nb::handle mode) { selector.select(self, mode); },
               "mode"_a.none(),
               nb::sig("def set_display_mode(self, mode: morvik.enums.DisplayMode) -> None"),
               "Select the display mode (a DisplayMode member).");
    def_method(ns, "get_display_mode", [](nb::handle self) { return selector.current(self); },
               nb::sig("def get_display_mode(self) -> str"),
               "The selected display mode, as its value string.");
}

} // namespace

extern const Control display_mode{
    selector.signal, &PyUnicode_Type, "Emitted when display mode changes (shaded/wireframe)",
    Section::settings, "_create_display_mode_group", &create_group, &define};

} // namespace morvik::panelor
