// Turns a packet's payload into an I420 picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "byte_ring.h"
#include "packet_parser.h"
#include "stream_header.h"

struct z_stream_s;

namespace vdplay {

class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // Reserves the picture buffer. False when out of memory.
  bool init(const StreamFormat& format);

  // The decoded picture (format.pictureBytes bytes), or nullptr when the
  // payload does not decode. A raw payload stored in one piece is returned
  // in place, without copying; the pointer is valid until the packet is
  // consumed or the next decode.
  const std::uint8_t* decode(const ByteRing& ring, const PacketRef& packet);

 private:
  const std::uint8_t* inflatePayload(const ByteRing::View& in);

  std::size_t pictureBytes_ = 0;
  std::unique_ptr<std::uint8_t[]> picture_;
  std::unique_ptr<z_stream_s> zs_;
  bool zReady_ = false;
};

}  // namespace vdplay
