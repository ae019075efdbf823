// G.711 A-law and mu-law (ITU-T G.711), 8 kHz mono, one byte a sample:
// decoded by a table of the 256 values, the same on every platform.
#pragma once

#include <cstdint>

#include "decode/audio_decoder.h"

namespace vdplay {

// The linear 16-bit value of one coded byte.
std::int16_t decodeALaw(std::uint8_t coded);
std::int16_t decodeMuLaw(std::uint8_t coded);

class G711Decoder final : public AudioDecoder {
 public:
  explicit G711Decoder(bool aLaw);
  bool decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) override;

 private:
  const std::int16_t* table_;
};

}  // namespace vdplay
