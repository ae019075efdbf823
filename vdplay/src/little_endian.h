// Little-endian stores for the file formats the stand-in writes (stream
// headers and packets, BMP files).
#pragma once

#include <cstdint>

namespace vdplay::le {

inline void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace vdplay::le
