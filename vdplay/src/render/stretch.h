// Stretching a block of 32-bit pixels over a larger or smaller one by
// picking the nearest source pixel, as a painter does when it fits a picture
// to a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vdplay {

// Source column (or row) for each of dstCount destination columns: the one
// under the destination pixel's centre. Reuses the vector's storage.
void nearestIndices(int srcCount, int dstCount, std::vector<int>& index);

// Remembers the index tables of the last sizes, so that stretching frame
// after frame into the same window allocates nothing.
class NearestStretch {
 public:
  // Fills dstWidth x dstHeight pixels at dst (dstStride pixels from one row
  // to the next) from srcWidth x srcHeight pixels at src (tightly packed).
  void apply(const std::uint32_t* src, int srcWidth, int srcHeight, std::uint32_t* dst,
             int dstWidth, int dstHeight, std::size_t dstStride);

 private:
  int srcWidth_ = 0, srcHeight_ = 0, dstWidth_ = 0, dstHeight_ = 0;
  std::vector<int> columns_, rows_;
};

}  // namespace vdplay
