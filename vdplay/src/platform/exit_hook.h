// What the library does for its port threads when the process exits.
#pragma once

namespace vdplay {

// Arranges for stopAll to run at process exit where that is safe, before the
// host's static objects go away; does nothing where it is not.
void installExitHook(void (*stopAll)());

}  // namespace vdplay
