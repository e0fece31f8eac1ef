// Face-boundary edges: how the shaded-with-boundaries mode reaches one shape.
#include "names.hpp"
#include "operations.hpp"
#include "scenard.hpp"

namespace morvik {

namespace {

nb::object black() { return Quantity_Color(zero_f, zero_f, zero_f, Quantity_TOC_RGB); }

void configure_edges(Scenard &, Presentation ais_shape, Flag enable) {
    // Read once, before OCCT is called.
    configure_shape_edges(ais_shape, truth(enable));
}

} // namespace

void configure_shape_edges(nb::handle ais_shape, bool enable) {
    nb::object drawer = ais_shape.attr(py::Attributes)();
    drawer.attr(py::SetFaceBoundaryDraw)(enable);
    if (enable)
        drawer.attr(py::SetFaceBoundaryAspect)(Prs3d_LineAspect(black(), Aspect_TOL_SOLID, one_f));
    ais_shape.attr(py::SetAttributes)(drawer);
}

void keep_boundaries_black(nb::handle ais_shape) {
    nb::object drawer = ais_shape.attr(py::Attributes)();
    if (!truth(drawer.attr(py::FaceBoundaryDraw)()))
        return;
    drawer.attr(py::FaceBoundaryAspect)().attr(py::SetColor)(black());
    ais_shape.attr(py::SynchronizeAspects)();
}

void bind_edges(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "_configure_shape_edges", &configure_edges, "ais_shape"_a, "enable"_a,
        "Configure edge display for a shape.\n\nArgs:\n    ais_shape: AIS_Shape to configure\n"
        "    enable: True to draw face boundaries, False to stop");
}

} // namespace morvik
