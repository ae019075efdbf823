#include "av_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <mutex>

#include "VdPlay.h"
#include "VdStreamFormat.h"

namespace vdplay {
namespace {

// A damaged stream would fill the host's stderr with decoder complaints; the
// damage is counted instead. A host that chose a log level keeps it.
void quietenLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_QUIET);
  });
}

bool isPlain420(int format) {
  return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

void copyPlane(std::uint8_t* dst, int dstWidth, const std::uint8_t* src, int srcStride,
               int rows) {
  for (int r = 0; r < rows; ++r)
    std::memcpy(dst + static_cast<std::size_t>(r) * dstWidth,
                src + static_cast<std::ptrdiff_t>(r) * srcStride, static_cast<std::size_t>(dstWidth));
}

}  // namespace

AvDecoder::~AvDecoder() {
  for (Slot& slot : slots_) av_frame_free(&slot.frame);
  sws_freeContext(sws_);
  if (parser_) av_parser_close(parser_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&ctx_);
}

std::uint32_t AvDecoder::init(const StreamFormat& format, int codecId) {
  quietenLibraryLog();
  codecId_ = codecId;
  bare_ = format.framing == vdstream::Framing::AnnexB;
  fpsNum_ = format.fpsNum;
  fpsDen_ = format.fpsDen;
  const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codecId));
  if (!codec) return VDPLAY_ERR_DECODER_INIT;
  ctx_ = avcodec_alloc_context3(codec);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  slots_[0].frame = av_frame_alloc();
  slots_[1].frame = av_frame_alloc();
  if (!ctx_ || !packet_ || !frame_ || !slots_[0].frame || !slots_[1].frame) return VDPLAY_ERR_ALLOC;
  // One thread per port: 32 ports already use every core, and frame
  // threading would add a frame of delay and a copy of the decoder per thread.
  ctx_->thread_count = 1;
  ctx_->pkt_timebase = AVRational{1, 1000};
  if (avcodec_open2(ctx_, codec, nullptr) < 0) return VDPLAY_ERR_DECODER_INIT;
  if (bare_) {
    parser_ = av_parser_init(codecId);
    if (!parser_) return VDPLAY_ERR_DECODER_INIT;
  }
  return 0;
}

