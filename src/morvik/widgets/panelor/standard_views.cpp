// The standard views: one button per view direction, each asking for its
// direction's value string.
#include "panelor.hpp"

namespace morvik::panelor {

namespace {

HostName iso{enums, "ViewDirection.ISO"}, top{enums, "ViewDirection.TOP"},
    front{enums, "ViewDirection.FRONT"}, right{enums, "ViewDirection.RIGHT"};

nb::object create_group(nb::handle self) {
    nb::object group =
        titled_group("Standard Views", is_vertical(self) ? QVBoxLayout : QHBoxLayout);
    const std::pair<nb::handle, const char *> views[] = {
        {iso, "Isometric view"}, {top, "Top view (Z+)"},
        {front, "Front view (Y-)"}, {right, "Right view (X+)"}};
    for (const auto &[direction, tooltip] : views) {
        // The iso caption is upper-cased, the others capitalised.
        nb::object caption =
            direction.is(iso) ? iso.attr("value").attr("upper")() : capitalised(direction);
        nb::object button = QPushButton(caption);
        button.attr("setToolTip")(tooltip);
        // The button hands over the member itself; the slot emits its value.
        connect(button, "clicked", self, "_on_projection_changed", nb::make_tuple(direction));
        add_to(group, button);
    }
    return group;
}

void define(nb::dict &ns) {
    using namespace nb::literals;
    def_method(ns, "_on_projection_changed", [](nb::handle self, nb::handle projection) {
        self.attr("projection_changed").attr("emit")(projection.attr("value"));
    }, "projection"_a.none());
}

} // namespace

extern const Control standard_views{
    "projection_changed", &PyUnicode_Type,
    "Emitted when view projection changes (top, front, iso, etc.)",
    Section::views, "_create_standard_views_group", &create_group, &define};

} // namespace morvik::panelor
