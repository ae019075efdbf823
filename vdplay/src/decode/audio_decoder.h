// The sound stage's decoders: one audio unit (AudioQueue) in, 16-bit PCM
// out. G.711 is decoded by table on every platform (g711_decoder); natively
// AAC and MPEG audio go through libavcodec in the codec module
// (av_audio_decoder); on Windows AAC goes through Media Foundation
// (mf_audio_decoder) and MPEG audio has no decoder and stays silent (see
// createAudioDecoder).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "source/audio_queue.h"

namespace vdplay {

// Decoded sound: interleaved signed 16-bit samples.
struct PcmBlock {
  std::uint32_t rate = 8000;     // samples a second per channel
  std::uint32_t channels = 1;    // 1 or 2 (more are cut to the first two)
  std::vector<std::int16_t> samples;

  std::size_t frames() const { return channels ? samples.size() / channels : 0; }
  // Duration in microseconds.
  std::uint64_t durationUs() const {
    return rate ? static_cast<std::uint64_t>(frames()) * 1000000u / rate : 0;
  }
};

class AudioDecoder {
 public:
  virtual ~AudioDecoder() = default;

  // Decodes one unit (one or more whole frames of the codec) into out,
  // replacing its samples. Returns false when nothing in the unit decoded
  // (damaged): the caller counts it and goes on with the next one. May
  // return true with no samples (a decoder that needs more input first).
  virtual bool decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) = 0;

  // Forgets the state between units (after a reset or a gap).
  virtual void flush() {}
};

// A decoder for codec in out; returns 0, VDPLAY_ERR_ALLOC, or
// VDPLAY_ERR_DECODER_INIT when this build has none for it (Windows: MPEG
// audio, and AAC where the system has no AAC decoder MFT; natively: when the
// codec module or FFmpeg cannot be loaded).
std::uint32_t createAudioDecoder(AudioCodec codec, std::unique_ptr<AudioDecoder>& out);

}  // namespace vdplay
