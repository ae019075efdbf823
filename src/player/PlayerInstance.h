// The process's one player pointer, shared by the exports and the capture
// display callback (which the decoder calls with no context of the player's).
#pragma once

#include <mutex>

namespace sp {

class SinglePlayer;

// Held around every read or change of the player pointer.
std::mutex& PlayerPointerMutex();
// The current player or null; the caller holds PlayerPointerMutex().
SinglePlayer* CurrentPlayerLocked();

}  // namespace sp
