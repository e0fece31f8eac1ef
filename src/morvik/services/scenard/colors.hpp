// RGB triples and OCCT colours.
#pragma once

#include "pycall.hpp"

#include <array>

namespace morvik {

// `r, g, b = rgb`, with Python's own errors for anything that does not unpack
// into exactly three values.
std::array<nb::object, 3> unpack_rgb(nb::handle rgb);

// Quantity_Color(r, g, b, Quantity_TOC_RGB) from an RGB triple; values are
// passed on unchanged; OCCT rejects components outside 0..1, and NaN is
// refused here.
nb::object to_occt_color(nb::handle rgb);

} // namespace morvik
