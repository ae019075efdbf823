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

PlaybackClock::Decision PlaybackClock::next(TimePoint now) { return decide(now, false, 0); }

PlaybackClock::Decision PlaybackClock::next(TimePoint now, std::uint32_t stampMs) {
  return decide(now, true, stampMs);
}

PlaybackClock::Decision PlaybackClock::decide(TimePoint now, bool stamped, std::uint32_t stampMs) {
  if (paused_) return {Action::Hold, now};
  if (stepping_) return {steps_ > 0 ? Action::Show : Action::Hold, now};
  const auto dueNow = [&] { return stamped ? pacer_.dueFor(stampMs) : pacer_.due(); };
  if (restart_) {
    pacer_.restart(now);
    liveDelay_.reset();
    restart_ = false;
  } else if (starved_ && now > dueNow()) {
    pacer_.restart(now);  // the buffer ran dry: the schedule starts again from when data came
    liveDelay_.reset();
  }
  starved_ = false;
  const TimePoint due = dueNow();
  if (now < due) return {Action::Wait, due};
  // Faster than normal, a picture more than an interval late is dropped so
  // that decoding catches up instead of falling behind; the first after a
  // (re)start is shown whatever its decoding took.
  const bool late = pacer_.shownSinceRestart() &&
                    now - due > std::chrono::duration<double>(pacer_.intervalSeconds());
  return {pacer_.speed() > 0 && late ? Action::Drop : Action::Show, now};
}

void PlaybackClock::unitTaken(TimePoint cameAt, std::uint32_t stampMs, bool rhythmic) {
  if (!rhythmic || paused_ || stepping_ || restart_ || pacer_.speed() != 0 ||
      !pacer_.shownSinceRestart()) {
    liveDelay_.reset();
    return;
  }
  const Clock::duration earlier =
      liveDelay_.unitCame(cameAt, pacer_.dueFor(stampMs), interval());
  if (earlier > Clock::duration::zero()) pacer_.moveEarlier(earlier);
}

PlaybackClock::TimePoint PlaybackClock::dueTime(TimePoint now, std::uint32_t stampMs) const {
  if (paused_ || stepping_ || restart_) return now;
  const TimePoint due = pacer_.dueFor(stampMs);
  return due > now ? due : now;
}

void PlaybackClock::shown(TimePoint now) {
  if (!stepping_) {
    pacer_.shown(now);
  } else if (steps_ > 0) {
    --steps_;
  }
}

void PlaybackClock::shown(TimePoint now, std::uint32_t stampMs) {
  if (!stepping_) {
    pacer_.shown(now, stampMs);
  } else if (steps_ > 0) {
    --steps_;
  }
}

bool PlaybackClock::followAudio(TimePoint heardAt, std::uint32_t stampMs) {
  if (paused_ || stepping_ || restart_) return false;
  if (!pacer_.follow(heardAt, stampMs)) return false;
  liveDelay_.reset();  // the sound's time line decides, not the arrivals
  return true;
}

}  // namespace vdplay
