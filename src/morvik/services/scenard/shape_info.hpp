// ShapeInfo: the registry's record of one displayed shape.
#pragma once

#include "hostcall.hpp"

namespace morvik {

// A plain record, shared: the registry and every caller that asked for it hold
// the same object, so a change made by one is seen by all.
struct ShapeInfo {
    nb::object shape_id, ais_shape, color, visible;
};

// The ShapeInfo behind a registry value; raises TypeError for anything else,
// and for a record whose fields are not all set. The reference lives as long
// as `value` does; copy a field into an nb::object before calling out.
ShapeInfo &as_record(nb::handle value);

nb::object make_record(nb::handle shape_id, nb::handle ais_shape, nb::handle color,
                       nb::handle visible);

void bind_shape_info(nb::module_ &m);

} // namespace morvik
