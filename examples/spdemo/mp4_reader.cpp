#include "mp4_reader.h"

#include <VdStreamFormat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <vector>

namespace spdemo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kMaxIndexBytes = 256u << 20;   // the moov box read into memory
constexpr std::uint32_t kMaxUnitBytes = 16u << 20;     // one access unit
constexpr std::uint32_t kMaxAudioSampleBytes = 8184;   // an AAC frame an ADTS header can carry
constexpr std::size_t kG711UnitBytes = 320;            // 40 ms at 8 kHz
constexpr std::int64_t kMaxTicks = INT64_C(1) << 60;   // time stamps saturate here
constexpr double kLargestStepSeconds = 10;             // between two pictures' decoding times
constexpr std::int64_t kSoundAfterPicturesMs = 1000;   // sound kept past the last picture

constexpr std::uint32_t fourcc(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) << 24 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3]));
}

std::string fourccText(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((code >> shift) & 0xFF);
    text += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  }
  return text;
}

std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::uint32_t be32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
std::uint64_t be64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(be32(p)) << 32 | be32(p + 4);
}

// Milliseconds of ticks at a time scale, rounded to the nearest (halves away
// from zero), without overflow.
std::int64_t ticksToMs(std::int64_t ticks, std::uint32_t timescale) {
  if (ticks < 0) return -ticksToMs(-ticks, timescale);
  const std::int64_t scale = timescale;
  return ticks / scale * 1000 + ((ticks % scale) * 1000 + scale / 2) / scale;
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
  const std::int64_t sum = a + b;  // both within +-2^62 here
  return std::clamp<std::int64_t>(sum, -kMaxTicks, kMaxTicks);
}

// A box in memory: its type and its payload (after the size, type and any
// 64-bit size).
struct Box {
  std::uint32_t type = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  explicit operator bool() const { return data != nullptr; }
};

// The boxes inside a payload, from offset `skip` on. A box that claims more
// than its parent holds ends the walk (the damaged part is left out).
std::vector<Box> childrenOf(const std::uint8_t* data, std::size_t size, std::size_t skip = 0) {
  std::vector<Box> boxes;
  std::size_t at = skip;
  while (at <= size && size - at >= 8) {
    std::uint64_t boxSize = be32(data + at);
    const std::uint32_t type = be32(data + at + 4);
    std::size_t headerSize = 8;
    if (boxSize == 1) {
      if (size - at < 16) break;
      boxSize = be64(data + at + 8);
      headerSize = 16;
    } else if (boxSize == 0) {
      boxSize = size - at;  // to the end of the parent
    }
    if (boxSize < headerSize || boxSize > size - at) break;
    boxes.push_back({type, data + at + headerSize, static_cast<std::size_t>(boxSize) - headerSize});
    at += static_cast<std::size_t>(boxSize);
  }
  return boxes;
}

Box childOf(const Box& parent, std::uint32_t type, std::size_t skip = 0) {
  if (!parent || parent.size < skip) return {};
  for (const Box& box : childrenOf(parent.data, parent.size, skip))
    if (box.type == type) return box;
  return {};
}

// A table of a full box: its entry count at payload offset `countAt` and
// its entries after it, each entryBytes long. Empty when the box is too
// small for the entries it counts.
struct Table {
  const std::uint8_t* data = nullptr;
  std::uint32_t count = 0;
  std::size_t entryBytes = 0;
  const std::uint8_t* entry(std::uint32_t i) const { return data + i * entryBytes; }
};

bool readTable(const Box& box, std::size_t entryBytes, Table& table, std::size_t countAt = 4) {
  if (!box || box.size < countAt + 4) return false;
  const std::uint32_t count = be32(box.data + countAt);
  const std::size_t room = box.size - countAt - 4;
  if (count > room / entryBytes) return false;
  table = {box.data + countAt + 4, count, entryBytes};
  return true;
}

// The sample sizes: one size for all, or a table of 32, 16, 8 or 4 bits each.
struct Sizes {
  std::uint32_t constant = 0;
  std::uint32_t count = 0;
  const std::uint8_t* table = nullptr;
  int fieldBits = 32;

  std::uint32_t at(std::uint32_t i) const {
    if (!table) return constant;
    switch (fieldBits) {
      case 32: return be32(table + 4 * static_cast<std::size_t>(i));
      case 16: return be16(table + 2 * static_cast<std::size_t>(i));
      case 8: return table[i];
      default: return (table[i / 2] >> (i % 2 ? 0 : 4)) & 0x0F;
    }
  }
};

