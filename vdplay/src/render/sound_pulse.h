// The PulseAudio output (natively; PipeWire's server takes it too).
#pragma once

#include "render/sound_output.h"

struct pa_simple;  // from <pulse/simple.h>

namespace vdplay {

// Whether the client library could be loaded.
bool pulseAvailable();

class PulseOutput final : public SoundOutput {
 public:
  static constexpr std::uint32_t kBufferMs = 100;
  static constexpr std::uint32_t kStartMs = 40;

  PulseOutput() = default;
  ~PulseOutput() override;
  PulseOutput(const PulseOutput&) = delete;
  PulseOutput& operator=(const PulseOutput&) = delete;

  bool open(std::uint32_t rate, std::uint32_t channels) override;
  void close() override;
  bool isOpen() const override { return stream_ != nullptr; }
  bool write(const std::int16_t* samples, std::size_t frames) override;
  void discard() override;
  std::int64_t queuedUs() override;
  const char* name() const override { return "pulse"; }

 private:
  pa_simple* stream_ = nullptr;
  std::size_t frameBytes_ = 2;
};

}  // namespace vdplay
