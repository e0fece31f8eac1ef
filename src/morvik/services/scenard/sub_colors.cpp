// Sub-shape colours on one presentation.
#include "sub_colors.hpp"

#include "colors.hpp"
#include "fields.hpp"
#include "names.hpp"

namespace morvik {

namespace {

[[noreturn]] void refuse_pair(nb::handle pair) {
    raise(PyExc_TypeError, "a sub-shape colour must be (sub_shape, color), not %R", pair.ptr());
}

bool is_shape(nb::handle value) {
    int answer = PyObject_IsInstance(value.ptr(), TopoDS_Shape.ptr());
    if (answer < 0)
        throw nb::python_error();
    return answer == 1;
}

// Every sub-shape of `shape`, as TopExp finds them (its own self included),
// in one map built once: each pair is then checked in constant time.
nb::object sub_shapes_of(nb::handle shape) {
    if (!is_shape(shape))
        raise(PyExc_TypeError, "cannot colour the sub-shapes of %R, which is no TopoDS_Shape",
              shape.ptr());
    if (truth(call_method(shape, "IsNull"_id)))
        raise(PyExc_ValueError, "cannot display a null shape");
    nb::object found = IndexedMapOfShape();
    TopExp.attr("MapShapes_s"_id)(shape, found);
    return found;
}

// The length of `sub_colors`, or -1 when it has none.
Py_ssize_t length_of(nb::handle sub_colors) {
    Py_ssize_t length = PyObject_Size(sub_colors.ptr());
    if (length < 0) {
        if (!PyErr_ExceptionMatches(PyExc_Exception))
            throw nb::python_error();
        PyErr_Clear();
    }
    return length;
}

// The next value of `iterator`, or an empty object when it is exhausted.
nb::object next_of(nb::handle iterator) {
    nb::object value = nb::steal(PyIter_Next(iterator.ptr()));
    if (!value.is_valid() && PyErr_Occurred())
        throw nb::python_error();
    return value;
}

[[noreturn]] void refuse_count(Py_ssize_t most) {
    raise(PyExc_ValueError, "sub_colors holds more pairs than the shape has sub-shapes (%zd)",
          most);
}

} // namespace

SubColors read_sub_colors(nb::handle shape, nb::handle sub_colors) {
    SubColors read;
    if (sub_colors.is_none())
        return read;
    Py_ssize_t length = length_of(sub_colors);
    if (length == 0)
        return read;
    nb::object iterator = nb::steal(PyObject_GetIter(sub_colors.ptr()));
    if (!iterator.is_valid()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw nb::python_error();
        PyErr_Clear();
        raise(PyExc_TypeError, "sub_colors must be an iterable of (sub_shape, color) pairs, not %R",
              sub_colors.ptr());
    }
    nb::object pair = next_of(iterator);
    if (!pair.is_valid())
        return read;
    // Each pair names a sub-shape, given once or more: more pairs than there
    // are sub-shapes, which an endless iterable would hold, are refused
    // before they are walked.
    nb::object within = sub_shapes_of(shape);
    Py_ssize_t most = nb::cast<Py_ssize_t>(call_method(within, "Extent"_id));
    if (length > most)
        refuse_count(most);
    for (; pair.is_valid(); pair = next_of(iterator)) {
        if ((Py_ssize_t) read.size() == most)
            refuse_count(most);
        nb::object fields[2];
        read_fields(pair, fields, 2, 2, refuse_pair);
        if (!is_shape(fields[0])) {
            nb::object name = nb::steal(PyType_GetName(Py_TYPE(fields[0].ptr())));
            if (!name.is_valid())
                throw nb::python_error();
            raise(PyExc_TypeError, "a sub-shape must be a TopoDS_Shape, not %U", name.ptr());
        }
        if (!truth(call_method(within, "Contains"_id, fields[0])))
            raise(PyExc_ValueError, "%R is no sub-shape of the shape displayed", fields[0].ptr());
        read.push_back({fields[0], to_occt_color(fields[1]).occt});
    }
    return read;
}

nb::object colored_presentation(nb::handle shape) { return AIS_ColoredShape(shape); }

bool is_colored_presentation(nb::handle ais) {
    int answer = PyObject_IsInstance(ais.ptr(), AIS_ColoredShape.ptr());
    if (answer < 0)
        throw nb::python_error();
    return answer == 1;
}

void apply_sub_colors(nb::handle ais, const SubColors &colors) {
    for (const SubColor &entry : colors) {
        call_method(ais, "SetCustomColor"_id, entry.sub_shape, entry.color);
        // A sub-shape's colour also colours its own face-boundary aspect;
        // without one of its own it draws the shape's, so the shaded mode
        // with face boundaries outlines every face alike.
        nb::object drawer = call_method(ais, "CustomAspects"_id, entry.sub_shape);
        call_method(drawer, "SetFaceBoundaryAspect"_id, Py_None);
    }
}

} // namespace morvik
