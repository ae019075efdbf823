// A decoded picture as the port shows it and hands it to the callback.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdplay {

// I420 (Y, then U, then V, no row padding), bytes = width * height * 3 / 2.
// The pointer stays valid until the decoder that made it is called again.
struct Picture {
  const std::uint8_t* data = nullptr;
  std::size_t bytes = 0;
  int width = 0;
  int height = 0;
  std::uint32_t stampMs = 0;
};

}  // namespace vdplay
