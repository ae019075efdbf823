#include <cstdlib>

#include "platform/exit_hook.h"

namespace vdplay {

// exit() runs atexit handlers in reverse order of registration, so a handler
// registered when the first port thread starts runs before the static
// objects the host made earlier are destroyed: the threads stop before their
// callbacks could touch them.
void installExitHook(void (*stopAll)()) { std::atexit(stopAll); }

}  // namespace vdplay
