#include "render/callback_output.h"

#include <atomic>

namespace vdplay {
namespace {

std::atomic<bool> g_exiting{false};

}  // namespace

void markExiting() { g_exiting.store(true); }
bool exiting() { return g_exiting.load(); }

void CallbackOutput::set(VdDisplayCallback callback, bool onPortThread) {
  std::unique_lock<std::mutex> lk(m_);
  callback_ = callback;
  // The port's thread hands the new callback the frame on display; never
  // this call, so a caller holding a lock of its own cannot deadlock on it.
  keptWanted_ = callback != nullptr;
  if (onPortThread) return;
  const std::uint64_t calls = calls_;
  idle_.wait(lk, [&] { return !running_ || calls_ != calls; });
}

std::uint64_t CallbackOutput::generation() const {
  std::lock_guard<std::mutex> lk(m_);
  return drops_;
}

void CallbackOutput::show(const Frame& frame, std::uint64_t generation) {
  std::unique_lock<std::mutex> lk(m_);
  const VdDisplayCallback callback = exiting() ? nullptr : callback_;
  keptWanted_ = false;  // the new callback gets this frame instead
  kept_ = Frame();      // being replaced
  if (callback) {
    running_ = true;
    ++calls_;
    lk.unlock();
    call(callback, frame);
    lk.lock();
  }
  if (drops_ == generation) kept_ = frame;
  finishCall(lk);
}

bool CallbackOutput::handOverDue() const {
  std::lock_guard<std::mutex> lk(m_);
  return keptWanted_ && kept_ && callback_ && !exiting();
}

void CallbackOutput::handOver() {
  std::unique_lock<std::mutex> lk(m_);
  if (!(keptWanted_ && kept_ && callback_) || exiting()) return;
  const VdDisplayCallback callback = callback_;
  const Frame frame = kept_;
  keptWanted_ = false;
  running_ = true;
  ++calls_;
  lk.unlock();
  call(callback, frame);
  lk.lock();
  finishCall(lk);
}

void CallbackOutput::dropKept() {
  std::lock_guard<std::mutex> lk(m_);
  ++drops_;
  kept_ = Frame();
  keptWanted_ = false;
}

void CallbackOutput::finishCall(std::unique_lock<std::mutex>& lk) {
  running_ = false;
  lk.unlock();
  idle_.notify_all();
}

void CallbackOutput::call(VdDisplayCallback callback, const Frame& frame) {
  const std::uint8_t* pixels = frame.pixels();
  if (!pixels) return;
  callback(port_, reinterpret_cast<char*>(const_cast<std::uint8_t*>(pixels)),
           static_cast<VdLong>(frame.bytes()), frame.width, frame.height,
           static_cast<VdLong>(frame.stampMs), VDPLAY_FRAME_I420, 0);
}

}  // namespace vdplay
