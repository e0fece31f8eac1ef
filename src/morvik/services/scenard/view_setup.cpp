// Initial view, trihedron and background.
#include "scenard.hpp"

namespace morvik {

void bind_view_setup(ScenardClass &) {}

} // namespace morvik
