// A decoded picture as the port shows it and hands it to the callback.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdplay {

// I420 (Y, then U, then V, no row padding), bytes = width * height * 3 / 2.
// data may be null until PictureDecoder::pixels() made it: a decoder may put
// off the conversion until something needs the pixels.
struct Picture {
  const std::uint8_t* data = nullptr;
  std::size_t bytes = 0;
  int width = 0;
  int height = 0;
  std::uint32_t stampMs = 0;
  int slot = -1;  // the decoder's own reference to the picture
};

}  // namespace vdplay
