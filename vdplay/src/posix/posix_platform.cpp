// Platform side of builds without a display: frames are decoded and handed
// to the display callback, never painted.
#include <cstdlib>

#include "painter.h"

namespace vdplay {

std::unique_ptr<Painter> createPainter(void*) { return nullptr; }

// exit() runs atexit handlers in reverse order of registration, so a handler
// registered when the first display thread starts runs before the static
// objects the host made earlier are destroyed: the threads stop before their
// callbacks could touch them.
void installExitHook(void (*stopAll)()) { std::atexit(stopAll); }

}  // namespace vdplay
