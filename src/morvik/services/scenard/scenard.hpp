// Scenard, the viewer service over one OCCT view, its viewer and its context, and its records.
//
// The class is bound in parts, one translation unit per concern; each adds its
// operations to the class object through its bind_* function.
#pragma once

#include "colors.hpp"
#include "hostcall.hpp"
#include "types.hpp"

#include <vector>

namespace morvik {

// Garbage-collector slots for a class whose C++ fields hold Python objects.
//
// Each is cleared to None rather than left empty, so an instance reached after the
// collector cleared it (from a finaliser, say) fails its calls instead of
// crashing. A map stays the same object for the instance's life: emptying it
// is enough to break a cycle through it.
inline void clear_field(nb::object &field) { field = nb::none(); }
inline void clear_field(nb::dict &field) {
    if (field.is_valid())
        field.clear();
}

template <typename T, auto... fields> struct GcFields {
    static int traverse(PyObject *self, visitproc visit, void *arg) {
        Py_VISIT(Py_TYPE(self));
        if (nb::inst_ready(self))
            for (PyObject *field : {(nb::inst_ptr<T>(self)->*fields).ptr()...})
                Py_VISIT(field);
        return 0;
    }
    static int clear(PyObject *self) {
        if (nb::inst_ready(self))
            (clear_field(nb::inst_ptr<T>(self)->*fields), ...);
        return 0;
    }
    static inline PyType_Slot slots[] = {
        {Py_tp_traverse, (void *) traverse}, {Py_tp_clear, (void *) clear}, {0, nullptr}};
};

// A plain record, shared: the registry and every caller that asked for it hold
// the same object, so a change made by one is seen by all.
struct ShapeInfo {
    nb::object shape_id, ais_shape, color, visible;
};

// The ShapeInfo behind a registry value; raises TypeError for anything else,
// and for a record whose fields are not all set. The reference lives as long
// as `value` does; copy a field into an nb::object before calling out.
ShapeInfo &as_record(nb::handle value);

inline nb::object make_record(nb::handle shape_id, nb::handle ais_shape, nb::handle color,
                              nb::handle visible) {
    return nb::cast(ShapeInfo{nb::borrow(shape_id), nb::borrow(ais_shape), nb::borrow(color),
                              nb::borrow(visible)},
                    nb::rv_policy::move);
}

void bind_shape_info(nb::module_ &m);

struct Scenard;

// The presentation the service displayed for a registered record: the one
// its reverse map gives back to the record's identifier. Raises LookupError
// for any other (one the host put in the record, or None): showing, hiding or
// changing it would leave the service's own presentation as it was, with no
// record telling the truth about it. Every operation that reaches a record's
// presentation goes through here.
nb::object own_presentation(Scenard &s, nb::handle info);

// Every record with its own presentation, in the registry's order, all looked
// up before the caller changes anything: a walk over the registry refuses a
// replaced presentation before it changes any shape. A copy, so the walk is
// not derailed by a registry that changes under it.
struct Registered {
    nb::object info, ais;
};
std::vector<Registered> registered(Scenard &s);

struct Scenard {
    nb::object view, viewer, context;
    bool is_rendering = false;
    nb::dict shapes;    // identifier -> ShapeInfo, in insertion order
    nb::dict ais_to_id; // presentation -> identifier
    nb::object global_transparency, current_display_mode, background_color, background_gradient;
};

using ScenardClass = nb::class_<Scenard>;

void configure_shape_edges(nb::handle ais_shape, bool enable);

// AIS_Shape::SetColor paints the face-boundary aspect too: boundaries that
// are drawn are turned black again, in place.
void keep_boundaries_black(nb::handle ais_shape);

// set_projection_type: orthographic or perspective camera, with its own
// failure handling; setup_initial_view calls it too.
void set_projection_type(Scenard &s, Projection projection_type);

// The parts of the appearance and background operations that set_view_state
// shares. Each takes values already checked, and none updates the viewer.
nb::object to_transparency(nb::handle value); // the checked amount, as a float
void apply_transparency(Scenard &s, nb::handle amount);
void apply_display_mode(Scenard &s, nb::handle mode);
void require_fill_method(nb::handle fill_method);
void apply_background_color(Scenard &s, const Rgb &rgb);
void apply_background_gradient(Scenard &s, const Rgb &first, const Rgb &second,
                               nb::handle fill_method);

// The view heights, in model units, that OCCT draws and picks reliably, and
// the largest coordinate of a camera. OCCT's picking fails from about 1e26
// up and 1e-150 down, and the graphics card takes single-precision floats;
// the bounds leave a wide margin on either side of any real model.
inline constexpr double smallest_view_scale = 1e-9, largest_view_extent = 1e15;
inline constexpr const char *smallest_view_scale_text = "1e-9", *largest_view_extent_text = "1e15";

// Raises ValueError unless `scale` lies within those bounds; `whose` names
// the camera in the message.
void require_drawable_scale(double scale, const char *whose);

// The selection mode every registered presentation on screen has active
// (an AIS mode number), or empty for whole shapes; activate_mode gives a
// presentation that mode, and does nothing when it is empty.
nb::object selection_mode(Scenard &s);
void activate_mode(Scenard &s, nb::handle ais, nb::handle mode);

// The view cube on the service's context, or empty.
nb::object find_view_cube(Scenard &s);

// Raises while a display or erase of `s` is changing its registry, or a
// display is running on it: the operations that change the look of every
// shape call it first.
void refuse_look_change(const Scenard &s);

void bind_registry(ScenardClass &cls);   // display, erase, update, registry queries
void bind_edges(ScenardClass &cls);      // _configure_shape_edges
void bind_view_setup(ScenardClass &cls); // initial view, trihedron, background
void bind_camera(ScenardClass &cls);     // projection, fit, redraw, navigation
void bind_appearance(ScenardClass &cls); // colour, visibility, transparency, display mode
void bind_selection(ScenardClass &cls);  // selection, picking and reverse lookup
void bind_view_state(ScenardClass &cls); // saved views

} // namespace morvik
