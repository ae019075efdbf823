#include "source/elementary_stream.h"

#include <new>
#include <utility>

namespace vdplay {

bool streamKindOfType(std::uint8_t type, StreamKind& kind) {
  kind = StreamKind();
  switch (type) {
    case 0x1B:
      kind.video = true;
      kind.videoCodec = vdstream::Codec::H264;
      return true;
    case 0x24:
      kind.video = true;
      kind.videoCodec = vdstream::Codec::H265;
      return true;
    case 0x0F:
      kind.audioCodec = AudioCodec::Aac;
      return true;
    case 0x03:
    case 0x04:
      kind.audioCodec = AudioCodec::MpegAudio;
      return true;
    case 0x90:  // cameras mark G.711 this way
      kind.audioCodec = AudioCodec::G711ALaw;
      return true;
    case 0x91:
      kind.audioCodec = AudioCodec::G711MuLaw;
      return true;
  }
  return false;
}

vdstream::Codec guessVideoCodec(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i + 4 < n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    const std::uint8_t b = p[i + 3];
    const std::uint8_t b2 = p[i + 4];
    // H.265 headers are two bytes: type in bits 1-6, then a temporal id of 1 or more.
    const int hevcType = (b >> 1) & 0x3F;
    const bool hevcShape = (b & 0x81) == 0 && (b2 & 0x07) != 0 && (b2 & 0xF8) == 0;
    if (hevcShape && (hevcType == 32 || hevcType == 33 || hevcType == 35))
      return vdstream::Codec::H265;  // VPS, SPS, access unit delimiter
    const int avcType = b & 0x1F;
    if ((b & 0x80) == 0 && (avcType == 7 || avcType == 9)) return vdstream::Codec::H264;
  }
  return vdstream::Codec::None;
}

void ElementaryStream::beginPes(const PesHeader& pes, DemuxSink& sink) {
  // Video units may span several PES packets; only a stamped one starts a
  // new unit. Audio is handed on a PES packet at a time.
  const bool startsUnit = !kind_.video || pes.hasPts || !open_;
  if (!startsUnit) return;
  finish(sink);
  open_ = true;
  broken_ = false;
  stamped_ = pes.hasPts;
  if (pes.hasPts) stampMs_ = unwrapper_.toMs(pes.pts);
}

void ElementaryStream::append(const std::uint8_t* data, std::size_t length) {
  if (!open_ || broken_ || length == 0) return;
  if (bytes_.size() + length > maxUnitBytes_) {
    broken_ = true;  // larger than the pool: dropped whole, not cut
    bytes_.clear();
    return;
  }
  try {
    bytes_.insert(bytes_.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    broken_ = true;
    bytes_.clear();
  }
}

void ElementaryStream::finish(DemuxSink& sink) {
  if (!open_) return;
  open_ = false;
  if (broken_ || bytes_.empty()) {
    const bool lost = broken_;
    broken_ = false;
    bytes_.clear();
    if (lost) {
      lossPending_ = true;
      sink.damaged();
    }
    return;
  }
  if (!stamped_) {
    // Unstamped: one nominal frame (video) after the last, or with it (audio).
    stampMs_ = haveLastStamp_ ? lastStampMs_ + (kind_.video ? nominalFrameMs_ : 0) : 0;
  }
  haveLastStamp_ = true;
  lastStampMs_ = stampMs_;
  if (kind_.video) {
    emitVideo(sink);
    return;
  }
  AudioUnit unit;
  unit.codec = kind_.audioCodec;
  unit.stampMs = stampMs_;
  unit.stamped = stamped_;
  unit.bytes = std::move(bytes_);
  bytes_ = std::vector<std::uint8_t>();
  sink.audio(std::move(unit));
}

void ElementaryStream::emitVideo(DemuxSink& sink) {
  if (kind_.videoCodec == vdstream::Codec::None)
    kind_.videoCodec = guessVideoCodec(bytes_.data(), bytes_.size());
  if (kind_.videoCodec == vdstream::Codec::None) {
    bytes_.clear();  // nothing to tell the codec by yet: waited over like a unit before a key picture
    return;
  }
  VideoUnit unit;
  unit.codec = kind_.videoCodec;
  unit.stampMs = stampMs_;
  unit.afterLoss = lossPending_;
  lossPending_ = false;
  unit.bytes = std::move(bytes_);
  bytes_ = std::vector<std::uint8_t>();
  sink.video(std::move(unit));
}

void ElementaryStream::reset() {
  bytes_.clear();
  open_ = broken_ = stamped_ = false;
  haveLastStamp_ = false;
  lossPending_ = false;
}

}  // namespace vdplay
