// When the picture waiting to be shown is shown: normal play at the
// pictures' time stamps (or the stream's rate), pause, single frames and the
// speed steps. Plain code over a time
// the caller passes in, so it is tested without threads or sleeps.
#pragma once

#include <chrono>
#include <cstdint>

#include "VdPlay.h"
#include "playback/live_delay.h"
#include "playback/pacer.h"

namespace vdplay {

class PlaybackClock {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  static constexpr int kMaxSpeedStep = VDPLAY_MAX_SPEED_STEP;

  // Base rate in frames per second = num / den (both non-zero).
  void setRate(std::uint32_t num, std::uint32_t den) { pacer_.setRate(num, den); }

  // Normal speed, neither paused nor stepping; the next picture at once.
  void play(TimePoint now);
  // Pauses, or resumes from a pause or from single frames at the same speed.
  void pause(bool paused);
  // One step faster (+1) or slower (-1); false beyond the last step.
  // Leaves a pause or single frames.
  bool changeSpeed(int delta, TimePoint now);
  // Single frames: one more picture.
  void step();
  // The source ran dry: once data comes again, a picture already late
  // starts the schedule anew instead of rushing.
  void dataRanOut() { starved_ = true; }

  enum class Action {
    Show,   // show the waiting picture now
    Drop,   // too late at a fast speed: skip it so decoding catches up
    Wait,   // wait until `until`
    Hold,   // paused, or stepping without a request: wait for a control call
  };
  struct Decision {
    Action action;
    TimePoint until;
  };
  // The port's decoder took the unit stamped stampMs, which came whole at
  // cameAt. rhythmic: the host did not find the pool full since the unit
  // before, and the decoder shows each picture as soon as it is decoded (no
  // reordering). Over a live stream whose units all come ahead of their
  // time, the schedule moves earlier (see LiveDelay).
  void unitTaken(TimePoint cameAt, std::uint32_t stampMs, bool rhythmic);

  // What to do about the next picture before it is decoded: the port
  // decodes it only once it is due as far as can be told (one step after the
  // last), so that no decoded picture waits long in memory for its time.
  Decision next(TimePoint now);
  // The same for a decoded picture with its time stamp.
  Decision next(TimePoint now, std::uint32_t stampMs);
  // When a picture with this stamp would be due, without changing anything.
  TimePoint dueTime(TimePoint now, std::uint32_t stampMs) const;
  // The picture was shown (or dropped) at now; while stepping it uses up
  // one step.
  void shown(TimePoint now);
  void shown(TimePoint now, std::uint32_t stampMs);

  // While the port's sound plays (normal speed, neither paused nor
  // stepping), the sound stage reports that the sample stamped stampMs is
  // heard at heardAt: the pictures are shown against that from now on.
  // False when nothing moved (another speed, pause, steps, no stamped
  // picture shown since a restart, or a time line too far away).
  bool followAudio(TimePoint heardAt, std::uint32_t stampMs);
  // The stamp of the picture shown last, when it had one.
  bool lastShownStamp(std::uint32_t& stampMs) const { return pacer_.lastStamp(stampMs); }

  // One frame interval at the current speed.
  Clock::duration interval() const {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(pacer_.intervalSeconds()));
  }
  int speed() const { return pacer_.speed(); }
  bool paused() const { return paused_; }
  bool stepping() const { return stepping_; }

 private:
  void leavePauseOrSteps();
  Decision decide(TimePoint now, bool stamped, std::uint32_t stampMs);

  Pacer pacer_;
  LiveDelay liveDelay_;
  bool paused_ = false;
  bool stepping_ = false;
  std::uint32_t steps_ = 0;     // single frames asked for and not shown yet
  bool restart_ = true;         // the next picture at once, the schedule from then
  bool starved_ = false;
};

}  // namespace vdplay
