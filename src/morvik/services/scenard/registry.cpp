// The shape registry: display, erase, update and the registry queries.
#include "operations.hpp"
#include "sub_colors.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

namespace morvik {

namespace {

// Services whose registry a display or erase is changing right now. An
// identifier's __hash__ or __eq__, or a host's context, may call back into the
// service in the middle of such a change; a second change then would act on a
// registry the first has half changed, so it is refused.
std::vector<const Scenard *> changing;

// Services a display is running on, from before it reads the look (display
// mode, transparency, selection mode) to its return. It gives every shape it
// shows the look it read first, while it reads its arguments (a colour's
// __float__, a sub_colors iterator) and, for display_shapes, between items
// (the items' iterator, the progress call-back): a look changed meanwhile
// would reach the shapes registered so far and miss the rest, so it is
// refused. A display or erase in between is not: the registry is whole then.
std::vector<const Scenard *> displaying;

bool is_marked(const std::vector<const Scenard *> &marks, const Scenard &s) {
    return std::find(marks.begin(), marks.end(), &s) != marks.end();
}

// Marks `s` in `marks` for its own life; marks nest.
class Mark {
public:
    Mark(std::vector<const Scenard *> &marks, const Scenard &s) : marks_(marks), s_(s) {
        marks_.push_back(&s_);
    }
    ~Mark() { marks_.erase(std::find(marks_.begin(), marks_.end(), &s_)); }
    Mark(const Mark &) = delete;
    Mark &operator=(const Mark &) = delete;

private:
    std::vector<const Scenard *> &marks_;
    const Scenard &s_;
};

void refuse_during_registry_change(const Scenard &s) {
    if (is_marked(changing, s))
        raise(PyExc_RuntimeError, "the shape registry is being changed by a call in progress");
}

// The marks of registry changes, once `s` is checked to be in none.
std::vector<const Scenard *> &changes_besides(const Scenard &s) {
    refuse_during_registry_change(s);
    return changing;
}

struct RegistryChange : Mark {
    explicit RegistryChange(const Scenard &s) : Mark(changes_besides(s), s) {}
};

// Builds the presentation with its colours, face boundaries and transparency
// applied, so the context computes it once; touches neither the context nor
// the registry. Without sub-shape colours it is a plain AIS_Shape.
nb::object build_presentation(Scenard &s, nb::handle shape, nb::handle occt_color,
                              const SubColors &sub_colors, bool boundaries) {
    nb::object ais = sub_colors.empty() ? AIS_Shape(shape) : AIS_ColoredShape(shape);
    if (nb::bool_(call_method(shape, py::IsNull)))
        raise(PyExc_ValueError, "cannot display a null shape");
    if (occt_color.is_valid())
        call_method(ais, py::SetColor, occt_color);
    if (!sub_colors.empty())
        apply_sub_colors(ais, sub_colors);
    if (boundaries)
        configure_shape_edges(ais, true);
    nb::object transparency = s.global_transparency;
    if (transparency > zero)
        call_method(ais, py::SetTransparency, transparency);
    return ais;
}

// Kept raw: one lookup where nanobind's contains-then-delete takes two (about
// 180 instructions of every erase).
void pop_reverse_entry(Scenard &s, nb::handle ais) {
    if (PyDict_DelItem(s.ais_to_id.ptr(), ais.ptr()) == 0)
        return;
    clear_error(PyExc_KeyError); // not there: nothing to take back
}

// Once a presentation left the screen, its identifier goes; should the
// identifier refuse to be used as a key again, it stays, its presentation
// comes back, and the refusal is raised. Either way record and screen agree,
// however the refusal ends: an interrupt raised by the identifier's __hash__
// brings the presentation back as a ValueError does, then goes on.
void drop_or_show_again(Scenard &s, nb::handle shape_id, nb::handle info, nb::handle ais) {
    // Kept raw: the identifier's own refusal is told apart from success
    // without a C++ exception in between.
    if (PyDict_DelItem(s.shapes.ptr(), shape_id.ptr()) == 0)
        return pop_reverse_entry(s, ais);
    nb::python_error refused;
    Repair repair;
    repair.step([&] { // back in the context as its record says
        s.context.attr(py::Display)(ais, false);
        if (!nb::bool_(nb::object(as_record(info).visible)))
            s.context.attr(py::Erase)(ais, false);
        s.context.attr(py::UpdateCurrentViewer)();
    });
    repair.finish();
    throw refused;
}

// display_shapes logs each item's failure as display_shape logs its own.
constexpr const char *displaying_shape = "Error displaying shape: %s",
                     *displaying_shapes = "Error displaying shapes: %s";

// display_shape, with the selection mode the new presentation takes.
nb::object show_shape(Scenard &s, nb::handle shape, nb::handle shape_id, nb::handle color,
                      nb::handle update, nb::handle sub_colors, nb::handle pick_mode) {
    // Every flag, colour and the identifier are read before the context is
    // called: what they answer cannot change halfway through. A failure up to
    // the first call into the context changes nothing.
    nb::handle update_flag = py_bool(truth(update));
    nb::object mode = s.current_display_mode;
    bool boundaries = mode.equal(mode_both);
    Rgb rgb;
    nb::object kept_color = nb::none();
    if (is_empty_color(color))
        kept_color = nb::tuple(); // no colour, as None is
    else if (!color.is_none())
        kept_color = (rgb = to_occt_color(color)).kept;
    SubColors colors = read_sub_colors(shape, sub_colors);
    RegistryChange change(s);
    nb::object earlier = find_entry(s.shapes, shape_id, Unhashable::raises);
    nb::object earlier_ais;
    if (earlier.is_valid())
        earlier_ais = own_presentation(s, earlier);
    nb::object ais = build_presentation(s, shape, rgb.occt, colors, boundaries);
    nb::object record = make_record(shape_id, ais, kept_color, nb::bool_(true));

    // A shape displayed again under its identifier replaces the earlier
    // presentation on screen; the identifier keeps its place. Should the
    // context refuse to remove it, still nothing has changed.
    if (earlier.is_valid())
        call_method(s.context, py::Remove, earlier_ais, Py_False);

    // The new presentation goes on screen, then into both maps. Should any
    // step fail, it is taken back, and an identifier whose earlier
    // presentation is already gone loses its record with it: registry and
    // screen agree either way.
    bool on_screen = false;
    try {
        call_method(s.context, py::Display, ais, update_flag);
        on_screen = true;
        activate_mode(s, ais, pick_mode);
        s.ais_to_id[ais] = shape_id;
        s.shapes[shape_id] = record;
        if (earlier.is_valid())
            pop_reverse_entry(s, earlier_ais);
    } catch (...) {
        // Whatever the failure, an interrupt included, the new presentation is
        // taken back and the earlier one's identifier follows its screen; the
        // error reported is the one that made it go.
        Repair repair;
        if (on_screen)
            repair.step([&] { s.context.attr(py::Remove)(ais, update_flag); });
        repair.step([&] { pop_reverse_entry(s, ais); });
        if (earlier.is_valid())
            repair.step([&] { drop_or_show_again(s, shape_id, earlier, earlier_ais); });
        repair.finish();
        throw;
    }
    return nb::borrow(shape_id);
}

Out<text::id_or_none> display_shape(Scenard &s, Shape shape, Id shape_id, ColorOrNone color,
                                    Flag update, SubColorPairs sub_colors) {
    Mark display(displaying, s);
    return show_shape(s, shape, shape_id, color, update, sub_colors, selection_mode(s));
}

constexpr std::chrono::milliseconds progress_interval{100};

// The fields of one item of display_shapes: at most four are ever read, so
// an endless or huge iterable is refused without being walked.
constexpr Py_ssize_t most_item_fields = 4;

[[noreturn]] void refuse_item(nb::handle item) {
    raise(PyExc_TypeError,
          "an item must be (shape, shape_id), (shape, shape_id, color) or "
          "(shape, shape_id, color, sub_colors), not %R",
          item.ptr());
}

// One item of display_shapes, displayed by display_shape's rules without a
// viewer update.
nb::object display_item(Scenard &s, nb::handle item, nb::handle mode) {
    nb::object fields[most_item_fields];
    Py_ssize_t n = read_fields(item, fields, 2, most_item_fields, refuse_item);
    return show_shape(s, fields[0], fields[1], n >= 3 ? nb::handle(fields[2]) : Py_None,
                      Py_False, n == 4 ? nb::handle(fields[3]) : Py_None, mode);
}

// Each item is one display_shape, with its own record when it fails; the
// batch's own failures (items that cannot be walked, a progress callback that
// raises) end the walk under this operation's template. The viewer is
// updated once, whichever way the walk ends, so the screen shows what the
// registry holds.
Out<text::ids_shown> display_shapes(Scenard &s, Items items, Flag update, Progress progress) {
    Mark display(displaying, s); // the batch's look, read once, is every item's
    nb::list shown;
    bool update_viewer = false;
    nb::object total, iterator, mode;
    bool ready = guard(displaying_shapes, [&] {
        mode = selection_mode(s);
        update_viewer = truth(update);
        if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
            raise(PyExc_TypeError, "progress must be callable or None, not %R", progress.ptr());
        Py_ssize_t length = length_of(items); // None for an iterable without one
        total = length >= 0 ? nb::object(nb::int_(length)) : nb::none();
        iterator = nb::iter(items);
    });
    if (!ready)
        return shown;

    using clock = std::chrono::steady_clock;
    clock::time_point reported = clock::now();
    Py_ssize_t done = 0;
    auto walk = [&] {
        while (nb::object item = nb::steal(PyIter_Next(iterator.ptr()))) {
            guard(displaying_shape, [&] { shown.append(display_item(s, item, mode)); });
            ++done;
            // A long walk over a list runs no Python code of the host's, where
            // Ctrl+C would otherwise be noticed: it is looked for here.
            if (PyErr_CheckSignals() < 0)
                throw nb::python_error();
            if (progress.is_none() || clock::now() - reported < progress_interval)
                continue;
            nb::object answer = progress(done, total);
            reported = clock::now(); // a slow callback is not called again at once
            if (answer.is(Py_False))
                return; // the caller stopped it: what is shown stays
        }
        if (PyErr_Occurred())
            throw nb::python_error();
    };
    auto update_once = [&] {
        if (update_viewer)
            guard(displaying_shapes, [&] { s.context.attr(py::UpdateCurrentViewer)(); });
    };
    try {
        guard(displaying_shapes, walk);
    } catch (nb::python_error &) {
        // Ctrl+C or an exit request: the shapes displayed so far reach the
        // screen before it goes on. The error is held by the C++ exception,
        // so the update runs with no Python error pending.
        update_once();
        throw;
    }
    update_once();
    return shown;
}

void erase_shape(Scenard &s, Id shape_id, Flag update) {
    nb::handle update_flag = py_bool(truth(update));
    RegistryChange change(s);
    nb::object info = find_entry(s.shapes, shape_id, Unhashable::raises);
    if (!info.is_valid())
        return;
    nb::object ais = own_presentation(s, info);
    call_method(s.context, py::Remove, ais, update_flag);
    drop_or_show_again(s, shape_id, info, ais);
}

// The view cube belongs to the view, not to the scene: it comes back at once.
void erase_all(Scenard &s) {
    RegistryChange change(s);
    nb::object cube = find_view_cube(s);
    s.context.attr("RemoveAll")(!cube.is_valid());
    s.shapes.clear();
    s.ais_to_id.clear();
    if (cube.is_valid())
        s.context.attr(py::Display)(cube, true);
}

void update_shape(Scenard &s, Presentation ais_shape, Flag update) {
    nb::bool_ update_flag(update);
    s.context.attr(py::Redisplay)(ais_shape, update_flag);
}

// A copy: the caller may change it without touching the registry.
Out<text::records> get_all_shapes(Scenard &s) { return s.shapes.attr("copy")(); }

Out<text::record_or_none> get_shape_info(Scenard &s, Id shape_id) {
    nb::object info = find_entry(s.shapes, shape_id, Unhashable::raises);
    return info.is_valid() ? info : nb::none();
}

Out<text::integer> get_shape_count(Scenard &s) { return nb::int_(s.shapes.size()); }

} // namespace

nb::object own_presentation(Scenard &s, nb::handle info) {
    ShapeInfo &record = as_record(info);
    nb::object ais = record.ais_shape, shape_id = record.shape_id; // held: we call out
    nb::object owner = find_entry(s.ais_to_id, ais);
    if (!owner.is_valid() || !(owner.is(shape_id) || owner.equal(shape_id)))
        raise(PyExc_LookupError, "the record of %R holds %R, a presentation the service never "
              "displayed for it", shape_id.ptr(), ais.ptr());
    return ais;
}

std::vector<Registered> registered(Scenard &s) {
    std::vector<Registered> found;
    found.reserve(s.shapes.size());
    for (nb::handle info : s.shapes.values())
        found.push_back({nb::borrow(info), own_presentation(s, info)});
    return found;
}

// A look set in the middle of a registry change would miss the shape being
// added: it was built with the look in force before, and is not yet in the
// registry that the new look walks. One set while a display runs would miss
// the display's later shapes (see `displaying`).
void refuse_look_change(const Scenard &s) {
    refuse_during_registry_change(s);
    if (is_marked(displaying, s))
        raise(PyExc_RuntimeError,
              "a display in progress gives its shapes the look it began with: change the look "
              "once it has returned");
}

void bind_registry(ScenardClass &cls) {
    using namespace nb::literals;
    def(cls, "display_shape", guarded<display_shape>(displaying_shape), "shape"_a, "shape_id"_a,
        "color"_a = nb::none(), "update"_a = true, "sub_colors"_a = nb::none(),
        "Display an OCP shape in the viewer.\n\nArgs:\n    shape: OCP TopoDS_Shape object\n"
        "    shape_id: Specific ID for the shape\n"
        "    color: Tuple of RGB values (0-1) or None for default\n"
        "    update: Whether to update the display\n"
        "    sub_colors: (sub_shape, color) pairs: faces, solids or any sub-shapes of\n"
        "        shape, as TopExp finds them in it, each drawn in its own colour (a\n"
        "        finer sub-shape's colour wins over a coarser one's); color stays the\n"
        "        colour of the rest. A pair that is wrong refuses the whole display\n\nReturns:\n"
        "    str: Shape ID or None if error");
    def(cls, "display_shapes", reporting<display_shapes>(displaying_shapes), "items"_a,
        "update"_a = true, "progress"_a = nb::none(),
        "Display many shapes with one viewer update: the way to show an assembly.\n\n"
        "Each item is displayed as display_shape displays it, and an item that fails\n"
        "is logged as display_shape logs it; the others are displayed all the same.\n\nArgs:\n"
        "    items: Iterable of (shape, shape_id), (shape, shape_id, color) or\n"
        "        (shape, shape_id, color, sub_colors) tuples\n"
        "    update: Whether to update the display once, at the end\n"
        "    progress: Called as progress(done, total) at most every 100 ms, total being\n"
        "        None when items has no length; returning False stops the display,\n"
        "        and the shapes displayed so far stay\n\nReturns:\n"
        "    list[str]: IDs of the shapes displayed, in order");
    def(cls, "erase_all", guarded<erase_all>("Error erasing all shapes: %s"),
        "Remove all shapes from the display.");
    def(cls, "erase_shape", guarded<erase_shape>("Error erasing shape: %s"), "shape_id"_a,
        "update"_a = true,
        "Remove a specific shape from the display.\n\nArgs:\n"
        "    shape_id: ID of the shape to remove\n    update: Whether to update display");
    def(cls, "update_shape", guarded<update_shape>("Error updating shape: %s"), "ais_shape"_a,
        "update"_a = true,
        "Update a displayed shape.\n\nArgs:\n    ais_shape: AIS_Shape to update\n"
        "    update: Whether to update the display");
    def(cls, "get_all_shapes", &get_all_shapes,
        "Get all registered shapes.\n\nReturns:\n"
        "    Dictionary mapping shape IDs to ShapeInfo objects");
    def(cls, "get_shape_info", &get_shape_info, "shape_id"_a,
        "Get information about a specific shape.\n\nArgs:\n    shape_id: ID of the shape\n\n"
        "Returns:\n    ShapeInfo object or None if not found");
    def(cls, "get_shape_count", &get_shape_count,
        "Get the number of shapes currently managed.\n\nReturns:\n    Number of shapes");
}

} // namespace morvik
