// Steering a port: play, stop, pause, speed, single frames and repainting.
// The playback clock decides what each means for the pictures; the port
// thread's rule for calls from inside a display callback is PortThread's.
#include "port/port.h"

namespace vdplay {

std::uint32_t Port::play(void* wnd) {
  const PortThread::Control control(thread_);
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    // From the port's own callback (perhaps after Stop there) the thread
    // carries on, unless another caller already waits for it to end.
    if (control.self() && !thread_.carryOn()) return VDPLAY_ERR_ORDER;
    if (thread_.running()) {
      clock_.play(Clock::now());
      wake_.notify_all();
    }
  }
  window_.use(wnd);
  if (control.self()) return 0;
  {
    std::lock_guard<std::mutex> lk(m_);
    if (thread_.running()) return 0;
  }
  thread_.stopAndJoin();  // a thread that stopped from its own callback may still be finishing
  return startThread();
}

std::uint32_t Port::startThread() {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_) return VDPLAY_ERR_ORDER;
  waitingForData_ = false;
  clock_.play(Clock::now());
  return thread_.start([this] { threadMain(); }) ? 0 : VDPLAY_ERR_ALLOC;
}

std::uint32_t Port::stop() {
  const PortThread::Control control(thread_);
  {
    std::lock_guard<std::mutex> lk(m_);
    if (!stream_) return VDPLAY_ERR_ORDER;
    thread_.requestStop();
  }
  if (!control.self()) thread_.stopAndJoin();
  return 0;
}

std::uint32_t Port::pause(std::uint32_t pause) {
  if (pause > 1) return VDPLAY_ERR_BAD_ARGUMENT;
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !thread_.running()) return VDPLAY_ERR_ORDER;
  clock_.pause(pause != 0);
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::changeSpeed(int delta) {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !thread_.running()) return VDPLAY_ERR_ORDER;
  if (!clock_.changeSpeed(delta, Clock::now())) return VDPLAY_ERR_ORDER;
  wake_.notify_all();
  return 0;
}

std::uint32_t Port::oneByOne() {
  std::lock_guard<std::mutex> lk(m_);
  if (!stream_ || !thread_.running()) return VDPLAY_ERR_ORDER;
  clock_.step();
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
  window_.repaint(settings);
  return 0;
}

}  // namespace vdplay
