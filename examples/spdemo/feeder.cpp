#include "feeder.h"

#include <algorithm>
#include <thread>

namespace spdemo {

Feeder::Feeder(ISinglePlayer& player, std::int32_t port, PacketSource& source,
               std::uint32_t poolBytes)
    : player_(player),
      port_(port),
      source_(source),
      poolBytes_(poolBytes),
      framesPerSecond_(source.info().framesPerSecond()) {}

void Feeder::start(Clock::time_point now, double leadSeconds) {
  start_ = now;
  leadSeconds_ = leadSeconds;
}

bool Feeder::havePending() {
  if (!pending_.empty()) return true;
  if (sourceEnded_) return false;
  if (!source_.next(pending_) || pending_.empty()) {
    sourceEnded_ = true;
    pending_.clear();
    return false;
  }
  return true;
}

bool Feeder::finished() { return !havePending(); }

std::uint32_t Feeder::bytesWaiting() {
  std::uint32_t waiting = 0;
  if (player_.Play_GetBufferRemainDataSize(port_, &waiting) != SP_OK) return 0;
  return waiting;
}

bool Feeder::sendPending(std::int32_t& result) {
  result = player_.Play_InputData(port_, pending_.data(),
                                  static_cast<std::uint32_t>(pending_.size()), 0);
  if (result == SP_OK) {
    ++sent_;
  } else {
    // 12 while stepping means "not now": the packet waits for the next
    // single-frame request. Any other failure, or 12 for a buffer that
    // stayed full, means the player dropped it.
    std::int32_t state = 0;
    player_.Play_GetPlayState(port_, &state);
    if (result == SP_ERR_STEPPING && state == PLAYSTATE_ONE_BY_ONE) return false;
    ++dropped_;
    lastFailure_ = result;
  }
  pending_.clear();
  ++index_;
  return true;
}

void Feeder::feedDue(Clock::time_point now) {
  std::int64_t room = -1;  // free buffer bytes, read once per call when needed
  while (havePending()) {
    if (leadSeconds_ >= 0) {
      const double dueAt = static_cast<double>(index_) / framesPerSecond_ - leadSeconds_;
      const double elapsed = std::chrono::duration<double>(now - start_).count();
      if (elapsed < dueAt) return;
    }
    const auto size = static_cast<std::int64_t>(pending_.size());
    // A packet larger than the whole buffer is sent anyway: the player
    // then reports what the decoder says about it.
    if (size <= poolBytes_) {
      if (room < 0) room = static_cast<std::int64_t>(poolBytes_) - bytesWaiting();
      if (size > room) return;
      room -= size;
    }
    std::int32_t result = 0;
    if (!sendPending(result)) return;
  }
}

bool Feeder::drained() { return finished() && bytesWaiting() == 0; }

std::int32_t Feeder::offerNext() {
  if (!havePending()) return -1;
  std::int32_t result = 0;
  sendPending(result);
  return result;
}

Feeder::Clock::duration seconds(double value) {
  return std::chrono::duration_cast<Feeder::Clock::duration>(std::chrono::duration<double>(value));
}

bool feedUntil(Feeder& feeder, os::VideoWindow* window, Feeder::Clock::time_point deadline,
               const std::function<bool()>& stop) {
  constexpr auto kTick = std::chrono::milliseconds(20);
  for (;;) {
    const auto now = Feeder::Clock::now();
    if (now >= deadline) return true;
    feeder.feedDue(now);
    if (window && !window->pump()) return false;
    if (stop && stop()) return true;
    std::this_thread::sleep_until(std::min(now + kTick, deadline));
  }
}

}  // namespace spdemo
