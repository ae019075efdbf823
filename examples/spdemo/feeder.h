// Feeds the packets of a source into one host port of the player.
//
// Packet n is due at start + n / frame rate - lead: a live host sends as the
// pictures are made and keeps a small lead so that a faster play state has
// something to show; with an unlimited lead every packet is due at once, as
// for a file. A packet is sent only when it fits into the decoder's buffer
// beside the bytes already waiting, so the player never has to wait for space
// (which would cost up to a second and drop the data).
#pragma once

#include <SinglePlayer.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "os.h"
#include "sources.h"

namespace spdemo {

class Feeder {
 public:
  using Clock = std::chrono::steady_clock;

  Feeder(ISinglePlayer& player, std::int32_t port, PacketSource& source, std::uint32_t poolBytes);

  // Starts the schedule at now. A negative lead means an unlimited one.
  void start(Clock::time_point now, double leadSeconds);

  // Sends every packet that is due and fits. Returns quickly: a packet that
  // does not fit yet, or that the player holds back while stepping, waits for
  // a later call.
  void feedDue(Clock::time_point now);

  // Offers the next packet once, due or not, and returns Play_InputData's
  // result; the packet counts as sent only on 0. -1 when there is none left.
  std::int32_t offerNext();

  // True when the source has ended and no packet is waiting to be sent.
  bool finished();
  // True when, in addition, the decoder has no bytes left to show.
  bool drained();

  std::uint64_t sent() const { return sent_; }
  std::uint64_t dropped() const { return dropped_; }
  std::int32_t lastFailure() const { return lastFailure_; }

 private:
  bool havePending();
  // Sends the pending packet; true when it is done with (taken or dropped).
  bool sendPending(std::int32_t& result);
  std::uint32_t bytesWaiting();

  ISinglePlayer& player_;
  std::int32_t port_;
  PacketSource& source_;
  std::uint32_t poolBytes_;
  double framesPerSecond_;
  Clock::time_point start_{};
  double leadSeconds_ = 0;
  std::vector<std::uint8_t> pending_;
  bool sourceEnded_ = false;
  std::uint64_t index_ = 0;  // of the pending packet
  std::uint64_t sent_ = 0;
  std::uint64_t dropped_ = 0;
  std::int32_t lastFailure_ = 0;
};

// Feeds and handles the window's messages (window may be null) until the
// deadline, or until stop() returns true. False when the user closed the window.
bool feedUntil(Feeder& feeder, os::VideoWindow* window, Feeder::Clock::time_point deadline,
               const std::function<bool()>& stop = nullptr);

// Seconds as a duration of the feeder's clock.
Feeder::Clock::duration seconds(double value);

}  // namespace spdemo