bool AvDecoder::send(const ByteRing::View& in, std::uint32_t, std::uint32_t stampMs) {
  const std::size_t n = in.firstLen + in.secondLen;
  if (bare_) {
    // Keep the unparsed tail at the front, then append, with zero padding
    // behind the data as the parser requires.
    if (bareStart_ > 0) {
      std::memmove(bareInput_.data(), bareInput_.data() + bareStart_, bareEnd_ - bareStart_);
      bareEnd_ -= bareStart_;
      bareStart_ = 0;
    }
    bareInput_.resize(bareEnd_ + n + AV_INPUT_BUFFER_PADDING_SIZE);
    std::memcpy(bareInput_.data() + bareEnd_, in.first, in.firstLen);
    if (in.secondLen) std::memcpy(bareInput_.data() + bareEnd_ + in.firstLen, in.second, in.secondLen);
    bareEnd_ += n;
    std::memset(bareInput_.data() + bareEnd_, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    return true;
  }
  unit_.resize(n + AV_INPUT_BUFFER_PADDING_SIZE);
  std::memcpy(unit_.data(), in.first, in.firstLen);
  if (in.secondLen) std::memcpy(unit_.data() + in.firstLen, in.second, in.secondLen);
  std::memset(unit_.data() + n, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  unit_.resize(n);  // capacity keeps the padding
  unitStamp_ = stampMs;
  unitWaiting_ = true;
  return true;
}

bool AvDecoder::receive(Picture& out, std::uint32_t& damaged) {
  for (;;) {
    const int rc = avcodec_receive_frame(ctx_, frame_);
    if (rc == 0) {
      if (!acceptFrame(damaged)) continue;
      takeFrame(out);
      return true;
    }
    if (rc == AVERROR_EOF) {  // drained: every held picture is out
      restartAfterEnd();
      return false;
    }
    if (rc != AVERROR(EAGAIN)) {
      ++damaged;
      return false;
    }
    if (draining_ || !nextPacket()) return false;
    const int sent = avcodec_send_packet(ctx_, packet_);
    av_packet_unref(packet_);
    sentSinceEnd_ = true;
    if (sent < 0 && sent != AVERROR(EAGAIN)) ++damaged;  // a unit that does not parse
  }
}

bool AvDecoder::nextPacket() {
  if (bare_) return parseBareInput();
  if (!unitWaiting_) return false;
  unitWaiting_ = false;
  packet_->data = unit_.data();
  packet_->size = static_cast<int>(unit_.size());
  packet_->pts = unitStamp_;
  packet_->dts = AV_NOPTS_VALUE;
  return true;
}

bool AvDecoder::parseBareInput() {
  if (!parser_) return false;
  while (bareStart_ < bareEnd_) {
    std::uint8_t* unit = nullptr;
    int unitSize = 0;
    const int used = av_parser_parse2(parser_, ctx_, &unit, &unitSize,
                                      bareInput_.data() + bareStart_,
                                      static_cast<int>(bareEnd_ - bareStart_), AV_NOPTS_VALUE,
                                      AV_NOPTS_VALUE, 0);
    if (used < 0) {  // cannot happen with the Annex-B parsers; drop the input
      bareStart_ = bareEnd_;
      return false;
    }
    bareStart_ += static_cast<std::size_t>(used);
    parserHolds_ = true;
    if (unitSize > 0) {
      packet_->data = unit;
      packet_->size = unitSize;
      packet_->pts = AV_NOPTS_VALUE;
      return true;
    }
  }
  return false;
}

bool AvDecoder::acceptFrame(std::uint32_t& damaged) {
  if (frame_->key_frame) seenKey_ = true;
  const bool corrupt = (frame_->flags & AV_FRAME_FLAG_CORRUPT) || frame_->decode_error_flags;
  const bool badSize = frame_->width < 2 || frame_->height < 2 ||
                       frame_->width > static_cast<int>(vdstream::kMaxDimension) ||
                       frame_->height > static_cast<int>(vdstream::kMaxDimension);
  bool ok = seenKey_;  // before the first key picture there is no whole picture yet
  if (ok && (corrupt || badSize)) {
    ++damaged;
    ok = false;
  }
  if (!ok) av_frame_unref(frame_);
  return ok;
}

void AvDecoder::takeFrame(Picture& out) {
  // Into the slot that is not on display; converted only when needed.
  const int index = shownSlot_ == 0 ? 1 : 0;
  Slot& slot = slots_[index];
  av_frame_unref(slot.frame);
  av_frame_move_ref(slot.frame, frame_);
  slot.converted = false;
  // I420 needs even sides: an odd last row or column is left out.
  out.width = slot.frame->width & ~1;
  out.height = slot.frame->height & ~1;
  out.bytes = vdstream::pictureBytes(static_cast<std::uint32_t>(out.width),
                                     static_cast<std::uint32_t>(out.height));
  out.data = nullptr;
  out.slot = index;
  if (bare_ || slot.frame->best_effort_timestamp == AV_NOPTS_VALUE) {
    out.stampMs = static_cast<std::uint32_t>(picturesOut_ * 1000 * fpsDen_ / fpsNum_);
  } else {
    out.stampMs = static_cast<std::uint32_t>(slot.frame->best_effort_timestamp);
  }
  ++picturesOut_;
}

const std::uint8_t* AvDecoder::pixels(Picture& picture) {
  if (picture.slot < 0 || picture.slot > 1) return nullptr;
  Slot& slot = slots_[picture.slot];
  if (!slot.converted) {
    if (!convert(slot, picture.width, picture.height)) return nullptr;
    slot.converted = true;
    av_frame_unref(slot.frame);  // the decoder may reuse its buffer
  }
  picture.data = slot.i420.data();
  return picture.data;
}

bool AvDecoder::convert(Slot& slot, int w, int h) {
  const AVFrame* f = slot.frame;
  const std::size_t ySize = static_cast<std::size_t>(w) * h;
  slot.i420.resize(ySize * 3 / 2);
  std::uint8_t* planes[3] = {slot.i420.data(), slot.i420.data() + ySize,
                             slot.i420.data() + ySize + ySize / 4};
  if (isPlain420(f->format)) {
    copyPlane(planes[0], w, f->data[0], f->linesize[0], h);
    copyPlane(planes[1], w / 2, f->data[1], f->linesize[1], h / 2);
    copyPlane(planes[2], w / 2, f->data[2], f->linesize[2], h / 2);
    return true;
  }
  sws_ = sws_getCachedContext(sws_, w, h, static_cast<AVPixelFormat>(f->format), w, h,
                              AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const int strides[3] = {w, w / 2, w / 2};
  return sws_ && sws_scale(sws_, f->data, f->linesize, 0, h, planes, strides) == h;
}

bool AvDecoder::holdsPictures() const {
  if (draining_) return false;
  // The parser keeps the last access unit of a bare stream until the next
  // one begins; a stream that reorders keeps decoded pictures back.
  return (bare_ && parserHolds_) || (sentSinceEnd_ && ctx_->has_b_frames > 0);
}

void AvDecoder::drain() {
  if (draining_) return;
  if (bare_ && parserHolds_) {
    std::uint8_t* unit = nullptr;
    int unitSize = 0;
    av_parser_parse2(parser_, ctx_, &unit, &unitSize, nullptr, 0, AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, 0);
    if (unitSize > 0) {
      packet_->data = unit;
      packet_->size = unitSize;
      avcodec_send_packet(ctx_, packet_);
      av_packet_unref(packet_);
      sentSinceEnd_ = true;
    }
    restartParser();
  }
  // Only a decoder that holds pictures back is ended (and so loses its
  // references); one that does not goes on with the next unit as it is.
  if (sentSinceEnd_ && ctx_->has_b_frames > 0) {
    avcodec_send_packet(ctx_, nullptr);
    draining_ = true;
  }
}

void AvDecoder::restartParser() {
  if (parser_) av_parser_close(parser_);
  parser_ = av_parser_init(codecId_);
  parserHolds_ = false;
}

void AvDecoder::restartAfterEnd() {
  // A drained decoder takes no more input until it is flushed; the
  // references are gone, so decoding resumes at the next key picture.
  avcodec_flush_buffers(ctx_);
  draining_ = false;
  sentSinceEnd_ = false;
  seenKey_ = false;
}

void AvDecoder::flush() {
  for (Slot& slot : slots_) {
    av_frame_unref(slot.frame);
    slot.converted = false;
  }
  shownSlot_ = -1;
  avcodec_flush_buffers(ctx_);
  unitWaiting_ = false;
  bareStart_ = bareEnd_ = 0;
  if (bare_) restartParser();
  draining_ = false;
  sentSinceEnd_ = false;
  seenKey_ = false;
}

void AvDecoder::setOptions(const DecodeOptions& options) {
  ctx_->skip_frame = options.throwB == 0   ? AVDISCARD_DEFAULT
                     : options.throwB == 1 ? AVDISCARD_NONREF
                                           : AVDISCARD_BIDIR;
  ctx_->skip_loop_filter = options.lowQuality ? AVDISCARD_ALL : AVDISCARD_DEFAULT;
}

}  // namespace vdplay
