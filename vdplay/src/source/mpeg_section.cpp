#include "source/mpeg_section.h"

namespace vdplay {

std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= static_cast<std::uint32_t>(data[i]) << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

bool sectionCrcOk(const std::uint8_t* s, std::size_t n) { return n >= 4 && mpegCrc32(s, n) == 0; }

}  // namespace vdplay
