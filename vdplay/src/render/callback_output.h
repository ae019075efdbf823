// The display callback: called with every frame shown, and a newly installed
// callback first with the frame on display, which is kept for that, so that
// a snapshot works while paused or stepping.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "VdPlay.h"
#include "frame.h"

namespace vdplay {

class CallbackOutput {
 public:
  explicit CallbackOutput(int port) : port_(port) {}

  // Installs callback (null: none). Unless called on the port's own thread,
  // waits until a call that began before the change has returned; a call
  // that begins after it already uses the new callback.
  void set(VdDisplayCallback callback, bool onPortThread);

  // A frame is about to be shown: the generation to pass to show().
  std::uint64_t generation() const;
  // Calls the callback with frame, outside any lock; keeps the frame as the
  // one on display unless dropKept() came since generation().
  void show(const Frame& frame, std::uint64_t generation);

  // A newly installed callback waits for the frame on display.
  bool handOverDue() const;
  void handOver();

  // The frame on display is gone (reset, close).
  void dropKept();

 private:
  void call(VdDisplayCallback callback, const Frame& frame);
  void finishCall(std::unique_lock<std::mutex>& lk);

  const int port_;
  mutable std::mutex m_;
  std::condition_variable idle_;
  VdDisplayCallback callback_ = nullptr;
  bool running_ = false;     // a call is in progress
  std::uint64_t calls_ = 0;  // calls begun
  Frame kept_;
  bool keptWanted_ = false;  // a newly installed callback has not had kept_ yet
  std::uint64_t drops_ = 0;
};

// Set when the process exits: no callback is called any more.
void markExiting();
bool exiting();

}  // namespace vdplay
