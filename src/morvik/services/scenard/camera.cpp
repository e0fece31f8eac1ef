// Camera and navigation.
#include "scenard.hpp"

namespace morvik {

void bind_camera(ScenardClass &) {}

} // namespace morvik
