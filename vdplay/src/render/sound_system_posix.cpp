// The native sound outputs: PulseAudio (or PipeWire's server, which speaks
// its protocol), then ALSA.
#include <new>

#include "render/sound_alsa.h"
#include "render/sound_output.h"
#include "render/sound_pulse.h"

namespace vdplay {

std::unique_ptr<SoundOutput> makeSoundOutput(int which) {
  switch (which) {
    case 0:
      if (pulseAvailable()) return std::unique_ptr<SoundOutput>(new (std::nothrow) PulseOutput);
      break;
    case 1:
      if (alsaAvailable()) return std::unique_ptr<SoundOutput>(new (std::nothrow) AlsaOutput);
      break;
    default:
      break;
  }
  return nullptr;
}

}  // namespace vdplay
