#include "frame_counter.h"

#include <VdPlay.h>

namespace spdemo {
namespace {

using GetStatsFunction = VdBool(VDPLAY_CALL*)(VdLong port, VdPlayStats* out);

}  // namespace

FrameCounter::FrameCounter() {
  getStats_ = os::findDecoderFunction("VdPlayX_GetStats");
}

std::optional<DecoderCounts> FrameCounter::read() const {
  if (!getStats_) return std::nullopt;
  const auto getStats = reinterpret_cast<GetStatsFunction>(getStats_);
  DecoderCounts counts;
  for (VdLong port = 0; port < VDPLAY_MAX_PORTS; ++port) {
    VdPlayStats stats{};
    if (!getStats(port, &stats) || !stats.streamOpen) continue;
    counts.framesShown += stats.framesDisplayed;
    counts.packetsDamaged += stats.packetsDamaged;
  }
  return counts;
}

std::string countText(const std::optional<std::uint64_t>& count) {
  return count ? std::to_string(*count) : std::string("n/a");
}

}  // namespace spdemo
