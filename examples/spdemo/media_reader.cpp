#include "media_reader.h"

#include <VdStreamFormat.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace spdemo {
namespace {

std::string avErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// The stream's frame rate as a fraction small enough for the stream header;
// 25 fps when the container gives none.
AVRational frameRateOf(const AVStream& stream) {
  AVRational rate = stream.avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = stream.r_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{25, 1};
  int num = 0;
  int den = 0;
  av_reduce(&num, &den, rate.num, rate.den, 1000000);
  return AVRational{num, den};
}

}  // namespace

struct MediaReader::Demuxer {
  AVFormatContext* format = nullptr;
  AVBSFContext* filter = nullptr;
  AVPacket* packet = nullptr;
  int stream = -1;
  int audioStream = -1;        // AAC or G.711, else -1
  std::uint32_t audioPayload = 0;
  AacConfig aac;               // AAC: what each frame's ADTS header says
  std::int64_t startPts = AV_NOPTS_VALUE;
  std::int64_t firstDts = AV_NOPTS_VALUE;

  ~Demuxer() {
    av_packet_free(&packet);
    av_bsf_free(&filter);
    avformat_close_input(&format);
  }
};

// The file's first AAC or G.711 (8 kHz mono) audio stream, for the
// stand-in's audio packets; codec names it.
void MediaReader::findAudio() {
  Demuxer& d = *demuxer_;
  std::string& codec = audioCodec_;
  const int index = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, d.stream, nullptr, 0);
  if (index < 0) return;
  const AVCodecParameters& p = *d.format->streams[index]->codecpar;
  if (p.codec_id == AV_CODEC_ID_AAC) {
    // The AudioSpecificConfig when there is one, else what the stream says.
    AacConfig& config = d.aac;
    if (p.extradata && p.extradata_size >= 2) {
      if (!readAudioSpecificConfig(p.extradata, static_cast<std::size_t>(p.extradata_size), config))
        return;
    } else {
      static const int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                   22050, 16000, 12000, 11025, 8000,  7350};
      int rateIndex = -1;
      for (int i = 0; i < 13; ++i)
        if (kRates[i] == p.sample_rate) rateIndex = i;
      const int channels = p.ch_layout.nb_channels;
      if (rateIndex < 0 || channels < 1 || channels > 7) return;
      config.objectType = p.profile >= 0 && p.profile <= 3 ? static_cast<std::uint32_t>(p.profile) + 1 : 2;
      config.rateIndex = static_cast<std::uint32_t>(rateIndex);
      config.channels = static_cast<std::uint32_t>(channels);
    }
    d.audioPayload = static_cast<std::uint32_t>(vdstream::Payload::AacAdts);
  } else if ((p.codec_id == AV_CODEC_ID_PCM_ALAW || p.codec_id == AV_CODEC_ID_PCM_MULAW) &&
             p.sample_rate == 8000 && p.ch_layout.nb_channels == 1) {
    d.audioPayload = static_cast<std::uint32_t>(p.codec_id == AV_CODEC_ID_PCM_ALAW
                                                    ? vdstream::Payload::G711ALaw
                                                    : vdstream::Payload::G711MuLaw);
  } else {
    return;
  }
  d.audioStream = index;
  codec = avcodec_get_name(p.codec_id);
}

MediaReader::MediaReader() = default;
MediaReader::~MediaReader() = default;

