// The fixed part of an ADTS frame header (AAC in its transport form, as
// payload type 7 carries it): where the raw frame is and what a decoder
// that takes raw AAC needs to know about it. Portable; the Windows AAC
// decoder uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vdplay {

struct AdtsFrame {
  std::uint32_t objectType = 0;   // audio object type: 1 Main, 2 LC, 3 SSR, 4 LTP
  std::uint32_t rateIndex = 0;    // sampling frequency index (0..12)
  std::uint32_t rate = 0;         // samples a second
  std::uint32_t channels = 0;     // channel configuration (1..7; 0: given in the stream)
  std::size_t headerBytes = 0;    // 7, or 9 with a CRC
  std::size_t frameBytes = 0;     // the whole frame, header included
  std::uint32_t rawBlocks = 1;    // raw data blocks in the frame

  // The two-byte AudioSpecificConfig of this configuration.
  std::array<std::uint8_t, 2> audioSpecificConfig() const;
  bool sameConfig(const AdtsFrame& o) const {
    return objectType == o.objectType && rateIndex == o.rateIndex && channels == o.channels;
  }
};

// Reads the header at data; false when it is no ADTS header, names a
// reserved rate, or the frame is longer than size.
bool readAdtsFrame(const std::uint8_t* data, std::size_t size, AdtsFrame& out);

}  // namespace vdplay
