// FFmpeg's own decode of access units, the yardstick the stand-in's decoding
// cost is put beside.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <stdexcept>
#include <vector>

#include "CodecClips.h"

namespace bench {

class FfmpegDecoder {
 public:
  FfmpegDecoder(AVCodecID id, int threads) {
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) throw std::runtime_error("FFmpeg has no such decoder");
    ctx_ = avcodec_alloc_context3(codec);
    ctx_->thread_count = threads;
    ctx_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (avcodec_open2(ctx_, codec, nullptr) < 0)
      throw std::runtime_error("cannot open the decoder");
  }
  ~FfmpegDecoder() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&ctx_);
  }
  FfmpegDecoder(const FfmpegDecoder&) = delete;
  FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

  // Decodes one access unit, or with nullptr the pictures held back.
  void Decode(const sp_test::AccessUnit* unit) {
    if (unit != nullptr) {
      padded_ = unit->data;
      padded_.resize(padded_.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
      packet_->data = padded_.data();
      packet_->size = static_cast<int>(unit->data.size());
      avcodec_send_packet(ctx_, packet_);
    } else {
      avcodec_send_packet(ctx_, nullptr);
    }
    while (avcodec_receive_frame(ctx_, frame_) == 0) {
      ++pictures_;
      av_frame_unref(frame_);
    }
  }
  int Pictures() const { return pictures_; }

 private:
  AVCodecContext* ctx_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  std::vector<std::uint8_t> padded_;
  int pictures_ = 0;
};

}  // namespace bench
