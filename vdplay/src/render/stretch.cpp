#include "render/stretch.h"

#include <cstring>

namespace vdplay {

void nearestIndices(int srcCount, int dstCount, std::vector<int>& index) {
  index.resize(dstCount > 0 ? dstCount : 0);
  for (int i = 0; i < dstCount; ++i) {
    // Centre of destination pixel i, (i + 0.5) / dstCount, in source pixels.
    const long long at = (2LL * i + 1) * srcCount / (2LL * dstCount);
    index[i] = static_cast<int>(at < srcCount ? at : srcCount - 1);
  }
}

void NearestStretch::apply(const std::uint32_t* src, int srcWidth, int srcHeight,
                           std::uint32_t* dst, int dstWidth, int dstHeight,
                           std::size_t dstStride) {
  if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
  if (srcWidth != srcWidth_ || dstWidth != dstWidth_) nearestIndices(srcWidth, dstWidth, columns_);
  if (srcHeight != srcHeight_ || dstHeight != dstHeight_)
    nearestIndices(srcHeight, dstHeight, rows_);
  srcWidth_ = srcWidth;
  srcHeight_ = srcHeight;
  dstWidth_ = dstWidth;
  dstHeight_ = dstHeight;

  for (int y = 0; y < dstHeight; ++y) {
    std::uint32_t* out = dst + static_cast<std::size_t>(y) * dstStride;
    if (y > 0 && rows_[y] == rows_[y - 1]) {
      // Magnified: the row above came from the same source row.
      std::memcpy(out, out - dstStride, static_cast<std::size_t>(dstWidth) * sizeof *out);
      continue;
    }
    const std::uint32_t* in = src + static_cast<std::size_t>(rows_[y]) * srcWidth;
    for (int x = 0; x < dstWidth; ++x) out[x] = in[columns_[x]];
  }
}

}  // namespace vdplay
