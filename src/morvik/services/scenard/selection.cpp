// Selection by identifier and reverse lookup.
#include "operations.hpp"

#include <cmath>

namespace morvik {

namespace {

// select_shape fails as select_shapes does, under its template.
constexpr const char *selecting_shapes = "Error selecting shapes: %s";

// Replaces the context's selection with the registered shapes among
// `shape_ids`, in their order. The context toggles an object on each
// AddOrRemoveSelected, so an identifier listed twice ends up unselected.

void select_shapes(Scenard &s, Ids shape_ids) {
    s.context.attr("ClearSelected")(false);
    // The caller's sequence is walked through an iterator, which stays safe
    // should it change while the context is called.
    for (nb::handle shape_id : shape_ids) {
        nb::object info = find_entry(s.shapes, shape_id);
        if (!info.is_valid())
            continue; // not registered: skipped without a message
        s.context.attr(py::AddOrRemoveSelected)(own_presentation(s, info), false);
    }
    s.context.attr(py::UpdateCurrentViewer)();
}

// Selecting one shape replaces the whole selection as well.
void select_shape(Scenard &s, Id shape_id) {
    nb::object single = nb::make_tuple(shape_id);
    guard(selecting_shapes, [&] { select_shapes(s, single); });
}

// The presentation the service owns nearest under the point the selector
// last picked, with the owner picked on it; the selector sorts what it finds
// nearest first, and presentations the service does not own (a host's own,
// the view cube) are passed over. Empty when there is none.
struct Nearest { nb::object shape_id, owner; };

Nearest nearest_registered(Scenard &s, nb::handle selector) {
    Py_ssize_t found = nb::cast<Py_ssize_t>(selector.attr("NbPicked")());
    for (Py_ssize_t rank = 1; rank <= found; ++rank) {
        nb::object owner = selector.attr(py::Picked)(rank);
        if (owner.is_none())
            continue;
        nb::object shape_id = find_entry(s.ais_to_id, owner.attr(py::Selectable)());
        if (shape_id.is_valid())
            return {shape_id, owner};
    }
    return {};
}

// The context's last detection (its MoveTo) in the service's view, as the
// point it picked at; empty when the selector's last pick was no such
// detection. A detection in another view is left alone: that view may have
// lost its window since, and picking there would crash OCCT.
struct Detection { nb::object view, x, y; };

Detection last_detection(Scenard &s, nb::handle selector) {
    // OCP hands back the wrapper the service holds for the same view.
    nb::object view = s.context.attr("LastActiveView")();
    nb::object volume = selector.attr("GetManager")();
    if (!view.is(s.view) || !volume.attr("GetActiveSelectionType")().equal(point_selection))
        return {};
    nb::object point = volume.attr("GetMousePosition")();
    auto pixel = [](nb::handle coordinate) {
        return nb::int_(std::lround(nb::cast<double>(coordinate)));
    };
    return {view, pixel(point.attr("X")()), pixel(point.attr("Y")())};
}

// Picks with the context's own selector, then has it pick again where the
// context last detected: the context's detected list (InitDetected,
// HilightNextDetected, SelectDetected) indexes the selector's results, so
// hover and selection stay as they were. `answer` reads the pick's result.
template <typename F> nb::object pick_at(Scenard &s, Int x, Int y, F answer) {
    // The selector takes the view as a handle it does not check: anything
    // but a real view, or a view without a window to read the size of,
    // crashes OCCT.
    nb::object view = s.view;
    if (!nb::isinstance(view, V3d_View))
        raise(PyExc_TypeError, "cannot pick in %R, which is no V3d_View", view.ptr());
    if (view.attr("Window")().is_none())
        raise(PyExc_RuntimeError, "cannot pick in a view that has no window");
    nb::object selector = s.context.attr("MainSelector")();
    Detection detection = last_detection(s, selector);
    auto detect_again = [&] {
        if (detection.view.is_valid())
            selector.attr("Pick")(detection.x, detection.y, detection.view);
    };
    nb::object result;
    try {
        selector.attr("Pick")(x, y, view);
        result = answer(nearest_registered(s, selector));
    } catch (nb::python_error &) {
        quietly(detect_again); // the pick's own error is the one reported
        throw;
    }
    detect_again();
    return result;
}

Out<text::id_or_none> pick(Scenard &s, Int x, Int y) {
    return pick_at(s, x, y, [](Nearest found) {
        return found.shape_id.is_valid() ? found.shape_id : nb::none();
    });
}

// The owner of a shape's presentation holds the face, edge or vertex picked
// in a sub-shape mode, and the whole shape in the whole-shape mode.
Out<text::detail> pick_detail(Scenard &s, Int x, Int y) {
    return pick_at(s, x, y, [](Nearest found) -> nb::object {
        if (!found.shape_id.is_valid())
            return nb::none();
        nb::object shape = nb::hasattr(found.owner, "Shape")
                               ? found.owner.attr("Shape")()
                               : found.owner.attr(py::Selectable)().attr("Shape")();
        return nb::make_tuple(found.shape_id, shape);
    });
}

// --- sub-shape selection ----------------------------------------------------------
//
// The mode lives in the context, as the filter its detection applies: one
// kind of sub-shape of any shape, or whatever is no shape at all (the view
// cube). Every registered presentation on screen has the same mode active;
// OCCT drops a presentation's modes when it leaves the screen, so each show
// activates it again.

// The context's mode filter and the shape-type filter it holds first, or
// two empty objects. Read on every display and every show: it walks the
// context's filters without ever reaching the end of an OCP list (see
// find_in_occt_list), and a context without filters costs two calls.
struct ModeFilter { nb::object filter, kind; };

// The shape-type filter `filter` holds first when it is a mode filter.
nb::object kind_filter(nb::handle filter) {
    if (!nb::isinstance(filter, SelectMgr_OrFilter))
        return {};
    nb::object held = call_method(filter, py::StoredFilters);
    if (truth(call_method(held, py::IsEmpty)))
        return {};
    nb::object first = call_method(held, py::First);
    return nb::isinstance(first, StdSelect_ShapeTypeFilter) ? first : nb::object();
}

ModeFilter mode_filter(Scenard &s) {
    ModeFilter found;
    found.filter = find_in_occt_list(call_method(s.context, py::Filters), [&](nb::handle filter) {
        found.kind = kind_filter(filter);
        return found.kind.is_valid();
    });
    return found;
}

[[noreturn]] void refuse_mode(nb::handle mode) {
    raise(nb::isinstance(mode, TopAbs_ShapeEnum) ? PyExc_ValueError : PyExc_TypeError,
          "a selection mode must be TopAbs_FACE, TopAbs_EDGE, TopAbs_VERTEX or None, not %R",
          mode.ptr());
}

void set_selection_mode(Scenard &s, SubShapeKind mode) {
    if (!mode.is_none() && !(nb::isinstance(mode, TopAbs_ShapeEnum) &&
                             (mode.equal(TopAbs_FACE) || mode.equal(TopAbs_EDGE) ||
                              mode.equal(TopAbs_VERTEX))))
        refuse_mode(mode);
    refuse_look_change(s); // a shape being displayed would miss the mode
    nb::object number = mode.is_none() ? nb::borrow(zero) : AIS_Shape.attr("SelectionMode_s")(mode);
    nb::object filter;
    if (!mode.is_none()) {
        filter = SelectMgr_OrFilter();
        filter.attr("Add")(StdSelect_ShapeTypeFilter(mode));
        filter.attr("Add")(AIS_TypeFilter(kind_none));
    }
    std::vector<Registered> shapes = registered(s); // refused before the filter changes
    nb::object earlier = mode_filter(s).filter;
    if (earlier.is_valid())
        s.context.attr("RemoveFilter")(earlier);
    if (filter.is_valid())
        s.context.attr("AddFilter")(filter);
    for (const Registered &shape : shapes)
        if (truth(nb::object(as_record(shape.info).visible)))
            activate_mode(s, shape.ais, number);
}

Out<text::id_or_none> get_shape_id_for_ais_shape(Scenard &s, Presentation ais_shape) {
    nb::object shape_id = find_entry(s.ais_to_id, ais_shape);
    return shape_id.is_valid() ? shape_id : nb::none();
}

} // namespace

nb::object selection_mode(Scenard &s) {
    nb::object kind = mode_filter(s).kind;
    if (!kind.is_valid())
        return {};
    return AIS_Shape.attr("SelectionMode_s")(call_method(kind, py::Type));
}

void activate_mode(Scenard &s, nb::handle ais, nb::handle mode) {
    if (mode.is_valid())
        s.context.attr("SetSelectionModeActive")(ais, mode, true, mode_single, false);
}

void bind_selection(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "select_shapes", guarded<select_shapes>(selecting_shapes), "shape_ids"_a,
        "Programmatically select multiple shapes by ID, replacing current selection.\n\nArgs:\n"
        "    shape_ids: List of shape IDs to select, in order");
    def(cls, "select_shape", reporting<select_shape>(selecting_shapes), "shape_id"_a,
        "Programmatically select a shape in the viewer by its ID.\n\nArgs:\n"
        "    shape_id: ID of the shape to select");
    def(cls, "pick", guarded<pick>("Error picking: %s"), "x"_a, "y"_a,
        "Find the shape under a point of the view, leaving the selection as it is.\n\nArgs:\n"
        "    x: X coordinate in device pixels\n    y: Y coordinate in device pixels\n\nReturns:\n"
        "    ID of the nearest displayed shape under the point, or None");
    def(cls, "pick_detail", guarded<pick_detail>("Error picking: %s"), "x"_a, "y"_a,
        "Find the shape and the sub-shape under a point of the view, leaving the\n"
        "selection as it is.\n\n"
        "The sub-shape is the face, edge or vertex picked in the selection mode, or\n"
        "the whole shape when the mode is None.\n\nArgs:\n"
        "    x: X coordinate in device pixels\n    y: Y coordinate in device pixels\n\nReturns:\n"
        "    (shape ID, picked TopoDS_Shape) of the nearest displayed shape under the\n"
        "    point, or None");
    def(cls, "set_selection_mode", guarded<set_selection_mode>("Error setting selection mode: %s"),
        "mode"_a,
        "Choose what a click picks on every shape, shown now or later.\n\nArgs:\n"
        "    mode: TopAbs_FACE, TopAbs_EDGE or TopAbs_VERTEX to pick sub-shapes of\n"
        "        that kind, or None to pick whole shapes");
    def(cls, "get_shape_id_for_ais_shape", &get_shape_id_for_ais_shape, "ais_shape"_a,
        "Reverse-lookup: find the shape_id for a given AIS_Shape object.\n\nArgs:\n"
        "    ais_shape: AIS_Shape to look up\n\nReturns:\n    Shape ID or None if not found");
}

} // namespace morvik
