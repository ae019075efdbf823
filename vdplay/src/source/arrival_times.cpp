#include "source/arrival_times.h"

#include <algorithm>

namespace vdplay {

void ArrivalTimes::record(std::uint64_t end, TimePoint at) {
  if (writes_.size() == kMaxWrites) writes_.pop_front();
  writes_.push_back(Write{end, at});
}

ArrivalTimes::TimePoint ArrivalTimes::timeOf(std::uint64_t end) const {
  const auto it = std::lower_bound(writes_.begin(), writes_.end(), end,
                                   [](const Write& w, std::uint64_t e) { return w.end < e; });
  if (it != writes_.end()) return it->at;
  return writes_.empty() ? TimePoint{} : writes_.back().at;
}

void ArrivalTimes::forget(std::uint64_t front) {
  while (!writes_.empty() && writes_.front().end <= front) writes_.pop_front();
}

}  // namespace vdplay
