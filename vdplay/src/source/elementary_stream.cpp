#include "source/elementary_stream.h"

#include <new>
#include <utility>

namespace vdplay {

namespace {

// What a NAL unit means for the cutting of access units.
struct NalKind {
  bool picture = false;     // a slice
  bool startsUnit = false;  // it begins an access unit when a picture came before
};

NalKind classifyNal(vdstream::Codec codec, const std::uint8_t* nal) {
  NalKind kind;
  if (codec == vdstream::Codec::H265) {
    const int type = (nal[0] >> 1) & 0x3F;
    kind.picture = type < 32;
    kind.startsUnit = type == 35 || type == 32 || type == 33 || type == 34 || type == 39 ||
                      (kind.picture && (nal[2] & 0x80));  // first slice segment of a picture
  } else {
    const int type = nal[0] & 0x1F;
    kind.picture = type >= 1 && type <= 5;
    kind.startsUnit = type == 9 || type == 7 || type == 8 || type == 6 ||
                      (kind.picture && (nal[1] & 0x80));  // first_mb_in_slice is 0
  }
  return kind;
}

// Bytes of a NAL unit classifyNal needs after the start code.
std::size_t headerBytesNeeded(vdstream::Codec codec) {
  return codec == vdstream::Codec::H265 ? 3 : 2;
}

}  // namespace

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
    case 0x0F: kind.audioCodec = AudioCodec::Aac; return true;
    case 0x03:
    case 0x04: kind.audioCodec = AudioCodec::MpegAudio; return true;
    case 0x90:  // cameras mark G.711 this way
      kind.audioCodec = AudioCodec::G711ALaw;
      return true;
    case 0x91: kind.audioCodec = AudioCodec::G711MuLaw; return true;
  }
  return false;
}

