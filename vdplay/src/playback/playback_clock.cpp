#include "playback/playback_clock.h"

namespace vdplay {

void PlaybackClock::play(TimePoint now) {
  if (pacer_.speed() != 0) pacer_.setSpeed(0, now);
  paused_ = stepping_ = false;
  steps_ = 0;
  restart_ = true;
}

void PlaybackClock::leavePauseOrSteps() {
  if (paused_ || stepping_) restart_ = true;
  paused_ = stepping_ = false;
  steps_ = 0;
}

void PlaybackClock::pause(bool paused) {
  if (paused) {
    paused_ = true;
  } else {
    leavePauseOrSteps();
  }
}

bool PlaybackClock::changeSpeed(int delta, TimePoint now) {
  const int step = pacer_.speed() + delta;
  if (step > kMaxSpeedStep || step < -kMaxSpeedStep) return false;
  pacer_.setSpeed(step, now);
  leavePauseOrSteps();
  return true;
}

void PlaybackClock::step() {
  if (!stepping_) steps_ = 0;
  stepping_ = true;
  paused_ = false;
  ++steps_;
}

PlaybackClock::Decision PlaybackClock::next(TimePoint now) {
  if (paused_) return {Action::Hold, now};
  if (stepping_) return {steps_ > 0 ? Action::Show : Action::Hold, now};
  if (restart_) {
    pacer_.restart(now);
    restart_ = false;
  } else if (starved_ && now > pacer_.due()) {
    pacer_.restart(now);  // the buffer ran dry: the schedule starts again from when data came
  }
  starved_ = false;
  if (now < pacer_.due()) return {Action::Wait, pacer_.due()};
  // Faster than normal, a picture more than an interval late is dropped so
  // that decoding catches up instead of falling behind.
  const bool late = now - pacer_.due() > std::chrono::duration<double>(pacer_.intervalSeconds());
  return {pacer_.speed() > 0 && late ? Action::Drop : Action::Show, now};
}

void PlaybackClock::shown(TimePoint now) {
  if (!stepping_) {
    pacer_.shown(now);
  } else if (steps_ > 0) {
    --steps_;
  }
}

}  // namespace vdplay
