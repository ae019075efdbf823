// When the next frame is due, at the stream's frame rate times the speed.
//
// Due times are computed from a base time and a frame count (base + n *
// interval), never by adding up rounded intervals, so the rate does not drift.
#pragma once

#include <chrono>
#include <cstdint>

namespace vdplay {

class Pacer {
 public:
  using Clock = std::chrono::steady_clock;

  // Base rate in frames per second = num / den (both non-zero).
  void setRate(std::uint32_t num, std::uint32_t den);

  // Speed step: each step up doubles the rate, each step down halves it.
  // The next frame becomes due one new interval after the last one shown
  // (or at once when none has been shown since restart()).
  void setSpeed(int step, Clock::time_point now);
  int speed() const { return step_; }

  // The next frame is due at now; later ones follow at the interval.
  void restart(Clock::time_point now);

  Clock::time_point due() const { return at(count_); }

  // The frame that was due has been shown at now. Running far behind (more
  // than a few intervals, at least 100 ms) starts the schedule anew from now
  // instead of rushing through the backlog.
  void shown(Clock::time_point now);

  // Seconds between frames at the current speed.
  double intervalSeconds() const { return interval_; }

 private:
  Clock::time_point at(std::uint64_t n) const;
  void updateInterval();

  std::uint32_t num_ = 25;
  std::uint32_t den_ = 1;
  int step_ = 0;
  double interval_ = 0.04;
  Clock::time_point base_{};
  std::uint64_t count_ = 0;  // frames since base_; the next one is due at base_ + count_ * interval_
  bool shownSinceRestart_ = false;
  Clock::time_point lastDue_{};
};

}  // namespace vdplay
