// Face-boundary edges: how the shaded-with-boundaries mode reaches one shape.
#include "bound_names.hpp"
#include "colors.hpp"
#include "scenard.hpp"

namespace morvik {

void configure_shape_edges(nb::handle ais_shape, bool enable) {
    nb::object drawer = call_method(ais_shape, method.Attributes);
    call_method(drawer, method.SetFaceBoundaryDraw, py_bool(enable));
    if (enable) {
        nb::object black = call(bound.Quantity_Color, bound.zero_f, bound.zero_f, bound.zero_f,
                                bound.Quantity_TOC_RGB);
        nb::object edge_aspect = call(bound.Prs3d_LineAspect, black, bound.Aspect_TOL_SOLID, bound.one_f);
        call_method(drawer, method.SetFaceBoundaryAspect, edge_aspect);
    }
    call_method(ais_shape, method.SetAttributes, drawer);
}

void bind_edges(ScenardClass &cls) {
    using namespace nb::literals;
    cls.def(
        "_configure_shape_edges",
        [](Scenard &, nb::object ais_shape, nb::object enable) {
            // Read once, before OCCT is called.
            configure_shape_edges(ais_shape, truthy(enable));
        },
        "ais_shape"_a.none(), "enable"_a.none(),
        nb::sig("def _configure_shape_edges(self, ais_shape: OCP.AIS.AIS_Shape, enable: bool) "
                "-> None"),
        "Configure edge display for a shape.\n\n"
        "Args:\n"
        "    ais_shape: AIS_Shape to configure\n"
        "    enable: True to draw face boundaries, False to stop");
}

} // namespace morvik
