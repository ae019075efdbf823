#include "port/port_thread.h"

namespace vdplay {

PortThread::~PortThread() {
  if (thread_.joinable()) thread_.detach();  // only at process exit: ports live forever
}

PortThread::Control::Control(PortThread& thread)
    : self_(thread.isCurrent()), lock_(thread.control_, std::defer_lock) {
  if (!self_) lock_.lock();
}

bool PortThread::isCurrent() const {
  std::lock_guard<std::mutex> lk(state_);
  return active_ && id_ == std::this_thread::get_id();
}

void PortThread::requestStop() {
  stopRequested_ = true;
  wake_.notify_all();
}

bool PortThread::carryOn() {
  if (joining_) return false;
  stopRequested_ = false;
  return true;
}

bool PortThread::start(std::function<void()> loop) {
  stopRequested_ = false;
  active_ = true;
  try {
    thread_ = std::thread([this, loop = std::move(loop)] {
      loop();
      std::lock_guard<std::mutex> lk(state_);
      finished();
    });
  } catch (...) {
    active_ = false;
    return false;
  }
  id_ = thread_.get_id();
  return true;
}

void PortThread::finished() {
  active_ = false;
  ended_.notify_all();
}

void PortThread::stopAndJoin() {
  {
    std::lock_guard<std::mutex> lk(state_);
    requestStop();
    joining_ = true;
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lk(state_);
  joining_ = false;
}

void PortThread::stopForExit(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lk(state_);
  requestStop();
  if (active_ && id_ == std::this_thread::get_id()) return;
  if (!ended_.wait_until(lk, deadline, [&] { return !active_; })) return;
  lk.unlock();
  if (control_.try_lock()) {
    if (thread_.joinable()) thread_.join();
    control_.unlock();
  }
}

}  // namespace vdplay
