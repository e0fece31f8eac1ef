// The OCP classes and enumerators, host enumerations and constants the service uses, bound at load.
#pragma once

#include "host_names.hpp"

namespace morvik {

inline constexpr const char *v3d = "OCP.V3d", *aspect = "OCP.Aspect", *quantity = "OCP.Quantity",
                            *enums = "morvik.enums";

// The objects a host hands to Scenard: bound so that the module refuses to
// load beside a binding that lacks them (pick checks its view against V3d_View).
inline HostName V3d_View{v3d, "V3d_View"}, V3d_Viewer{v3d, "V3d_Viewer"},
    AIS_InteractiveContext{"OCP.AIS", "AIS_InteractiveContext"};

inline HostName AIS_Shape{"OCP.AIS", "AIS_Shape"}, AIS_ColoredShape{"OCP.AIS", "AIS_ColoredShape"},
    TopoDS_Shape{"OCP.TopoDS", "TopoDS_Shape"}, TopExp{"OCP.TopExp", "TopExp"},
    TopExp_Explorer{"OCP.TopExp", "TopExp_Explorer"},
    Prs3d_LineAspect{"OCP.Prs3d", "Prs3d_LineAspect"}, Quantity_Color{quantity, "Quantity_Color"},
    Quantity_NOC_WHITE{quantity, "Quantity_NOC_WHITE"}, Aspect_TOL_SOLID{aspect, "Aspect_TOL_SOLID"},
    Quantity_TOC_RGB{quantity, "Quantity_TOC_RGB"},
    Aspect_GradientFillMethod{aspect, "Aspect_GradientFillMethod"},
    gradient_vertical{aspect, "Aspect_GradientFillMethod.Aspect_GradientFillMethod_Vertical"},
    gradient_none{aspect, "Aspect_GradientFillMethod.Aspect_GradientFillMethod_None"},
    triedron_left_lower{aspect, "Aspect_TypeOfTriedronPosition.Aspect_TOTP_LEFT_LOWER"},
    visualization_wireframe{v3d, "V3d_TypeOfVisualization.V3d_WIREFRAME"},
    Graphic3d_Camera{"OCP.Graphic3d", "Graphic3d_Camera"}, gp_Pnt{"OCP.gp", "gp_Pnt"},
    gp_Dir{"OCP.gp", "gp_Dir"},
    transparency_blend_oit{"OCP.Graphic3d",
                           "Graphic3d_RenderTransparentMethod.Graphic3d_RTM_BLEND_OIT"},
    transparency_blend_unordered{"OCP.Graphic3d",
                                 "Graphic3d_RenderTransparentMethod.Graphic3d_RTM_BLEND_UNORDERED"};

namespace detail {
// The camera's projection enumerators sit on the class in older bindings and
// only on its nested Projection_e in newer ones. Graphic3d_Camera is declared
// above, so it is bound by the time these are made.
inline nb::object projection_enumerator(const char *name) {
    if (nb::hasattr(Graphic3d_Camera, name))
        return Graphic3d_Camera.attr(name);
    if (nb::hasattr(Graphic3d_Camera, "Projection_e")) {
        nb::object nested = Graphic3d_Camera.attr("Projection_e");
        if (nb::hasattr(nested, name))
            return nested.attr(name);
    }
    raise(PyExc_ImportError, "Graphic3d_Camera offers no enumerator '%s'", name);
}
} // namespace detail

inline HostName projection_orthographic{
    [] { return detail::projection_enumerator("Projection_Orthographic"); }},
    projection_perspective{[] { return detail::projection_enumerator("Projection_Perspective"); }};

// The indexed map of shapes TopExp fills: under OCCT's own name in OCP 7,
// among the instantiated collections in OCP 8.
inline HostName IndexedMapOfShape{[] {
    nb::object tools = nb::module_::import_("OCP.TopTools");
    if (nb::hasattr(tools, "TopTools_IndexedMapOfShape"))
        return nb::object(tools.attr("TopTools_IndexedMapOfShape"));
    return nb::object(nb::module_::import_("OCP.collections")
                          .attr("IndexedMap_TopoDS_Shape_TopTools_ShapeMapHasher"));
}};

// Sub-shape selection, the section plane and the view cube.
inline HostName TopAbs_ShapeEnum{"OCP.TopAbs", "TopAbs_ShapeEnum"},
    TopAbs_FACE{"OCP.TopAbs", "TopAbs_FACE"}, TopAbs_EDGE{"OCP.TopAbs", "TopAbs_EDGE"},
    TopAbs_VERTEX{"OCP.TopAbs", "TopAbs_VERTEX"},
    SelectMgr_OrFilter{"OCP.SelectMgr", "SelectMgr_OrFilter"},
    StdSelect_ShapeTypeFilter{"OCP.StdSelect", "StdSelect_ShapeTypeFilter"},
    AIS_TypeFilter{"OCP.AIS", "AIS_TypeFilter"},
    kind_none{"OCP.AIS", "AIS_KindOfInteractive.AIS_KindOfInteractive_None"},
    mode_single{"OCP.AIS", "AIS_SelectionModesConcurrency.AIS_SelectionModesConcurrency_Single"},
    Graphic3d_ClipPlane{"OCP.Graphic3d", "Graphic3d_ClipPlane"}, gp_Pln{"OCP.gp", "gp_Pln"},
    AIS_ViewCube{"OCP.AIS", "AIS_ViewCube"},
    Graphic3d_SequenceOfHClipPlane{"OCP.Graphic3d", "Graphic3d_SequenceOfHClipPlane"},
    Graphic3d_MaterialAspect{"OCP.Graphic3d", "Graphic3d_MaterialAspect"},
    TCollection_AsciiString{"OCP.TCollection", "TCollection_AsciiString"};

// The name the section plane's capping material carries: what tells the
// service's own plane from any plane the host adds to the view.
inline HostName section_plane_name{[] { return nb::object(nb::str("morvik section plane")); }};

// The list of interactive objects the context fills: under OCCT's own name in
// OCP 7, among the instantiated collections in OCP 8.
inline HostName ObjectList{[] {
    nb::object ais = nb::module_::import_("OCP.AIS");
    if (nb::hasattr(ais, "AIS_ListOfInteractive"))
        return nb::object(ais.attr("AIS_ListOfInteractive"));
    return nb::object(nb::module_::import_("OCP.collections").attr("List_AIS_InteractiveObject"));
}};

// What set_view_state takes: any mapping, not only a dict.
inline HostName Mapping{"collections.abc", "Mapping"};

// The context's last detection, which pick puts back (see selection.cpp).
inline HostName point_selection{"OCP.SelectMgr", "SelectMgr_SelectionType_Point"};

// The host's own enumerations, each member by its dotted path.
inline HostName view_top{enums, "ViewDirection.TOP"}, view_bottom{enums, "ViewDirection.BOTTOM"},
    view_front{enums, "ViewDirection.FRONT"}, view_back{enums, "ViewDirection.BACK"},
    view_left{enums, "ViewDirection.LEFT"}, view_right{enums, "ViewDirection.RIGHT"},
    view_iso{enums, "ViewDirection.ISO"},
    projection_type_orthographic{enums, "ProjectionType.ORTHOGRAPHIC"},
    projection_type_perspective{enums, "ProjectionType.PERSPECTIVE"},
    DisplayMode{enums, "DisplayMode"}, ProjectionType{enums, "ProjectionType"},
    mode_shaded{enums, "DisplayMode.SHADED"}, mode_wireframe{enums, "DisplayMode.WIREFRAME"},
    mode_both{enums, "DisplayMode.BOTH"};

// Numbers handed to OCCT, made once.
inline HostName zero{[] { return nb::object(nb::int_(0)); }},
    one{[] { return nb::object(nb::int_(1)); }},
    zero_f{[] { return nb::object(nb::float_(0.0)); }},
    one_f{[] { return nb::object(nb::float_(1.0)); }},
    trihedron_scale{[] { return nb::object(nb::float_(0.08)); }}; // of the view's size

// Method names called for every shape, interned; the rest are looked up by
// their text (obj.attr("FitAll")), once a call.
namespace py {
inline HostName Display{"Display"}, Erase{"Erase"}, Remove{"Remove"}, IsNull{"IsNull"},
    SetColor{"SetColor"}, SetTransparency{"SetTransparency"}, Transparency{"Transparency"},
    Redisplay{"Redisplay"}, UpdateCurrentViewer{"UpdateCurrentViewer"}, Update{"Update"},
    SetToUpdate{"SetToUpdate"}, Attributes{"Attributes"},
    FaceBoundaryDraw{"FaceBoundaryDraw"}, SetFaceBoundaryDraw{"SetFaceBoundaryDraw"},
    FaceBoundaryAspect{"FaceBoundaryAspect"},
    SetFaceBoundaryAspect{"SetFaceBoundaryAspect"}, SetAttributes{"SetAttributes"},
    SynchronizeAspects{"SynchronizeAspects"}, ShapeType{"ShapeType"}, Contains{"Contains"},
    MapShapes_s{"MapShapes_s"}, Extent{"Extent"}, SetCustomColor{"SetCustomColor"},
    CustomAspects{"CustomAspects"}, ChangeCustomAspectsMap{"ChangeCustomAspectsMap"},
    IsBound{"IsBound"}, UnBind{"UnBind"}, Bind{"Bind"},
    AddOrRemoveSelected{"AddOrRemoveSelected"}, Picked{"Picked"}, Selectable{"Selectable"},
    Filters{"Filters"}, StoredFilters{"StoredFilters"}, First{"First"}, IsEmpty{"IsEmpty"},
    Type{"Type"}, More{"More"}, Next{"Next"};
} // namespace py

} // namespace morvik