bool readSizes(const Box& stsz, const Box& stz2, std::uint64_t fileSize, Sizes& sizes) {
  if (stsz) {
    if (stsz.size < 12) return false;
    sizes.constant = be32(stsz.data + 4);
    sizes.count = be32(stsz.data + 8);
    if (sizes.constant != 0) {
      // Every sample takes its bytes of the file: more cannot be there.
      sizes.count = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(sizes.count, fileSize / sizes.constant));
      return true;
    }
    if (sizes.count > (stsz.size - 12) / 4) return false;
    sizes.table = stsz.data + 12;
    return true;
  }
  if (!stz2 || stz2.size < 12) return false;
  sizes.fieldBits = stz2.data[7];
  sizes.count = be32(stz2.data + 8);
  if (sizes.fieldBits != 4 && sizes.fieldBits != 8 && sizes.fieldBits != 16) return false;
  const std::uint64_t bytes = (static_cast<std::uint64_t>(sizes.count) * sizes.fieldBits + 7) / 8;
  if (bytes > stz2.size - 12) return false;
  sizes.table = stz2.data + 12;
  return true;
}

struct Sample {
  std::uint32_t number = 0;  // from 1, as the tables count
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  std::int64_t dts = 0;
  std::int64_t pts = 0;
  bool key = false;
};

enum class TrackKind { Video, Audio };

struct Track {
  TrackKind kind = TrackKind::Video;
  std::uint32_t timescale = 0;
  Table stts, ctts, stsc, chunks, stss;
  bool hasCtts = false;
  bool hasStss = false;
  Sizes sizes;
  // The edit list: the media time shown first, after a delay in ms.
  bool hasEdit = false;
  std::int64_t mediaTime = 0;
  std::int64_t delayMs = 0;
  // Video.
  VideoCodec codec = VideoCodec::H264;
  std::uint32_t width = 0, height = 0;
  std::size_t nalLengthBytes = 4;
  Bytes parameterSets;  // Annex-B
  // Audio.
  std::uint32_t payload = 0;
  AacConfig aac;
  std::string codecName;
};

// Walks a track's sample tables one sample at a time, without expanding
// them: each call is bounded by the tables' sizes.
class SampleCursor {
 public:
  SampleCursor() = default;
  SampleCursor(const Track* track, std::uint64_t fileSize)
      : t_(track), fileSize_(fileSize), noun_(track->kind == TrackKind::Video ? "picture" : "sound sample") {}

  bool atEnd() const { return !t_ || index_ >= t_->sizes.count || failed_; }
  const std::string& problem() const { return problem_; }

  bool next(Sample& s) {
    if (atEnd()) return false;
    const Track& t = *t_;
    while (chunkLeft_ == 0) {
      if (chunk_ >= t.chunks.count)
        return fail(noun_ + " " + std::to_string(index_ + 1) + " lies in no chunk");
      while (stscEntry_ + 1 < t.stsc.count && be32(t.stsc.entry(stscEntry_ + 1)) <= chunk_ + 1)
        ++stscEntry_;
      if (t.stsc.count == 0 || be32(t.stsc.entry(stscEntry_)) > chunk_ + 1)
        return fail("the sample-to-chunk table does not cover chunk " + std::to_string(chunk_ + 1));
      chunkLeft_ = be32(t.stsc.entry(stscEntry_) + 4);
      offset_ = t.chunks.entryBytes == 8 ? be64(t.chunks.entry(chunk_)) : be32(t.chunks.entry(chunk_));
      ++chunk_;
    }
    s.number = index_ + 1;
    s.size = t.sizes.at(index_);
    s.offset = offset_;
    if (s.size > fileSize_ || s.offset > fileSize_ - s.size)
      return fail(noun_ + " " + std::to_string(s.number) + " lies beyond the end of the file");
    offset_ += s.size;
    --chunkLeft_;

    while (sttsLeft_ == 0 && sttsEntry_ < t.stts.count) {
      sttsLeft_ = be32(t.stts.entry(sttsEntry_));
      delta_ = be32(t.stts.entry(sttsEntry_) + 4);
      ++sttsEntry_;
    }
    s.dts = dts_;
    dts_ = saturatingAdd(dts_, delta_);  // past the table: the last duration again
    if (sttsLeft_ > 0) --sttsLeft_;

    std::int64_t offset = 0;
    if (t.hasCtts) {
      while (cttsLeft_ == 0 && cttsEntry_ < t.ctts.count) {
        cttsLeft_ = be32(t.ctts.entry(cttsEntry_));
        cttsOffset_ = static_cast<std::int32_t>(be32(t.ctts.entry(cttsEntry_) + 4));
        ++cttsEntry_;
      }
      if (cttsLeft_ > 0) --cttsLeft_;
      offset = cttsOffset_;
    }
    s.pts = saturatingAdd(s.dts, offset);

    s.key = !t.hasStss;
    while (stssNext_ < t.stss.count && be32(t.stss.entry(stssNext_)) < s.number) ++stssNext_;
    if (stssNext_ < t.stss.count && be32(t.stss.entry(stssNext_)) == s.number) s.key = true;
    ++index_;
    return true;
  }

