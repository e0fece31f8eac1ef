// Selection by identifier and reverse lookup.
#include "scenard.hpp"

namespace morvik {

void bind_selection(ScenardClass &) {}

} // namespace morvik
