// Frames the decoder has shown, read through the stand-in decoder's optional
// statistics function VdPlayX_GetStats. The function is looked up by name at
// run time, so the demo works as well with a decoder library that lacks it;
// the counts are then unknown.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "os.h"

namespace spdemo {

struct DecoderCounts {
  std::uint64_t framesShown = 0;
  std::uint64_t packetsDamaged = 0;
};

class FrameCounter {
 public:
  FrameCounter();
  bool available() const { return getStats_ != nullptr; }
  // The counts summed over every decoder port with an open stream (the
  // player does not say which decoder port a host port uses), or nothing
  // without the statistics function.
  std::optional<DecoderCounts> read() const;

 private:
  os::AnyFunction getStats_ = nullptr;
};

// "n/a" for an unknown count, the number otherwise.
std::string countText(const std::optional<std::uint64_t>& count);

}  // namespace spdemo
