#include "source/packet_parser.h"

#include <cstring>

#include "VdStreamFormat.h"

namespace vdplay {

bool PacketParser::payloadFits(std::uint32_t type, std::uint32_t size,
                               std::size_t capacity) const {
  if (size > capacity || capacity - size < vdstream::kPacketHeaderSize) return false;
  const bool coded = format_.codec != vdstream::Codec::None;
  switch (static_cast<vdstream::Payload>(type)) {
    case vdstream::Payload::Raw:
      return !coded && size == format_.pictureBytes;
    case vdstream::Payload::Zlib:
      return !coded && size > 0 && size <= format_.maxPayload;
    case vdstream::Payload::H264:
      return format_.codec == vdstream::Codec::H264 && size > 0;
    case vdstream::Payload::H265:
      return format_.codec == vdstream::Codec::H265 && size > 0;
    case vdstream::Payload::G711ALaw:
    case vdstream::Payload::G711MuLaw:
    case vdstream::Payload::AacAdts:
      return size > 0 && size <= vdstream::kMaxAudioPayload;
  }
  return false;
}

PacketParser::Result PacketParser::next(ByteRing& ring, PacketRef& packet) {
  Result r;
  while (ring.size() >= 4) {
    std::uint8_t head[vdstream::kFileHeaderSize];
    ring.copyOut(0, head, 4);

    if (std::memcmp(head, vdstream::kPacketMagic, 4) == 0) {
      if (ring.size() < vdstream::kPacketHeaderSize) return r;
      ring.copyOut(0, head, vdstream::kPacketHeaderSize);
      const std::uint32_t size = readLe32(head + 4);
      const std::uint32_t type = readLe32(head + 12);
      if (!payloadFits(type, size, ring.capacity())) {
        // Trust nothing of this header: look for the next packet after its magic.
        ++r.damaged;
        inJunk_ = true;
        ring.consume(4);
        continue;
      }
      inJunk_ = false;
      if (ring.size() < vdstream::kPacketHeaderSize + size) return r;
      packet.payloadSize = size;
      packet.stampMs = readLe32(head + 8);
      packet.type = type;
      packet.totalSize = vdstream::kPacketHeaderSize + size;
      r.status = Status::Packet;
      return r;
    }

    if (std::memcmp(head, vdstream::kFileMagic, 4) == 0) {
      if (ring.size() < vdstream::kFileHeaderSize) return r;
      ring.copyOut(0, head, vdstream::kFileHeaderSize);
      if (looksLikeFileHeader(head)) {
        inJunk_ = false;
        ring.consume(vdstream::kFileHeaderSize);
        continue;
      }
    }

    // Junk: count it once per run, then skip to the next magic. Without one,
    // keep the last three bytes, which may be the start of a magic.
    if (!inJunk_) {
      ++r.damaged;
      inJunk_ = true;
    }
    const std::size_t at = ring.find(1, vdstream::kPacketMagic, vdstream::kFileMagic);
    if (at == ByteRing::npos) {
      ring.consume(ring.size() - 3);
      return r;
    }
    ring.consume(at);
  }
  return r;
}

}  // namespace vdplay
