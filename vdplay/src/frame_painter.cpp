// The frame keeping and conversion that every window painter shares.
#include <cstring>

#include "painter.h"

namespace vdplay {

void FramePainter::present(const std::uint8_t* i420, int width, int height,
                           const DisplaySettings& settings) {
  const std::size_t bytes = static_cast<std::size_t>(width) * height * 3 / 2;
  frame_.resize(bytes);  // allocates only when the picture size changes
  std::memcpy(frame_.data(), i420, bytes);
  width_ = width;
  height_ = height;
  draw(settings);
}

void FramePainter::repaint(const DisplaySettings& settings) {
  if (!frame_.empty()) draw(settings);
}

PixelRect FramePainter::renderShownPart(const DisplaySettings& settings) {
  PixelRect src{0, 0, width_, height_};
  const PixelRect& r = settings.region;
  if (settings.regionEnabled && r.left >= 0 && r.top >= 0 && r.right <= width_ &&
      r.bottom <= height_ && r.width() > 0 && r.height() > 0)
    src = r;
  pixels_.resize(static_cast<std::size_t>(src.width()) * src.height());
  renderXrgb(frame_.data(), width_, height_, src, settings.color, pixels_.data());
  return src;
}

}  // namespace vdplay
