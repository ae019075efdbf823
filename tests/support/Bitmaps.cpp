#include "support/Bitmaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "support/TempDir.h"

namespace sp_test {
namespace {

std::uint8_t Clamp(double v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

}  // namespace

bool ReadBitmap(const std::string& path, Bitmap& out) {
  const std::string bytes = ReadFile(path);
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
  };
  EXPECT_GE(bytes.size(), 54u) << path;
  if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
  const std::uint32_t offset = u32(10);
  const auto width = static_cast<std::int32_t>(u32(18));
  const auto height = static_cast<std::int32_t>(u32(22));
  const int bits = static_cast<std::uint8_t>(bytes[28]) | static_cast<std::uint8_t>(bytes[29]) << 8;
  EXPECT_EQ(bits, 24);
  EXPECT_GT(height, 0) << "bottom-up rows";
  const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  EXPECT_EQ(u32(2), bytes.size());
  if (bits != 24 || width <= 0 || height <= 0 ||
      bytes.size() < offset + rowBytes * static_cast<std::size_t>(height)) {
    return false;
  }
  out.width = width;
  out.height = height;
  out.rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
  for (int y = 0; y < height; ++y) {
    const char* row = bytes.data() + offset + rowBytes * static_cast<std::size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = &out.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      px[0] = static_cast<std::uint8_t>(row[x * 3 + 2]);
      px[1] = static_cast<std::uint8_t>(row[x * 3 + 1]);
      px[2] = static_cast<std::uint8_t>(row[x * 3]);
    }
  }
  return true;
}

void ExpectedRgb(const std::vector<std::uint8_t>& i420, int width, int height, int x, int y,
                 std::uint8_t out[3]) {
  const double Y = i420[static_cast<std::size_t>(y) * width + x] - 16.0;
  const std::size_t c = static_cast<std::size_t>(y / 2) * (width / 2) + x / 2;
  const double U = i420[static_cast<std::size_t>(width) * height + c] - 128.0;
  const double V = i420[static_cast<std::size_t>(width) * height * 5 / 4 + c] - 128.0;
  out[0] = Clamp(1.164 * Y + 1.596 * V);
  out[1] = Clamp(1.164 * Y - 0.392 * U - 0.813 * V);
  out[2] = Clamp(1.164 * Y + 2.017 * U);
}

int Distance(const Bitmap& bmp, const std::vector<std::uint8_t>& i420) {
  int worst = 0;
  for (int y = 0; y < bmp.height; ++y) {
    for (int x = 0; x < bmp.width; ++x) {
      std::uint8_t want[3];
      ExpectedRgb(i420, bmp.width, bmp.height, x, y, want);
      for (int ch = 0; ch < 3; ++ch) worst = std::max(worst, std::abs(bmp.At(x, y)[ch] - want[ch]));
    }
  }
  return worst;
}

}  // namespace sp_test
