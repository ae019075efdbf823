// What the decoder did: frames shown and damaged packets, read through the
// stand-in decoder's optional statistics function VdPlayX_GetStats, and the
// decoder's newest error code (VdPlay_GetLastError). The functions are looked
// up by name at run time, so the demo works as well with a decoder library
// that lacks them; the values are then unknown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "os.h"

namespace spdemo {

struct DecoderCounts {
  std::uint64_t framesShown = 0;
  std::uint64_t packetsDamaged = 0;
  std::uint32_t lastError = 0;  // 0: none
};

class FrameCounter {
 public:
  FrameCounter();
  bool available() const { return getStats_ != nullptr; }
  // The counts summed over every decoder port with an open stream (the
  // player does not say which decoder port a host port uses; the demo opens
  // one), or nothing without the statistics function.
  std::optional<DecoderCounts> read() const;

 private:
  os::AnyFunction getStats_ = nullptr;
  os::AnyFunction getLastError_ = nullptr;
};

// "n/a" for an unknown count, the number otherwise.
std::string countText(const std::optional<std::uint64_t>& count);

// "decoder error 4 (a payload did not decode)" for a code of the stand-in.
std::string decoderErrorText(std::uint32_t code);

}  // namespace spdemo
