// Sections of the MPEG-2 tables (program association, program map, and
// the program stream map, which shares their CRC).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vdplay {

// Sections are at most 1024 bytes (4096 for private tables).
constexpr std::size_t kMaxSectionBytes = 4096;

// Length of the whole section that starts at s (header included), or 0 when
// fewer than 3 bytes are there.
inline std::size_t sectionLength(const std::uint8_t* s, std::size_t n) {
  if (n < 3) return 0;
  return 3 + ((static_cast<std::size_t>(s[1]) & 0x0F) << 8 | s[2]);
}

// The CRC-32 (polynomial 0x04C11DB7, not reflected) over n bytes, the last
// four of which are the CRC itself: true when it checks out.
bool sectionCrcOk(const std::uint8_t* s, std::size_t n);

// The CRC of n bytes, as a writer puts it after them.
std::uint32_t mpegCrc32(const std::uint8_t* data, std::size_t n);

}  // namespace vdplay
