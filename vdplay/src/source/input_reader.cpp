#include "source/input_reader.h"

#include "VdStreamFormat.h"

namespace vdplay {

InputReader::InputReader(const StreamFormat& format)
    : bare_(format.framing == vdstream::Framing::AnnexB), parser_(format) {}

InputReader::Result InputReader::next(ByteRing& ring, InputUnit& unit) {
  Result r;
  if (bare_) {
    if (ring.size() == 0) return r;
    unit.offset = 0;
    unit.size = ring.size() < kMaxBarePiece ? ring.size() : kMaxBarePiece;
    unit.totalSize = unit.size;
    unit.type = 0;
    unit.stampMs = 0;
    r.found = true;
    return r;
  }
  PacketRef packet;
  const PacketParser::Result parsed = parser_.next(ring, packet);
  r.damaged = parsed.damaged;
  if (parsed.status != PacketParser::Status::Packet) return r;
  unit.offset = vdstream::kPacketHeaderSize;
  unit.size = packet.payloadSize;
  unit.totalSize = packet.totalSize;
  unit.type = packet.type;
  unit.stampMs = packet.stampMs;
  r.found = true;
  return r;
}

}  // namespace vdplay
