// Play_GetPicture and the display callback: the first frame the decoder
// shows after the callback is installed is written to the host's path.
#include <chrono>

#include "log/DecoderErrors.h"
#include "player/PlayerInstance.h"
#include "player/SinglePlayer.h"

namespace sp {
namespace {

constexpr std::chrono::milliseconds kCaptureWait{50};

// Counts a Play_GetPicture in progress for the player's destructor, from
// before its boundary to after it; the decrement is the last thing the
// capture does with the player, so a release waits for its records too.
class CaptureInProgress {
 public:
  CaptureInProgress(std::mutex& mutex, std::condition_variable& done, int32_t& active)
      : mutex_(mutex), done_(done), active_(active) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++active_;
  }
  ~CaptureInProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    --active_;
    done_.notify_all();
  }

 private:
  std::mutex& mutex_;
  std::condition_variable& done_;
  int32_t& active_;
};

}  // namespace

void VDPLAY_CALL CaptureDisplayCallback(VdLong port, char* frame, VdLong size, VdLong width,
                                        VdLong height, VdLong /*stamp*/, VdLong type,
                                        VdLong /*reserved*/) {
  // Nothing may reach the decoder's display thread: a frame that cannot be
  // handled (out of memory for its record, say) is dropped.
  try {
    // The pointer lock is held only to find the player and count this call
    // in; the player then stays alive until the call counts itself out, and
    // the conversion runs without the lock, so neither the factory nor the
    // captures of other ports wait for it.
    SinglePlayer* player = nullptr;
    {
      std::lock_guard<std::mutex> lock(PlayerPointerMutex());
      player = CurrentPlayerLocked();
      if (player == nullptr) return;
      player->EnterCaptureWork();
    }
    try {
      player->HandleDisplayedFrame(port, frame, size, width, height, type);
    } catch (...) {
    }
    player->LeaveCaptureWork();
  } catch (...) {
  }
}

void SinglePlayer::EnterCaptureWork() {
  std::lock_guard<std::mutex> lock(captureMutex);
  ++activeCaptures;
}

void SinglePlayer::LeaveCaptureWork() noexcept {
  try {
    std::lock_guard<std::mutex> lock(captureMutex);
    --activeCaptures;
    captureDone.notify_all();
  } catch (...) {
  }
}

void SinglePlayer::HandleDisplayedFrame(int32_t decoderPort, char* frame, int32_t size,
                                        int32_t width, int32_t height, int32_t type) {
  // The frame claims its port's pending capture: a second frame before the
  // capture ends finds no path, so each capture converts one frame.
  std::string path;
  uint64_t serial = 0;
  if (decoderPort >= 0 && decoderPort < DECODER_PORT_COUNT) {
    std::lock_guard<std::mutex> lock(captureMutex);
    PendingCapture& pending = pendingCaptures[decoderPort];
    path.swap(pending.path);
    serial = pending.serial;
  }
  if (path.empty()) {
    SP_OWN_ERROR(0, texts::kTextPathNotSet);
    return;
  }
  int32_t result = SP_OK;
  if (!VdPLay_ConvertToBmpFile(frame, size, width, height, type, path.data())) {
    // The port number the decoder passed is a decoder port.
    result = DecoderFailure(decoderPort, "VdPLay_ConvertToBmpFile()");
  }
  std::lock_guard<std::mutex> lock(captureMutex);
  PendingCapture& pending = pendingCaptures[decoderPort];
  pending.handledSerial = serial;
  pending.result = result;
  captureDone.notify_all();
}

int32_t SinglePlayer::GetPicture(int32_t port, const char* path) {
  if (!IsHostPort(port)) return SP_BAD_ARGUMENT();
  int32_t decoderPort = 0;
  int32_t result = SP_OK;
  if (!FindDecoderPort(port, "Play_CloseStream()", decoderPort, result)) return result;
  if (path == nullptr || path[0] == '\0') return SP_BAD_ARGUMENT();

  PendingCapture& pending = pendingCaptures[decoderPort];
  uint64_t serial = 0;
  {
    std::lock_guard<std::mutex> lock(captureMutex);
    pending.path = path;
    serial = ++captureSerial;
    pending.serial = serial;
  }

  if (!VdPlay_SetDisplayCallBack(decoderPort, &CaptureDisplayCallback)) {
    result = DecoderFailure(decoderPort, "VdPlay_SetDisplayCallBack()");
    std::lock_guard<std::mutex> lock(captureMutex);
    if (pending.serial == serial) pending.path.clear();  // no callback, so nothing is pending
    return result;
  }
  {
    std::unique_lock<std::mutex> lock(captureMutex);
    captureDone.wait_for(lock, kCaptureWait, [&] { return pending.handledSerial >= serial; });
  }
  // Removing the callback waits for a running call of it, so after this no
  // frame of this capture can still arrive, and a conversion that outlasted
  // the wait has ended.
  const bool removed = VdPlay_SetDisplayCallBack(decoderPort, nullptr) != 0;
  const int32_t removeCode = removed ? 0 : static_cast<int32_t>(VdPlay_GetLastError(decoderPort));

  bool timedOut = false;
  {
    std::lock_guard<std::mutex> lock(captureMutex);
    if (pending.handledSerial == serial) {
      result = pending.result;
    } else {
      // No frame of ours came (or a newer capture of the port took it):
      // leave no stale path behind.
      timedOut = true;
      if (pending.serial == serial) pending.path.clear();
    }
  }
  if (timedOut) {
    SP_OWN_ERROR(0, texts::kTextCaptureTimeout);
    result = kUnknownDecoderErrorResult;
  }
  if (!removed) return ReportDecoderError(removeCode, "VdPlay_SetDisplayCallBack()");
  return result;
}

int32_t SP_STDCALL SinglePlayer::Play_GetPicture(int32_t port, const char* path) {
  try {
    CaptureInProgress inProgress(captureMutex, captureDone, activeCaptures);
    return AtBoundary(
        texts::kTraceGetPicture, [&] { return GetPicture(port, path); }, port, path);
  } catch (...) {
    // The count could not be taken (the lock failed): nothing was done.
    return kUnknownDecoderErrorResult;
  }
}

}  // namespace sp
