// The OCP names, host enumerations and method names the service uses, bound
// once when the module loads.
#pragma once

#include "hostcall.hpp"

namespace morvik {

struct BoundNames {
    // OCP.V3d
    nb::handle V3d_View, V3d_Viewer, V3d_TypeOfVisualization;
    // OCP.Aspect
    nb::handle Aspect_GradientFillMethod, Aspect_TypeOfTriedronPosition, Aspect_TOL_SOLID;
    // OCP.Quantity
    nb::handle Quantity_Color, Quantity_NOC_WHITE, Quantity_TOC_RGB;
    // OCP.Graphic3d, OCP.AIS, OCP.Prs3d
    nb::handle Graphic3d_Camera, AIS_InteractiveContext, AIS_Shape, Prs3d_LineAspect;

    // Enumerators reached through the classes above.
    nb::handle gradient_vertical;       // Aspect_GradientFillMethod_Vertical
    nb::handle gradient_none;           // Aspect_GradientFillMethod_None
    nb::handle triedron_left_lower;     // Aspect_TOTP_LEFT_LOWER
    nb::handle visualization_wireframe; // V3d_WIREFRAME
    nb::handle projection_orthographic; // Graphic3d_Camera projection enumerators,
    nb::handle projection_perspective;  // under whichever spelling the binding has

    // morvik.enums
    nb::handle ViewDirection, ProjectionType, DisplayMode;
    nb::handle view_top, view_bottom, view_front, view_back, view_left, view_right, view_iso;
    nb::handle projection_type_orthographic;
    nb::handle mode_shaded, mode_wireframe, mode_both;

    // Numbers handed to OCCT.
    nb::handle zero, one, minus_one, zero_f, one_f;
    nb::handle trihedron_scale; // 0.08 of the view's size

    // The module logger and the module's own namespace (looked up again on
    // each failure, so a logger replaced on the module is honoured).
    nb::handle logger, module_dict;
};

// Interned method names, one per OCCT, Python or logging operation called.
struct MethodNames {
    nb::handle Display, Erase, Remove, RemoveAll, Redisplay, SetDisplayMode, UpdateCurrentViewer;
    nb::handle ClearSelected, AddOrRemoveSelected;
    nb::handle SetColor, SetTransparency, Attributes, SetAttributes;
    nb::handle SetFaceBoundaryDraw, SetFaceBoundaryAspect, IsNull;
    nb::handle SetProj, SetUp, Camera, SetProjectionType, FitAll, ZFitAll, Redraw, MustBeResized;
    nb::handle StartRotation, Rotation, Pan, SetZoom;
    nb::handle SetBackgroundColor, SetBgGradientColors, SetBgGradientStyle, TriedronDisplay;
    nb::handle error, warning, debug, logger;
};

extern BoundNames bound;
extern MethodNames method;

// Binds everything above; raises (and so fails the import) if a name is missing.
void bind_names(nb::module_ &m);

} // namespace morvik
