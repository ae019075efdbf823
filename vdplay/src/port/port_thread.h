// The one thread of a port, and the rule every control call follows: a call
// made on that thread itself (from inside a display callback) cannot join
// it, so it only asks it to stop or to carry on; calls from other threads
// are serialised and join it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace vdplay {

class PortThread {
 public:
  // state guards the flags here and whatever the thread's loop reads; wake
  // is what the loop waits on.
  PortThread(std::mutex& state, std::condition_variable& wake) : state_(state), wake_(wake) {}
  ~PortThread();
  PortThread(const PortThread&) = delete;
  PortThread& operator=(const PortThread&) = delete;

  // Held for the length of a control call. From the port's own thread it
  // holds nothing and self() is true.
  class Control {
   public:
    explicit Control(PortThread& thread);
    bool self() const { return self_; }

   private:
    bool self_;
    std::unique_lock<std::mutex> lock_;
  };

  bool isCurrent() const;  // takes the state lock

  // The following need the state lock held by the caller.
  bool running() const { return active_ && !stopRequested_; }
  bool stopRequested() const { return stopRequested_; }
  void requestStop();
  // From the thread itself, after a stop it asked for: carries on, unless
  // another caller already waits for it to end (then false).
  bool carryOn();
  // Starts loop on a new thread; false when no thread can be made. A thread
  // that was asked to stop must have been joined first (stopAndJoin).
  bool start(std::function<void()> loop);
  // The loop has returned: called by the thread as its last act.
  void finished();

  // Without the state lock, from another thread inside a Control: asks the
  // thread to stop and waits for it to end.
  void stopAndJoin();
  // Process exit: asks the thread to stop and waits until deadline at most;
  // joins it if it has ended by then and nobody else is joining it.
  void stopForExit(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex& state_;
  std::condition_variable& wake_;
  std::condition_variable ended_;
  std::mutex control_;  // serialises starting and joining
  std::thread thread_;
  std::thread::id id_;
  bool active_ = false;  // the loop has not returned yet
  bool stopRequested_ = false;
  bool joining_ = false;  // a caller waits for the thread to end: it must not carry on
};

}  // namespace vdplay
