// Keeps the delay of a live stream from building up.
//
// The schedule of a stream is anchored at its first picture and starts anew
// at a picture that came late after the source ran dry; by itself it never
// moves earlier. One late picture (a key picture that took long to send, a
// unit whose end showed only when no more bytes came) would so add its
// delay to every picture after it. This watches when each unit came whole
// against when it is due: when over a window of about a second every
// unit came ahead of its time, and they came in the rhythm of their stamps
// (the lead of the earliest within kLiveSpread of the latest's: a live
// source, not a host that pushed a file ahead), the schedule may move
// earlier by the smallest lead, at most half a frame interval at a time (no
// two pictures come together). The delay then follows the arrivals of the
// last seconds, not the worst moment since the start.
#pragma once

#include <chrono>

namespace vdplay {

class LiveDelay {
 public:
  using Clock = std::chrono::steady_clock;

  // A unit came whole at cameAt and is due at dueAt. Returns how much
  // earlier the schedule may move now (zero: not now).
  Clock::duration unitCame(Clock::time_point cameAt, Clock::time_point dueAt,
                           Clock::duration interval);
  // A unit that says nothing of the source's rhythm (the host found the
  // pool full, the decoder holds pictures back, another speed, a new
  // schedule) starts the window again.
  void reset() { units_ = 0; }

  // The window: about this long, and at least kMinUnits units.
  static constexpr std::chrono::milliseconds kWindow{1000};
  static constexpr int kMinUnits = 15;
  static constexpr std::chrono::milliseconds kLiveSpread{500};
  // Kept in hand for the scheduling of the port's thread.
  static constexpr std::chrono::milliseconds kMargin{1};

 private:
  int units_ = 0;
  Clock::duration smallestLead_{};
  Clock::duration largestLead_{};
};

}  // namespace vdplay
