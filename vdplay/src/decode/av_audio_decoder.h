// AAC (ADTS) and MPEG audio (layers I-III) decoded with libavcodec, in the
// codec module. A unit may hold several frames: libavcodec's parser for the
// codec cuts it into frames first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode/audio_decoder.h"

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;

namespace vdplay {

class AvAudioDecoder final : public AudioDecoder {
 public:
  AvAudioDecoder() = default;
  ~AvAudioDecoder() override;
  AvAudioDecoder(const AvAudioDecoder&) = delete;
  AvAudioDecoder& operator=(const AvAudioDecoder&) = delete;

  // Returns 0, VDPLAY_ERR_ALLOC or VDPLAY_ERR_DECODER_INIT.
  std::uint32_t init(AudioCodec codec);

  bool decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) override;
  void flush() override;

 private:
  bool decodeFrame(const std::uint8_t* data, int size, PcmBlock& out);
  void appendSamples(PcmBlock& out);

  int codecId_ = 0;
  AVCodecContext* ctx_ = nullptr;
  AVCodecParserContext* parser_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::vector<std::uint8_t> input_;  // the unit with zero padding
};

}  // namespace vdplay
