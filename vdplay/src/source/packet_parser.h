// Finds the packets in a port's source buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "source/byte_ring.h"
#include "source/stream_header.h"

namespace vdplay {

struct PacketRef {
  std::uint32_t payloadSize = 0;
  std::uint32_t stampMs = 0;
  std::uint32_t type = 0;
  std::size_t totalSize = 0;  // header + payload, from the front of the ring
};

class PacketParser {
 public:
  enum class Status { NeedData, Packet };
  struct Result {
    Status status = Status::NeedData;
    std::uint32_t damaged = 0;  // damaged packets dropped during this call
  };

  explicit PacketParser(const StreamFormat& format) : format_(format) {}

  // Looks at the front of the ring. Drops (consumes) what is no packet:
  // bytes before the next "VDFR", packet headers that do not suit the
  // picture, and repeated file headers. Reports the first complete packet
  // without consuming it; the caller consumes packet.totalSize after use.
  Result next(ByteRing& ring, PacketRef& packet);

  // Forgets a run of junk in progress, after the ring was cleared.
  void reset() { inJunk_ = false; }

 private:
  bool payloadFits(std::uint32_t type, std::uint32_t size, std::size_t capacity) const;

  StreamFormat format_;
  bool inJunk_ = false;  // skipping bytes of a damaged packet already counted
};

}  // namespace vdplay
