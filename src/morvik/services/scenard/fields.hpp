// Reading a small record (an item of display_shapes, a sub-shape colour) from any iterable.
#pragma once

#include "hostcall.hpp"

namespace morvik {

// len(value), or -1 when it has none (or one too large for an index).
Py_ssize_t length_of(nb::handle value);

// Reads `least` to `most` values of `record` into `fields` and returns how
// many; calls `refuse(record)`, which raises, for anything else. A tuple is
// read in place. Any other iterable is read no further than one value past
// `most`, and a length, where there is one, settles the count first, so an
// endless or huge iterable is refused without being walked.
Py_ssize_t read_fields(nb::handle record, nb::object *fields, Py_ssize_t least, Py_ssize_t most,
                       void (*refuse)(nb::handle record));

} // namespace morvik
