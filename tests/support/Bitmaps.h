// Test helpers: reading back the 24-bit BMP files the decoder writes, and
// comparing them with the I420 picture they were made from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sp_test {

// A 24-bit BMP as the decoder writes it, read back top row first.
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
  const std::uint8_t* At(int x, int y) const {
    return &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
  }
};

// Fails the test (and returns false) when the file is no 24-bit bottom-up BMP.
bool ReadBitmap(const std::string& path, Bitmap& out);

// The colour of pixel (x, y) of an I420 picture: BT.601 limited range,
// written out here independently of the decoder.
void ExpectedRgb(const std::vector<std::uint8_t>& i420, int width, int height, int x, int y,
                 std::uint8_t out[3]);

// Largest channel difference between the bitmap and the picture.
int Distance(const Bitmap& bmp, const std::vector<std::uint8_t>& i420);

}  // namespace sp_test
