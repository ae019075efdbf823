#include "frame_counter.h"

#include <VdPlay.h>

namespace spdemo {
namespace {

using GetStatsFunction = VdBool(VDPLAY_CALL*)(VdLong port, VdPlayStats* out);
using GetLastErrorFunction = VdDword(VDPLAY_CALL*)(VdLong port);

const char* decoderErrorMeaning(std::uint32_t code) {
  switch (code) {
    case VDPLAY_ERR_BAD_ARGUMENT: return "bad argument";
    case VDPLAY_ERR_ORDER: return "call out of order";
    case VDPLAY_ERR_DECODE: return "data that did not decode was skipped";
    case VDPLAY_ERR_ALLOC: return "out of memory";
    case VDPLAY_ERR_FILE: return "file could not be written";
    case VDPLAY_ERR_BUFFER_FULL: return "buffer full";
    case VDPLAY_ERR_NO_HEADER: return "header missing";
    case VDPLAY_ERR_VERSION: return "header of another version";
    case 19: return "decoder could not start";
    case VDPLAY_ERR_UNRECOGNISED: return "stream not recognised";
    default: return nullptr;
  }
}

}  // namespace

FrameCounter::FrameCounter() {
  getStats_ = os::findDecoderFunction("VdPlayX_GetStats");
  getLastError_ = os::findDecoderFunction("VdPlay_GetLastError");
}

std::optional<DecoderCounts> FrameCounter::read() const {
  if (!getStats_) return std::nullopt;
  const auto getStats = reinterpret_cast<GetStatsFunction>(getStats_);
  const auto getLastError = reinterpret_cast<GetLastErrorFunction>(getLastError_);
  DecoderCounts counts;
  for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) {
    VdPlayStats stats{};
    if (!getStats(port, &stats) || !stats.streamOpen) continue;
    counts.framesShown += stats.framesDisplayed;
    counts.packetsDamaged += stats.packetsDamaged;
    if (getLastError && counts.lastError == 0) counts.lastError = getLastError(port);
  }
  return counts;
}

std::string countText(const std::optional<std::uint64_t>& count) {
  return count ? std::to_string(*count) : std::string("n/a");
}

std::string decoderErrorText(std::uint32_t code) {
  std::string text = "decoder error " + std::to_string(code);
  if (const char* meaning = decoderErrorMeaning(code)) text += std::string(" (") + meaning + ")";
  return text;
}

}  // namespace spdemo
