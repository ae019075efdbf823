#include "source/stream_header.h"

#include <zlib.h>

#include <cstring>

#include "VdPlay.h"
#include "VdStreamFormat.h"

namespace vdplay {

std::uint32_t readLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t readLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

bool looksLikeFileHeader(const std::uint8_t* h) {
  return std::memcmp(h, vdstream::kFileMagic, 4) == 0 && readLe16(h + 4) == vdstream::kVersion &&
         readLe16(h + 6) == vdstream::kFileHeaderSize;
}

std::uint32_t parseFileHeader(const std::uint8_t* h, std::size_t length, StreamFormat& out) {
  if (!h || length < vdstream::kFileHeaderSize) return VDPLAY_ERR_NO_HEADER;
  if (std::memcmp(h, vdstream::kFileMagic, 4) != 0) return VDPLAY_ERR_UNRECOGNISED;
  if (readLe16(h + 4) != vdstream::kVersion) return VDPLAY_ERR_VERSION;
  if (readLe16(h + 6) != vdstream::kFileHeaderSize) return VDPLAY_ERR_UNRECOGNISED;
  const std::uint32_t w = readLe32(h + 8), ht = readLe32(h + 12);
  const std::uint32_t num = readLe32(h + 16), den = readLe32(h + 20);
  const std::uint32_t pixelFormat = readLe32(h + 24);
  const auto badSide = [](std::uint32_t s) {
    return s == 0 || s % 2 != 0 || s > vdstream::kMaxDimension;
  };
  if (badSide(w) || badSide(ht)) return VDPLAY_ERR_UNRECOGNISED;
  // Zero in either part is no rate; above 1000 frames/s is no video.
  if (num == 0 || den == 0 || num / den > 1000 || (num / den == 1000 && num % den != 0))
    return VDPLAY_ERR_UNRECOGNISED;
  if (pixelFormat != vdstream::kPixelFormatI420) return VDPLAY_ERR_UNRECOGNISED;
  const std::uint32_t codec = readLe32(h + vdstream::kCodecOffset);
  const std::uint32_t framing = readLe32(h + vdstream::kFramingOffset);
  if (codec > static_cast<std::uint32_t>(vdstream::Codec::H265)) return VDPLAY_ERR_UNRECOGNISED;
  if (framing > static_cast<std::uint32_t>(vdstream::Framing::TransportStream))
    return VDPLAY_ERR_UNRECOGNISED;
  // Raw and zlib pictures need their packets; a bare stream needs its codec.
  if (codec == 0 && framing == static_cast<std::uint32_t>(vdstream::Framing::AnnexB))
    return VDPLAY_ERR_UNRECOGNISED;

  out.width = w;
  out.height = ht;
  out.fpsNum = num;
  out.fpsDen = den;
  out.pictureBytes = vdstream::pictureBytes(w, ht);
  const std::size_t bound = compressBound(static_cast<uLong>(out.pictureBytes));
  out.maxPayload = bound > out.pictureBytes ? bound : out.pictureBytes;
  out.codec = static_cast<vdstream::Codec>(codec);
  out.framing = static_cast<vdstream::Framing>(framing);
  return 0;
}

std::size_t minPoolBytes(const StreamFormat& format) {
  if (format.codec != vdstream::Codec::None || vdstream::isMpegFraming(format.framing))
    return vdstream::minCodecPoolBytes(format.width, format.height);
  return vdstream::kPacketHeaderSize + format.maxPayload;
}

}  // namespace vdplay
