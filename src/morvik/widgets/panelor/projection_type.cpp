// The projection-type selector: perspective or orthographic. A toolbar built
// without it reports orthographic and ignores requests to change.
#include "panelor.hpp"

namespace morvik::panelor {

namespace {

HostName perspective{enums, "ProjectionType.PERSPECTIVE"},
    orthographic{enums, "ProjectionType.ORTHOGRAPHIC"};

constexpr Selector selector{"Projection Type", "_proj_type_combo",
                            "_on_projection_type_combo_changed", "projection_type_changed"};

// The flag as given, read as Python's bool() reads it (1, numpy's True_ and
// "true" all count).
bool shown(nb::handle self) { return truth(self.attr("_show_projection_type")); }

nb::object create_group(nb::handle self) {
    return selector.build(
        self, {{capitalised(perspective), perspective}, {capitalised(orthographic), orthographic}},
        1);
}

void define(nb::dict &ns) {
    using namespace nb::literals;
    selector.define_slot(ns);
    def_method(ns, "set_projection_type", [](nb::handle self, nb::handle proj_type) {
        if (shown(self))
            selector.select(self, proj_type);
    }, "proj_type"_a.none(),
       nb::sig("def set_projection_type(self, proj_type: morvik.enums.ProjectionType) -> None"),
       "Select the projection type (a ProjectionType member).");
    def_method(ns, "get_projection_type", [](nb::handle self) {
        return shown(self) ? selector.current(self) : nb::object(orthographic.attr("value"));
    }, nb::sig("def get_projection_type(self) -> str"),
       "The selected projection type, as its value string.");
}

} // namespace

extern const Control projection_type{
    selector.signal, &PyUnicode_Type,
    "Emitted when projection type changes (perspective/orthographic)",
    Section::settings, "_create_projection_type_group", &create_group, &define, &shown};

} // namespace morvik::panelor