 private:
  bool fail(std::string problem) {
    failed_ = true;
    problem_ = std::move(problem);
    return false;
  }

  const Track* t_ = nullptr;
  std::uint64_t fileSize_ = 0;
  std::uint32_t index_ = 0;
  std::uint32_t chunk_ = 0;  // chunks begun
  std::uint32_t chunkLeft_ = 0;
  std::uint32_t stscEntry_ = 0;
  std::uint64_t offset_ = 0;
  std::uint32_t sttsEntry_ = 0, sttsLeft_ = 0;
  std::int64_t delta_ = 0, dts_ = 0;
  std::uint32_t cttsEntry_ = 0, cttsLeft_ = 0;
  std::int64_t cttsOffset_ = 0;
  std::uint32_t stssNext_ = 0;
  std::string noun_;  // for messages
  bool failed_ = false;
  std::string problem_;
};

// ------------------------------------------------------------ sample entries

// The NAL units of an avcC or hvcC as Annex-B.
void appendNal(Bytes& out, const std::uint8_t* nal, std::size_t size) {
  static const std::uint8_t kStartCode[] = {0, 0, 0, 1};
  out.insert(out.end(), kStartCode, kStartCode + 4);
  out.insert(out.end(), nal, nal + size);
}

bool readAvcC(const Box& box, Track& t) {
  const std::uint8_t* p = box.data;
  const std::size_t n = box.size;
  if (n < 6 || p[0] != 1) return false;
  t.nalLengthBytes = (p[4] & 3) + 1u;
  std::size_t at = 5;
  for (int list = 0; list < 2; ++list) {  // sequence, then picture parameter sets
    if (at >= n) return false;
    const unsigned count = list == 0 ? (p[at] & 0x1F) : p[at];
    ++at;
    for (unsigned i = 0; i < count; ++i) {
      if (n - at < 2) return false;
      const std::size_t length = be16(p + at);
      at += 2;
      if (length == 0 || length > n - at) return false;
      appendNal(t.parameterSets, p + at, length);
      at += length;
    }
  }
  return !t.parameterSets.empty();
}

bool readHvcC(const Box& box, Track& t) {
  const std::uint8_t* p = box.data;
  const std::size_t n = box.size;
  if (n < 23) return false;
  t.nalLengthBytes = (p[21] & 3) + 1u;
  const unsigned arrays = p[22];
  std::size_t at = 23;
  for (unsigned a = 0; a < arrays; ++a) {
    if (n - at < 3) return false;
    const unsigned count = be16(p + at + 1);
    at += 3;
    for (unsigned i = 0; i < count; ++i) {
      if (n - at < 2) return false;
      const std::size_t length = be16(p + at);
      at += 2;
      if (length > n - at) return false;
      if (length > 0) appendNal(t.parameterSets, p + at, length);
      at += length;
    }
  }
  return !t.parameterSets.empty();
}

