#include "decode/g711_decoder.h"

#include <array>

namespace vdplay {

// The expansions of G.711's reference code (the sign bit, a 3-bit segment
// and a 4-bit step), scaled to 16 bits.
std::int16_t decodeALaw(std::uint8_t coded) {
  coded ^= 0x55;
  int t = (coded & 0x0F) << 4;
  const int seg = (coded & 0x70) >> 4;
  switch (seg) {
    case 0:
      t += 8;
      break;
    case 1:
      t += 0x108;
      break;
    default:
      t += 0x108;
      t <<= seg - 1;
  }
  return static_cast<std::int16_t>((coded & 0x80) ? t : -t);
}

std::int16_t decodeMuLaw(std::uint8_t coded) {
  coded = static_cast<std::uint8_t>(~coded);
  int t = ((coded & 0x0F) << 3) + 0x84;
  t <<= (coded & 0x70) >> 4;
  return static_cast<std::int16_t>((coded & 0x80) ? 0x84 - t : t - 0x84);
}

namespace {

template <std::int16_t (*Expand)(std::uint8_t)>
const std::int16_t* table() {
  static const std::array<std::int16_t, 256> values = [] {
    std::array<std::int16_t, 256> v{};
    for (int i = 0; i < 256; ++i) v[static_cast<std::size_t>(i)] = Expand(static_cast<std::uint8_t>(i));
    return v;
  }();
  return values.data();
}

}  // namespace

G711Decoder::G711Decoder(bool aLaw) : table_(aLaw ? table<decodeALaw>() : table<decodeMuLaw>()) {}

bool G711Decoder::decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) {
  out.rate = 8000;
  out.channels = 1;
  out.samples.resize(size);
  for (std::size_t i = 0; i < size; ++i) out.samples[i] = table_[data[i]];
  return size > 0;
}

}  // namespace vdplay
