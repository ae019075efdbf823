// Pictures carried whole: raw I420 payloads and zlib-compressed ones, each
// copied or inflated straight from the source buffer into a pooled frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "decode/picture_decoder.h"
#include "frame_pool.h"

struct z_stream_s;

namespace vdplay {

class RawDecoder final : public PictureDecoder {
 public:
  RawDecoder();
  ~RawDecoder() override;
  RawDecoder(const RawDecoder&) = delete;
  RawDecoder& operator=(const RawDecoder&) = delete;

  // False when out of memory.
  bool init(const StreamFormat& format);

  // One payload is one picture: decoded here, handed out by receive().
  bool send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) override;
  bool sendStored(const std::shared_ptr<FrameBuffer>& stored, const ByteRing::View& in,
                  std::uint32_t type, std::uint32_t stampMs) override;
  bool receive(Frame& out, std::uint32_t& damaged) override;
  void flush() override { next_ = Frame(); }

 private:
  bool inflatePayload(const ByteRing::View& in, std::uint8_t* out);

  int width_ = 0;
  int height_ = 0;
  std::size_t pictureBytes_ = 0;
  std::shared_ptr<FramePool> pool_;
  std::unique_ptr<z_stream_s> zs_;
  bool zReady_ = false;
  Frame next_;
};

}  // namespace vdplay
