// The ALSA output, natively, for machines without a sound server: the
// "default" device, opened through libasound loaded at run time.
#pragma once

#include "render/sound_output.h"

namespace vdplay {

bool alsaAvailable();

class AlsaOutput final : public SoundOutput {
 public:
  static constexpr std::uint32_t kBufferMs = 100;

  AlsaOutput() = default;
  ~AlsaOutput() override;
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;

  bool open(std::uint32_t rate, std::uint32_t channels) override;
  void close() override;
  bool isOpen() const override { return pcm_ != nullptr; }
  bool write(const std::int16_t* samples, std::size_t frames) override;
  void discard() override;
  std::int64_t queuedUs() override;
  const char* name() const override { return "alsa"; }

 private:
  void* pcm_ = nullptr;  // snd_pcm_t
  std::uint32_t rate_ = 0;
  std::uint32_t channels_ = 1;
};

}  // namespace vdplay
