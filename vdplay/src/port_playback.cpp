// Starting, stopping and steering a port's display thread: play, stop,
// pause, speed, single frames, repaint, and the stop at process exit.
#include "port.h"

namespace vdplay {

bool Port::onDisplayThread() {
  std::lock_guard<std::mutex> lk(m_);
  return threadActive_ && threadId_ == std::this_thread::get_id();
}

void Port::requestStopLocked() {
  stopRequested_ = true;
  wake_.notify_all();
}

void Port::joinThread() {
  if (thread_.joinable()) thread_.join();
}

void Port::stopAndJoin() {
  {
    std::lock_guard<std::mutex> lk(m_);
    requestStopLocked();
    joining_ = true;
  }
  joinThread();
  std::lock_guard<std::mutex> lk(m_);
  joining_ = false;
}

void Port::resetPlaybackLocked() {
  if (pacer_.speed() != 0) pacer_.setSpeed(0, Clock::now());
  paused_ = false;
  stepping_ = false;
  stepCredits_ = 0;
  restartPacing_ = true;
  wake_.notify_all();
}

void Port::usePaintWindow(void* wnd) {
  std::lock_guard<std::mutex> paint(paintMutex_);
  if (painter_ && wnd == paintWindow_) return;  // keep the last frame for repainting
  painter_ = createPainter(wnd);
  paintWindow_ = wnd;
}

std::uint32_t Port::play(void* wnd) {
  const bool self = onDisplayThread();
  std::unique_lock<std::mutex> ctl(control_, std::defer_lock);
  if (!self) ctl.lock();
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    if (self) {
      // From the port's own callback (perhaps after Stop there): this thread
      // carries on, unless another caller is already waiting for it to end.
      if (joining_) return VDPLAY_ERR_ORDER;
      stopRequested_ = false;
    }
    if (runningLocked()) resetPlaybackLocked();
  }
  usePaintWindow(wnd);
  if (self) return 0;

  {
    std::lock_guard<std::mutex> lk(m_);
    if (runningLocked()) return 0;
  }
  stopAndJoin();  // a thread that stopped from its own callback may still be finishing
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  stopRequested_ = false;
  waitingForData_ = dataArrived_ = false;
  starved_ = false;
  resetPlaybackLocked();
  threadActive_ = true;
  try {
    thread_ = std::thread(&Port::threadMain, this);
  } catch (...) {
    threadActive_ = false;
    return VDPLAY_ERR_ALLOC;
  }
  threadId_ = thread_.get_id();
  return 0;
}

std::uint32_t Port::stop() {
  const bool self = onDisplayThread();
  std::unique_lock<std::mutex> ctl(control_, std::defer_lock);
  if (!self) ctl.lock();
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    requestStopLocked();
  }
  if (!self) stopAndJoin();
  return 0;
}

std::uint32_t Port::pause(std::uint32_t pause) {
  if (pause > 1) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !runningLocked()) return VDPLAY_ERR_ORDER;
  if (pause) {
    paused_ = true;
  } else {
    if (paused_ || stepping_) restartPacing_ = true;
    paused_ = stepping_ = false;
    stepCredits_ = 0;
  }
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::changeSpeed(int delta) {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !runningLocked()) return VDPLAY_ERR_ORDER;
  const int step = pacer_.speed() + delta;
  if (step > VDPLAY_MAX_SPEED_STEP || step < -VDPLAY_MAX_SPEED_STEP) return VDPLAY_ERR_ORDER;
  pacer_.setSpeed(step, Clock::now());
  if (paused_ || stepping_) restartPacing_ = true;
  paused_ = stepping_ = false;
  stepCredits_ = 0;
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::oneByOne() {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !runningLocked()) return VDPLAY_ERR_ORDER;
  if (!stepping_) stepCredits_ = 0;
  stepping_ = true;
  paused_ = false;
  ++stepCredits_;
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::refresh() {
  DisplaySettings settings;
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    settings = display_;
  }
  std::lock_guard<std::mutex> paint(paintMutex_);
  if (painter_) painter_->repaint(settings);
  return 0;
}

void Port::stopForExit(Clock::time_point deadline) {
  std::unique_lock<std::mutex> lk(m_);
  requestStopLocked();
  if (threadActive_ && threadId_ == std::this_thread::get_id()) return;
  if (!idle_.wait_until(lk, deadline, [&] { return !threadActive_; })) return;
  lk.unlock();
  // The thread has finished; join it unless another caller is starting or
  // joining it right now.
  if (control_.try_lock()) {
    joinThread();
    control_.unlock();
  }
}

}  // namespace vdplay
