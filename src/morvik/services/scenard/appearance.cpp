// Shape appearance: colour, visibility, transparency and display mode.
#include "scenard.hpp"

namespace morvik {

void bind_appearance(ScenardClass &) {}

} // namespace morvik
