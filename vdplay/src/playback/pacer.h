// When the next frame is due: at its time stamp, or without usable stamps at
// the stream's frame rate, scaled by the speed.
//
// Each due time is the last one's plus the scaled step between the two
// pictures' stamps (or one frame interval), computed in exact time, never
// from when a picture was really shown: being late does not make the
// schedule drift.
//
// A stamp step is used when it is positive and no more than a second or
// twice the step before; anything else (stamps that stand still or go back,
// a camera restart, a recorder's cut) counts as one frame interval, so the
// schedule picks the new stamps up within a frame.
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

  // When the next frame is due, as far as it can be told before its stamp
  // is known: one step after the last.
  Clock::time_point due() const;
  // When the frame with this stamp is due.
  Clock::time_point dueFor(std::uint32_t stampMs) const;

  // The frame that was due has been shown at now. Running far behind (more
  // than a few intervals, at least 100 ms) starts the schedule anew from now
  // instead of rushing through the backlog.
  void shown(Clock::time_point now);
  void shown(Clock::time_point now, std::uint32_t stampMs);

  // The sound stage heard the sample stamped stampMs at heardAt: the
  // pictures' schedule moves so that the frame with that stamp would be due
  // then (when a stamped frame was shown since the restart, and the move is
  // under kMaxFollowMs; a larger one is another time line). True when it moved.
  bool follow(Clock::time_point heardAt, std::uint32_t stampMs);
  static constexpr double kMaxFollowMs = 2000;
  // Every due time from the next frame on comes this much earlier (a live
  // stream whose pictures all came ahead of their time).
  void moveEarlier(Clock::duration by) { anchor_ -= by; }
  // The stamp of the last frame shown, when it had one.
  bool lastStamp(std::uint32_t& stampMs) const {
    stampMs = lastStampMs_;
    return lastStamped_;
  }

  // A frame was shown since the last restart.
  bool shownSinceRestart() const { return shownSinceRestart_; }

  // Seconds between frames at the current speed.
  double intervalSeconds() const { return interval_; }

 private:
  void updateInterval();
  double scaledMs(double milliseconds) const;
  // The step from the last stamp to this one, when it is usable.
  bool usableStep(std::uint32_t stampMs, double& stepMs) const;
  // From the last due time to the next: the scaled stamp step or one interval.
  double stepAfterLastMs(bool stamped, std::uint32_t stampMs) const;
  Clock::time_point at(double msAfterAnchor) const;
  void setShown(double stepMs, Clock::time_point now);

  std::uint32_t num_ = 25;
  std::uint32_t den_ = 1;
  int step_ = 0;
  double interval_ = 0.04;
  Clock::time_point base_{};  // when the first frame after a restart is due
  bool shownSinceRestart_ = false;
  // The last due time, kept as an exact offset from an anchor so that
  // rounding does not add up.
  Clock::time_point anchor_{};
  double lastDueMs_ = 0;
  bool lastStamped_ = false;
  std::uint32_t lastStampMs_ = 0;
  double lastStepMs_ = 0;  // the last usable stamp step; 0: none yet
};

}  // namespace vdplay
