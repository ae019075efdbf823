#include "feeder.h"

#include <algorithm>
#include <thread>

#include "interrupt.h"

namespace spdemo {

Feeder::Feeder(ISinglePlayer& player, std::int32_t port, PacketSource& source,
               std::uint32_t poolBytes)
    : player_(player),
      port_(port),
      source_(source),
      poolBytes_(poolBytes),
      pollInterval_(seconds(std::clamp(1 / source.info().framesPerSecond(), 0.001, 1.0))) {}

void Feeder::start(Clock::time_point now, double leadSeconds) {
  anchor_ = now;
  streamAtAnchor_ = 0;
  rate_ = 1;
  leadSeconds_ = leadSeconds;
}

void Feeder::setRate(double rate, Clock::time_point now) {
  streamAtAnchor_ = streamSecondsAt(now);
  anchor_ = now;
  rate_ = std::max(0.0, rate);
}

double Feeder::streamSecondsAt(Clock::time_point now) const {
  return streamAtAnchor_ + rate_ * std::chrono::duration<double>(now - anchor_).count();
}

bool Feeder::isDue(Clock::time_point now) const {
  // A stopped clock still lets the packets within the lead through, as a
  // paused player has read ahead.
  if (leadSeconds_ < 0) return rate_ > 0;
  return streamSecondsAt(now) >= pendingDue_ - leadSeconds_;
}

bool Feeder::havePending() {
  if (!pending_.empty()) return true;
  if (sourceEnded_) return false;
  if (!source_.next(pending_) || pending_.empty()) {
    sourceEnded_ = true;
    pending_.clear();
    return false;
  }
  pendingDue_ = source_.dueSeconds();
  return true;
}

bool Feeder::finished() { return !havePending(); }

std::uint32_t Feeder::bytesWaiting(Clock::time_point now) {
  if (!polled_ || now - lastPoll_ >= pollInterval_) {
    std::uint32_t waiting = 0;
    if (player_.Play_GetBufferRemainDataSize(port_, &waiting) != SP_OK) waiting = 0;
    polled_ = true;
    lastPoll_ = now;
    waitingAtPoll_ = waiting;
    sentSincePoll_ = 0;
  }
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(waitingAtPoll_ + sentSincePoll_, UINT32_MAX));
}

bool Feeder::sendPending(std::int32_t& result) {
  result = player_.Play_InputData(port_, pending_.data(),
                                  static_cast<std::uint32_t>(pending_.size()), 0);
  if (result == SP_OK) {
    ++sent_;
    sentSincePoll_ += pending_.size();
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
  return true;
}

void Feeder::feedDue(Clock::time_point now) {
  blocked_ = false;
  while (havePending() && isDue(now)) {
    const std::uint64_t size = pending_.size();
    // A packet larger than the whole buffer is sent anyway: the player
    // then reports what the decoder says about it.
    if (size <= poolBytes_ && size + bytesWaiting(now) > poolBytes_) {
      blocked_ = true;  // until the next question about the buffer
      retryAt_ = lastPoll_ + pollInterval_;
      return;
    }
    std::int32_t result = 0;
    if (!sendPending(result)) {
      blocked_ = true;  // held back while stepping; tried again a frame later
      retryAt_ = now + pollInterval_;
      return;
    }
  }
}

Feeder::Clock::time_point Feeder::nextWake() const {
  if (pending_.empty() || rate_ <= 0) return Clock::time_point::max();
  if (blocked_) return retryAt_;
  if (leadSeconds_ < 0) return anchor_;
  const double wait = (pendingDue_ - leadSeconds_ - streamAtAnchor_) / rate_;
  return anchor_ + seconds(std::max(0.0, wait));
}

bool Feeder::drained(Clock::time_point now) { return finished() && bytesWaiting(now) == 0; }

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
  // The window's messages want handling every few frames; an end condition
  // and an interruption are looked at a few times a second.
  const auto longestSleep = window ? std::chrono::milliseconds(20) : std::chrono::milliseconds(100);
  for (;;) {
    const auto now = Feeder::Clock::now();
    if (now >= deadline) return true;
    if (interrupted()) return false;
    feeder.feedDue(now);
    if (window && !window->pump()) return false;
    if (stop && stop()) return true;
    std::this_thread::sleep_until(std::min({feeder.nextWake(), now + longestSleep, deadline}));
  }
}

}  // namespace spdemo
