// Shape appearance: colour, face-boundary edges, visibility, transparency and display mode.
#include "operations.hpp"

namespace morvik {

static nb::object black() { return Quantity_Color(zero_f, zero_f, zero_f, Quantity_TOC_RGB); }

// How the shaded-with-boundaries mode reaches one shape.
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

// A transparency display_shape can apply to every later shape. OCCT refuses
// anything outside 0..1, so storing such a value would make every later
// display fail; NaN and infinities are refused along with it. A bool is a
// truth value, not an amount, and is refused too. Returns the amount as a
// float, which is what the service keeps and hands to OCCT.
nb::object to_transparency(nb::handle value) {
    if (PyBool_Check(value.ptr()))
        raise(PyExc_TypeError, "transparency must be a number from 0 to 1, not bool");
    double amount = to_number(value, "transparency");
    if (!(amount >= 0.0 && amount <= 1.0))
        raise(PyExc_ValueError, "transparency must be a finite number from 0 to 1, got %R",
              value.ptr());
    return nb::float_(amount);
}

void apply_transparency(Scenard &s, nb::handle amount) {
    std::vector<Registered> shapes = registered(s); // refused before anything changes
    s.global_transparency = nb::borrow(amount);
    // Unordered blending draws overlapping transparent parts differently in
    // each display order; weighted blended transparency gives one image.
    // A method the host chose for itself (depth peeling) is left alone, and
    // an opaque scene draws alike under either, so it stays once chosen.
    if (truth(amount)) {
        nb::object params = s.view.attr("ChangeRenderingParams")();
        if (params.attr("TransparencyMethod").equal(transparency_blend_unordered))
            params.attr("TransparencyMethod") = transparency_blend_oit;
    }
    // AIS_Shape::SetTransparency changes the aspects its presentations already
    // draw with (sub-shape aspects too, for an AIS_ColoredShape): nothing is
    // computed again, and hidden shapes show it when shown. An AIS_ColoredShape
    // whose faces have colours of their own also decides, as it computes its
    // shaded presentation, whether its solids are closed (back faces culled)
    // from their transparency: that one is computed again when the shape
    // turns opaque or transparent, or its edges would show the faces behind.
    // (Over a copy of the records: the loop calls out for every shape.)
    bool transparent = truth(amount);
    for (const Registered &shape : shapes) {
        const nb::object &ais = shape.ais;
        bool recompute = nb::isinstance(ais, AIS_ColoredShape) &&
                         truth(call_method(ais, py::Transparency)) != transparent;
        call_method(ais, py::SetTransparency, amount);
        if (recompute) {
            call_method(ais, py::SetToUpdate, one); // AIS_Shaded
            call_method(s.context, py::Update, ais, Py_False);
        }
    }
}

void apply_display_mode(Scenard &s, nb::handle mode) {
    std::vector<Registered> shapes = registered(s); // refused before anything changes
    // Remembered whatever happens next, so shapes displayed later follow it.
    s.current_display_mode = nb::borrow(mode);
    // The context's mode carries only wireframe (0) or shaded (1); face
    // boundaries are set on each shape.
    bool wireframe = mode.equal(mode_wireframe);
    bool boundaries = !wireframe && mode.equal(mode_both);
    // Face boundaries belong to the shaded presentation alone: a shape whose
    // boundaries change has only that one marked, before the context's mode
    // changes, so a context turning shaded computes it once. Neither the
    // wireframe presentation nor the selection depends on them: recomputing
    // either (as Redisplay does) would cost seconds on large parts and
    // rebuild the picking trees at the next hover. Hidden shapes too, so a
    // shape shown again matches the mode in force. (Over a copy of the
    // records: the loop calls out for every shape.)
    nb::list changed;
    for (const Registered &shape : shapes) {
        const nb::object &ais = shape.ais;
        nb::object drawer = call_method(ais, py::Attributes);
        if (truth(call_method(drawer, py::FaceBoundaryDraw)) == boundaries)
            continue;
        configure_shape_edges(ais, boundaries);
        call_method(ais, py::SetToUpdate, one); // AIS_Shaded
        changed.append(ais);
    }
    s.context.attr("SetDisplayMode")(wireframe ? zero : one, false);
    // Draws the marked presentations that are on screen (or highlighted)
    // and not already drawn by the mode change; the rest wait to be shown.
    for (nb::handle ais : changed)
        call_method(s.context, py::Update, ais, Py_False);
}

namespace {

void configure_edges(Scenard &, Presentation ais_shape, Flag enable) {
    // Read once, before OCCT is called.
    configure_shape_edges(ais_shape, truth(enable));
}

void set_shape_color(Scenard &s, Presentation ais_shape, Color color, Flag update) {
    nb::object occt_color = to_occt_color(color).occt;
    bool redisplay(nb::bool_{update});
    ais_shape.attr(py::SetColor)(occt_color);
    keep_boundaries_black(ais_shape);
    if (redisplay)
        s.context.attr(py::Redisplay)(ais_shape, true);
}

// Shows or hides a record's presentation, as `mode` (see selection_mode)
// for picking when it comes back.
void show_record(Scenard &s, const Registered &shape, bool show, nb::handle update_flag,
                 nb::handle mode) {
    const nb::object &info = shape.info, &ais = shape.ais;
    nb::object shown = as_record(info).visible;
    if (show == truth(shown))
        return; // already as asked: no call, no viewer update
    call_method(s.context, show ? py::Display : py::Erase, ais, update_flag);
    // Written once the context has done it, and at once, so the flag never
    // claims a state the screen does not show: not even when activating the
    // mode fails, or is interrupted.
    as_record(info).visible = nb::borrow(py_bool(show));
    if (show)
        activate_mode(s, ais, mode);
}

void set_shape_visibility(Scenard &s, Id shape_id, Flag visible, Flag update) {
    // Flags are read once, before anything is looked up or called.
    bool show = truth(visible);
    nb::handle update_flag = py_bool(truth(update));
    nb::object info = find_entry(s.shapes, shape_id);
    if (info.is_valid())
        show_record(s, {info, own_presentation(s, info)}, show, update_flag,
                    show ? selection_mode(s) : nb::object());
}

// Shows the registered shapes among `shape_ids` and hides every other one;
// identifiers not registered are passed over. The identifiers are all read
// before any shape changes.
void isolate_shapes(Scenard &s, Ids shape_ids) {
    if (PyUnicode_Check(shape_ids.ptr()))
        raise(PyExc_TypeError, "shape_ids must be a collection of identifiers, not one str");
    nb::set kept;
    for (nb::handle shape_id : shape_ids) {
        nb::object info = find_entry(s.shapes, shape_id);
        if (info.is_valid())
            kept.add(own_presentation(s, info));
    }
    nb::object mode = selection_mode(s);
    for (const Registered &shape : registered(s))
        show_record(s, shape, kept.contains(shape.ais), Py_False, mode);
    s.context.attr(py::UpdateCurrentViewer)();
}

void show_all_shapes(Scenard &s) {
    nb::object mode = selection_mode(s);
    for (const Registered &shape : registered(s))
        show_record(s, shape, true, Py_False, mode);
    s.context.attr(py::UpdateCurrentViewer)();
}

Out<text::flag> is_shape_visible(Scenard &s, Id shape_id) {
    nb::object info = find_entry(s.shapes, shape_id);
    return info.is_valid() ? nb::object(as_record(info).visible) : nb::bool_(false);
}

void set_global_transparency(Scenard &s, Real transparency, Flag update) {
    refuse_look_change(s);
    nb::object amount = to_transparency(transparency);
    bool update_viewer(nb::bool_{update});
    apply_transparency(s, amount);
    if (update_viewer)
        s.context.attr(py::UpdateCurrentViewer)();
}

void set_display_mode(Scenard &s, Mode mode) {
    refuse_look_change(s);
    apply_display_mode(s, mode);
    s.context.attr(py::UpdateCurrentViewer)();
}

// For a host that switches the shapes shown itself, a few at a time between
// frames: the shapes displayed meanwhile, and get_display_mode, take the new
// mode at once, while the shapes shown keep theirs for the host to change.
void keep_display_mode(Scenard &s, Mode mode) {
    refuse_look_change(s);
    s.current_display_mode = nb::borrow(mode);
}

// The mode the shapes are drawn in, as apply_display_mode reads the one kept:
// anything but wireframe or both draws shaded.
Out<text::mode> get_display_mode(Scenard &s) {
    nb::object mode = s.current_display_mode; // held: equal() calls out
    if (mode.equal(mode_wireframe))
        return nb::borrow(mode_wireframe);
    return nb::borrow(mode.equal(mode_both) ? mode_both : mode_shaded);
}

Out<text::real> get_global_transparency(Scenard &s) {
    return nb::float_(s.global_transparency);
}

} // namespace

void bind_edges(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "_configure_shape_edges", &configure_edges, "ais_shape"_a, "enable"_a,
        "Configure edge display for a shape.\n\nArgs:\n    ais_shape: AIS_Shape to configure\n"
        "    enable: True to draw face boundaries, False to stop");
}

