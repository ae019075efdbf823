#include "playback/pacer.h"

namespace vdplay {

void Pacer::setRate(std::uint32_t num, std::uint32_t den) {
  num_ = num;
  den_ = den;
  updateInterval();
}

void Pacer::updateInterval() {
  double seconds = static_cast<double>(den_) / static_cast<double>(num_);
  for (int i = 0; i < step_; ++i) seconds /= 2;
  for (int i = 0; i > step_; --i) seconds *= 2;
  interval_ = seconds;
}

Pacer::Clock::time_point Pacer::at(std::uint64_t n) const {
  const std::chrono::duration<double> offset(static_cast<double>(n) * interval_);
  return base_ + std::chrono::duration_cast<Clock::duration>(offset);
}

void Pacer::setSpeed(int step, Clock::time_point now) {
  step_ = step;
  updateInterval();
  if (shownSinceRestart_) {
    base_ = lastDue_;
    count_ = 1;
  } else {
    base_ = now;
    count_ = 0;
  }
}

void Pacer::restart(Clock::time_point now) {
  base_ = now;
  count_ = 0;
  shownSinceRestart_ = false;
}

void Pacer::shown(Clock::time_point now) {
  lastDue_ = due();
  shownSinceRestart_ = true;
  ++count_;
  const auto limit = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(interval_ * 4 > 0.1 ? interval_ * 4 : 0.1));
  if (now - due() > limit) {
    base_ = now;
    count_ = 1;
    lastDue_ = now;
  }
}

}  // namespace vdplay