// A descriptor's tag and length (one to four bytes of seven bits) in esds,
// from data[at]; at moves to the descriptor's contents.
bool readDescriptor(const std::uint8_t* data, std::size_t size, std::size_t& at, std::uint8_t& tag,
                    std::size_t& length) {
  if (at >= size) return false;
  tag = data[at++];
  length = 0;
  for (int i = 0; i < 4; ++i) {
    if (at >= size) return false;
    const std::uint8_t b = data[at++];
    length = (length << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return length <= size - at;
}

// AAC from the decoder configuration in esds: the AudioSpecificConfig for
// MPEG-4 audio, the profile for MPEG-2 AAC.
bool readEsds(const Box& esds, std::uint32_t rate, std::uint32_t channels, Track& t) {
  const std::uint8_t* data = esds.data;
  std::size_t size = esds.size;
  std::size_t at = 4;  // after version and flags
  std::uint8_t tag = 0;
  std::size_t length = 0;
  if (!readDescriptor(data, size, at, tag, length) || tag != 0x03 || length < 3) return false;
  size = at + length;  // the elementary stream descriptor
  const std::uint8_t flags = data[at + 2];
  at += 3;
  if (flags & 0x80) at += 2;                            // depends on another stream
  if ((flags & 0x40) && at < size) at += 1 + data[at];  // a URL
  if (flags & 0x20) at += 2;                            // OCR stream
  if (at > size || !readDescriptor(data, size, at, tag, length) || tag != 0x04 || length < 13)
    return false;
  const std::uint8_t objectType = data[at];
  const std::size_t configEnd = at + length;
  std::size_t config = at + 13;
  if (objectType == 0x40) {  // MPEG-4 audio
    if (!readDescriptor(data, configEnd, config, tag, length) || tag != 0x05) return false;
    return readAudioSpecificConfig(data + config, length, t.aac);
  }
  if (objectType >= 0x66 && objectType <= 0x68) {  // MPEG-2 AAC main, LC, SSR
    static const std::uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                           22050, 16000, 12000, 11025, 8000,  7350};
    const auto* found = std::find(std::begin(kRates), std::end(kRates), rate);
    if (found == std::end(kRates) || channels < 1 || channels > 7) return false;
    t.aac = {objectType - 0x65u, static_cast<std::uint32_t>(found - std::begin(kRates)), channels};
    return true;
  }
  return false;
}

// The first sample entry of a video track; false with why when it does not play.
bool readVideoEntry(const Box& stsd, Track& t, std::string& why) {
  const auto entries = stsd.size >= 8 ? childrenOf(stsd.data, stsd.size, 8) : std::vector<Box>{};
  if (entries.empty()) return why = "its video track has no sample description", false;
  const Box& entry = entries[0];
  const std::uint32_t type = entry.type;
  const bool h264 = type == fourcc("avc1") || type == fourcc("avc3");
  const bool h265 = type == fourcc("hvc1") || type == fourcc("hev1");
  if (!h264 && !h265) {
    why = "its video is " + fourccText(type) + "; only H.264 and H.265 play";
    return false;
  }
  constexpr std::size_t kVisualEntryBytes = 78;
  if (entry.size < kVisualEntryBytes) return why = "its video's sample description is cut short", false;
  t.codec = h265 ? VideoCodec::H265 : VideoCodec::H264;
  t.width = be16(entry.data + 24);
  t.height = be16(entry.data + 26);
  const Box config = childOf(entry, fourcc(h265 ? "hvcC" : "avcC"), kVisualEntryBytes);
  if (!config || !(h265 ? readHvcC(config, t) : readAvcC(config, t))) {
    why = std::string("its video lacks a readable ") + (h265 ? "hvcC" : "avcC") +
          " (the decoder configuration)";
    return false;
  }
  return true;
}

// The first sample entry of a sound track; false when it does not play.
bool readAudioEntry(const Box& stsd, Track& t) {
  const auto entries = stsd.size >= 8 ? childrenOf(stsd.data, stsd.size, 8) : std::vector<Box>{};
  if (entries.empty()) return false;
  const Box& entry = entries[0];
  if (entry.size < 28) return false;
  // The sound description, version 0, 1 (16 bytes more) or 2 (36 more).
  const std::uint16_t version = be16(entry.data + 8);
  std::uint32_t channels = be16(entry.data + 16);
  std::uint32_t rate = be32(entry.data + 24) >> 16;
  std::size_t childrenAt = 28;
  if (version == 1) {
    childrenAt = 44;
  } else if (version == 2) {
    childrenAt = 64;
    if (entry.size < childrenAt) return false;
    std::uint64_t bits = be64(entry.data + 32);
    double rateValue = 0;
    std::memcpy(&rateValue, &bits, sizeof rateValue);
    rate = rateValue > 0 && rateValue < 1e6 ? static_cast<std::uint32_t>(rateValue + 0.5) : 0;
    channels = be32(entry.data + 40);
  }
  if (entry.size < childrenAt) return false;
  if (entry.type == fourcc("alaw") || entry.type == fourcc("ulaw")) {
    if (rate != 8000 || channels != 1) return false;
    const bool alaw = entry.type == fourcc("alaw");
    t.payload = static_cast<std::uint32_t>(alaw ? vdstream::Payload::G711ALaw
                                                : vdstream::Payload::G711MuLaw);
    t.codecName = alaw ? "pcm_alaw" : "pcm_mulaw";
    return true;
  }
  if (entry.type != fourcc("mp4a")) return false;
  Box esds = childOf(entry, fourcc("esds"), childrenAt);
  if (!esds) esds = childOf(childOf(entry, fourcc("wave"), childrenAt), fourcc("esds"));  // in a wave box
  if (!esds || !readEsds(esds, rate, channels, t)) return false;
  t.payload = static_cast<std::uint32_t>(vdstream::Payload::AacAdts);
  t.codecName = "aac";
  return true;
}

// Leading empty edits delay the track; the first other edit says where its
// media starts. Other edits are not followed.
void readEditList(const Box& elst, std::uint32_t movieTimescale, Track& t) {
  if (!elst || elst.size < 8) return;
  const bool wide = elst.data[0] == 1;
  Table entries;
  if (!readTable(elst, wide ? 20 : 12, entries)) return;
  std::int64_t delay = 0;
  for (std::uint32_t i = 0; i < entries.count; ++i) {
    const std::uint8_t* e = entries.entry(i);
    const std::int64_t duration = wide ? static_cast<std::int64_t>(be64(e) & (kMaxTicks - 1)) : be32(e);
    const std::int64_t mediaTime = wide ? static_cast<std::int64_t>(be64(e + 8))
                                        : static_cast<std::int32_t>(be32(e + 4));
    if (mediaTime == -1) {
      delay = saturatingAdd(delay, duration);
      continue;
    }
    if (mediaTime < 0 || mediaTime > kMaxTicks) return;
    t.hasEdit = true;
    t.mediaTime = mediaTime;
    t.delayMs = movieTimescale ? ticksToMs(delay, movieTimescale) : 0;
    return;
  }
}

// A track of the index; false (why set for a video track that does not
// play) when it is no track the demo takes.
bool readTrack(const Box& trak, std::uint32_t movieTimescale, std::uint64_t fileSize, Track& t,
               std::string& why) {
  const Box mdia = childOf(trak, fourcc("mdia"));
  const Box hdlr = childOf(mdia, fourcc("hdlr"));
  const Box mdhd = childOf(mdia, fourcc("mdhd"));
  if (!hdlr || hdlr.size < 12 || !mdhd || mdhd.size < 4) return false;
  const std::uint32_t handler = be32(hdlr.data + 8);
  if (handler == fourcc("vide")) {
    t.kind = TrackKind::Video;
  } else if (handler == fourcc("soun")) {
    t.kind = TrackKind::Audio;
  } else {
    return false;
  }
  const bool video = t.kind == TrackKind::Video;
  const std::size_t scaleAt = mdhd.data[0] == 1 ? 20 : 12;
  if (mdhd.size < scaleAt + 4 || (t.timescale = be32(mdhd.data + scaleAt)) == 0) {
    if (video) why = "its video track has no time scale";
    return false;
  }
  const Box stbl = childOf(childOf(mdia, fourcc("minf")), fourcc("stbl"));
  const Box stsd = childOf(stbl, fourcc("stsd"));
  if (video ? !readVideoEntry(stsd, t, why) : !readAudioEntry(stsd, t)) return false;

  const Box stco = childOf(stbl, fourcc("stco"));
  const Box co64 = childOf(stbl, fourcc("co64"));
  const Box ctts = childOf(stbl, fourcc("ctts"));
  const Box stss = childOf(stbl, fourcc("stss"));
  const bool tables = readTable(childOf(stbl, fourcc("stts")), 8, t.stts) &&
                      readTable(childOf(stbl, fourcc("stsc")), 12, t.stsc) &&
                      (stco ? readTable(stco, 4, t.chunks) : readTable(co64, 8, t.chunks)) &&
                      readSizes(childOf(stbl, fourcc("stsz")), childOf(stbl, fourcc("stz2")),
                                fileSize, t.sizes) &&
                      (!ctts || readTable(ctts, 8, t.ctts)) && (!stss || readTable(stss, 4, t.stss));
  if (!tables) {
    if (video) why = "the sample tables of its video are damaged";
    return false;
  }
  t.hasCtts = static_cast<bool>(ctts);
  t.hasStss = static_cast<bool>(stss);
  readEditList(childOf(childOf(trak, fourcc("edts")), fourcc("elst")), movieTimescale, t);
  return true;
}

// The frame rate the stream header names: the time scale over the duration
// most pictures have, 25 fps when that says nothing sensible.
void frameRateOf(const Track& t, std::uint32_t& num, std::uint32_t& den) {
  std::uint32_t most = 0, delta = 0;
  for (std::uint32_t i = 0; i < t.stts.count; ++i) {
    const std::uint32_t count = be32(t.stts.entry(i));
    if (count > most) most = count, delta = be32(t.stts.entry(i) + 4);
  }
  num = 25, den = 1;
  if (delta == 0 || t.timescale / delta > 1000) return;
  std::uint32_t a = t.timescale, b = delta;
  while (b) a %= b, std::swap(a, b);
  num = t.timescale / a;
  den = delta / a;
}

bool isVcl(const std::uint8_t* nal, VideoCodec codec) {
  return codec == VideoCodec::H265 ? ((nal[0] >> 1) & 0x3F) <= 31
                                   : (nal[0] & 0x1F) >= 1 && (nal[0] & 0x1F) <= 5;
}

bool isSequenceParameterSet(const std::uint8_t* nal, VideoCodec codec) {
  return codec == VideoCodec::H265 ? ((nal[0] >> 1) & 0x3F) == 33 : (nal[0] & 0x1F) == 7;
}

}  // namespace

