// VdPlay_SetVolume's level applied to the samples: linear in amplitude,
// sample * volume / 65535, so 65535 leaves the sound as it is, 32767 halves
// its amplitude (-6 dB) and 0 is silence.
#pragma once

#include <cstdint>
#include <vector>

namespace vdplay {

inline void applyVolume(std::vector<std::int16_t>& samples, std::uint32_t volume) {
  if (volume >= 0xFFFF) return;
  const auto v = static_cast<std::int32_t>(volume);
  for (std::int16_t& s : samples) s = static_cast<std::int16_t>(s * v / 0xFFFF);
}

}  // namespace vdplay
