// RGB triples and OCCT colours.
#pragma once

#include "hostcall.hpp"

#include <array>

namespace morvik {

// `a, b, c = triple`, with Python's own errors for anything that does not
// unpack into exactly three values.
std::array<nb::object, 3> unpack_three(nb::handle triple);

// Raises unless `rgb` is a sequence of exactly three real numbers (anything
// Python can turn into a float, bool included; text is no colour). A colour that
// is kept for later must pass this first, so a bad one is refused when it is
// given rather than every time it is used.
void require_rgb_triple(nb::handle rgb);

// Quantity_Color(r, g, b, Quantity_TOC_RGB) from an RGB triple; values are
// passed on unchanged; OCCT rejects components outside 0..1, and NaN is
// refused here.
nb::object to_occt_color(nb::handle rgb);

} // namespace morvik