struct Mp4Reader::Impl {
  std::ifstream file;
  std::uint64_t fileSize = 0;
  Bytes index;  // the moov box's payload
  Track video, audio;
  bool hasAudio = false;
  SampleCursor videoCursor, audioCursor;
  Sample pendingAudio;
  bool audioPending = false;
  std::deque<AudioUnitOut> audioOut;
  std::int64_t videoStart = 0;   // media time of the first picture shown
  std::int64_t videoStartMs = 0; // and when it is shown on the movie's time line
  std::int64_t firstDts = 0;
  std::int64_t lastPresentationMs = 0;
  double lastDecodeSeconds = 0;
  std::uint64_t units = 0;
  Bytes sample;
  std::string damage;  // the first damage met while reading

  bool readAt(std::uint64_t offset, std::uint32_t size, Bytes& out) {
    out.resize(size);
    if (size == 0) return true;
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    return static_cast<std::uint32_t>(file.gcount()) == size;
  }

  void noteDamage(const std::string& what) {
    if (damage.empty()) damage = what;
  }

  // Where a track's media time falls on the movie's time line, in ms.
  static std::int64_t movieMs(const Track& t, std::int64_t mediaTime) {
    return t.hasEdit ? t.delayMs + ticksToMs(mediaTime - t.mediaTime, t.timescale)
                     : ticksToMs(mediaTime, t.timescale);
  }

