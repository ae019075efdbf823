#include "render/window_output.h"

namespace vdplay {

void WindowOutput::use(void* wnd) {
  std::lock_guard<std::mutex> lk(m_);
  if (painter_ && wnd == window_) return;  // keep the last frame for repainting
  painter_ = createPainter(wnd);
  window_ = wnd;
}

void WindowOutput::present(const Frame& frame, const DisplaySettings& settings) {
  std::lock_guard<std::mutex> lk(m_);
  if (painter_) painter_->present(frame, settings);
}

void WindowOutput::repaint(const DisplaySettings& settings) {
  std::lock_guard<std::mutex> lk(m_);
  if (painter_) painter_->repaint(settings);
}

void WindowOutput::close() {
  std::lock_guard<std::mutex> lk(m_);
  painter_.reset();
  window_ = nullptr;
}

}  // namespace vdplay
