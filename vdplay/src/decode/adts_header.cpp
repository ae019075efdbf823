#include "decode/adts_header.h"

namespace vdplay {

namespace {
constexpr std::uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};
}  // namespace

std::array<std::uint8_t, 2> AdtsFrame::audioSpecificConfig() const {
  // object type (5 bits), frequency index (4), channel configuration (4),
  // then three zero bits (frame length 1024, no core coder, no extension).
  return {static_cast<std::uint8_t>((objectType << 3) | (rateIndex >> 1)),
          static_cast<std::uint8_t>(((rateIndex & 1) << 7) | (channels << 3))};
}

bool readAdtsFrame(const std::uint8_t* data, std::size_t size, AdtsFrame& out) {
  if (size < 7 || data[0] != 0xFF || (data[1] & 0xF6) != 0xF0) return false;  // sync, layer 0
  const bool crc = (data[1] & 0x01) == 0;
  AdtsFrame f;
  f.objectType = ((data[2] >> 6) & 0x03) + 1;
  f.rateIndex = (data[2] >> 2) & 0x0F;
  if (f.rateIndex > 12) return false;
  f.rate = kRates[f.rateIndex];
  f.channels = ((data[2] & 0x01) << 2) | (data[3] >> 6);
  f.frameBytes = (static_cast<std::size_t>(data[3] & 0x03) << 11) | (static_cast<std::size_t>(data[4]) << 3) |
                 (data[5] >> 5);
  f.rawBlocks = (data[6] & 0x03) + 1;
  f.headerBytes = crc ? 9 : 7;
  if (f.frameBytes <= f.headerBytes || f.frameBytes > size) return false;
  out = f;
  return true;
}

}  // namespace vdplay