void bind_appearance(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "set_display_mode", guarded<set_display_mode>("Error setting display mode: %s"),
        "mode"_a,
        "Set the display mode globally for all shapes.\n\nArgs:\n    mode: DisplayMode to apply");
    def(cls, "keep_display_mode", guarded<keep_display_mode>("Error keeping display mode: %s"),
        "mode"_a,
        "Make mode the display mode of the shapes displayed from now on, leaving the\n"
        "shapes shown as they are (for a host that switches them itself).\n\nArgs:\n"
        "    mode: DisplayMode to keep");
    def(cls, "get_display_mode", guarded<get_display_mode>("Error getting display mode: %s"),
        "Get the display mode in force.\n\nReturns:\n"
        "    DisplayMode the shapes are drawn in, or None if error");
    def(cls, "get_global_transparency",
        guarded<get_global_transparency>("Error getting global transparency: %s"),
        "Get the transparency in force for all shapes.\n\nReturns:\n"
        "    float from 0 to 1, or None if error");
    def(cls, "set_shape_color", guarded<set_shape_color>("Error setting shape color: %s"),
        "ais_shape"_a, "color"_a, "update"_a = true,
        "Set the color of a shape.\n\nArgs:\n    ais_shape: AIS_Shape to color\n"
        "    color: Tuple of RGB values (0-1)\n    update: Whether to update the display");
    def(cls, "set_global_transparency",
        guarded<set_global_transparency>("Error setting global transparency: %s"),
        "transparency"_a, "update"_a = true,
        "Set transparency for all shapes globally.\n\nArgs:\n"
        "    transparency: Float 0-1 for transparency (0 = opaque, 1 = fully transparent)\n"
        "    update: Whether to update the display");
    def(cls, "set_shape_visibility",
        guarded<set_shape_visibility>("Error setting shape visibility: %s"), "shape_id"_a,
        "visible"_a, "update"_a = true,
        "Set the visibility of a shape.\n\nArgs:\n    shape_id: ID of the shape\n"
        "    visible: True to show, False to hide\n    update: Whether to update the display");
    def(cls, "isolate_shapes", guarded<isolate_shapes>("Error isolating shapes: %s"),
        "shape_ids"_a,
        "Show only the given shapes and hide every other registered shape.\n\n"
        "IDs that are not registered are skipped.\n\nArgs:\n"
        "    shape_ids: IDs of the shapes to keep shown");
    def(cls, "show_all_shapes", guarded<show_all_shapes>("Error showing all shapes: %s"),
        "Show every registered shape.");
    def(cls, "is_shape_visible", &is_shape_visible, "shape_id"_a,
        "Check if a shape is visible.\n\nArgs:\n    shape_id: ID of the shape\n\nReturns:\n"
        "    True if the shape is visible, False if hidden or not found");
}

} // namespace morvik
