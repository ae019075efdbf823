// Tells when playback has stalled: the port plays at some speed, data waits
// to be shown, and nothing has moved for a while. Movement is a new frame
// shown when the decoder counts its frames, else a change in the bytes
// waiting in its buffer.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace spdemo {

class PlaybackWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // From now on frames are expected (or not, while paused or stepping) and
  // may be apart by up to limit before playback counts as stalled.
  void expect(bool framesExpected, Clock::duration limit, Clock::time_point now);

  // Notes what the decoder shows now; framesShown is empty when unknown.
  void observe(Clock::time_point now, const std::optional<std::uint64_t>& framesShown,
               std::uint32_t bytesWaiting);

  // True when frames are expected, data waits (in the buffer, or packets not
  // yet sent) and nothing moved for longer than the limit.
  bool stalled(Clock::time_point now, std::uint32_t bytesWaiting, bool packetsLeft) const;

  // How long nothing has moved.
  Clock::duration quietFor(Clock::time_point now) const { return now - lastMove_; }

 private:
  bool framesExpected_ = false;
  Clock::duration limit_{};
  Clock::time_point lastMove_{};
  std::optional<std::uint64_t> framesShown_;
  std::uint32_t bytesWaiting_ = 0;
};

}  // namespace spdemo
