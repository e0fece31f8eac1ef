// Sub-shape colours on one presentation.
#include "sub_colors.hpp"

#include "colors.hpp"
#include "lookup.hpp"
#include "names.hpp"

#include <array>

namespace morvik {

namespace {

[[noreturn]] void refuse_pair(nb::handle pair) {
    raise(PyExc_TypeError, "a sub-shape colour must be (sub_shape, color), not %R", pair.ptr());
}

void require_shape(nb::handle shape) {
    if (!nb::isinstance(shape, TopoDS_Shape))
        raise(PyExc_TypeError, "cannot colour the sub-shapes of %R, which is no TopoDS_Shape",
              shape.ptr());
    if (truth(call_method(shape, py::IsNull)))
        raise(PyExc_ValueError, "cannot display a null shape");
}

nb::object next_of(nb::handle iterator) {
    nb::object value = nb::steal(PyIter_Next(iterator.ptr()));
    if (!value.is_valid() && PyErr_Occurred())
        throw nb::python_error();
    return value;
}

// How often TopExp_Explorer meets sub-shapes of `type` in `shape`: a shared
// sub-shape as often as it is reached (each edge of a box twice, once for
// each of its faces).
Py_ssize_t occurrences(nb::handle shape, nb::handle type) {
    nb::object explorer = TopExp_Explorer(shape, type);
    Py_ssize_t met = 0;
    for (; truth(call_method(explorer, py::More)); ++met)
        call_method(explorer, py::Next);
    return met;
}

// The sub-shapes of one shape, as TopExp finds them in it: one map per type
// of sub-shape the pairs name, each built once, so every pair is checked in
// constant time.
//
// The pairs of one type are counted, so that an endless iterable ends; a
// bound on distinct sub-shapes alone would not end one that names the same
// face for ever. Up to the count of distinct sub-shapes every listing is
// taken at once. Past it (some are named again) the bound is twice as many
// pairs as TopExp_Explorer meets such sub-shapes: a listing taken from a
// traversal (a box's 12 edges are met 24 times), and each one named once
// more besides, to recolour it. That count is taken only then, as its walk
// costs two calls per sub-shape met.
class SubShapes {
public:
    explicit SubShapes(nb::handle shape) : shape_(shape) {}

    // Raises unless `sub_shape`, a shape that is not null, is one of them;
    // and once more pairs name sub-shapes of one type than the bound above.
    void check(nb::handle sub_shape) {
        nb::object type = call_method(sub_shape, py::ShapeType);
        Py_ssize_t index = PyNumber_AsSsize_t(type.ptr(), PyExc_OverflowError);
        if (index == -1 && PyErr_Occurred())
            throw nb::python_error();
        if (index < 0 || index >= (Py_ssize_t) of_type_.size())
            raise(PyExc_ValueError, "%R is of no shape type TopExp maps", sub_shape.ptr());
        OfType &found = of_type_[index];
        if (!found.map.is_valid()) {
            nb::object map = IndexedMapOfShape();
            TopExp.attr(py::MapShapes_s)(shape_, type, map);
            found.most = nb::cast<Py_ssize_t>(call_method(map, py::Extent));
            found.map = std::move(map);
        }
        if (!truth(call_method(found.map, py::Contains, sub_shape)))
            raise(PyExc_ValueError, "%R is no sub-shape of the shape displayed", sub_shape.ptr());
        if (++found.named <= found.most)
            return;
        if (!found.repeats) {
            found.repeats = true;
            found.most = 2 * occurrences(shape_, type);
        }
        if (found.named > found.most)
            raise(PyExc_ValueError,
                  "sub_colors holds more pairs of one type of sub-shape than twice the %zd "
                  "times TopExp_Explorer meets such sub-shapes in the shape",
                  found.most / 2);
    }

private:
    struct OfType {
        nb::object map;
        Py_ssize_t most = 0, named = 0;
        bool repeats = false; // `most` is the bound for repeats
    };
    nb::handle shape_;
    std::array<OfType, 9> of_type_; // by TopAbs_ShapeEnum, compound to shape
};

// The presentation's own map from sub-shape to aspects, or an invalid object where
// the binding cannot hand it over (OCP 7 leaves its type unregistered).
nb::object custom_aspects_map(nb::handle ais) {
    PyObject *map =
        PyObject_CallMethodObjArgs(ais.ptr(), py::ChangeCustomAspectsMap.ptr(), nullptr);
    if (map != nullptr)
        return nb::steal(map);
    clear_error(PyExc_TypeError);
    return nb::object();
}

// Gives sub_shape aspects of its own in `color`, with the shape's face boundaries.
nb::object own_aspects(nb::handle ais, const SubColor &entry) {
    call_method(ais, py::SetCustomColor, entry.sub_shape, entry.color);
    // A sub-shape's colour also colours its own face-boundary aspect;
    // without one of its own it draws the shape's, so the shaded mode
    // with face boundaries outlines every face alike.
    nb::object drawer = call_method(ais, py::CustomAspects, entry.sub_shape);
    call_method(drawer, py::SetFaceBoundaryAspect, Py_None);
    return drawer;
}

} // namespace

SubColors read_sub_colors(nb::handle shape, nb::handle sub_colors) {
    SubColors read;
    if (sub_colors.is_none() || length_of(sub_colors) == 0)
        return read;
    nb::object iterator = nb::steal(PyObject_GetIter(sub_colors.ptr()));
    if (!iterator.is_valid()) {
        clear_error(PyExc_TypeError);
        raise(PyExc_TypeError, "sub_colors must be an iterable of (sub_shape, color) pairs, not %R",
              sub_colors.ptr());
    }
    SubShapes within(shape);
    while (nb::object pair = next_of(iterator)) {
        if (read.empty()) // checked once there is a pair to check against it
            require_shape(shape);
        nb::object fields[2];
        read_fields(pair, fields, 2, 2, refuse_pair);
        nb::handle sub_shape = fields[0];
        if (!nb::isinstance(sub_shape, TopoDS_Shape))
            raise(PyExc_TypeError, "a sub-shape must be a TopoDS_Shape, not %U",
                  type_name_of(sub_shape).ptr());
        // A null shape has no type to ask for (OCCT would crash).
        if (truth(call_method(sub_shape, py::IsNull)))
            raise(PyExc_ValueError, "a null shape is no sub-shape of the shape displayed");
        within.check(sub_shape);
        Rgb rgb = to_occt_color(fields[1]);
        read.push_back({fields[0], rgb.occt, rgb.kept});
    }
    return read;
}

void apply_sub_colors(nb::handle ais, const SubColors &colors) {
    // Sub-shapes of one colour share one set of aspects: OCCT draws them as
    // one group, and a part with thousands of coloured faces in four colours
    // holds four sets rather than thousands (some 15 KB each).
    nb::object map = colors.size() > 1 ? custom_aspects_map(ais) : nb::object();
    if (!map.is_valid()) {
        for (const SubColor &entry : colors)
            own_aspects(ais, entry);
        return;
    }
    nb::dict shared; // colour -> aspects
    for (const SubColor &entry : colors) {
        // A sub-shape named again leaves the aspects it shared to the others.
        if (truth(call_method(map, py::IsBound, entry.sub_shape)))
            call_method(map, py::UnBind, entry.sub_shape);
        nb::object found = find_entry(shared, entry.rgb, Unhashable::raises);
        if (found.is_valid())
            call_method(map, py::Bind, entry.sub_shape, found);
        else
            shared[entry.rgb] = own_aspects(ais, entry);
    }
}

} // namespace morvik