  // The length-prefixed NAL units of a sample as an Annex-B access unit; the
  // parameter sets go before the first slice of a key picture that lacks them.
  bool toAnnexB(const Bytes& in, bool key, Bytes& out) {
    out.clear();
    const std::size_t lengthBytes = video.nalLengthBytes;
    bool inBand = false;
    for (std::size_t at = 0; at < in.size();) {
      if (in.size() - at < lengthBytes) return false;
      std::size_t length = 0;
      for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | in[at + i];
      at += lengthBytes;
      if (length > in.size() - at) return false;
      if (length > 0) {
        const std::uint8_t* nal = &in[at];
        inBand = inBand || isSequenceParameterSet(nal, video.codec);
        if (key && !inBand && isVcl(nal, video.codec)) {
          out.insert(out.end(), video.parameterSets.begin(), video.parameterSets.end());
          inBand = true;
        }
        appendNal(out, nal, length);
      }
      at += length;
    }
    return !out.empty();
  }

  // The next sound sample, kept until its time comes; false at the end.
  bool peekAudio() {
    if (audioPending) return true;
    if (!hasAudio) return false;
    if (!audioCursor.next(pendingAudio)) {
      if (!audioCursor.problem().empty()) noteDamage(audioCursor.problem());
      hasAudio = false;
      return false;
    }
    audioPending = true;
    return true;
  }

  // Sound that starts at or before untilMs (on the movie's time line) goes out.
  void queueAudio(std::int64_t untilMs) {
    const bool g711 = audio.payload != static_cast<std::uint32_t>(vdstream::Payload::AacAdts);
    while (peekAudio() && movieMs(audio, pendingAudio.pts) <= untilMs) {
      const Sample first = pendingAudio;
      audioPending = false;
      AudioUnitOut unit;
      unit.payloadType = audio.payload;
      if (!g711) {
        std::uint8_t header[7];
        if (first.size == 0 || first.size > kMaxAudioSampleBytes ||
            !makeAdtsHeader(audio.aac, first.size, header) || !readAt(first.offset, first.size, sample)) {
          noteDamage("sound sample " + std::to_string(first.number) + " cannot be read");
          continue;
        }
        unit.data.assign(header, header + 7);
        unit.data.insert(unit.data.end(), sample.begin(), sample.end());
      } else {
        // G.711 samples are single bytes: those that follow on in the file
        // make one unit.
        std::uint64_t end = first.offset + first.size;
        std::uint64_t bytes = first.size;
        while (bytes < kG711UnitBytes && peekAudio() && pendingAudio.offset == end &&
               bytes + pendingAudio.size <= kG711UnitBytes) {
          end += pendingAudio.size;
          bytes += pendingAudio.size;
          audioPending = false;
        }
        if (bytes == 0) continue;
        if (!readAt(first.offset, static_cast<std::uint32_t>(bytes), unit.data)) {
          noteDamage("sound sample " + std::to_string(first.number) + " cannot be read");
          continue;
        }
      }
      const std::int64_t stamp = movieMs(audio, first.pts) - videoStartMs;
      if (stamp < 0 || stamp > static_cast<std::int64_t>(UINT32_MAX)) continue;  // before the pictures
      unit.stampMs = static_cast<std::uint32_t>(stamp);
      audioOut.push_back(std::move(unit));
    }
  }
};

