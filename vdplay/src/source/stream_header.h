// Reading and checking the 40-byte VDPS file header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VdStreamFormat.h"

namespace vdplay {

struct StreamFormat {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t fpsNum = 0;
  std::uint32_t fpsDen = 0;
  std::size_t pictureBytes = 0;  // w*h*3/2
  std::size_t maxPayload = 0;    // raw/zlib: largest acceptable payload (zlib's bound)
  vdstream::Codec codec = vdstream::Codec::None;
  vdstream::Framing framing = vdstream::Framing::Packets;
};

// Checks a file header and fills out. Returns 0 or the VDPLAY_ERR_* code that
// refuses it; out is left untouched on refusal.
std::uint32_t parseFileHeader(const std::uint8_t* header, std::size_t length, StreamFormat& out);

// Is this a well-formed file header (magic, version, header size), whatever
// its picture? Used to skip a header repeated inside the data.
bool looksLikeFileHeader(const std::uint8_t* bytes40);

// The smallest usable source buffer: one packet with the largest payload for
// raw/zlib streams, the compressed-stream floor for H.264 and H.265.
std::size_t minPoolBytes(const StreamFormat& format);

std::uint32_t readLe32(const std::uint8_t* p);
std::uint16_t readLe16(const std::uint8_t* p);

}  // namespace vdplay