bool MediaReader::open(const std::string& path) {
  av_log_set_level(AV_LOG_ERROR);
  demuxer_ = std::make_unique<Demuxer>();
  Demuxer& d = *demuxer_;
  int result = avformat_open_input(&d.format, path.c_str(), nullptr, nullptr);
  if (result < 0) {
    error_ = "not a video file libavformat reads (" + avErrorText(result) + ")";
    return false;
  }
  container_ = d.format->iformat->name;
  result = avformat_find_stream_info(d.format, nullptr);
  if (result < 0) {
    error_ = "cannot find the streams of this " + container_ + " file (" +
             avErrorText(result) + ")";
    return false;
  }
  d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (d.stream < 0) {
    error_ = "this " + container_ + " file has no video";
    return false;
  }
  const AVStream& stream = *d.format->streams[d.stream];
  const AVCodecParameters& parameters = *stream.codecpar;
  if (parameters.codec_id == AV_CODEC_ID_H264) {
    codec_ = VideoCodec::H264;
  } else if (parameters.codec_id == AV_CODEC_ID_HEVC) {
    codec_ = VideoCodec::H265;
  } else {
    error_ = std::string("its video is ") + avcodec_get_name(parameters.codec_id) +
             "; only H.264 and H.265 play";
    return false;
  }
  if (parameters.width <= 0 || parameters.height <= 0) {
    error_ = "its video has no picture size";
    return false;
  }
  // The stream header wants even sides; the decoder follows the bitstream.
  width_ = (static_cast<std::uint32_t>(parameters.width) + 1) & ~1u;
  height_ = (static_cast<std::uint32_t>(parameters.height) + 1) & ~1u;
  const AVRational rate = frameRateOf(stream);
  rateNum_ = static_cast<std::uint32_t>(rate.num);
  rateDen_ = static_cast<std::uint32_t>(rate.den);
  expectedUnits_ = stream.nb_frames;
  d.startPts = stream.start_time;
  findAudio();

  // The filters turn length-prefixed units (mp4, mkv) into start-code form
  // and put the parameter sets before key frames; Annex-B input (raw
  // streams, MPEG-TS) passes through unchanged.
  const AVBitStreamFilter* filter =
      av_bsf_get_by_name(codec_ == VideoCodec::H264 ? "h264_mp4toannexb" : "hevc_mp4toannexb");
  if (!filter || av_bsf_alloc(filter, &d.filter) < 0 ||
      avcodec_parameters_copy(d.filter->par_in, &parameters) < 0) {
    error_ = "libavcodec lacks the Annex-B conversion";
    return false;
  }
  d.filter->time_base_in = stream.time_base;
  result = av_bsf_init(d.filter);
  if (result < 0) {
    error_ = "cannot convert this video to Annex-B form (" + avErrorText(result) + ")";
    return false;
  }
  d.packet = av_packet_alloc();
  if (!d.packet) {
    error_ = "out of memory";
    return false;
  }
  return true;
}

bool MediaReader::pushNextPacket() {
  Demuxer& d = *demuxer_;
  for (;;) {
    const int result = av_read_frame(d.format, d.packet);
    if (result < 0) {
      if (result != AVERROR_EOF) {
        damaged_ = true;
        error_ = "reading stopped: " + avErrorText(result);
      }
      inputEnded_ = true;
      av_bsf_send_packet(d.filter, nullptr);  // flushes the filter
      return true;
    }
    if (d.packet->stream_index == d.audioStream) keepAudio();
    if (d.packet->stream_index != d.stream) {
      av_packet_unref(d.packet);
      continue;
    }
    if (d.packet->flags & AV_PKT_FLAG_CORRUPT) damaged_ = true;
    const int sent = av_bsf_send_packet(d.filter, d.packet);
    if (sent < 0) {
      av_packet_unref(d.packet);
      error_ = "cannot convert a picture to Annex-B form (" + avErrorText(sent) + ")";
      return false;
    }
    return true;
  }
}

