#include "render/color.h"

#include <cmath>

namespace vdplay {

ColorAdjuster::ColorAdjuster(const ColorSettings& s) {
  for (int y = 0; y < 256; ++y) {
    const int scaled = (y - 128) * s.contrast;
    // Round half away from zero so that the neutral setting is exact.
    const int adjusted = 128 + (scaled >= 0 ? (scaled + 32) / 64 : -((-scaled + 32) / 64)) +
                         (s.brightness - 64) * 2;
    luma_[y] = clampByte(adjusted);
  }
  const double pi = 3.14159265358979323846;
  const double angle = (s.hue - 64) * pi / 64.0;
  const double gain = s.saturation / 64.0 * 4096.0;
  const double c = std::cos(angle) * gain, sn = std::sin(angle) * gain;
  cu_u_ = static_cast<int>(std::lround(c));
  cu_v_ = static_cast<int>(std::lround(-sn));
  cv_u_ = static_cast<int>(std::lround(sn));
  cv_v_ = static_cast<int>(std::lround(c));
}

void renderXrgb(const std::uint8_t* i420, int width, int height, const PixelRect& src,
                const ColorSettings& settings, std::uint32_t* out) {
  const std::uint8_t* yPlane = i420;
  const std::uint8_t* uPlane = yPlane + static_cast<std::size_t>(width) * height;
  const std::uint8_t* vPlane = uPlane + static_cast<std::size_t>(width / 2) * (height / 2);
  const bool neutral = settings.neutral();
  const ColorAdjuster adjust(settings);
  for (int row = src.top; row < src.bottom; ++row) {
    const std::uint8_t* y = yPlane + static_cast<std::size_t>(row) * width;
    const std::uint8_t* u = uPlane + static_cast<std::size_t>(row / 2) * (width / 2);
    const std::uint8_t* v = vPlane + static_cast<std::size_t>(row / 2) * (width / 2);
    for (int col = src.left; col < src.right; ++col) {
      std::uint8_t yy = y[col], uu = u[col / 2], vv = v[col / 2];
      if (!neutral) {
        yy = adjust.luma(yy);
        adjust.chroma(uu, vv);
      }
      const Rgb p = yuvToRgb(yy, uu, vv);
      *out++ = static_cast<std::uint32_t>(p.r) << 16 | static_cast<std::uint32_t>(p.g) << 8 | p.b;
    }
  }
}

void convertRowBgr(const std::uint8_t* i420, int width, int height, int row, std::uint8_t* out) {
  const std::uint8_t* y = i420 + static_cast<std::size_t>(row) * width;
  const std::uint8_t* uPlane = i420 + static_cast<std::size_t>(width) * height;
  const std::uint8_t* u = uPlane + static_cast<std::size_t>(row / 2) * (width / 2);
  const std::uint8_t* v =
      uPlane + static_cast<std::size_t>(width / 2) * (height / 2) + (u - uPlane);
  for (int col = 0; col < width; ++col) {
    const Rgb p = yuvToRgb(y[col], u[col / 2], v[col / 2]);
    *out++ = p.b;
    *out++ = p.g;
    *out++ = p.r;
  }
}

}  // namespace vdplay
