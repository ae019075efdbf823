#include "decode/av_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstring>
#include <thread>
#include <mutex>
#include <new>

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

constexpr std::uint64_t kLargestSingleThreadPicture = 1920 * 1088;
constexpr unsigned kMostThreads = 4;

int threadsFor(const StreamFormat& format) {
  if (static_cast<std::uint64_t>(format.width) * format.height <= kLargestSingleThreadPicture)
    return 1;
  const unsigned cores = std::thread::hardware_concurrency();
  return static_cast<int>(std::max(2u, std::min(cores, kMostThreads)));
}

}  // namespace

AvDecoder::~AvDecoder() {
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
  converter_.reset(new (std::nothrow) AvFrameConverter);
  if (!ctx_ || !packet_ || !frame_ || !converter_ || !converter_->init()) return VDPLAY_ERR_ALLOC;
  // One thread per port for pictures up to 1080p: 32 ports already use
  // every core, and frame threading adds a frame of delay and a copy of the
  // decoder per thread. Larger pictures (by the header's nominal size) take
  // several threads, or a 4K stream could not keep its rate.
  ctx_->thread_count = threadsFor(format);
  ctx_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
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

bool AvDecoder::receive(Frame& out, std::uint32_t& damaged) {
  for (;;) {
    const int rc = avcodec_receive_frame(ctx_, frame_);
    if (rc == 0) {
      if (!acceptFrame(damaged)) continue;
      if (takeFrame(out)) return true;
      ++damaged;  // no memory to hand it out: it is lost like a damaged one
      continue;
    }
    if (rc == AVERROR_EOF) {  // drained: every held picture is out
      restartAfterEnd();
      return false;
    }
    if (rc != AVERROR(EAGAIN)) {
      if (seenKey_) ++damaged;  // before the first key picture, nothing is whole yet
      return false;
    }
    if (draining_ || !nextPacket()) return false;
    const int sent = avcodec_send_packet(ctx_, packet_);
    av_packet_unref(packet_);
    sentSinceEnd_ = true;
    // A unit that does not parse; before the first key picture (joining a
    // stream mid-way) units that refer to what was never sent are expected.
    if (sent < 0 && sent != AVERROR(EAGAIN) && seenKey_) ++damaged;
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

bool AvDecoder::takeFrame(Frame& out) {
  AVFrame* taken = av_frame_alloc();
  if (!taken) {
    av_frame_unref(frame_);
    return false;
  }
  av_frame_move_ref(taken, frame_);
  // I420 needs even sides: an odd last row or column is left out.
  const int width = taken->width & ~1;
  const int height = taken->height & ~1;
  std::uint32_t stampMs;
  if (bare_ || taken->best_effort_timestamp == AV_NOPTS_VALUE) {
    stampMs = static_cast<std::uint32_t>(picturesOut_ * 1000 * fpsDen_ / fpsNum_);
  } else {
    stampMs = static_cast<std::uint32_t>(taken->best_effort_timestamp);
  }
  try {
    out.buffer = std::make_shared<AvFrameBuffer>(taken, width, height, converter_);
  } catch (const std::bad_alloc&) {
    av_frame_free(&taken);
    return false;
  }
  out.width = width;
  out.height = height;
  out.stampMs = stampMs;
  ++picturesOut_;
  return true;
}

bool AvDecoder::holdsPictures() const {
  if (draining_) return false;
  // The parser keeps the last access unit of a bare stream until the next
  // one begins; a stream that reorders keeps decoded pictures back.
  return (bare_ && parserHolds_) || (sentSinceEnd_ && holdsDecodedPictures());
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
  if (sentSinceEnd_ && holdsDecodedPictures()) {
    avcodec_send_packet(ctx_, nullptr);
    draining_ = true;
  }
}

// Pictures wait inside the decoder for reordering, or in its frame threads.
bool AvDecoder::holdsDecodedPictures() const {
  return ctx_->has_b_frames > 0 || (ctx_->active_thread_type & FF_THREAD_FRAME) != 0;
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
