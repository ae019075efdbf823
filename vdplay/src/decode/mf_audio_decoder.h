// AAC sound on Windows through the system's AAC decoder MFT (Media
// Foundation; Windows has one, and so has Wine, over GStreamer). Windows
// build only. Media Foundation is loaded at run time with the first AAC
// unit, as for the picture decoders (mf_platform).
#pragma once

#include <cstdint>
#include <memory>

#include "decode/audio_decoder.h"

namespace vdplay {

// An AAC decoder for ADTS units; returns 0, VDPLAY_ERR_ALLOC, or
// VDPLAY_ERR_DECODER_INIT when Media Foundation or an AAC decoder MFT cannot
// be found.
std::uint32_t createMfAacDecoder(std::unique_ptr<AudioDecoder>& out);

}  // namespace vdplay
