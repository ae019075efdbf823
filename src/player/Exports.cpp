// The library's two exported functions and the one player of the process.
#include "player/PlayerInstance.h"
#include "player/SinglePlayer.h"

#include <new>

namespace sp {
namespace {
SinglePlayer* player = nullptr;
}  // namespace

std::mutex& PlayerPointerMutex() {
  static std::mutex mutex;
  return mutex;
}

SinglePlayer* CurrentPlayerLocked() { return player; }

}  // namespace sp

extern "C" SP_API ISinglePlayer* SP_CDECL CreateSinglePlayerDll(void) {
  // Nothing may leave through the export: out of memory while building the
  // player (or a lock that cannot be taken) gives null, and the pointer
  // stays null so the next call tries again.
  try {
    std::lock_guard<std::mutex> lock(sp::PlayerPointerMutex());
    if (sp::player == nullptr) sp::player = new sp::SinglePlayer();
    return sp::player;
  } catch (...) {
    return nullptr;
  }
}

extern "C" SP_API void SP_STDCALL ReleaseSinglePlayerDll(ISinglePlayer* released) {
  try {
    sp::SinglePlayer* doomed = nullptr;
    {
      std::lock_guard<std::mutex> lock(sp::PlayerPointerMutex());
      if (sp::player == nullptr || released != sp::player) return;
      doomed = sp::player;
      sp::player = nullptr;
    }
    // Destroyed outside the lock: the destructor waits for a capture in
    // progress, whose display callback needs the lock to see the pointer.
    delete doomed;
  } catch (...) {
    // The lock could not be taken: the player stays as it was.
  }
}
