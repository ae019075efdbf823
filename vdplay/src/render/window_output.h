// The port's window: the painter for the window Play or SetDisplayRegion
// named, the frames shown there and repainting. Painting happens on the
// port's thread, repainting on the caller's; one lock keeps them apart.
#pragma once

#include <memory>
#include <mutex>

#include "frame.h"
#include "render/painter.h"

namespace vdplay {

class WindowOutput {
 public:
  // Paints into wnd from now on; the same window keeps its last frame for
  // repainting. A null or unusable window paints nothing.
  void use(void* wnd);
  // Shows frame in the window, if there is one (only then are its pixels made).
  void present(const Frame& frame, const DisplaySettings& settings);
  void repaint(const DisplaySettings& settings);
  // No window any more (the stream was closed).
  void close();

 private:
  std::mutex m_;
  std::unique_ptr<Painter> painter_;
  void* window_ = nullptr;
};

}  // namespace vdplay
