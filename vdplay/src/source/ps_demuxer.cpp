#include "source/ps_demuxer.h"

#include <algorithm>
#include <cstring>

namespace vdplay {
namespace {

constexpr std::uint8_t kPackStart = 0xBA;
constexpr std::uint8_t kSystemHeader = 0xBB;
constexpr std::uint8_t kStreamMap = 0xBC;
constexpr std::uint8_t kProgramEnd = 0xB9;

bool isStartCode(const std::uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }
bool isVideoId(std::uint8_t id) { return (id & 0xF0) == 0xE0; }
bool isAudioId(std::uint8_t id) { return (id & 0xE0) == 0xC0; }

// An audio stream without a map: ADTS frames start with 12 set bits and a
// layer of 0; anything else in an MPEG audio stream id is MPEG audio.
AudioCodec guessAudioCodec(const std::uint8_t* p, std::size_t n) {
  if (n >= 2 && p[0] == 0xFF && (p[1] & 0xF6) == 0xF0) return AudioCodec::Aac;
  return AudioCodec::MpegAudio;
}

}  // namespace

PsDemuxer::PsDemuxer(vdstream::Codec forcedCodec, std::size_t maxUnitBytes,
                     std::uint32_t nominalFrameMs)
    : forcedCodec_(forcedCodec), maxUnitBytes_(maxUnitBytes), nominalFrameMs_(nominalFrameMs) {}

void PsDemuxer::push(const std::uint8_t* data, std::size_t length, DemuxSink& sink) {
  if (start_ > 0 && start_ >= pending_.size() / 2) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  pending_.insert(pending_.end(), data, data + length);
  parse(sink);
}

std::size_t PsDemuxer::elementSize(const std::uint8_t* p, std::size_t n) const {
  if (p[3] == kPackStart) {
    if (n < 5) return 0;
    if ((p[4] & 0xF0) == 0x20) return 12;  // MPEG-1 pack header
    if (n < 14) return 0;
    return 14 + (p[13] & 0x07);
  }
  if (p[3] == kProgramEnd) return 4;
  if (n < 6) return 0;
  return 6 + (static_cast<std::size_t>(p[4]) << 8 | p[5]);
}

void PsDemuxer::parse(DemuxSink& sink) {
  for (;;) {
    const std::uint8_t* p = pending_.data() + start_;
    const std::size_t n = pending_.size() - start_;
    if (n < 4) return;
    const bool element = isStartCode(p) && p[3] >= kProgramEnd;
    if (!synced_ || !element) {
      if (synced_) lostSync(sink);
      // Look for the next pack header; keep three bytes that may begin one.
      std::size_t k = 0;
      while (k + 4 <= n && !(isStartCode(p + k) && p[k + 3] == kPackStart)) ++k;
      start_ += k;
      if (k + 4 > n) {
        start_ = pending_.size() - 3;
        return;
      }
      synced_ = true;
      continue;
    }
    const std::size_t size = elementSize(p, n);
    if (size == 0 || size > n) return;  // the rest comes later
    start_ += size;
    this->element(p, size, sink);
  }
}

void PsDemuxer::lostSync(DemuxSink& sink) {
  synced_ = false;
  if (video_.stream) video_.stream->lose(sink);
}

void PsDemuxer::element(const std::uint8_t* p, std::size_t n, DemuxSink& sink) {
  switch (p[3]) {
    case kPackStart:
    case kSystemHeader: return;
    case kProgramEnd:
      if (video_.stream) video_.stream->finish(sink);
      return;
    case kStreamMap: streamMap(p, n, sink); return;
    default: pesPacket(p, n, sink);
  }
}

void PsDemuxer::streamMap(const std::uint8_t* p, std::size_t n, DemuxSink& sink) {
  // Start code and length (6), flags and version (2), program info.
  if (n < 16 || !(p[6] & 0x80)) return;  // too short, or not yet in force
  std::size_t i = 10 + (static_cast<std::size_t>(p[8]) << 8 | p[9]);
  if (i + 2 > n) return;
  const std::size_t mapEnd =
      std::min(n - 4, i + 2 + (static_cast<std::size_t>(p[i]) << 8 | p[i + 1]));
  i += 2;
  int videoId = -1, audioId = -1;
  StreamKind video, audio;
  for (; i + 4 <= mapEnd; i += 4 + (static_cast<std::size_t>(p[i + 2]) << 8 | p[i + 3])) {
    StreamKind kind;
    if (!streamKindOfType(p[i], kind)) continue;
    if (kind.video && videoId < 0) {
      if (forcedCodec_ != vdstream::Codec::None) kind.videoCodec = forcedCodec_;
      videoId = p[i + 1];
      video = kind;
    } else if (!kind.video && audioId < 0) {
      audioId = p[i + 1];
      audio = kind;
    }
  }
  mapped_ = true;
  play(video_, videoId, video, sink);
  play(audio_, audioId, audio, sink);
}

// Follows a map that changes: a stream with another id or codec ends its
// unit under way and starts anew.
void PsDemuxer::play(Played& played, int id, const StreamKind& kind, DemuxSink& sink) {
  if (played.stream) {
    if (played.id == id && played.stream->kind() == kind) return;
    played.stream->finish(sink);
    played.stream.reset();
  }
  played.id = id;
  if (id >= 0)
    played.stream.reset(new ElementaryStream(kind, maxUnitBytes_, nominalFrameMs_, timeline_));
}

ElementaryStream* PsDemuxer::streamFor(std::uint8_t id, const std::uint8_t* payload,
                                       std::size_t n) {
  if (video_.stream && video_.id == id) return video_.stream.get();
  if (audio_.stream && audio_.id == id) return audio_.stream.get();
  if (mapped_) return nullptr;
  // No map: the first video and audio stream ids play.
  if (isVideoId(id) && !video_.stream) {
    StreamKind kind;
    kind.video = true;
    kind.videoCodec = forcedCodec_;  // None: told from the contents
    video_.id = id;
    video_.stream.reset(new ElementaryStream(kind, maxUnitBytes_, nominalFrameMs_, timeline_));
    return video_.stream.get();
  }
  if (isAudioId(id) && !audio_.stream) {
    StreamKind kind;
    kind.audioCodec = guessAudioCodec(payload, n);
    audio_.id = id;
    audio_.stream.reset(new ElementaryStream(kind, maxUnitBytes_, nominalFrameMs_, timeline_));
    return audio_.stream.get();
  }
  return nullptr;
}

void PsDemuxer::pesPacket(const std::uint8_t* p, std::size_t n, DemuxSink& sink) {
  if (pesHasNoOptionalHeader(p[3])) return;  // padding and private data
  PesHeader pes;
  if (!parsePesHeader(p, n, pes)) {
    if (video_.stream && video_.id == p[3]) video_.stream->lose(sink);
    return;
  }
  ElementaryStream* stream = streamFor(p[3], p + pes.headerBytes, n - pes.headerBytes);
  if (!stream) return;
  stream->beginPes(pes, p + pes.headerBytes, n - pes.headerBytes, sink);
  if (!stream->kind().video) stream->endPes(sink);  // an audio unit is one PES packet
}

bool PsDemuxer::holdsOpenUnit(std::uint32_t& stampMs) const {
  return video_.stream && video_.stream->holdsOpenUnit(stampMs);
}

void PsDemuxer::closeOpenUnit(DemuxSink& sink) {
  if (video_.stream) video_.stream->closeIdle(sink);
}

std::uint32_t PsDemuxer::idleCloseMs() const {
  return video_.stream ? video_.stream->idleCloseMs() : ElementaryStream::kFirstIdleCloseMs;
}

std::size_t PsDemuxer::bytesHeld() const {
  std::size_t held = pending_.size() - start_;
  if (video_.stream) held += video_.stream->bytesHeld();
  if (audio_.stream) held += audio_.stream->bytesHeld();
  return held;
}

void PsDemuxer::reset() {
  pending_.clear();
  timeline_.reset();
  start_ = 0;
  synced_ = false;
  if (video_.stream) video_.stream->reset();
  if (audio_.stream) audio_.stream->reset();
}

}  // namespace vdplay
