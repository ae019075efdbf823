// The frame keeping and conversion that every window painter shares.
#include "render/painter.h"

namespace vdplay {

void FramePainter::present(const Frame& frame, const DisplaySettings& settings) {
  const std::uint8_t* i420 = frame.pixels();
  if (!i420) return;  // cannot be made: the last picture stays
  frame_ = frame;     // shared, not copied
  i420_ = i420;
  draw(settings);
}

void FramePainter::repaint(const DisplaySettings& settings) {
  if (i420_) draw(settings);
}

PixelRect FramePainter::renderShownPart(const DisplaySettings& settings) {
  const int width = frame_.width, height = frame_.height;
  PixelRect src{0, 0, width, height};
  const PixelRect& r = settings.region;
  if (settings.regionEnabled && r.left >= 0 && r.top >= 0 && r.right <= width &&
      r.bottom <= height && r.width() > 0 && r.height() > 0)
    src = r;
  pixels_.resize(static_cast<std::size_t>(src.width()) * src.height());
  renderXrgb(i420_, width, height, src, settings.color, pixels_.data());
  return src;
}

}  // namespace vdplay