Mp4Reader::Mp4Reader() : impl_(std::make_unique<Impl>()) {}
Mp4Reader::~Mp4Reader() = default;

bool Mp4Reader::open(const std::string& path) {
  Impl& m = *impl_;
  m.file.open(path, std::ios::binary);
  if (!m.file) return error_ = "cannot open the file", false;
  m.file.seekg(0, std::ios::end);
  const std::streamoff end = m.file.tellg();
  if (end <= 0) return error_ = "the file is empty", false;
  m.fileSize = static_cast<std::uint64_t>(end);

  // The top-level boxes up to the index (moov), which may follow the media data.
  container_ = "mp4";
  bool fragments = false;
  std::uint64_t at = 0;
  for (int boxes = 0; m.fileSize - at >= 8 && boxes < 100000; ++boxes) {
    std::uint8_t head[16];
    Bytes bytes;
    if (!m.readAt(at, m.fileSize - at >= 16 ? 16 : 8, bytes)) break;
    std::memcpy(head, bytes.data(), bytes.size());
    std::uint64_t size = be32(head);
    const std::uint32_t type = be32(head + 4);
    std::uint64_t headerSize = 8;
    if (size == 1 && bytes.size() == 16) {
      size = be64(head + 8);
      headerSize = 16;
    } else if (size == 0) {
      size = m.fileSize - at;
    }
    if (at == 0 && type != fourcc("ftyp") && type != fourcc("moov") && type != fourcc("mdat") &&
        type != fourcc("free") && type != fourcc("skip") && type != fourcc("wide")) {
      return error_ = "not an MP4 or MOV file (it begins with no ftyp, moov or mdat box)", false;
    }
    if (size < headerSize) return error_ = "the file is damaged: a box of " + std::to_string(size) + " bytes", false;
    if (type == fourcc("ftyp") && size >= 12 && bytes.size() >= 12 && be32(head + 8) == fourcc("qt  "))
      container_ = "mov";
    if (type == fourcc("moof")) fragments = true;
    if (type == fourcc("moov")) {
      const std::uint64_t payload = size - headerSize;
      if (size > m.fileSize - at) return error_ = "the file is cut off inside its index (moov box)", false;
      if (payload > kMaxIndexBytes) return error_ = "its index (moov box) is too large", false;
      if (!m.readAt(at + headerSize, static_cast<std::uint32_t>(payload), m.index))
        return error_ = "its index (moov box) cannot be read", false;
      break;
    }
    if (size > m.fileSize - at) break;  // media data cut short: the index is not there
    at += size;
  }
  if (m.index.empty()) {
    return error_ = fragments ? "a fragmented MP4 without an index this demo reads"
                              : "no index (moov box): not an MP4/MOV file, or cut off before its index",
           false;
  }

  const Box moov{fourcc("moov"), m.index.data(), m.index.size()};
  const Box mvhd = childOf(moov, fourcc("mvhd"));
  std::uint32_t movieTimescale = 0;
  if (mvhd && mvhd.size >= 16) {
    const std::size_t scaleAt = mvhd.data[0] == 1 ? 20 : 12;
    if (mvhd.size >= scaleAt + 4) movieTimescale = be32(mvhd.data + scaleAt);
  }
  bool haveVideo = false;
  std::string videoWhy;
  for (const Box& trak : childrenOf(moov.data, moov.size)) {
    if (trak.type != fourcc("trak")) continue;
    Track t;
    std::string why;
    if (!readTrack(trak, movieTimescale, m.fileSize, t, why)) {
      if (videoWhy.empty()) videoWhy = why;
      continue;
    }
    if (t.kind == TrackKind::Video && !haveVideo) {
      m.video = std::move(t);
      haveVideo = true;
    } else if (t.kind == TrackKind::Audio && !m.hasAudio) {
      m.audio = std::move(t);
      m.hasAudio = true;
    }
  }
  if (!haveVideo) {
    error_ = !videoWhy.empty() ? videoWhy : "this " + container_ + " file has no video";
    return false;
  }
  fragments = fragments || static_cast<bool>(childOf(moov, fourcc("mvex")));
  if (m.video.sizes.count == 0) {
    error_ = fragments ? "a fragmented MP4 (its pictures are in movie fragments, which this demo"
                         " does not read)"
                       : "its video track has no pictures";
    return false;
  }
  if (m.video.width == 0 || m.video.height == 0) return error_ = "its video has no picture size", false;
  codec_ = m.video.codec;
  width_ = (m.video.width + 1) & ~1u;
  height_ = (m.video.height + 1) & ~1u;
  frameRateOf(m.video, rateNum_, rateDen_);

  m.videoCursor = SampleCursor(&m.video, m.fileSize);
  Sample first;
  SampleCursor probe(&m.video, m.fileSize);
  if (!probe.next(first)) return error_ = "the file is damaged: " + probe.problem(), false;
  m.videoStart = m.video.hasEdit ? m.video.mediaTime : first.pts;
  m.videoStartMs = Impl::movieMs(m.video, m.videoStart);
  if (m.hasAudio) {
    m.audioCursor = SampleCursor(&m.audio, m.fileSize);
    audioCodec_ = m.audio.codecName;
  }
  return true;
}

