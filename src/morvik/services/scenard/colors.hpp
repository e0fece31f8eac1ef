// RGB triples and OCCT colours: the one rule every colour argument follows.
#pragma once

#include "hostcall.hpp"

#include <array>

namespace morvik {

// `a, b, c = triple`, with Python's own errors for anything that does not
// unpack into exactly three values.
std::array<nb::object, 3> unpack_three(nb::handle triple);

// A colour OCCT has accepted, and the service's own copy of it.
struct Rgb {
    nb::object occt; // Quantity_Color(r, g, b, Quantity_TOC_RGB)
    nb::object kept; // (r, g, b) as a tuple of floats, nothing of the caller's
};

// The colour rule: a sequence of exactly three real numbers (numpy arrays
// included; text, bytes and iterators are no colours), read once, none of them
// NaN, each in OCCT's 0..1 (OCCT itself refuses the rest). Every operation that
// takes a colour goes through here, so all accept and refuse the same values
// with the same messages.
Rgb to_occt_color(nb::handle rgb);

// An empty sequence by the same rule (length zero), which display_shape takes
// as no colour at all, as it takes None.
bool is_empty_color(nb::handle rgb);

} // namespace morvik
