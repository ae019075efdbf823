#include "playback/live_delay.h"

#include <algorithm>

namespace vdplay {

LiveDelay::Clock::duration LiveDelay::unitCame(Clock::time_point cameAt, Clock::time_point dueAt,
                                               Clock::duration interval) {
  const Clock::duration lead = dueAt - cameAt;
  smallestLead_ = units_ == 0 ? lead : std::min(smallestLead_, lead);
  largestLead_ = units_ == 0 ? lead : std::max(largestLead_, lead);
  ++units_;
  const int windowUnits = interval > Clock::duration::zero()
                              ? static_cast<int>(Clock::duration(kWindow) / interval)
                              : kMinUnits;
  if (units_ < std::max(kMinUnits, windowUnits)) return Clock::duration::zero();
  units_ = 0;
  if (largestLead_ - smallestLead_ > kLiveSpread) return Clock::duration::zero();
  const Clock::duration spare = smallestLead_ - Clock::duration(kMargin);
  if (spare <= Clock::duration::zero()) return Clock::duration::zero();
  return std::min(spare, interval / 2);
}

}  // namespace vdplay
