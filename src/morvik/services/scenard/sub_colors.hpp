// Sub-shape colours: the (sub_shape, color) pairs display_shape takes, read and drawn.
#pragma once

#include "hostcall.hpp"

#include <vector>

namespace morvik {

struct SubColor {
    nb::object sub_shape; // a TopoDS_Shape found within the shape displayed
    nb::object color;     // its Quantity_Color, by the one colour rule
    nb::object rgb;       // the same colour as a tuple of floats: sub-shapes of one share aspects
};

using SubColors = std::vector<SubColor>;

// Reads `sub_colors` (None or an iterable of pairs) once, checking every pair
// against `shape`; raises for the first pair that is no pair, names no
// sub-shape of `shape` or holds no colour. Empty when there are no pairs.
SubColors read_sub_colors(nb::handle shape, nb::handle sub_colors);

// Gives each sub-shape of `colors` its colour on `ais`, an AIS_ColoredShape;
// sub-shapes of one colour share one set of aspects where the binding allows.
void apply_sub_colors(nb::handle ais, const SubColors &colors);

} // namespace morvik
