// Numbers, triples of them and OCCT colours: the one rule every argument that takes numbers follows.
#pragma once

#include "hostcall.hpp"

#include <array>

namespace morvik {

// `a, b, c = triple`, with Python's own errors for anything that does not
// unpack into exactly three values.
std::array<nb::object, 3> unpack_three(nb::handle triple);

// The number rule: a real number is whatever Python reads as a float (floats,
// ints and bools, numpy's scalars, Fraction and anything else with __float__
// or __index__), read once; anything else raises TypeError "`what` must be a
// number, not <its repr>". Every argument that takes numbers (colours, the
// section plane, transparency, zoom, a saved view's camera) reads them here,
// so all take and refuse the same values; what NaN, infinities or a range
// mean is each argument's own.
double to_number(nb::handle value, const char *what);

// Three numbers by that rule from a sequence of exactly three (numpy arrays
// included; text, bytes and iterators are no triples, since a first look
// would use an iterator up), each read once: a colour, a point, a direction.
// `what` names the triple in messages.
std::array<double, 3> to_three_numbers(nb::handle triple, const char *what);

// A colour OCCT has accepted, and the service's own copy of it.
struct Rgb {
    nb::object occt; // Quantity_Color(r, g, b, Quantity_TOC_RGB)
    nb::object kept; // (r, g, b) as a tuple of floats, nothing of the caller's
};

// The colour rule: three numbers as to_three_numbers reads them, none of them
// NaN, each in OCCT's 0..1 (OCCT itself refuses the rest). Every operation that
// takes a colour goes through here, so all accept and refuse the same values
// with the same messages.
Rgb to_occt_color(nb::handle rgb);

// An empty sequence by the same rule (length zero), which display_shape takes
// as no colour at all, as it takes None.
bool is_empty_color(nb::handle rgb);

} // namespace morvik
