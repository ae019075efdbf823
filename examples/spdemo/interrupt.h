// Ctrl+C and termination requests end the demo's loops instead of the
// process, so that the stream is closed, the player released and the
// configuration file put back as on any other exit.
#pragma once

namespace spdemo {

// Installs the handlers (SIGINT, SIGTERM).
void catchInterrupts();

// True once an interruption was requested.
bool interrupted();

}  // namespace spdemo
