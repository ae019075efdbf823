#include "source/audio_queue.h"

#include <new>
#include <utility>

namespace vdplay {

bool AudioQueue::push(AudioUnit&& unit) {
  std::lock_guard<std::mutex> lk(m_);
  try {
    if (units_.size() >= kMaxUnits) units_.pop_front();
    units_.push_back(std::move(unit));
  } catch (const std::bad_alloc&) {
    return false;
  }
  ++pushes_;
  return true;
}

bool AudioQueue::pop(AudioUnit& out) {
  std::lock_guard<std::mutex> lk(m_);
  if (units_.empty()) return false;
  out = std::move(units_.front());
  units_.pop_front();
  return true;
}

void AudioQueue::clear() {
  std::lock_guard<std::mutex> lk(m_);
  units_.clear();
}

std::size_t AudioQueue::size() const {
  std::lock_guard<std::mutex> lk(m_);
  return units_.size();
}

std::uint64_t AudioQueue::pushes() const {
  std::lock_guard<std::mutex> lk(m_);
  return pushes_;
}

}  // namespace vdplay
