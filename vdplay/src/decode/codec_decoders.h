// The decoders of compressed streams, one file each; built into the codec
// module (codec_module.h) where the FFmpeg libraries are.
#pragma once

#include <cstdint>
#include <memory>

#include "decode/picture_decoder.h"

namespace vdplay {

std::uint32_t createH264Decoder(const StreamFormat& format, std::unique_ptr<PictureDecoder>& out);
std::uint32_t createH265Decoder(const StreamFormat& format, std::unique_ptr<PictureDecoder>& out);

}  // namespace vdplay