bool Mp4Reader::read(AccessUnit& unit) {
  Impl& m = *impl_;
  if (!error_.empty()) return false;
  Sample s;
  while (m.videoCursor.next(s)) {
    if (s.size > kMaxUnitBytes) {
      m.noteDamage("picture " + std::to_string(s.number) + " claims " + std::to_string(s.size) +
                   " bytes");
      continue;
    }
    if (!m.readAt(s.offset, s.size, m.sample)) {
      m.noteDamage("picture " + std::to_string(s.number) + " cannot be read");
      continue;
    }
    if (!m.toAnnexB(m.sample, s.key, unit.data)) {
      m.noteDamage("picture " + std::to_string(s.number) + " is no sequence of NAL units");
      continue;
    }
    if (m.units == 0) m.firstDts = s.dts;
    const double decodeSeconds = static_cast<double>(s.dts - m.firstDts) / m.video.timescale;
    if (m.units > 0 && decodeSeconds - m.lastDecodeSeconds > kLargestStepSeconds) {
      m.noteDamage("the decoding times jump " +
                   std::to_string(static_cast<long long>(decodeSeconds - m.lastDecodeSeconds)) +
                   " s at picture " + std::to_string(s.number));
      break;
    }
    unit.keyFrame = s.key;
    unit.presentationMs = ticksToMs(s.pts - m.videoStart, m.video.timescale);
    unit.decodeSeconds = decodeSeconds;
    m.lastPresentationMs = std::max(m.lastPresentationMs, unit.presentationMs);
    m.lastDecodeSeconds = decodeSeconds;
    ++m.units;
    // The sound up to this picture's decoding time; after the last picture,
    // the rest of it up to a second past the pictures.
    const std::int64_t decodeMs = Impl::movieMs(m.video, s.dts);
    if (m.videoCursor.atEnd()) {
      const std::int64_t frameMs = 1000 * static_cast<std::int64_t>(rateDen_) / rateNum_;
      m.queueAudio(m.videoStartMs + m.lastPresentationMs + frameMs + kSoundAfterPicturesMs);
    } else {
      m.queueAudio(decodeMs);
    }
    return true;
  }
  if (!m.videoCursor.problem().empty()) m.noteDamage(m.videoCursor.problem());
  if (!m.damage.empty()) error_ = "the file is damaged: " + m.damage;
  return false;
}

bool Mp4Reader::takeAudio(AudioUnitOut& unit) {
  Impl& m = *impl_;
  if (m.audioOut.empty()) return false;
  unit = std::move(m.audioOut.front());
  m.audioOut.pop_front();
  return true;
}

bool isMp4FileName(const std::string& path) {
  const std::string extension = lowerExtension(path);
  return extension == "mp4" || extension == "mov" || extension == "m4v";
}

std::unique_ptr<PacketSource> openMp4Source(const std::string& path, std::string& error) {
  auto reader = std::make_unique<Mp4Reader>();
  if (!reader->open(path)) {
    error = path + ": " + reader->error();
    return nullptr;
  }
  return makeVideoFileSource(std::move(reader));
}

}  // namespace spdemo
