// Construction, destruction, the port table and the helpers of the operation
// skeleton.
#include "player/SinglePlayer.h"

#include "log/DecoderErrors.h"

namespace sp {

SinglePlayer::SinglePlayer() {
  portMap.fill(kNoDecoderPort);
  // PortRecord's defaults: every field 0, video parameters 1..4 at 50.
  // Construction reads no file and calls no decoder function.
}

SinglePlayer::~SinglePlayer() {
  // A capture running on another thread still uses the player: wait for it.
  // No decoder function is called; open streams stay as the host left them.
  std::unique_lock<std::mutex> lock(captureMutex);
  captureDone.wait(lock, [this] { return activeCaptures == 0; });
}

bool SinglePlayer::AcquireDecoderPort(int32_t hostPort, int32_t& decoderPort) {
  if (!IsHostPort(hostPort)) return false;
  // A host port keeps the decoder port it has, even when all are handed out.
  if (portMap[hostPort] != kNoDecoderPort) return true;
  for (int32_t candidate = 0; candidate < DECODER_PORT_COUNT; ++candidate) {
    if (IsDecoderPortUsed(candidate)) continue;
    // The hand-out list grows first: when that throws (out of memory),
    // neither table has changed, so no later host port can be given a
    // decoder port that this one drives.
    MarkDecoderPortUsed(candidate);
    portMap[hostPort] = candidate;
    decoderPort = candidate;
    return true;
  }
  return false;
}

bool SinglePlayer::IsDecoderPortUsed(int32_t decoderPort) const {
  for (int32_t used : usedDecoderPorts) {
    if (used == decoderPort) return true;
  }
  return false;
}

void SinglePlayer::MarkDecoderPortUsed(int32_t decoderPort) {
  if (!IsDecoderPortUsed(decoderPort)) usedDecoderPorts.push_back(decoderPort);
}

int32_t SinglePlayer::ReportDecoderError(int32_t code, const char* context) const noexcept {
  try {
    return sp::ReportDecoderError(log, code, context);
  } catch (...) {
    // No memory for the context text: the record is dropped.
    return DecoderErrorResult(code);
  }
}

void SinglePlayer::WriteOwnError(const char* sourcePath, int line, int32_t code,
                                 const char* text) const noexcept {
  try {
    log.WriteError(sourcePath, line, code, text);
  } catch (...) {
    // No memory for the record's strings: the record is dropped.
  }
}

int32_t SinglePlayer::DecoderFailure(int32_t decoderPort, const char* context) const {
  const int32_t code = static_cast<int32_t>(VdPlay_GetLastError(decoderPort));
  return ReportDecoderError(code, context);
}

int32_t SinglePlayer::ReportNoDecoderPort(const char* context) const noexcept {
  return ReportDecoderError(1, context);
}

// The path of a capture still waiting for its frame, on any port; empty
// when none waits.
std::string SinglePlayer::CapturePath() const {
  std::lock_guard<std::mutex> lock(captureMutex);
  for (const PendingCapture& pending : pendingCaptures) {
    if (!pending.path.empty()) return pending.path;
  }
  return std::string();
}

}  // namespace sp