std::size_t findAccessUnitStart(vdstream::Codec codec, const std::uint8_t* p, std::size_t n) {
  if (codec == vdstream::Codec::None) codec = guessVideoCodec(p, n);
  if (codec == vdstream::Codec::None) return n;
  const std::size_t need = headerBytesNeeded(codec);
  for (std::size_t i = 0; i + 3 + need <= n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    if (classifyNal(codec, p + i + 3).startsUnit) return i > 0 && p[i - 1] == 0 ? i - 1 : i;
  }
  return n;
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

void ElementaryStream::beginPes(const PesHeader& pes, const std::uint8_t* data, std::size_t length,
                                DemuxSink& sink) {
  if (!kind_.video) {
    emitAudio(sink);
    audioOpen_ = true;
    unitStamped_ = pes.hasPts;
    if (pes.hasPts) unitStampMs_ = unwrapper_.toMs(pes.pts);
    if (bytes_.size() + length <= maxUnitBytes_) bytes_.insert(bytes_.end(), data, data + length);
    return;
  }
  if (pes.hasPts) stamps_.push_back(PesStamp{bytes_.size(), unwrapper_.toMs(pes.pts)});
  takeVideo(data, length, sink);
}

void ElementaryStream::continuePes(const std::uint8_t* data, std::size_t length, DemuxSink& sink) {
  if (!kind_.video) {
    if (audioOpen_ && bytes_.size() + length <= maxUnitBytes_)
      bytes_.insert(bytes_.end(), data, data + length);
    return;
  }
  takeVideo(data, length, sink);
}

void ElementaryStream::endPes(DemuxSink& sink) {
  if (!kind_.video) {
    emitAudio(sink);
    return;
  }
  cutUnits(sink);
  if (seenPicture_) emitVideo(bytes_.size(), sink);
}

void ElementaryStream::takeVideo(const std::uint8_t* data, std::size_t length, DemuxSink& sink) {
  if (length == 0) return;
  if (kind_.videoCodec == vdstream::Codec::None) {
    kind_.videoCodec = guessVideoCodec(data, length);
    if (kind_.videoCodec == vdstream::Codec::None) {
      stamps_.clear();  // nothing to tell the codec by yet: waited over like a unit before a key
      return;
    }
  }
  if (idleClosed_ && bytes_.empty()) {
    // The first bytes after a unit closed for idleness must begin a unit.
    idleClosed_ = false;
    if (findAccessUnitStart(kind_.videoCodec, data, length) != 0) {
      closedTooEarly(sink);
      resyncing_ = true;
    }
  }
  try {
    bytes_.insert(bytes_.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    lose(sink);
    return;
  }
  cutUnits(sink);
  // A unit larger than the pool is dropped whole, not cut; the stream
  // resumes at the next unit.
  if (bytes_.size() > maxUnitBytes_) lose(sink);
}

void ElementaryStream::cutUnits(DemuxSink& sink) {
  const std::size_t need = headerBytesNeeded(kind_.videoCodec);
  std::size_t i = scanned_;
  while (i + 3 + need <= bytes_.size()) {
    const std::uint8_t* p = bytes_.data() + i;
    if (p[2] > 1) {
      i += 3;
      continue;
    }
    if (p[0] != 0 || p[1] != 0 || p[2] != 1) {
      ++i;
      continue;
    }
    const NalKind nal = classifyNal(kind_.videoCodec, p + 3);
    const std::size_t at = i > 0 && bytes_[i - 1] == 0 ? i - 1 : i;  // a four-byte start code
    if (resyncing_) {
      if (!nal.startsUnit) {
        i += 3;
        continue;
      }
      resyncing_ = false;
      startUnitAt(at, false, i);
      i -= at;
    } else if (nal.startsUnit && seenPicture_) {
      emitVideo(at, sink, i);
      i -= at;
    }
    if (nal.picture) seenPicture_ = true;
    i += 3;
  }
  if (resyncing_) {
    // Keep only what may begin a start code; stamps stay for the unit to come.
    const std::size_t keep = bytes_.size() < 3 ? bytes_.size() : 3;
    startUnitAt(bytes_.size() - keep, false, 0);
    resyncing_ = true;
    i = 0;
  }
  scanned_ = i;
}

// Drops bytes_ before offset: the unit under way starts there. A PES
// stamp at the old start belonged to the unit handed on (when usedStamp);
// the last one begun up to offset belongs to the new unit (up to its start
// code: a zero byte before it may end the last unit or begin this one).
void ElementaryStream::startUnitAt(std::size_t offset, bool usedStamp, std::size_t startCode) {
  if (startCode < offset) startCode = offset;
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  scanned_ = scanned_ > offset ? scanned_ - offset : 0;
  std::vector<PesStamp> kept;
  bool atStart = false;
  std::uint32_t startMs = 0;
  for (const PesStamp& stamp : stamps_) {
    if (usedStamp && stamp.offset == 0) continue;
    if (stamp.offset <= startCode) {
      atStart = true;
      startMs = stamp.ms;
    } else {
      kept.push_back(PesStamp{stamp.offset - offset, stamp.ms});  // after startCode: > offset
    }
  }
  if (atStart) kept.insert(kept.begin(), PesStamp{0, startMs});
  stamps_ = std::move(kept);
  seenPicture_ = false;
}

void ElementaryStream::emitVideo(std::size_t end, DemuxSink& sink, std::size_t startCode) {
  VideoUnit unit;
  unit.codec = kind_.videoCodec;
  unit.stampMs = unitStamp();
  unit.afterLoss = lossPending_;
  try {
    unit.bytes.assign(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(end));
  } catch (const std::bad_alloc&) {
    lossPending_ = true;
    sink.damaged();
    startUnitAt(end, true, startCode);
    return;
  }
  lossPending_ = false;
  haveLastStamp_ = true;
  lastStampMs_ = unit.stampMs;
  startUnitAt(end, true, startCode);
  sink.video(std::move(unit));
}

// The video unit's stamp, or one nominal frame after the last unit's.
std::uint32_t ElementaryStream::unitStamp() const {
  if (!stamps_.empty() && stamps_.front().offset == 0) return stamps_.front().ms;
  return haveLastStamp_ ? lastStampMs_ + nominalFrameMs_ : 0;
}

void ElementaryStream::emitAudio(DemuxSink& sink) {
  if (!audioOpen_) return;
  audioOpen_ = false;
  if (bytes_.empty()) return;
  AudioUnit unit;
  unit.codec = kind_.audioCodec;
  unit.stampMs = unitStamped_ ? unitStampMs_ : lastStampMs_;
  unit.stamped = unitStamped_;
  unit.bytes = std::move(bytes_);
  bytes_ = std::vector<std::uint8_t>();
  haveLastStamp_ = true;
  lastStampMs_ = unit.stampMs;
  sink.audio(std::move(unit));
}

void ElementaryStream::lose(DemuxSink& sink) {
  if (!kind_.video) {
    audioOpen_ = false;
    bytes_.clear();
    return;
  }
  if (seenPicture_ || !resyncing_ || !bytes_.empty()) {
    lossPending_ = true;
    sink.damaged();
  }
  bytes_.clear();
  stamps_.clear();
  scanned_ = 0;
  seenPicture_ = false;
  resyncing_ = true;
}

void ElementaryStream::finish(DemuxSink& sink) {
  if (!kind_.video) {
    emitAudio(sink);
    return;
  }
  cutUnits(sink);
  if (seenPicture_) emitVideo(bytes_.size(), sink);
}

void ElementaryStream::closeIdle(DemuxSink& sink) {
  if (!kind_.video || !seenPicture_) return;
  finish(sink);
  idleClosed_ = true;
}

bool ElementaryStream::holdsOpenUnit(std::uint32_t& stampMs) const {
  stampMs = unitStamp();
  return kind_.video && seenPicture_ && !bytes_.empty();
}

void ElementaryStream::closedTooEarly(DemuxSink& sink) {
  ++earlyCloses_;
  lossPending_ = true;
  sink.damaged();
}

std::uint32_t ElementaryStream::idleCloseMs() const {
  constexpr std::uint32_t kLongestWaitMs = 240;
  const std::uint32_t doublings = earlyCloses_ < 4 ? earlyCloses_ : 4;
  const std::uint32_t ms = kFirstIdleCloseMs << doublings;
  return ms < kLongestWaitMs ? ms : kLongestWaitMs;
}

void ElementaryStream::reset() {
  bytes_.clear();
  stamps_.clear();
  scanned_ = 0;
  seenPicture_ = false;
  resyncing_ = true;
  audioOpen_ = false;
  unitStamped_ = false;
  haveLastStamp_ = false;
  lossPending_ = false;
  idleClosed_ = false;
}

}  // namespace vdplay