void MediaReader::keepAudio() {
  Demuxer& d = *demuxer_;
  const AVPacket& p = *d.packet;
  const AVStream& audio = *d.format->streams[d.audioStream];
  const AVStream& video = *d.format->streams[d.stream];
  if (p.pts == AV_NOPTS_VALUE || p.size <= 0 || p.size > 60000) return;
  // On the pictures' time line: from the video's first time stamp.
  const std::int64_t videoStartMs =
      d.startPts == AV_NOPTS_VALUE ? 0 : av_rescale_q(d.startPts, video.time_base, AVRational{1, 1000});
  const std::int64_t stampMs = av_rescale_q(p.pts, audio.time_base, AVRational{1, 1000}) - videoStartMs;
  if (stampMs < 0 || stampMs > UINT32_MAX) return;
  AudioUnitOut unit;
  unit.stampMs = static_cast<std::uint32_t>(stampMs);
  unit.payloadType = d.audioPayload;
  const bool hasAdts = p.size >= 2 && p.data[0] == 0xFF && (p.data[1] & 0xF0) == 0xF0;
  if (d.audioPayload == static_cast<std::uint32_t>(vdstream::Payload::AacAdts) && !hasAdts) {
    // mp4 and mkv keep AAC frames bare: each gets its 7-byte ADTS header.
    std::uint8_t header[7];
    if (!makeAdtsHeader(d.aac, static_cast<std::size_t>(p.size), header)) return;
    unit.data.assign(header, header + 7);
  }
  unit.data.insert(unit.data.end(), p.data, p.data + p.size);
  audio_.push_back(std::move(unit));
}

bool MediaReader::takeAudio(AudioUnitOut& unit) {
  if (audio_.empty()) return false;
  unit = std::move(audio_.front());
  audio_.pop_front();
  return true;
}

void MediaReader::fillTimes(AccessUnit& unit, std::int64_t pts, std::int64_t dts) {
  Demuxer& d = *demuxer_;
  const AVRational timeBase = d.filter->time_base_out;
  const double frameSeconds = static_cast<double>(rateDen_) / rateNum_;
  if (pts == AV_NOPTS_VALUE) pts = dts;
  if (pts != AV_NOPTS_VALUE) {
    if (d.startPts == AV_NOPTS_VALUE) d.startPts = pts;
    unit.presentationMs = av_rescale_q(pts - d.startPts, timeBase, AVRational{1, 1000});
  } else {
    unit.presentationMs = static_cast<std::int64_t>(units_ * frameSeconds * 1000);
  }
  if (dts != AV_NOPTS_VALUE) {
    if (d.firstDts == AV_NOPTS_VALUE) d.firstDts = dts;
    unit.decodeSeconds = static_cast<double>(dts - d.firstDts) * av_q2d(timeBase);
  } else {
    unit.decodeSeconds = static_cast<double>(units_) * frameSeconds;
  }
}

bool MediaReader::read(AccessUnit& unit) {
  if (!demuxer_ || !demuxer_->packet) return false;
  Demuxer& d = *demuxer_;
  int rejectedInARow = 0;  // a filter that only fails ends the file
  for (;;) {
    const int result = av_bsf_receive_packet(d.filter, d.packet);
    if (result == 0) {
      unit.data.assign(d.packet->data, d.packet->data + d.packet->size);
      unit.keyFrame = (d.packet->flags & AV_PKT_FLAG_KEY) != 0;
      fillTimes(unit, d.packet->pts, d.packet->dts);
      av_packet_unref(d.packet);
      ++units_;
      return true;
    }
    if (result == AVERROR_EOF || rejectedInARow > 100) break;
    if (result != AVERROR(EAGAIN)) {
      ++rejectedInARow;
      // A unit the conversion rejects is skipped; the file counts as damaged.
      damaged_ = true;
      if (conversionError_.empty()) conversionError_ = avErrorText(result);
      continue;
    }
    if (inputEnded_ || !pushNextPacket()) break;
  }
  if (error_.empty()) {
    if (!conversionError_.empty()) {
      error_ = "the file is damaged: a picture could not be put into Annex-B form (" +
               conversionError_ + ")";
    } else if (damaged_) {
      error_ = "the file is damaged: video data was cut short";
    } else if (expectedUnits_ > 0 && static_cast<std::int64_t>(units_) < expectedUnits_) {
      error_ = "the file ends early: " + std::to_string(units_) + " of " +
               std::to_string(expectedUnits_) + " pictures";
    }
  }
  av_packet_free(&d.packet);  // read() returns false from now on
  return false;
}

}  // namespace spdemo
