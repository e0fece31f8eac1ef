// The Python types of the service's parameters and results, as its signatures and stub show them.
//
// A parameter takes any Python object at all, None included: a wrong value
// reaches the operation, and so its guard, instead of nanobind's refusal. Its
// type says only what the stub shows.
#pragma once

#include "hostcall.hpp"

namespace morvik {

// An argument, borrowed for the call, shown as `text`.
template <const auto &text> struct In : nb::handle {
    static constexpr auto Name = nb::detail::const_name(text);
    static constexpr const char *annotation = text;
    static bool check_(nb::handle) { return true; }
    In(nb::handle h = nb::handle()) : nb::handle(h) {}
    In(nb::handle h, nb::detail::steal_t) : nb::handle(h) {}
};

// A result, shown as `text`.
template <const auto &text> struct Out : nb::object {
    static constexpr auto Name = nb::detail::const_name(text);
    static constexpr const char *annotation = text;
    static bool check_(nb::handle) { return true; }
    using nb::object::object;
    Out(nb::object o) : nb::object(std::move(o)) {}
};

namespace text {
inline constexpr char shape[] = "OCP.TopoDS.TopoDS_Shape", ais[] = "OCP.AIS.AIS_Shape",
    id[] = "str",
    flag[] = "bool", integer[] = "int", real[] = "float", color[] = "tuple[float, float, float]",
    color_or_none[] = "tuple[float, float, float] | None", id_or_none[] = "str | None",
    ids[] = "collections.abc.Iterable[str]", ids_shown[] = "list[str]",
    sub_colors[] = "collections.abc.Iterable[tuple[OCP.TopoDS.TopoDS_Shape, "
                   "tuple[float, float, float]]] | None",
    items[] = "collections.abc.Iterable[tuple[OCP.TopoDS.TopoDS_Shape, str] | "
              "tuple[OCP.TopoDS.TopoDS_Shape, str, tuple[float, float, float] | None] | "
              "tuple[OCP.TopoDS.TopoDS_Shape, str, tuple[float, float, float] | None, "
              "collections.abc.Iterable[tuple[OCP.TopoDS.TopoDS_Shape, "
              "tuple[float, float, float]]] | None]]",
    progress[] = "collections.abc.Callable[[int, int | None], object] | None",
    direction[] = "morvik.enums.ViewDirection", projection[] = "morvik.enums.ProjectionType",
    mode[] = "morvik.enums.DisplayMode", fill_method[] = "OCP.Aspect.Aspect_GradientFillMethod",
    state[] = "collections.abc.Mapping[str, typing.Any]",
    state_or_none[] = "dict[str, typing.Any] | None", view[] = "OCP.V3d.V3d_View",
    viewer[] = "OCP.V3d.V3d_Viewer", context[] = "OCP.AIS.AIS_InteractiveContext",
    records[] = "dict[str, ShapeInfo]", record_or_none[] = "ShapeInfo | None",
    detail[] = "tuple[str, OCP.TopoDS.TopoDS_Shape] | None",
    sub_shape_kind[] = "OCP.TopAbs.TopAbs_ShapeEnum | None",
    point[] = "tuple[float, float, float]";
} // namespace text

using Shape = In<text::shape>; using Presentation = In<text::ais>; using Id = In<text::id>;
using Flag = In<text::flag>; using Int = In<text::integer>; using Real = In<text::real>;
using Color = In<text::color>; using ColorOrNone = In<text::color_or_none>;
using Ids = In<text::ids>; using SubColorPairs = In<text::sub_colors>;
using Items = In<text::items>; using Progress = In<text::progress>;
using Direction = In<text::direction>; using Projection = In<text::projection>;
using Mode = In<text::mode>; using FillMethod = In<text::fill_method>;
using State = In<text::state>; using View = In<text::view>; using Viewer = In<text::viewer>;
using Context = In<text::context>; using SubShapeKind = In<text::sub_shape_kind>;
using Point = In<text::point>;

} // namespace morvik

namespace nanobind::detail {
// Every parameter takes None, as std::optional's do.
template <const auto &text> struct has_arg_defaults<morvik::In<text>> : std::true_type {};
} // namespace nanobind::detail
