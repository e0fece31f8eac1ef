// Face-boundary edges: how the shaded-with-boundaries mode reaches one shape.
#include "names.hpp"
#include "operations.hpp"
#include "scenard.hpp"

namespace morvik {

namespace {

nb::object black() { return Quantity_Color(zero_f, zero_f, zero_f, Quantity_TOC_RGB); }

} // namespace

void configure_shape_edges(nb::handle ais_shape, bool enable) {
    nb::object drawer = ais_shape.attr("Attributes"_id)();
    drawer.attr("SetFaceBoundaryDraw"_id)(enable);
    if (enable)
        drawer.attr("SetFaceBoundaryAspect"_id)(Prs3d_LineAspect(black(), Aspect_TOL_SOLID, one_f));
    ais_shape.attr("SetAttributes"_id)(drawer);
}

void keep_boundaries_black(nb::handle ais_shape) {
    nb::object drawer = ais_shape.attr("Attributes"_id)();
    if (!truth(drawer.attr("FaceBoundaryDraw"_id)()))
        return;
    drawer.attr("FaceBoundaryAspect"_id)().attr("SetColor"_id)(black());
    ais_shape.attr("SynchronizeAspects"_id)();
}

namespace {

void configure_edges(Scenard &, nb::handle ais_shape, nb::handle enable) {
    // Read once, before OCCT is called.
    configure_shape_edges(ais_shape, bool(nb::bool_(enable)));
}

const OperationRow edge_operations[] = {
    query_row<configure_edges>(
        "_configure_shape_edges", {{"ais_shape"}, {"enable"}},
        "def _configure_shape_edges(self, ais_shape: OCP.AIS.AIS_Shape, enable: bool) -> None",
        "Configure edge display for a shape.\n\n"
        "Args:\n"
        "    ais_shape: AIS_Shape to configure\n"
        "    enable: True to draw face boundaries, False to stop"),
};

} // namespace

void bind_edges(ScenardClass &cls) { bind_rows(cls, edge_operations); }

} // namespace morvik
