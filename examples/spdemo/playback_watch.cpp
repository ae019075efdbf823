#include "playback_watch.h"

namespace spdemo {

void PlaybackWatch::expect(bool framesExpected, Clock::duration limit, Clock::time_point now) {
  framesExpected_ = framesExpected;
  limit_ = limit;
  lastMove_ = now;  // a new speed gets the whole limit for its first frame
}

void PlaybackWatch::observe(Clock::time_point now,
                            const std::optional<std::uint64_t>& framesShown,
                            std::uint32_t bytesWaiting) {
  const bool moved = framesShown ? framesShown != framesShown_ : bytesWaiting != bytesWaiting_;
  if (moved) lastMove_ = now;
  framesShown_ = framesShown;
  bytesWaiting_ = bytesWaiting;
}

bool PlaybackWatch::stalled(Clock::time_point now, std::uint32_t bytesWaiting,
                            bool packetsLeft) const {
  const bool dataWaits = bytesWaiting > 0 || packetsLeft;
  return framesExpected_ && dataWaits && quietFor(now) > limit_;
}

}  // namespace spdemo
