#include "source/ts_demuxer.h"

#include <algorithm>

#include "source/mpeg_section.h"

namespace vdplay {
namespace {

constexpr std::uint8_t kSyncByte = 0x47;
constexpr std::uint16_t kPatPid = 0;
constexpr std::uint16_t kNullPid = 0x1FFF;

// Bytes the adaptation field's flags ask for; more than that is stuffing,
// which a multiplexer adds only to the last packet of a PES packet.
std::size_t adaptationFieldNeeds(const std::uint8_t* field, std::size_t length) {
  if (length == 0) return 0;
  const std::uint8_t flags = field[0];
  std::size_t need = 1;
  if (flags & 0x10) need += 6;                                   // PCR
  if (flags & 0x08) need += 6;                                   // OPCR
  if (flags & 0x04) need += 1;                                   // splice countdown
  if ((flags & 0x02) && need < length) need += 1 + field[need];  // private data
  if ((flags & 0x01) && need < length) need += 1 + field[need];  // extension
  return need;
}

}  // namespace

TsDemuxer::TsDemuxer(vdstream::Codec forcedCodec, std::size_t maxUnitBytes,
                     std::uint32_t nominalFrameMs)
    : forcedCodec_(forcedCodec), maxUnitBytes_(maxUnitBytes), nominalFrameMs_(nominalFrameMs) {}

void TsDemuxer::push(const std::uint8_t* data, std::size_t length, DemuxSink& sink) {
  // The time code of a 192-byte packet whose 188 bytes came earlier.
  const std::size_t skip = std::min(timecodeToSkip_, length);
  timecodeToSkip_ -= skip;
  data += skip;
  length -= skip;
  while (length > 0) {
    if (carry_.empty()) {
      const std::size_t used = scan(data, length, sink);
      if (used >= length) {
        timecodeToSkip_ = used - length;
        carry_.clear();
      } else {
        carry_.assign(data + used, data + length);  // the rest waits for more bytes
      }
      return;
    }
    // Complete the carried packet, or gather bytes to find the sync again.
    const std::size_t want =
        synced_ && carry_.size() < kPacketSize ? kPacketSize - carry_.size() : length;
    const std::size_t take = std::min(want, length);
    carry_.insert(carry_.end(), data, data + take);
    data += take;
    length -= take;
    const std::size_t carried = carry_.size();
    const std::size_t used = scan(carry_.data(), carried, sink);
    carry_.erase(carry_.begin(),
                 carry_.begin() + static_cast<std::ptrdiff_t>(std::min(used, carried)));
    if (used > carried) {
      // The last packet's time code lies in the bytes still to come.
      const std::size_t more = std::min(used - carried, length);
      data += more;
      length -= more;
      timecodeToSkip_ = used - carried - more;
    }
  }
}

std::size_t TsDemuxer::scan(const std::uint8_t* p, std::size_t n, DemuxSink& sink) {
  std::size_t pos = 0;
  while (pos < n && n - pos >= (synced_ ? kPacketSize : stride_)) {
    if (synced_) {
      if (p[pos] == kSyncByte) {
        packet(p + pos, sink);
        pos += stride_;  // may pass n by the next packet's time code
        continue;
      }
      lostSync(sink);
    }
    // In sync again where two packets in a row start with the sync byte,
    // 188 bytes apart, or 192 with time codes between them.
    const std::size_t longest = kTimecodedPacketSize;
    std::size_t k = pos;
    for (; k + longest < n; ++k) {
      if (p[k] != kSyncByte) continue;
      if (p[k + kPacketSize] == kSyncByte) {
        stride_ = kPacketSize;
        break;
      }
      if (p[k + kTimecodedPacketSize] == kSyncByte) {
        stride_ = kTimecodedPacketSize;
        break;
      }
    }
    if (k + longest >= n) {
      // Not found yet: keep what may still hold a packet start.
      const std::size_t keep = std::min(n - pos, longest);
      return n - keep;
    }
    pos = k;
    synced_ = true;
  }
  return pos;
}

void TsDemuxer::lostSync(DemuxSink& sink) {
  synced_ = false;
  for (auto& entry : pids_) {
    if (entry.second.stream) entry.second.stream->lose(sink);
    entry.second.section.clear();
    entry.second.lastCounter = -1;
  }
}

void TsDemuxer::packet(const std::uint8_t* p, DemuxSink& sink) {
  const std::uint16_t pid = static_cast<std::uint16_t>((p[1] & 0x1F) << 8 | p[2]);
  if (pid == kNullPid) return;
  const bool table = pid == kPatPid || pid == pmtPid_;
  const auto it = pids_.find(pid);
  if (!table && (it == pids_.end() || !it->second.stream)) return;  // a stream not played
  Pid& state = pids_[pid];
  if (p[1] & 0x80) {  // the transport marked it damaged
    if (state.stream) state.stream->lose(sink);
    state.section.clear();
    return;
  }
  const bool unitStart = (p[1] & 0x40) != 0;
  const bool scrambled = (p[3] & 0xC0) != 0;
  const int control = (p[3] >> 4) & 0x03;
  const int counter = p[3] & 0x0F;
  std::size_t offset = 4;
  bool discontinuity = false;
  bool stuffed = false;
  if (control & 0x02) {
    const std::size_t fieldLength = p[4];
    if (fieldLength > kPacketSize - 5) {
      if (state.stream) state.stream->lose(sink);
      return;
    }
    discontinuity = fieldLength > 0 && (p[5] & 0x80);
    // A field of length 0, or of flags 0 alone, stuffs one or two bytes.
    stuffed = (control & 0x01) &&
              (fieldLength == 0 || (fieldLength == 1 && p[5] == 0) ||
               fieldLength > adaptationFieldNeeds(p + 5, fieldLength));
    offset = 5 + fieldLength;
  }
  if (!(control & 0x01)) return;  // no payload, and the counter does not move
  if (state.lastCounter >= 0 && !discontinuity) {
    if (counter == state.lastCounter) return;  // sent twice
    if (counter != ((state.lastCounter + 1) & 0x0F)) {
      if (state.stream) state.stream->lose(sink);
      state.section.clear();
    }
  }
  state.lastCounter = counter;
  if (scrambled) return;
  const std::uint8_t* payload = p + offset;
  const std::size_t n = kPacketSize - offset;
  if (table) {
    tablePayload(pid, state, payload, n, unitStart, sink);
  } else {
    pesPayload(state, payload, n, unitStart, stuffed, sink);
  }
}

void TsDemuxer::tablePayload(std::uint16_t pid, Pid& state, const std::uint8_t* p, std::size_t n,
                             bool unitStart, DemuxSink& sink) {
  if (unitStart) {
    const std::size_t pointer = p[0];
    if (1 + pointer > n) {
      state.section.clear();
      return;
    }
    // The bytes before the pointer end a section begun in earlier packets.
    if (!state.section.empty()) {
      state.section.insert(state.section.end(), p + 1, p + 1 + pointer);
      takeSections(pid, state, sink);
    }
    state.section.assign(p + 1 + pointer, p + n);
  } else if (!state.section.empty()) {
    state.section.insert(state.section.end(), p, p + n);
  }
  takeSections(pid, state, sink);
}

// Every whole section at the front (several tables may share a packet).
void TsDemuxer::takeSections(std::uint16_t pid, Pid& state, DemuxSink& sink) {
  for (;;) {
    if (state.section.empty() || state.section[0] == 0xFF) {  // stuffing ends the packet
      state.section.clear();
      return;
    }
    const std::size_t length = sectionLength(state.section.data(), state.section.size());
    if (length == 0 || length > state.section.size()) {
      if (state.section.size() > kMaxSectionBytes) state.section.clear();
      return;
    }
    const std::vector<std::uint8_t> whole(
        state.section.begin(), state.section.begin() + static_cast<std::ptrdiff_t>(length));
    state.section.erase(state.section.begin(),
                        state.section.begin() + static_cast<std::ptrdiff_t>(length));
    section(pid, whole.data(), whole.size(), sink);
  }
}

void TsDemuxer::section(std::uint16_t pid, const std::uint8_t* s, std::size_t n, DemuxSink& sink) {
  if (!sectionCrcOk(s, n)) return;
  if (pid == kPatPid && s[0] == 0x00) {
    programAssociation(s, n);
  } else if (static_cast<int>(pid) == pmtPid_ && s[0] == 0x02) {
    programMap(s, n, sink);
  }
}

void TsDemuxer::programAssociation(const std::uint8_t* s, std::size_t n) {
  if (n < 12 || !(s[5] & 0x01)) return;  // too short, or not yet in force
  for (std::size_t i = 8; i + 4 <= n - 4; i += 4) {
    const int program = s[i] << 8 | s[i + 1];
    const int pid = (s[i + 2] & 0x1F) << 8 | s[i + 3];
    if (program == 0) continue;  // the network table
    if (pid != pmtPid_) {
      if (pmtPid_ >= 0) pids_.erase(static_cast<std::uint16_t>(pmtPid_));
      pmtPid_ = pid;
    }
    return;
  }
}

void TsDemuxer::programMap(const std::uint8_t* s, std::size_t n, DemuxSink& sink) {
  if (n < 16 || !(s[5] & 0x01)) return;
  const std::size_t end = n - 4;
  std::size_t i = 12 + ((s[10] & 0x0F) << 8 | s[11]);
  int videoPid = -1, audioPid = -1;
  StreamKind video, audio;
  for (; i + 5 <= end; i += 5 + ((s[i + 3] & 0x0F) << 8 | s[i + 4])) {
    StreamKind kind;
    if (!streamKindOfType(s[i], kind)) continue;
    const int pid = (s[i + 1] & 0x1F) << 8 | s[i + 2];
    if (pid == kPatPid || pid == pmtPid_ || pid == kNullPid) continue;
    if (kind.video && videoPid < 0) {
      if (forcedCodec_ != vdstream::Codec::None) kind.videoCodec = forcedCodec_;
      videoPid = pid;
      video = kind;
    } else if (!kind.video && audioPid < 0) {
      audioPid = pid;
      audio = kind;
    }
  }
  playStream(videoPid_, videoPid, video, sink);
  playStream(audioPid_, audioPid, audio, sink);
}

// Follows a change of the map: a stream that moved to another PID or
// changed its codec ends its unit under way and starts anew.
void TsDemuxer::playStream(int& playedPid, int pid, const StreamKind& kind, DemuxSink& sink) {
  if (playedPid >= 0) {
    const auto it = pids_.find(static_cast<std::uint16_t>(playedPid));
    if (it != pids_.end() && it->second.stream) {
      if (playedPid == pid && it->second.stream->kind() == kind) return;
      it->second.stream->finish(sink);
      pids_.erase(it);
    }
  }
  playedPid = pid;
  if (pid < 0) return;
  Pid& state = pids_[static_cast<std::uint16_t>(pid)];
  state = Pid();
  state.stream.reset(new ElementaryStream(kind, maxUnitBytes_, nominalFrameMs_, timeline_));
}

void TsDemuxer::pesPayload(Pid& state, const std::uint8_t* p, std::size_t n, bool unitStart,
                           bool lastOfPes, DemuxSink& sink) {
  ElementaryStream& stream = *state.stream;
  PesHeader pes;
  if (unitStart) {
    if (!parsePesHeader(p, n, pes)) {
      stream.lose(sink);
      state.pesRemaining = 0;
      return;
    }
    p += pes.headerBytes;
    n -= pes.headerBytes;
    state.pesRemaining = pes.packetLength ? 6 + pes.packetLength - pes.headerBytes : 0;
  }
  bool ended = lastOfPes;
  if (state.pesRemaining) {
    n = std::min(n, state.pesRemaining);
    state.pesRemaining -= n;
    ended = ended || state.pesRemaining == 0;
  }
  if (unitStart) {
    stream.beginPes(pes, p, n, sink);
  } else {
    stream.continuePes(p, n, sink);  // nothing when the start was not seen
  }
  if (ended) stream.endPes(sink);
}

ElementaryStream* TsDemuxer::videoStream() const {
  if (videoPid_ < 0) return nullptr;
  const auto it = pids_.find(static_cast<std::uint16_t>(videoPid_));
  return it != pids_.end() ? it->second.stream.get() : nullptr;
}

bool TsDemuxer::holdsOpenUnit(std::uint32_t& stampMs) const {
  const ElementaryStream* video = videoStream();
  return video && video->holdsOpenUnit(stampMs);
}

void TsDemuxer::closeOpenUnit(DemuxSink& sink) {
  if (ElementaryStream* video = videoStream()) video->closeIdle(sink);
}

std::uint32_t TsDemuxer::idleCloseMs() const {
  const ElementaryStream* video = videoStream();
  return video ? video->idleCloseMs() : ElementaryStream::kFirstIdleCloseMs;
}

std::size_t TsDemuxer::bytesHeld() const {
  std::size_t held = carry_.size();
  for (const auto& entry : pids_) {
    if (entry.second.stream) held += entry.second.stream->bytesHeld();
    held += entry.second.section.size();
  }
  return held;
}

void TsDemuxer::reset() {
  carry_.clear();
  timecodeToSkip_ = 0;
  timeline_.reset();
  synced_ = false;
  for (auto& entry : pids_) {
    entry.second.section.clear();
    entry.second.lastCounter = -1;
    entry.second.pesRemaining = 0;
    if (entry.second.stream) entry.second.stream->reset();
  }
}

}  // namespace vdplay
