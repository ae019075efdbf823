// The audio units of a port's stream, as the source stage finds them (audio
// packets, or the audio elementary streams of a program or transport
// stream), waiting for the sound stage. Units nobody takes are dropped
// oldest first, so a port without sound keeps only a few seconds of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace vdplay {

enum class AudioCodec : std::uint8_t {
  G711ALaw,   // 8 kHz mono, one byte a sample
  G711MuLaw,  // 8 kHz mono, one byte a sample
  Aac,        // ADTS frames
  MpegAudio,  // MPEG-1/2 layer I-III frames
};

struct AudioUnit {
  AudioCodec codec = AudioCodec::G711ALaw;
  std::uint32_t stampMs = 0;  // presentation time, on the pictures' time line
  bool stamped = false;       // false: follows the previous unit
  std::vector<std::uint8_t> bytes;
};

class AudioQueue {
 public:
  static constexpr std::size_t kMaxUnits = 512;

  // False when out of memory (the unit is lost).
  bool push(AudioUnit&& unit);
  bool pop(AudioUnit& out);
  void clear();
  std::size_t size() const;
  // Counts the units pushed: a reader that found none waits until it changes.
  std::uint64_t pushes() const;

 private:
  mutable std::mutex m_;
  std::deque<AudioUnit> units_;
  std::uint64_t pushes_ = 0;
};

}  // namespace vdplay
