#include "platform/exit_hook.h"

namespace vdplay {

// At process exit Windows ends all other threads before it tells the DLLs,
// so nothing here may wait for them (a thread ended while holding a port's
// lock would never release it). The port threads are simply ended with the
// process.
void installExitHook(void (*)()) {}

}  // namespace vdplay
