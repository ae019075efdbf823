// Compressed pictures decoded with the system's FFmpeg libraries (libavcodec,
// libswscale where the decoded form is not plain 8-bit 4:2:0). Used by the
// H.264 and H.265 decoders, which choose the codec; not built on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/av_frame_buffer.h"
#include "decode/picture_decoder.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

namespace vdplay {

class AvDecoder final : public PictureDecoder {
 public:
  AvDecoder() = default;
  ~AvDecoder() override;
  AvDecoder(const AvDecoder&) = delete;
  AvDecoder& operator=(const AvDecoder&) = delete;

  // Opens the codec (an AVCodecID); returns 0,
  // VDPLAY_ERR_ALLOC or VDPLAY_ERR_DECODER_INIT.
  std::uint32_t init(const StreamFormat& format, int codecId);

  bool send(const ByteRing::View& in, std::uint32_t type, std::uint32_t stampMs) override;
  bool receive(Frame& out, std::uint32_t& damaged) override;
  bool holdsPictures() const override;
  void drain() override;
  void flush() override;
  void setOptions(const DecodeOptions& options) override;
  void skipToKeyPicture() override { seenKey_ = false; }

 private:
  bool nextPacket();
  bool parseBareInput();
  bool acceptFrame(std::uint32_t& damaged);
  bool takeFrame(Frame& out);
  void restartAfterEnd();
  void restartParser();
  bool holdsDecodedPictures() const;

  AVCodecContext* ctx_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;  // bare Annex-B input only
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::shared_ptr<AvFrameConverter> converter_;
  bool bare_ = false;
  int codecId_ = 0;
  std::uint32_t fpsNum_ = 25, fpsDen_ = 1;

  std::vector<std::uint8_t> unit_;   // the access unit taken by send(), with zero padding
  bool unitWaiting_ = false;
  std::uint32_t unitStamp_ = 0;
  std::vector<std::uint8_t> bareInput_;  // bare stream bytes not yet parsed (+ padding room)
  std::size_t bareStart_ = 0, bareEnd_ = 0;

  std::uint64_t picturesOut_ = 0;      // for the stamps of a bare stream
  bool sentSinceEnd_ = false;          // packets went in since the decoder last ran dry
  bool draining_ = false;
  bool parserHolds_ = false;           // the parser has bytes of a unit not yet handed on
  bool seenKey_ = false;               // nothing is shown before the first key picture
};

}  // namespace vdplay
