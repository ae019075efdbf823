// The sound stage's output: 16-bit PCM to the system's sound server or
// device. Natively PulseAudio's client library (which PipeWire's server also
// accepts) and ALSA as a fallback, both loaded at run time so that the
// library loads and plays pictures on a machine with neither; on Windows
// waveOut (winmm.dll, also loaded at run time).
//
// Nothing here prints, and no call waits for long: open() fails at once when
// there is no server or device, and write() waits only for room in the
// output's own short buffer. A server that goes away makes write() fail; the
// caller then closes the output and tries again later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vdplay {

class SoundOutput {
 public:
  virtual ~SoundOutput() = default;

  // Starts a stream of interleaved signed 16-bit samples at rate with 1 or
  // 2 channels. False when no server or device takes it.
  virtual bool open(std::uint32_t rate, std::uint32_t channels) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;

  // Queues frames (one sample per channel each) to be heard; waits at most
  // until the output's buffer has room. False when the output is gone.
  virtual bool write(const std::int16_t* samples, std::size_t frames) = 0;

  // Drops what is queued and not yet heard: silence at once.
  virtual void discard() = 0;

  // Microseconds until the last frame written so far is heard; negative
  // when unknown.
  virtual std::int64_t queuedUs() = 0;

  // Which output this is, for tests: "pulse", "alsa", "waveout".
  virtual const char* name() const = 0;
};

// The outputs of this platform, in the order they are tried: each that
// could be loaded (its library is there) yields one; none when the platform
// has none. The caller opens them in turn.
std::unique_ptr<SoundOutput> makeSoundOutput(int which);
constexpr int kSoundOutputKinds = 2;

}  // namespace vdplay
