// H.264 and H.265 on Windows through Media Foundation's decoder transforms
// (the system's H.264 decoder MFT, present on every supported Windows and in
// Wine; an H.265 decoder MFT where the system has one). Windows build only.
// Media Foundation is loaded at run time when the first compressed stream is
// opened, so VdPlay.dll imports nothing beyond the system DLLs it always
// used, and a program that plays raw streams never loads it.
#pragma once

#include <cstdint>
#include <memory>

#include "decode/picture_decoder.h"

namespace vdplay {

// A decoder for the stream's codec (H.264 or H.265); returns 0,
// VDPLAY_ERR_ALLOC, or VDPLAY_ERR_DECODER_INIT when Media Foundation or a
// decoder MFT for the codec cannot be found or started.
std::uint32_t createMfDecoder(const StreamFormat& format, std::unique_ptr<PictureDecoder>& out);

}  // namespace vdplay
