// Binds the OCP names, host enumerations and method names once, at load.
#include "bound_names.hpp"

namespace morvik {

BoundNames bound;
MethodNames method;

namespace {

// owner.name, kept; a missing name fails the import and says whose it is.
nb::handle attr(nb::handle owner, const char *name) {
    nb::str owner_name = nb::borrow<nb::str>(owner.attr("__name__"));
    return member(owner, owner_name.c_str(), name);
}

// The camera's projection enumerators sit on the class in older bindings and
// only on its nested Projection_e in newer ones.
nb::handle projection_enumerator(const char *name) {
    nb::handle camera = bound.Graphic3d_Camera;
    if (nb::hasattr(camera, name))
        return attr(camera, name);
    if (nb::hasattr(camera, "Projection_e") && nb::hasattr(camera.attr("Projection_e"), name))
        return attr(camera.attr("Projection_e"), name);
    raise(PyExc_ImportError, "Graphic3d_Camera offers no enumerator '%s'", name);
}

} // namespace

void bind_names(nb::module_ &m) {
    bound.V3d_View = import_name("OCP.V3d", "V3d_View");
    bound.V3d_Viewer = import_name("OCP.V3d", "V3d_Viewer");
    bound.V3d_TypeOfVisualization = import_name("OCP.V3d", "V3d_TypeOfVisualization");
    bound.Aspect_GradientFillMethod = import_name("OCP.Aspect", "Aspect_GradientFillMethod");
    bound.Aspect_TypeOfTriedronPosition = import_name("OCP.Aspect", "Aspect_TypeOfTriedronPosition");
    bound.Aspect_TOL_SOLID = import_name("OCP.Aspect", "Aspect_TOL_SOLID");
    bound.Quantity_Color = import_name("OCP.Quantity", "Quantity_Color");
    bound.Quantity_NOC_WHITE = import_name("OCP.Quantity", "Quantity_NOC_WHITE");
    bound.Quantity_TOC_RGB = import_name("OCP.Quantity", "Quantity_TOC_RGB");
    bound.Graphic3d_Camera = import_name("OCP.Graphic3d", "Graphic3d_Camera");
    bound.AIS_InteractiveContext = import_name("OCP.AIS", "AIS_InteractiveContext");
    bound.AIS_Shape = import_name("OCP.AIS", "AIS_Shape");
    bound.Prs3d_LineAspect = import_name("OCP.Prs3d", "Prs3d_LineAspect");

    bound.gradient_vertical =
        attr(bound.Aspect_GradientFillMethod, "Aspect_GradientFillMethod_Vertical");
    bound.gradient_none = attr(bound.Aspect_GradientFillMethod, "Aspect_GradientFillMethod_None");
    bound.triedron_left_lower =
        attr(bound.Aspect_TypeOfTriedronPosition, "Aspect_TOTP_LEFT_LOWER");
    bound.visualization_wireframe = attr(bound.V3d_TypeOfVisualization, "V3d_WIREFRAME");
    bound.projection_orthographic = projection_enumerator("Projection_Orthographic");
    bound.projection_perspective = projection_enumerator("Projection_Perspective");

    bound.ViewDirection = import_name("morvik.enums", "ViewDirection");
    bound.ProjectionType = import_name("morvik.enums", "ProjectionType");
    bound.DisplayMode = import_name("morvik.enums", "DisplayMode");
    bound.view_top = attr(bound.ViewDirection, "TOP");
    bound.view_bottom = attr(bound.ViewDirection, "BOTTOM");
    bound.view_front = attr(bound.ViewDirection, "FRONT");
    bound.view_back = attr(bound.ViewDirection, "BACK");
    bound.view_left = attr(bound.ViewDirection, "LEFT");
    bound.view_right = attr(bound.ViewDirection, "RIGHT");
    bound.view_iso = attr(bound.ViewDirection, "ISO");
    bound.projection_type_orthographic = attr(bound.ProjectionType, "ORTHOGRAPHIC");
    bound.mode_shaded = attr(bound.DisplayMode, "SHADED");
    bound.mode_wireframe = attr(bound.DisplayMode, "WIREFRAME");
    bound.mode_both = attr(bound.DisplayMode, "BOTH");

    bound.zero = keep(nb::int_(0));
    bound.one = keep(nb::int_(1));
    bound.minus_one = keep(nb::int_(-1));
    bound.zero_f = keep(nb::float_(0.0));
    bound.one_f = keep(nb::float_(1.0));
    bound.trihedron_scale = keep(nb::float_(0.08));

    nb::object logging = nb::module_::import_("logging");
    bound.logger = keep(logging.attr("getLogger")("morvik.services.scenard"));
    m.attr("logger") = bound.logger;
    bound.module_dict = keep(nb::borrow(PyModule_GetDict(m.ptr())));

#define MORVIK_METHOD(name) method.name = intern(#name)
    MORVIK_METHOD(Display);
    MORVIK_METHOD(Erase);
    MORVIK_METHOD(Remove);
    MORVIK_METHOD(RemoveAll);
    MORVIK_METHOD(Redisplay);
    MORVIK_METHOD(SetDisplayMode);
    MORVIK_METHOD(UpdateCurrentViewer);
    MORVIK_METHOD(ClearSelected);
    MORVIK_METHOD(AddOrRemoveSelected);
    MORVIK_METHOD(SetColor);
    MORVIK_METHOD(SetTransparency);
    MORVIK_METHOD(Attributes);
    MORVIK_METHOD(SetAttributes);
    MORVIK_METHOD(SetFaceBoundaryDraw);
    MORVIK_METHOD(SetFaceBoundaryAspect);
    MORVIK_METHOD(IsNull);
    MORVIK_METHOD(SetProj);
    MORVIK_METHOD(SetUp);
    MORVIK_METHOD(Camera);
    MORVIK_METHOD(SetProjectionType);
    MORVIK_METHOD(FitAll);
    MORVIK_METHOD(ZFitAll);
    MORVIK_METHOD(Redraw);
    MORVIK_METHOD(MustBeResized);
    MORVIK_METHOD(StartRotation);
    MORVIK_METHOD(Rotation);
    MORVIK_METHOD(Pan);
    MORVIK_METHOD(SetZoom);
    MORVIK_METHOD(SetBackgroundColor);
    MORVIK_METHOD(SetBgGradientColors);
    MORVIK_METHOD(SetBgGradientStyle);
    MORVIK_METHOD(TriedronDisplay);
    MORVIK_METHOD(error);
    MORVIK_METHOD(warning);
    MORVIK_METHOD(debug);
    MORVIK_METHOD(logger);
#undef MORVIK_METHOD
}

} // namespace morvik
