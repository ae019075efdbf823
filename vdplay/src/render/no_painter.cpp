// Painting in builds without a display library: frames are decoded and
// handed to the display callback, never painted.
#include "render/painter.h"

namespace vdplay {

std::unique_ptr<Painter> createPainter(void*) { return nullptr; }

}  // namespace vdplay
