#include "decode/av_audio_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VdPlay.h"

namespace vdplay {
namespace {

std::int16_t fromFloat(float v) {
  if (!(v == v)) return 0;  // NaN
  const float scaled = v * 32767.0f;
  if (scaled >= 32767.0f) return 32767;
  if (scaled <= -32768.0f) return -32768;
  return static_cast<std::int16_t>(std::lrintf(scaled));
}

int channelsOf(const AVFrame* f) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
  return f->ch_layout.nb_channels;
#else
  return f->channels;
#endif
}

}  // namespace

AvAudioDecoder::~AvAudioDecoder() {
  if (parser_) av_parser_close(parser_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&ctx_);
}

std::uint32_t AvAudioDecoder::init(AudioCodec codec) {
  if (av_log_get_level() == AV_LOG_INFO) av_log_set_level(AV_LOG_QUIET);
  switch (codec) {
    case AudioCodec::Aac:
      codecId_ = AV_CODEC_ID_AAC;
      break;
    case AudioCodec::MpegAudio:
      codecId_ = AV_CODEC_ID_MP3;  // its parser and decoder take layers I-III
      break;
    case AudioCodec::G711ALaw:
      codecId_ = AV_CODEC_ID_PCM_ALAW;
      break;
    case AudioCodec::G711MuLaw:
      codecId_ = AV_CODEC_ID_PCM_MULAW;
      break;
  }
  const AVCodec* found = avcodec_find_decoder(static_cast<AVCodecID>(codecId_));
  if (!found) return VDPLAY_ERR_DECODER_INIT;
  ctx_ = avcodec_alloc_context3(found);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  if (!ctx_ || !packet_ || !frame_) return VDPLAY_ERR_ALLOC;
  ctx_->thread_count = 1;
  if (codecId_ == AV_CODEC_ID_PCM_ALAW || codecId_ == AV_CODEC_ID_PCM_MULAW) {
    ctx_->sample_rate = 8000;
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 24, 100)
    av_channel_layout_default(&ctx_->ch_layout, 1);
#else
    ctx_->channels = 1;
#endif
  } else {
    parser_ = av_parser_init(codecId_);
    if (!parser_) return VDPLAY_ERR_DECODER_INIT;
  }
  if (avcodec_open2(ctx_, found, nullptr) < 0) return VDPLAY_ERR_DECODER_INIT;
  return 0;
}

bool AvAudioDecoder::decode(const std::uint8_t* data, std::size_t size, PcmBlock& out) {
  out.samples.clear();
  if (size == 0 || size > (1u << 24)) return false;
  input_.assign(data, data + size);
  input_.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  bool any = false;
  if (!parser_) return decodeFrame(input_.data(), static_cast<int>(size), out);
  const std::uint8_t* at = input_.data();
  int left = static_cast<int>(size);
  // The unit is whole: after its bytes, an empty call hands over the last frame.
  for (bool end = false; !end;) {
    std::uint8_t* frame = nullptr;
    int frameSize = 0;
    const int used = av_parser_parse2(parser_, ctx_, &frame, &frameSize, left ? at : nullptr, left,
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) return any;
    at += used;
    left -= used;
    if (frameSize > 0) {
      if (decodeFrame(frame, frameSize, out)) any = true;
    }
    if (left == 0 && frameSize == 0) end = true;
  }
  // The parser keeps nothing between units: each unit is whole frames.
  av_parser_close(parser_);
  parser_ = av_parser_init(codecId_);
  return any;
}

bool AvAudioDecoder::decodeFrame(const std::uint8_t* data, int size, PcmBlock& out) {
  packet_->data = const_cast<std::uint8_t*>(data);
  packet_->size = size;
  const int sent = avcodec_send_packet(ctx_, packet_);
  packet_->data = nullptr;
  packet_->size = 0;
  if (sent < 0) return false;
  bool got = false;
  while (avcodec_receive_frame(ctx_, frame_) == 0) {
    const bool corrupt = (frame_->flags & AV_FRAME_FLAG_CORRUPT) || frame_->decode_error_flags;
    if (!corrupt && frame_->sample_rate > 0 && channelsOf(frame_) > 0) {
      appendSamples(out);
      got = true;
    }
    av_frame_unref(frame_);
  }
  return got;
}

void AvAudioDecoder::appendSamples(PcmBlock& out) {
  const int inChannels = channelsOf(frame_);
  const int channels = std::min(inChannels, 2);
  const auto rate = static_cast<std::uint32_t>(frame_->sample_rate);
  if (!out.samples.empty() && (out.rate != rate || out.channels != static_cast<std::uint32_t>(channels)))
    out.samples.clear();  // a change inside one unit: its later frames win
  out.rate = rate;
  out.channels = static_cast<std::uint32_t>(channels);
  const int n = frame_->nb_samples;
  const std::size_t base = out.samples.size();
  out.samples.resize(base + static_cast<std::size_t>(n) * static_cast<std::size_t>(channels));
  std::int16_t* dst = out.samples.data() + base;
  const auto format = static_cast<AVSampleFormat>(frame_->format);
  const bool planar = av_sample_fmt_is_planar(format);
  for (int i = 0; i < n; ++i) {
    for (int c = 0; c < channels; ++c) {
      const int plane = planar ? c : 0;
      const int index = planar ? i : i * inChannels + c;
      const std::uint8_t* p = frame_->extended_data[plane];
      std::int16_t v = 0;
      switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_FLT:
          v = fromFloat(reinterpret_cast<const float*>(p)[index]);
          break;
        case AV_SAMPLE_FMT_DBL:
          v = fromFloat(static_cast<float>(reinterpret_cast<const double*>(p)[index]));
          break;
        case AV_SAMPLE_FMT_S16:
          v = reinterpret_cast<const std::int16_t*>(p)[index];
          break;
        case AV_SAMPLE_FMT_S32:
          v = static_cast<std::int16_t>(reinterpret_cast<const std::int32_t*>(p)[index] >> 16);
          break;
        case AV_SAMPLE_FMT_U8:
          v = static_cast<std::int16_t>((p[index] - 128) << 8);
          break;
        default:
          break;
      }
      dst[static_cast<std::size_t>(i) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = v;
    }
  }
}

void AvAudioDecoder::flush() {
  avcodec_flush_buffers(ctx_);
}

}  // namespace vdplay
