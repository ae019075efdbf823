// Feeds the packets of a source into one host port of the player.
//
// Each packet has a due time on the stream's own clock (from its source);
// it is sent once the feeder's clock, which runs at the play rate, comes
// within the lead of it: a live host sends as the pictures are made and keeps
// a small lead so that a faster play state has something to show, a file
// player reads ahead by about a second. With an unlimited lead every packet is
// due at once. A packet is sent only when it fits into the decoder's buffer
// beside the bytes already waiting, so the player never has to wait for space
// (which would cost up to a second and drop the data). The bytes waiting are
// asked for at most once per frame interval; between two questions the
// feeder counts what it sent itself.
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

  // Starts the schedule at now at rate 1. A negative lead means an unlimited one.
  void start(Clock::time_point now, double leadSeconds);

  // How fast the stream's clock runs from now on: 1 at normal speed, 2 or
  // 0.5 for a speed step up or down, 0 to stop it (pause, single frames).
  void setRate(double rate, Clock::time_point now);

  // Sends every packet that is due and fits. Returns quickly: a packet that
  // does not fit yet, or that the player holds back while stepping, waits for
  // a later call.
  void feedDue(Clock::time_point now);

  // When feedDue has something to do next: the pending packet's due time, or
  // a frame interval on when the packet waits for room or for a stepping
  // permit; Clock::time_point::max() when nothing is scheduled.
  Clock::time_point nextWake() const;

  // Offers the next packet once, due or not, and returns Play_InputData's
  // result; the packet counts as sent only on 0. -1 when there is none left.
  std::int32_t offerNext();

  // True when the source has ended and no packet is waiting to be sent.
  bool finished();
  // The same as far as it is known without reading from the source.
  bool exhausted() const { return sourceEnded_ && pending_.empty(); }
  // True when, in addition, the decoder has no bytes left to show.
  bool drained(Clock::time_point now);

  // Bytes in the decoder's buffer: asked for when the last answer is a frame
  // interval old, else that answer plus what was sent since.
  std::uint32_t bytesWaiting(Clock::time_point now);

  std::uint64_t sent() const { return sent_; }
  std::uint64_t dropped() const { return dropped_; }
  std::int32_t lastFailure() const { return lastFailure_; }

 private:
  bool havePending();
  // Sends the pending packet; true when it is done with (taken or dropped).
  bool sendPending(std::int32_t& result);
  double streamSecondsAt(Clock::time_point now) const;
  bool isDue(Clock::time_point now) const;

  ISinglePlayer& player_;
  std::int32_t port_;
  PacketSource& source_;
  std::uint32_t poolBytes_;
  Clock::duration pollInterval_;

  // The stream's clock: streamAtAnchor_ seconds at anchor_, running at rate_.
  Clock::time_point anchor_{};
  double streamAtAnchor_ = 0;
  double rate_ = 1;
  double leadSeconds_ = 0;

  std::vector<std::uint8_t> pending_;
  double pendingDue_ = 0;
  bool sourceEnded_ = false;
  bool blocked_ = false;  // the due packet waits for room or a stepping permit
  Clock::time_point retryAt_{};

  bool polled_ = false;
  Clock::time_point lastPoll_{};
  std::uint32_t waitingAtPoll_ = 0;
  std::uint64_t sentSincePoll_ = 0;

  std::uint64_t sent_ = 0;
  std::uint64_t dropped_ = 0;
  std::int32_t lastFailure_ = 0;
};

// Feeds and handles the window's messages (window may be null) until the
// deadline, or until stop() returns true, sleeping between packets. False
// when the user closed the window or the demo was interrupted.
bool feedUntil(Feeder& feeder, os::VideoWindow* window, Feeder::Clock::time_point deadline,
               const std::function<bool()>& stop = nullptr);

// Seconds as a duration of the feeder's clock.
Feeder::Clock::duration seconds(double value);

}  // namespace spdemo
