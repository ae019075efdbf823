#include "render/color.h"

#include <cmath>
#include <memory>
#include <new>

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

namespace {

// convertPictureBgr works in 16-bit steps so that the compiler can convert
// eight or more pixels per vector instruction. yuvToRgb computes
//   channel = (298 * (Y - 16) + 128 + chroma term) >> 8,
// whose products need more than 16 bits. Taking the multiples of 256 out of
// the coefficients (298 = 256 + 42, 409 = 256 + 153, -208 = -256 + 48,
// 516 = 512 + 4) gives exactly the same value as
//   channel = (Y - 16) + whole + ((42 * (Y - 16) + fraction) >> 8)
// with d = Cb - 128, e = Cr - 128 and
//   blue:  whole = 2d, fraction = 4d + 128
//   green: whole = -e, fraction = 48e - 100d + 128
//   red:   whole = e,  fraction = 153e + 128
// where every term, and the sum that is shifted (-20128..29597), fits in 16 bits.
struct ChannelCoefficients {
  std::int16_t wholeCb, wholeCr, fractionCb, fractionCr;
};
constexpr ChannelCoefficients kBlue{2, 0, 4, 0};
constexpr ChannelCoefficients kGreen{0, -1, -100, 48};
constexpr ChannelCoefficients kRed{0, 1, 0, 153};

inline std::uint8_t saturate(std::int16_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline std::uint8_t channelValue(std::uint8_t y, std::int16_t whole, std::int16_t fraction) {
  const auto luma = static_cast<std::int16_t>(y - 16);
  const auto shifted = static_cast<std::int16_t>(42 * luma + fraction);
  return saturate(static_cast<std::int16_t>(luma + whole + (shifted >> 8)));
}

// One channel of the two picture rows that share a chroma row, into two
// rows of one byte per pixel. Plain loops over arrays, for the vectoriser.
void convertChannelRowPair(const std::uint8_t* y0, const std::uint8_t* y1, const std::uint8_t* u,
                           const std::uint8_t* v, int chromaWidth, ChannelCoefficients k,
                           std::uint8_t* out0, std::uint8_t* out1) {
  for (int i = 0; i < chromaWidth; ++i) {
    const auto d = static_cast<std::int16_t>(u[i] - 128);
    const auto e = static_cast<std::int16_t>(v[i] - 128);
    const auto whole = static_cast<std::int16_t>(k.wholeCb * d + k.wholeCr * e);
    const auto fraction = static_cast<std::int16_t>(k.fractionCb * d + k.fractionCr * e + 128);
    out0[2 * i] = channelValue(y0[2 * i], whole, fraction);
    out0[2 * i + 1] = channelValue(y0[2 * i + 1], whole, fraction);
    out1[2 * i] = channelValue(y1[2 * i], whole, fraction);
    out1[2 * i + 1] = channelValue(y1[2 * i + 1], whole, fraction);
  }
}

void interleaveBgr(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, int width,
                   std::uint8_t* out) {
  for (int x = 0; x < width; ++x) {
    out[3 * x] = b[x];
    out[3 * x + 1] = g[x];
    out[3 * x + 2] = r[x];
  }
}

}  // namespace

bool convertPictureBgr(const std::uint8_t* i420, int width, int height, std::uint8_t* topRow,
                       std::ptrdiff_t rowStep) {
  const std::size_t lumaBytes = static_cast<std::size_t>(width) * height;
  const int chromaWidth = width / 2;
  const std::uint8_t* uPlane = i420 + lumaBytes;
  const std::uint8_t* vPlane = uPlane + lumaBytes / 4;
  // Two rows of each channel, one byte per pixel: blue, green, red of the
  // upper row, then of the lower one.
  std::unique_ptr<std::uint8_t[]> channels(new (std::nothrow) std::uint8_t[6 * std::size_t(width)]);
  if (!channels) return false;
  std::uint8_t* upper[3];
  std::uint8_t* lower[3];
  for (int c = 0; c < 3; ++c) {
    upper[c] = channels.get() + c * std::size_t(width);
    lower[c] = channels.get() + (3 + c) * std::size_t(width);
  }
  const ChannelCoefficients coefficients[3] = {kBlue, kGreen, kRed};
  for (int row = 0; row < height; row += 2) {
    const std::uint8_t* y0 = i420 + static_cast<std::size_t>(row) * width;
    const std::uint8_t* y1 = y0 + width;
    const std::uint8_t* u = uPlane + static_cast<std::size_t>(row / 2) * chromaWidth;
    const std::uint8_t* v = vPlane + static_cast<std::size_t>(row / 2) * chromaWidth;
    for (int c = 0; c < 3; ++c)
      convertChannelRowPair(y0, y1, u, v, chromaWidth, coefficients[c], upper[c], lower[c]);
    std::uint8_t* out0 = topRow + row * rowStep;
    interleaveBgr(upper[0], upper[1], upper[2], width, out0);
    interleaveBgr(lower[0], lower[1], lower[2], width, out0 + rowStep);
  }
  return true;
}

}  // namespace vdplay
