// What libvdplay.so and its codec module (libvdplay_codecs.so: the H.264 and
// H.265 decoders and the AAC and MPEG audio decoders over FFmpeg's
// libraries) agree on. The library opens the
// module the first time a compressed stream is opened, so that a program that
// never plays one never loads FFmpeg. Both sides are built from the same
// tree; the interface version guards against a module left over from another
// build, whose decoders would not match this PictureDecoder.
#pragma once

#include <cstdint>

#include "decode/audio_decoder.h"
#include "decode/picture_decoder.h"

namespace vdplay {

constexpr std::uint32_t kCodecModuleInterface = 3;
constexpr const char* kCodecModuleFile = "libvdplay_codecs.so";
constexpr const char* kCodecModuleFactory = "vdplay_codecs_create_decoder";
constexpr const char* kCodecModuleAudioFactory = "vdplay_codecs_create_audio_decoder";

// The module's one export. For format.codec H.264 or H.265 puts a new decoder
// into *out (the caller owns it; the module stays loaded while it lives) and
// returns 0; otherwise VDPLAY_ERR_ALLOC or VDPLAY_ERR_DECODER_INIT (also for
// another interface version). Never throws.
using CodecModuleFactory = std::uint32_t (*)(std::uint32_t interfaceVersion,
                                             const StreamFormat* format, PictureDecoder** out);

// The module's second export: an audio decoder for codec (an AudioCodec),
// with the same results.
using CodecModuleAudioFactory = std::uint32_t (*)(std::uint32_t interfaceVersion,
                                                  std::uint32_t codec, AudioDecoder** out);

}  // namespace vdplay
