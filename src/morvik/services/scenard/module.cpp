// Module set-up: bound names, the logger, ShapeInfo and Scenard with its operations.
#include "guard.hpp"
#include "names.hpp"
#include "operations.hpp"
#include "scenard.hpp"
#include "shape_info.hpp"

NB_MODULE(scenard, m) {
    m.doc() = "View service for the OCP viewer.\n\n"
              "Handles all view-related operations and geometry display for OCP viewer";

    morvik::bind_host_names();
    morvik::bind_logger(m);
    morvik::bind_shape_info(m);

    // The operations are added in this order, which is also the stub's.
    morvik::ScenardClass cls = morvik::bind_core_class(m);
    morvik::bind_view_setup(cls);
    morvik::bind_camera(cls);
    morvik::bind_core(cls);
    morvik::bind_edges(cls);
    morvik::bind_registry(cls);
    morvik::bind_appearance(cls);
    morvik::bind_selection(cls);
    morvik::bind_view_state(cls);
    m.attr("_operations") = morvik::operation_templates;
}
