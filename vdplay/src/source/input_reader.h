// Cuts a port's source buffer into the units the decoder takes: packets, or
// with bare Annex-B framing whatever part of the stream has arrived.
#pragma once

#include <cstddef>
#include <cstdint>

#include "source/byte_ring.h"
#include "source/packet_parser.h"
#include "source/stream_header.h"

namespace vdplay {

struct InputUnit {
  std::size_t offset = 0;     // where the decoder's input starts in the ring
  std::size_t size = 0;       // its length
  std::size_t totalSize = 0;  // bytes to consume from the front once it is used
  std::uint32_t type = 0;     // payload type; 0 for a piece of a bare stream
  std::uint32_t stampMs = 0;
};

class InputReader {
 public:
  struct Result {
    bool found = false;
    std::uint32_t damaged = 0;  // damaged packets dropped during this call
  };

  explicit InputReader(const StreamFormat& format);

  // Drops what is no packet; reports the next unit without consuming it.
  Result next(ByteRing& ring, InputUnit& unit);

  // Forgets a run of junk in progress, after the ring was cleared.
  void reset() { parser_.reset(); }

  // Largest piece of a bare stream handed over at once.
  static constexpr std::size_t kMaxBarePiece = 256 * 1024;

 private:
  bool bare_;
  PacketParser parser_;
};

}  // namespace vdplay
