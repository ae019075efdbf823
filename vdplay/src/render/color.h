// I420 to RGB conversion (BT.601, limited range) with the picture
// adjustments of VdPlay_SetColor.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdplay {

struct Rgb {
  std::uint8_t r, g, b;
};

inline std::uint8_t clampByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Y 16..235, Cb/Cr 16..240 to full-range RGB, clamped; 8-bit fixed point.
inline Rgb yuvToRgb(int y, int u, int v) {
  const int c = 298 * (y - 16) + 128;
  const int d = u - 128, e = v - 128;
  return {clampByte((c + 409 * e) >> 8), clampByte((c - 100 * d - 208 * e) >> 8),
          clampByte((c + 516 * d) >> 8)};
}

// Each 0..128, 64 = unchanged.
struct ColorSettings {
  int brightness = 64;
  int contrast = 64;
  int saturation = 64;
  int hue = 64;

  bool neutral() const {
    return brightness == 64 && contrast == 64 && saturation == 64 && hue == 64;
  }
  static bool valid(int value) { return value >= 0 && value <= 128; }
};

// The adjustments as tables, prepared once per setting:
//   Y'      = 128 + (Y - 128) * contrast / 64 + (brightness - 64) * 2
//   Cb',Cr' = (Cb, Cr) - 128 rotated by (hue - 64) * 180 / 64 degrees and
//             scaled by saturation / 64, + 128
class ColorAdjuster {
 public:
  explicit ColorAdjuster(const ColorSettings& settings);

  std::uint8_t luma(std::uint8_t y) const { return luma_[y]; }
  void chroma(std::uint8_t& u, std::uint8_t& v) const {
    const int du = u - 128, dv = v - 128;
    u = clampByte(128 + ((cu_u_ * du + cu_v_ * dv + 2048) >> 12));
    v = clampByte(128 + ((cv_u_ * du + cv_v_ * dv + 2048) >> 12));
  }

 private:
  std::uint8_t luma_[256];
  int cu_u_, cu_v_, cv_u_, cv_v_;  // rotation times saturation, 12-bit fixed point
};

struct PixelRect {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// Renders the part src of a width x height I420 picture as 32-bit pixels
// 0x00RRGGBB (B, G, R, 0 in memory), top row first, src.width() per row.
void renderXrgb(const std::uint8_t* i420, int width, int height, const PixelRect& src,
                const ColorSettings& settings, std::uint32_t* out);

// The whole picture as rows of B, G, R bytes (no adjustments), width * 3
// bytes each, the same values as yuvToRgb. topRow is where the top row goes
// and rowStep the distance from one row to the next below it, negative for
// a bottom-up image; bytes between rows are left as they are. width and
// height must be even. Returns false when it cannot get its working memory.
bool convertPictureBgr(const std::uint8_t* i420, int width, int height, std::uint8_t* topRow,
                       std::ptrdiff_t rowStep);

}  // namespace vdplay
