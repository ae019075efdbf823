// Pictures carried whole: raw I420 payloads (shown in place, straight from
// the source buffer) and zlib-compressed ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "picture_decoder.h"

struct z_stream_s;

namespace vdplay {

class RawDecoder final : public PictureDecoder {
 public:
  RawDecoder();
  ~RawDecoder() override;
  RawDecoder(const RawDecoder&) = delete;
  RawDecoder& operator=(const RawDecoder&) = delete;

  // Reserves the picture buffer. False when out of memory.
  bool init(const StreamFormat& format);

  // One payload is one picture: decoded here, handed out by receive().
  bool send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) override;
  bool receive(Picture& out, std::uint32_t& damaged) override;
  bool readsInPlace() const override { return true; }
  void flush() override { ready_ = false; }

 private:
  const std::uint8_t* inflatePayload(const ByteRing::View& in);

  int width_ = 0;
  int height_ = 0;
  std::size_t pictureBytes_ = 0;
  std::unique_ptr<std::uint8_t[]> picture_;
  std::unique_ptr<z_stream_s> zs_;
  bool zReady_ = false;
  Picture next_;
  bool ready_ = false;
};

}  // namespace vdplay
